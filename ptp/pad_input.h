// The claim's input, on a thread of its own that never waits for the sink: the message-only
// window that receives the frames (the touchpad's raw input, or a test's frames), whether the
// pad is in use for the claim's mouse hook, the translation of the frames into packets, the
// lost-contact check, and the hook's own thread. Each frame marks the pad in use as it arrives
// and is translated at once, whatever the delivery thread and its sink are doing (Tapdeck holds
// its first packets for up to 2 s while its mode starts); the packets queue for the delivery
// thread, which hands them to the sink.
//
// Threads: made, started, read (PacketsWaiting, Take) and destroyed by the delivery thread;
// everything else happens on the input thread.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <optional>
#include <vector>

#include "device/unique_handle.h"
#include "frame_source.h"
#include "mouse_hook.h"
#include "translator.h"

class PadInput final : private FrameReceiver {
public:
    // `claimed` (the run's, for the hook) must outlive this.
    PadInput(const ptp::PadGeometry& geometry, std::unique_ptr<FrameSource> source,
             const std::atomic<bool>* claimed);
    // Ends the input thread, which removes the hook, stops the source and destroys the window,
    // and waits for it.
    ~PadInput();
    PadInput(const PadInput&) = delete;
    PadInput& operator=(const PadInput&) = delete;

    // Starts the input thread; returns once the window, the source and the hook are in place,
    // or with why not, and then nothing is left of them.
    HRESULT Start();
    // Set (auto-reset) when packets wait.
    HANDLE PacketsWaiting() const { return waiting.Get(); }
    // The packets made since the last call, oldest first, in place of what `into` held.
    void Take(std::vector<ptp::Packet>& into);

private:
    static DWORD WINAPI Main(void* self);
    static LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    // On the input thread.
    HRESULT SetUp();
    void Loop();
    void TearDown();
    void OnFrame(const ptp::Frame& frame) override;
    void OnPadChanged(const ptp::PadGeometry& geometry) override;
    void OnPadRemoved() override;
    // The lost-contact check, and a frame that waited too long for the rest of its reports.
    void OnIdle();
    bool NeedsIdle() const { return translator.MayBeLost() || source->Pending(); }
    void CheckHook(const ptp::Frame& frame, DWORD now);
    void Queue();

    std::unique_ptr<FrameSource> source;
    const std::atomic<bool>* claimed;
    UniqueHandle quit;
    UniqueHandle ready;
    UniqueHandle waiting;
    UniqueHandle thread;
    // Written by the input thread before it sets `ready`.
    HRESULT setup = E_FAIL;

    // The input thread's own.
    HWND window = nullptr;
    bool listening = false;
    ptp::Translator translator;
    ptp::PacketBatch batch;
    // The last frame's time and when it arrived, on the frames' clock; when the idle check ran.
    bool framed = false;
    uint32_t lastFrameUs = 0;
    uint32_t lastArrivalUs = 0;
    DWORD lastIdleMs = 0;
    // The claim's hook, and what it needs to tell whether Windows removed it.
    std::optional<MouseHookThread> hook;
    DWORD lastReinstallAsk = 0;
    bool hadContact = false;
    ptp::Contact previousContact;

    // Tick count of the last frame that put the pad in use, 0 for none: written by the input
    // thread, read by the hook's.
    std::atomic<DWORD> lastContact{0};

    // The packets for the delivery thread.
    SRWLOCK queueLock = SRWLOCK_INIT;
    std::vector<ptp::Packet> queued;
};
