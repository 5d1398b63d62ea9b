// Where a claim's frames come from: the touchpad through raw input, or in tests a source of
// their own. The source lives on the claim's input thread and is called only there.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>

#include "translator.h"

class FrameReceiver {
public:
    virtual void OnFrame(const ptp::Frame& frame) = 0;
    // The frames come from another pad from now on, of this geometry; no contact is down.
    virtual void OnPadChanged(const ptp::PadGeometry& geometry) = 0;
    // The pad the frames came from is gone: a contact that was down is lifted, without a tap.
    virtual void OnPadRemoved() = 0;

protected:
    ~FrameReceiver() = default;
};

class FrameSource {
public:
    FrameSource() = default;
    virtual ~FrameSource() = default;
    FrameSource(const FrameSource&) = delete;
    FrameSource& operator=(const FrameSource&) = delete;

    // Starts listening for the delivery thread's message-only window; false on failure.
    virtual bool Start(HWND window) = 0;
    // Every message of that window: the frames it completes go to `receiver`, on this thread.
    virtual void OnMessage(UINT message, WPARAM wParam, LPARAM lParam, FrameReceiver& receiver) = 0;
    // Whether a frame waits for more of its reports, which OnIdle may finish.
    virtual bool Pending() const { return false; }
    // No message came for a while: at `nowUs` (the frames' clock), a frame that waited too long
    // for the rest of its reports goes to `receiver` as it is.
    virtual void OnIdle(uint32_t /*nowUs*/, FrameReceiver& /*receiver*/) {}
    // Stops listening; the window is still there.
    virtual void Stop() = 0;
};

// Makes a fresh source for each run of delivery (each claim). Called on the thread that
// starts the run.
using FrameSourceMaker = std::function<std::unique_ptr<FrameSource>()>;

// The frames' clock (ptp::Frame::timeUs and the translator's Idle): QueryPerformanceCounter in
// microseconds, in full and as the 32-bit value that the frames carry.
long long ClockMicros();
inline uint32_t FrameClock() {
    return static_cast<uint32_t>(ClockMicros());
}
