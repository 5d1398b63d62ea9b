// The low-level mouse hook that makes a claim exclusive: while the touchpad is claimed and in
// use, mouse input that is not injected (the touchpad's own pointer moves, clicks and scrolls,
// and those of any other mouse) is swallowed. The decision is a plain function; the hook lives
// on a thread of its own (MouseHookThread), which the claim's input thread starts and ends.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "translator.h"

enum class MouseVerdict { Pass, Swallow };

// The pad is in use while a frame that puts it in use (FramePutsPadInUse) was reported within
// this long; only then is pointer input swallowed. It spans the gap between a resting finger's
// reports and the click that Windows makes for a tap some time after the lift, and a pad that
// never reports (still in mouse mode, unplugged, a silent collection) leaves every mouse
// working: nothing locks a person out for longer than this.
inline constexpr DWORD PadInUseMs = 300;

// Whether a frame puts the pad in use: a contact with confidence, down or lifting (the system
// clicks for a tap after the lift), or the button held. A palm (no confidence) moves no
// pointer, so it holds no mouse back. Marked as the frame arrives, whatever the sink does.
bool FramePutsPadInUse(const ptp::Frame& frame);

// Whether the pad is in use at `nowMs`: `lastContactMs` is the tick count (GetTickCount) of the
// last report of a contact or the button, 0 for none yet. Tick counts wrap after 49.7 days.
bool PadInUse(DWORD lastContactMs, DWORD nowMs);
// The tick count to keep for a report at `nowMs`: never 0, which means none.
constexpr DWORD ContactTick(DWORD nowMs) {
    return nowMs == 0 ? 1 : nowMs;
}

// The mouse buttons whose press the hook swallowed: their release is swallowed too, and only
// theirs, so that Windows never sees a button go up that it did not see go down, nor stay
// down because its release was swallowed (a drag of another mouse that ends while a finger
// touches the pad ends). One bit per button: left, right, middle, X1, X2.
struct HeldButtons {
    uint8_t bits = 0;
    bool operator==(const HeldButtons&) const = default;
};

// What the hook does with one call: `code` and `message` as the hook procedure gets them,
// `flags` and `data` (mouseData, which tells the X buttons apart) from its MSLLHOOKSTRUCT,
// `claimed` whether the device is still claimed, `inUse` whether the pad is in use
// (PadInUse). Moves, presses and the wheels that are not injected are swallowed while claimed
// and in use; a release is swallowed exactly when its press was, which `held` keeps.
MouseVerdict DecideMouse(int code, WPARAM message, DWORD flags, DWORD data, bool claimed,
                         bool inUse, HeldButtons& held);

// Counts over the process's hooks, for tests: the calls the hook procedure has seen with
// HC_ACTION, how many of them came while claimed with the pad in use (when input that is not
// injected is swallowed), and how many it swallowed.
struct MouseHookCounts {
    long seen = 0;
    long inUse = 0;
    long swallowed = 0;
    // Hooks installed again because Windows may have removed them.
    long reinstalls = 0;
    // Calls for injected input (SendInput, remote-control tools): always passed on.
    long injected = 0;
};
MouseHookCounts MouseHookTotals();

// For tests: while set, a hook is refused as Windows may refuse one (ERROR_HOOK_NOT_INSTALLED),
// so that the claim's failure path can be taken.
void RefuseMouseHooks(bool refuse);

// Installs the hook for the calling thread, which must pump messages while it is in place and
// is the only one to touch the holder. `claimed` and `lastContact` (a tick count as PadInUse
// takes it) are read on every call; `lastCall`, when given, gets the tick count of each call.
// They must outlive the hook. Move-only owner.
class MouseHook {
public:
    MouseHook() = default;
    MouseHook(const std::atomic<bool>* claimed, const std::atomic<DWORD>* lastContact,
              std::atomic<DWORD>* lastCall = nullptr);
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

// The hook on a thread of its own that does nothing but pump messages and decide from the
// atomics, so that it answers Windows in time whatever the input thread and the sink are
// doing: Windows skips a low-level hook that does not answer within LowLevelHooksTimeout, and
// may remove it without notice. Made, asked to reinstall and destroyed by one thread (the
// claim's input thread); the atomics must outlive it.
class MouseHookThread {
public:
    MouseHookThread(const std::atomic<bool>* claimed, const std::atomic<DWORD>* lastContact);
    // Ends the thread, which removes its hook, and waits for it (it never waits on anything).
    ~MouseHookThread();
    MouseHookThread(const MouseHookThread&) = delete;
    MouseHookThread& operator=(const MouseHookThread&) = delete;

    // S_OK once the hook is in place, else why not.
    HRESULT Status() const { return status; }
    // Removes the hook and installs it again, on its thread; does not wait.
    void Reinstall() const;
    // Tick count of the hook's last call, or of its installation when it has had none.
    DWORD LastCall() const { return lastCall.load(std::memory_order_acquire); }

private:
    static DWORD WINAPI Main(void* self);

    const std::atomic<bool>* claimed;
    const std::atomic<DWORD>* lastContact;
    std::atomic<DWORD> lastCall;
    HANDLE ready = nullptr;
    HANDLE thread = nullptr;
    DWORD threadId = 0;
    HRESULT status = E_FAIL;
};

// Whether the input thread should ask for the hook again: the pad reports a moving contact
// at `nowMs`, the hook has had no call since `lastCallMs` although a moving finger makes pointer
// input, and no reinstall was asked for since `lastAskMs` (0 for never). Both within
// HookSilentMs.
inline constexpr DWORD HookSilentMs = 1000;
bool HookMayBeGone(bool contactMoving, DWORD lastCallMs, DWORD lastAskMs, DWORD nowMs);
