#include "ring.h"

#include <algorithm>
#include <cmath>

#include "settings.h" // the panel's, for the corner it takes

namespace launcher {

namespace {

constexpr wchar_t RingClass[] = L"VelTapdeckLauncherRing";
constexpr int RingDip = 44;
constexpr int MarginDip = 12;
constexpr double Pi = 3.14159265358979323846;

uint32_t Premultiplied(uint32_t rgb, double alpha) {
    const auto channel = [&](int shift) {
        return static_cast<uint32_t>(std::lround(((rgb >> shift) & 0xFF) * alpha)) << shift;
    };
    return static_cast<uint32_t>(std::lround(alpha * 255)) << 24 | channel(16) | channel(8) |
           channel(0);
}

// How much of a pixel at distance `d` from the centre lies in the band from `inner` to `outer`.
double Coverage(double d, double inner, double outer) {
    return std::clamp(std::min(d - inner, outer - d) + 0.5, 0.0, 1.0);
}

UINT WindowDpi(HWND window) {
    HDC dc = GetDC(window);
    const int dpi = dc != nullptr ? GetDeviceCaps(dc, LOGPIXELSX) : 96;
    ReleaseDC(window, dc);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

} // namespace

void DrawRing(std::vector<uint32_t>& pixels, int size, double progress, uint32_t fill) {
    pixels.assign(static_cast<size_t>(size) * size, 0);
    const double centre = size / 2.0;
    const double outer = size / 2.0 - 1;
    const double inner = outer - std::max(3.0, size / 7.0);
    const double swept = std::clamp(progress, 0.0, 1.0) * 2 * Pi;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const double dx = x + 0.5 - centre;
            const double dy = y + 0.5 - centre;
            const double band = Coverage(std::hypot(dx, dy), inner, outer);
            if (band <= 0) {
                continue;
            }
            // Clockwise from twelve o'clock, 0 to 2 pi.
            double angle = std::atan2(dx, -dy);
            angle = angle < 0 ? angle + 2 * Pi : angle;
            const bool filled = angle <= swept;
            pixels[static_cast<size_t>(y) * size + x] =
                filled ? Premultiplied(fill, band) : Premultiplied(0x808080, band * 0.45);
        }
    }
}

HoldRing::HoldRing() {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = RingClass;
    RegisterClassExW(&wc);
    window = CreateWindowExW(
        WS_EX_LAYERED | WS_EX_TRANSPARENT | WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE,
        RingClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr);
}

HoldRing::~HoldRing() {
    if (window != nullptr) {
        DestroyWindow(window);
    }
}

void HoldRing::Show(double progress) {
    if (window == nullptr) {
        return;
    }
    const int size = MulDiv(RingDip, static_cast<int>(WindowDpi(window)), 96);
    const int margin = MulDiv(MarginDip, static_cast<int>(WindowDpi(window)), 96);
    POINT pointer = {};
    GetCursorPos(&pointer);
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromPoint(pointer, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& area = monitor.rcWork;
    const overlay::Corner corner = overlay::ReadOverlaySettings().corner;
    const bool right =
        corner == overlay::Corner::BottomRight || corner == overlay::Corner::TopRight;
    const bool bottom =
        corner == overlay::Corner::BottomRight || corner == overlay::Corner::BottomLeft;
    POINT at = {right ? area.right - margin - size : area.left + margin,
                bottom ? area.bottom - margin - size : area.top + margin};

    DrawRing(pixels, size, progress, 0x0078D4);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = size;
    info.bmiHeader.biHeight = -size;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (memory != nullptr && bitmap != nullptr) {
        std::copy(pixels.begin(), pixels.end(), static_cast<uint32_t*>(bits));
        HGDIOBJ old = SelectObject(memory, bitmap);
        SIZE extent = {size, size};
        POINT origin = {0, 0};
        BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
        UpdateLayeredWindow(window, screen, &at, &extent, memory, &origin, 0, &blend, ULW_ALPHA);
        SelectObject(memory, old);
    }
    if (bitmap != nullptr) {
        DeleteObject(bitmap);
    }
    if (memory != nullptr) {
        DeleteDC(memory);
    }
    ReleaseDC(nullptr, screen);
    if (!visible) {
        ShowWindow(window, SW_SHOWNOACTIVATE);
        visible = true;
    }
}

void HoldRing::Hide() {
    if (window != nullptr && visible) {
        ShowWindow(window, SW_HIDE);
    }
    visible = false;
}

} // namespace launcher
