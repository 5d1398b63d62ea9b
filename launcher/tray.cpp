#include "tray.h"

#include <cwchar>
#include <vector>

#include "launcher.h"

namespace launcher {

namespace {

// A touchpad's outline with its top-right corner lit, 32 pixels square, with per-pixel alpha.
HICON MakeIcon() {
    constexpr int Size = 32;
    BITMAPV5HEADER header = {};
    header.bV5Size = sizeof header;
    header.bV5Width = Size;
    header.bV5Height = -Size;
    header.bV5Planes = 1;
    header.bV5BitCount = 32;
    header.bV5Compression = BI_BITFIELDS;
    header.bV5RedMask = 0x00FF0000;
    header.bV5GreenMask = 0x0000FF00;
    header.bV5BlueMask = 0x000000FF;
    header.bV5AlphaMask = 0xFF000000;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HBITMAP color = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS,
                                     &bits, nullptr, 0);
    ReleaseDC(nullptr, screen);
    if (color == nullptr) {
        return nullptr;
    }
    auto* pixel = static_cast<uint32_t*>(bits);
    for (int y = 0; y < Size; ++y) {
        for (int x = 0; x < Size; ++x) {
            const bool frame =
                x >= 2 && x <= 29 && y >= 6 && y <= 25 && (x <= 3 || x >= 28 || y <= 7 || y >= 24);
            const bool corner = x >= 20 && x <= 25 && y >= 10 && y <= 15;
            pixel[y * Size + x] = corner  ? 0xFF0078D4 // the accent blue
                                  : frame ? 0xFF404040
                                          : 0x00000000;
        }
    }
    HBITMAP mask = CreateBitmap(Size, Size, 1, 1, nullptr);
    ICONINFO info = {TRUE, 0, 0, mask, color};
    HICON icon = CreateIconIndirect(&info);
    DeleteObject(mask);
    DeleteObject(color);
    return icon;
}

} // namespace

Tray::Tray(HWND window, const std::wstring& tip) : icon(MakeIcon()) {
    data.cbSize = sizeof data;
    data.hWnd = window;
    data.uID = 1;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = TrayMessage;
    data.hIcon = icon != nullptr ? icon : LoadIconW(nullptr, IDI_APPLICATION);
    wcsncpy(data.szTip, tip.c_str(), std::size(data.szTip) - 1);
    Restore();
}

Tray::~Tray() {
    if (added) {
        Shell_NotifyIconW(NIM_DELETE, &data);
    }
    if (icon != nullptr) {
        DestroyIcon(icon);
    }
}

void Tray::Tip(const std::wstring& tip) {
    wcsncpy(data.szTip, tip.c_str(), std::size(data.szTip) - 1);
    data.szTip[std::size(data.szTip) - 1] = 0;
    if (added) {
        Shell_NotifyIconW(NIM_MODIFY, &data);
    } else {
        Restore();
    }
}

void Tray::Restore() {
    added = Shell_NotifyIconW(NIM_ADD, &data) != FALSE;
}

void Tray::ShowMenu(bool holdOn) const {
    HMENU menu = CreatePopupMenu();
    if (menu == nullptr) {
        return;
    }
    AppendMenuW(menu, MF_STRING, CommandStartNow, L"Start Tapdeck now");
    AppendMenuW(menu, MF_STRING | (holdOn ? MF_CHECKED : MF_UNCHECKED), CommandToggleHold,
                L"Start by holding the touchpad's corner");
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, CommandQuit, L"Quit the launcher");
    POINT at = {};
    GetCursorPos(&at);
    // A menu of a window in the background closes only when that window is in front.
    SetForegroundWindow(data.hWnd);
    TrackPopupMenu(menu, TPM_RIGHTBUTTON, at.x, at.y, 0, data.hWnd, nullptr);
    PostMessageW(data.hWnd, WM_NULL, 0, 0);
    DestroyMenu(menu);
}

} // namespace launcher
