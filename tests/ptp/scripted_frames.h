// Frames a test hands to a velptp device's delivery thread in place of a touchpad's raw input:
// PtpAttachSource(device, pad, script.Maker()) gives each run of delivery a source that takes
// the frames the test pushes while that run listens.
#pragma once

#include <windows.h>

#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "frame_source.h"
#include "translator.h"

class ScriptedFrames : public std::enable_shared_from_this<ScriptedFrames> {
public:
    static std::shared_ptr<ScriptedFrames> Make() { return std::make_shared<ScriptedFrames>(); }

    // For PtpAttachSource. With `failStart` the sources it makes refuse to start.
    FrameSourceMaker Maker(bool failStart = false);

    // Hands frames to the run that listens; false when none does.
    bool Push(const std::vector<ptp::Frame>& frames);
    bool Push(const ptp::Frame& frame) { return Push(std::vector<ptp::Frame>{frame}); }

    // Sources made (one per run), and started on a delivery thread (with its thread's id).
    int Made() const;
    int Started() const;
    DWORD LastThread() const;
    bool Listening() const;
    // Waits until `count` sources have started; false after 5 s.
    bool WaitStarted(int count) const;

private:
    friend class ScriptedSource;

    mutable std::mutex lock;
    std::deque<ptp::Frame> queue;
    HWND window = nullptr;
    int made = 0;
    int started = 0;
    DWORD thread = 0;
};
