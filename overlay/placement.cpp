#include "placement.h"

#include <algorithm>
#include <cmath>

#include "panel_geometry.h"

namespace overlay {

namespace {

// MDT_EFFECTIVE_DPI of GetDpiForMonitor (shcore.dll, looked up at run time: Windows 8.1 on).
using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);

UINT SystemDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen != nullptr) {
        ReleaseDC(nullptr, screen);
    }
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

UINT MonitorDpi(HMONITOR monitor) {
    UINT dpi = 0;
    if (HMODULE shcore = LoadLibraryW(L"shcore.dll")) {
        const auto get = reinterpret_cast<GetDpiForMonitorFn>(
            reinterpret_cast<void*>(GetProcAddress(shcore, "GetDpiForMonitor")));
        UINT y = 0;
        if (get != nullptr && SUCCEEDED(get(monitor, 0, &dpi, &y))) {
            dpi = y;
        } else {
            dpi = 0;
        }
        FreeLibrary(shcore);
    }
    return dpi != 0 ? dpi : SystemDpi();
}

} // namespace

Screen ScreenFor(MonitorChoice choice) {
    POINT at{0, 0};
    if (choice == MonitorChoice::UnderPointer && GetCursorPos(&at) == FALSE) {
        at = {0, 0};
    }
    HMONITOR monitor =
        MonitorFromPoint(at, choice == MonitorChoice::UnderPointer ? MONITOR_DEFAULTTONEAREST
                                                                   : MONITOR_DEFAULTTOPRIMARY);
    Screen screen;
    MONITORINFO info = {};
    info.cbSize = sizeof info;
    const bool known = monitor != nullptr && GetMonitorInfoW(monitor, &info) != FALSE;
    if (known && (info.dwFlags & MONITORINFOF_PRIMARY) == 0) {
        screen.work = info.rcWork;
    } else if (SystemParametersInfoW(SPI_GETWORKAREA, 0, &screen.work, 0) == FALSE) {
        screen.work = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    }
    screen.scale =
        static_cast<float>(monitor != nullptr ? MonitorDpi(monitor) : SystemDpi()) / 96.0F;
    return screen;
}

RECT PlaceInCorner(const RECT& work, SIZE size, Corner corner) {
    const bool right = corner == Corner::BottomRight || corner == Corner::TopRight;
    const bool bottom = corner == Corner::BottomRight || corner == Corner::BottomLeft;
    const LONG left = right ? work.right - size.cx : work.left;
    const LONG top = bottom ? work.bottom - size.cy : work.top;
    return {left, top, left + size.cx, top + size.cy};
}

RECT PlacePanel(const RECT& work, const RECT& pad, const OverlaySettings& settings, float scale) {
    const int margin = std::max(1, static_cast<int>(std::lround(MarginEpx * scale)));
    const int roomWide = std::max(1, static_cast<int>(work.right - work.left) - 2 * margin);
    const int roomHigh = std::max(1, static_cast<int>(work.bottom - work.top) - 2 * margin);
    const int wanted =
        static_cast<int>(std::lround(static_cast<float>(settings.size) * 10.0F * scale));
    const SIZE body = BodySize(pad, std::min(wanted, roomHigh), roomWide);
    return PlaceInCorner(work, {body.cx + 2 * margin, body.cy + 2 * margin}, settings.corner);
}

} // namespace overlay
