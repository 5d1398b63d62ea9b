#include "support/key_hook.h"

#include <chrono>
#include <iomanip>

thread_local KeyHook* KeyHook::current = nullptr;

void PrintTo(const KeyRecord& record, std::ostream* out) {
    *out << "0x" << std::hex << std::uppercase << std::setw(2) << std::setfill('0') << record.vk
         << std::dec << (record.up ? " up" : " down") << (record.injected ? " injected" : "");
}

KeyHook::KeyHook() {
    thread = std::thread([this] { Run(); });
    std::unique_lock guard(lock);
    changed.wait(guard, [this] { return started; });
}

KeyHook::~KeyHook() {
    DWORD id = 0;
    {
        std::lock_guard guard(lock);
        id = threadId;
    }
    // The thread's queue exists before `started` is set, so the quit message cannot be lost.
    PostThreadMessageW(id, WM_QUIT, 0, 0);
    thread.join();
}

void KeyHook::Run() {
    current = this;
    MSG msg;
    // Creates this thread's message queue before anyone may post to it.
    PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    HHOOK hook = SetWindowsHookExW(WH_KEYBOARD_LL, HookProc, GetModuleHandleW(nullptr), 0);
    {
        std::lock_guard guard(lock);
        threadId = GetCurrentThreadId();
        installed = hook != nullptr;
        started = true;
    }
    changed.notify_all();
    // The system calls HookProc from inside this loop; without the pump no event is seen and
    // SendInput in this process would stall waiting for the hook.
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    if (hook != nullptr) {
        UnhookWindowsHookEx(hook);
    }
    current = nullptr;
}

LRESULT CALLBACK KeyHook::HookProc(int code, WPARAM wParam, LPARAM lParam) {
    if (code != HC_ACTION || current == nullptr) {
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    const auto* info = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
    {
        std::lock_guard guard(current->lock);
        current->events.push_back(
            {info->vkCode, (info->flags & LLKHF_UP) != 0, (info->flags & LLKHF_INJECTED) != 0});
    }
    current->changed.notify_all();
    // Swallowed: the event never reaches a window or the key state.
    return 1;
}

bool KeyHook::WaitFor(std::size_t count, DWORD timeoutMs) const {
    std::unique_lock guard(lock);
    return changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                            [&] { return events.size() >= count; });
}

std::vector<KeyRecord> KeyHook::Events() const {
    std::lock_guard guard(lock);
    return events;
}

void KeyHook::Clear() {
    std::lock_guard guard(lock);
    events.clear();
}
