#include "mouse_hook.h"

#include <algorithm>
#include <atomic>
#include <utility>

#include "device/module_of.h"

namespace {

std::atomic<long> seenCalls{0};
std::atomic<long> inUseCalls{0};
std::atomic<long> swallowedCalls{0};
std::atomic<long> injectedCalls{0};
std::atomic<long> reinstallCount{0};
std::atomic<bool> refuseHooks{false};

// Posted to a hook thread: install the hook again.
constexpr UINT ReinstallMessage = WM_APP + 1;

// The claim flag and the pad's last contact of the hook installed on this thread (one per
// claim).
thread_local const std::atomic<bool>* threadClaim = nullptr;
thread_local const std::atomic<DWORD>* threadLastContact = nullptr;
thread_local std::atomic<DWORD>* threadLastCall = nullptr;
// The buttons whose press this thread's hook swallowed; kept across a reinstall.
thread_local HeldButtons threadHeld;

// The button a press or release is of, as a bit of HeldButtons; 0 for anything else.
uint8_t ButtonBit(WPARAM message, DWORD data) {
    switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
        return 1;
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
        return 2;
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
        return 4;
    case WM_XBUTTONDOWN:
    case WM_XBUTTONUP:
        return HIWORD(data) == XBUTTON2 ? 16 : 8;
    default:
        return 0;
    }
}

bool IsRelease(WPARAM message) {
    return message == WM_LBUTTONUP || message == WM_RBUTTONUP || message == WM_MBUTTONUP ||
           message == WM_XBUTTONUP;
}

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
        const bool inUse =
            PadInUse(threadLastContact->load(std::memory_order_acquire), GetTickCount());
        seenCalls.fetch_add(1, std::memory_order_relaxed);
        if ((event->flags & LLMHF_INJECTED) != 0) {
            injectedCalls.fetch_add(1, std::memory_order_relaxed);
        }
        if (threadLastCall != nullptr) {
            threadLastCall->store(ContactTick(GetTickCount()), std::memory_order_release);
        }
        if (claimed && inUse) {
            inUseCalls.fetch_add(1, std::memory_order_relaxed);
        }
        if (DecideMouse(code, wParam, event->flags, event->mouseData, claimed, inUse, threadHeld) ==
            MouseVerdict::Swallow) {
            swallowedCalls.fetch_add(1, std::memory_order_relaxed);
            return 1;
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

} // namespace

bool PadInUse(DWORD lastContactMs, DWORD nowMs) {
    // Unsigned difference: right across the wrap; a contact stamped just after `nowMs` was read
    // (another thread) counts as now.
    const DWORD age = nowMs - lastContactMs;
    return lastContactMs != 0 && (age <= PadInUseMs || age > ~PadInUseMs);
}

bool FramePutsPadInUse(const ptp::Frame& frame) {
    if (frame.button) {
        return true;
    }
    const size_t n = std::min(frame.count, ptp::MaxContacts);
    for (size_t i = 0; i < n; ++i) {
        if (frame.contacts[i].confident) {
            return true;
        }
    }
    return false;
}

MouseVerdict DecideMouse(int code, WPARAM message, DWORD flags, DWORD data, bool claimed,
                         bool inUse, HeldButtons& held) {
    const DWORD injected = LLMHF_INJECTED | LLMHF_LOWER_IL_INJECTED;
    if (code != HC_ACTION || (flags & injected) != 0 || !IsMouseInput(message)) {
        return MouseVerdict::Pass;
    }
    const uint8_t button = ButtonBit(message, data);
    if (IsRelease(message)) {
        const bool wasHeld = (held.bits & button) != 0;
        held.bits = static_cast<uint8_t>(held.bits & ~button);
        return wasHeld ? MouseVerdict::Swallow : MouseVerdict::Pass;
    }
    const bool swallow = claimed && inUse;
    if (button != 0) {
        held.bits = static_cast<uint8_t>(swallow ? held.bits | button : held.bits & ~button);
    }
    return swallow ? MouseVerdict::Swallow : MouseVerdict::Pass;
}

void RefuseMouseHooks(bool refuse) {
    refuseHooks.store(refuse);
}

MouseHookCounts MouseHookTotals() {
    return {seenCalls.load(), inUseCalls.load(), swallowedCalls.load(), reinstallCount.load(),
            injectedCalls.load()};
}

MouseHook::MouseHook(const std::atomic<bool>* claimed, const std::atomic<DWORD>* lastContact,
                     std::atomic<DWORD>* lastCall) {
    threadClaim = claimed;
    threadLastContact = lastContact;
    threadLastCall = lastCall;
    if (refuseHooks.load()) {
        SetLastError(ERROR_HOOK_NOT_INSTALLED);
    } else {
        hook = SetWindowsHookExW(WH_MOUSE_LL, HookProc, ModuleOf(&HookProc), 0);
    }
    if (hook == nullptr) {
        threadClaim = nullptr;
        threadLastContact = nullptr;
        threadLastCall = nullptr;
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
        threadLastContact = nullptr;
        threadLastCall = nullptr;
    }
}

bool HookMayBeGone(bool contactMoving, DWORD lastCallMs, DWORD lastAskMs, DWORD nowMs) {
    return contactMoving && nowMs - lastCallMs > HookSilentMs &&
           (lastAskMs == 0 || nowMs - lastAskMs > HookSilentMs);
}

MouseHookThread::MouseHookThread(const std::atomic<bool>* claim, const std::atomic<DWORD>* contact)
    : claimed(claim), lastContact(contact), lastCall(ContactTick(GetTickCount())) {
    ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (ready == nullptr) {
        status = HRESULT_FROM_WIN32(GetLastError());
        return;
    }
    thread = CreateThread(nullptr, 0, Main, this, 0, &threadId);
    if (thread == nullptr) {
        status = HRESULT_FROM_WIN32(GetLastError());
        return;
    }
    // The thread sets `status` before it signals.
    WaitForSingleObject(ready, INFINITE);
}

MouseHookThread::~MouseHookThread() {
    if (thread != nullptr) {
        // The thread made its queue before it signalled, so the message is never lost.
        PostThreadMessageW(threadId, WM_QUIT, 0, 0);
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    if (ready != nullptr) {
        CloseHandle(ready);
    }
}

void MouseHookThread::Reinstall() const {
    if (thread != nullptr) {
        PostThreadMessageW(threadId, ReinstallMessage, 0, 0);
    }
}

DWORD WINAPI MouseHookThread::Main(void* param) {
    auto* self = static_cast<MouseHookThread*>(param);
    MSG msg;
    PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE); // the thread's queue
    MouseHook hook(self->claimed, self->lastContact, &self->lastCall);
    const DWORD error = hook ? ERROR_SUCCESS : GetLastError();
    self->status = hook ? S_OK : HRESULT_FROM_WIN32(error != 0 ? error : ERROR_HOOK_NOT_INSTALLED);
    const bool installed = static_cast<bool>(hook);
    SetEvent(self->ready);
    if (!installed) {
        return 0;
    }
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.hwnd == nullptr && msg.message == ReinstallMessage) {
            hook.Reset();
            hook = MouseHook(self->claimed, self->lastContact, &self->lastCall);
            self->lastCall.store(ContactTick(GetTickCount()), std::memory_order_release);
            reinstallCount.fetch_add(1, std::memory_order_relaxed);
        }
    }
    return 0;
}
