#include "mouse_hook.h"

#include <atomic>
#include <utility>

namespace {

std::atomic<long> seenCalls{0};
std::atomic<long> swallowedCalls{0};

// The claim flag of the hook installed on this thread (one per delivery thread).
thread_local const std::atomic<bool>* threadClaim = nullptr;

bool IsMouseInput(WPARAM message) {
    switch (message) {
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
    case WM_XBUTTONDOWN:
    case WM_XBUTTONUP:
    case WM_MOUSEWHEEL:
    case WM_MOUSEHWHEEL:
        return true;
    default:
        return false;
    }
}

LRESULT CALLBACK HookProc(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && threadClaim != nullptr) {
        // NOLINTNEXTLINE(performance-no-int-to-ptr): a low-level mouse hook's lParam is its record
        const auto* event = reinterpret_cast<const MSLLHOOKSTRUCT*>(lParam);
        const bool claimed = threadClaim->load(std::memory_order_acquire);
        seenCalls.fetch_add(1, std::memory_order_relaxed);
        if (DecideMouse(code, wParam, event->flags, claimed) == MouseVerdict::Swallow) {
            swallowedCalls.fetch_add(1, std::memory_order_relaxed);
            return 1;
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

} // namespace

MouseVerdict DecideMouse(int code, WPARAM message, DWORD flags, bool claimed) {
    const DWORD injected = LLMHF_INJECTED | LLMHF_LOWER_IL_INJECTED;
    if (code != HC_ACTION || !claimed || (flags & injected) != 0 || !IsMouseInput(message)) {
        return MouseVerdict::Pass;
    }
    return MouseVerdict::Swallow;
}

MouseHookCounts MouseHookTotals() {
    return {seenCalls.load(), swallowedCalls.load()};
}

MouseHook::MouseHook(const std::atomic<bool>* claimed) {
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&HookProc), &self);
    threadClaim = claimed;
    hook = SetWindowsHookExW(WH_MOUSE_LL, HookProc, self, 0);
    if (hook == nullptr) {
        threadClaim = nullptr;
    }
}

MouseHook::MouseHook(MouseHook&& other) noexcept : hook(std::exchange(other.hook, nullptr)) {}

MouseHook& MouseHook::operator=(MouseHook&& other) noexcept {
    if (this != &other) {
        Reset();
        hook = std::exchange(other.hook, nullptr);
    }
    return *this;
}

void MouseHook::Reset() {
    if (hook != nullptr) {
        UnhookWindowsHookEx(std::exchange(hook, nullptr));
        threadClaim = nullptr;
    }
}
