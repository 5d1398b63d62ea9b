#include "support/close_recorder.h"

namespace {
constexpr wchar_t RecorderClass[] = L"TapdeckTestCloseRecorder";
}

CloseRecorder::CloseRecorder() {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WndProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = RecorderClass;
    RegisterClassW(&windowClass); // a second registration fails harmlessly
    window = CreateWindowExW(WS_EX_TOOLWINDOW, RecorderClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                             nullptr, GetModuleHandleW(nullptr), this);
}

CloseRecorder::~CloseRecorder() {
    if (!destroyed.load() && window) {
        DestroyWindow(window);
    }
}

LRESULT CALLBACK CloseRecorder::WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        auto* self =
            static_cast<CloseRecorder*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<CloseRecorder*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self && msg == WM_CLOSE) {
        self->closes.fetch_add(1);
    }
    if (self && msg == WM_NCDESTROY) {
        self->destroyed.store(true);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!done()) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) {
            return false;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&message);
        }
    }
    return true;
}
