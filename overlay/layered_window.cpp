#include "layered_window.h"

#include <cwchar>

namespace overlay {

namespace {

HINSTANCE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

} // namespace

LayeredWindow::LayeredWindow(const wchar_t* classPrefix, const wchar_t* title,
                             Handler* messageHandler)
    : handler(messageHandler) {
    HINSTANCE instance = ThisModule();
    wchar_t name[64] = {};
    std::swprintf(name, 64, L"%ls%p", classPrefix, reinterpret_cast<void*>(&WndProc));
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WndProc;
    wc.hInstance = instance;
    wc.lpszClassName = name;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    RegisterClassExW(&wc); // fails harmlessly when an earlier window registered it
    window = CreateWindowExW(WS_EX_LAYERED | WS_EX_TRANSPARENT | WS_EX_TOPMOST | WS_EX_NOACTIVATE |
                                 WS_EX_TOOLWINDOW,
                             name, title, WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, instance, this);
}

LayeredWindow::~LayeredWindow() {
    if (window != nullptr) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        DestroyWindow(window);
    }
}

LRESULT CALLBACK LayeredWindow::WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        // NOLINTNEXTLINE(performance-no-int-to-ptr): WM_NCCREATE's lParam is the creation record
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    switch (message) {
    case WM_NCHITTEST:
        return HTTRANSPARENT;
    case WM_MOUSEACTIVATE:
        return MA_NOACTIVATE;
    default:
        break;
    }
    // NOLINTNEXTLINE(performance-no-int-to-ptr): the LayeredWindow stored at WM_NCCREATE
    auto* self = reinterpret_cast<LayeredWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self == nullptr || self->handler == nullptr || message == WM_NCCREATE) {
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    return self->handler->OnMessage(hwnd, message, wParam, lParam);
}

bool LayeredWindow::Present(const Canvas& canvas, POINT at, BYTE opacity, const RECT* dirty) {
    if (window == nullptr || !canvas) {
        return false;
    }
    const RECT target{at.x, at.y, at.x + canvas.Width(), at.y + canvas.Height()};
    const bool same = placed && EqualRect(&target, &place) != FALSE;
    SIZE size{canvas.Width(), canvas.Height()};
    POINT origin{0, 0};
    BLENDFUNCTION blend = {AC_SRC_OVER, 0, opacity, AC_SRC_ALPHA};
    UPDATELAYEREDWINDOWINFO info = {};
    info.cbSize = sizeof info;
    // Where nothing moved, no position and no size: the system has nothing to move.
    info.pptDst = same ? nullptr : &at;
    info.psize = same ? nullptr : &size;
    info.hdcSrc = canvas.Dc();
    info.pptSrc = &origin;
    info.pblend = &blend;
    info.dwFlags = ULW_ALPHA;
    info.prcDirty = same ? dirty : nullptr;
    if (UpdateLayeredWindowIndirect(window, &info) == FALSE) {
        placed = false;
        return false;
    }
    placed = true;
    place = target;
    if (!shown) {
        ShowWindow(window, SW_SHOWNOACTIVATE);
        SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        shown = true;
    }
    return true;
}

void LayeredWindow::Hide() {
    if (shown) {
        ShowWindow(window, SW_HIDE);
        shown = false;
    }
    placed = false;
}

} // namespace overlay
