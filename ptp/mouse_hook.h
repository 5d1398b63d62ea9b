// The low-level mouse hook that makes a claim exclusive: while the touchpad is claimed, mouse
// input that is not injected (the touchpad's own pointer moves, clicks and scrolls, and those
// of any other mouse) is swallowed. The decision is a plain function; the hook itself is
// installed and removed by the delivery thread, on which its procedure runs.
#pragma once

#include <windows.h>

#include <atomic>

enum class MouseVerdict { Pass, Swallow };

// What the hook does with one call: `code` and `message` as the hook procedure gets them,
// `flags` from its MSLLHOOKSTRUCT, `claimed` whether the device is still claimed.
MouseVerdict DecideMouse(int code, WPARAM message, DWORD flags, bool claimed);

// Counts over the process's hooks, for tests: the calls the hook procedure has seen with
// HC_ACTION, and how many of them it swallowed.
struct MouseHookCounts {
    long seen = 0;
    long swallowed = 0;
};
MouseHookCounts MouseHookTotals();

// Installs the hook for the calling thread, which must pump messages while it is in place and
// is the only one to touch the holder. `claimed` is read on every call; it must outlive the
// hook. Move-only owner.
class MouseHook {
public:
    MouseHook() = default;
    explicit MouseHook(const std::atomic<bool>* claimed);
    ~MouseHook() { Reset(); }
    MouseHook(const MouseHook&) = delete;
    MouseHook& operator=(const MouseHook&) = delete;
    MouseHook(MouseHook&& other) noexcept;
    MouseHook& operator=(MouseHook&& other) noexcept;

    explicit operator bool() const { return hook != nullptr; }
    void Reset();

private:
    HHOOK hook = nullptr;
};
