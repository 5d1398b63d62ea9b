#include "ptp/scripted_frames.h"

namespace {
// The message that tells the delivery thread's window that frames wait.
constexpr UINT FramesWaiting = WM_APP + 0x70;
} // namespace

class ScriptedSource final : public FrameSource {
public:
    ScriptedSource(std::shared_ptr<ScriptedFrames> s, bool fail)
        : script(std::move(s)), failStart(fail) {}

    bool Start(HWND window) override {
        if (failStart) {
            SetLastError(ERROR_ACCESS_DENIED);
            return false;
        }
        std::lock_guard hold(script->lock);
        script->window = window;
        script->thread = GetCurrentThreadId();
        ++script->started;
        return true;
    }
    void OnMessage(UINT message, WPARAM, LPARAM, FrameReceiver& receiver) override {
        if (message != FramesWaiting) {
            return;
        }
        for (;;) {
            ptp::Frame frame;
            {
                std::lock_guard hold(script->lock);
                if (script->queue.empty()) {
                    return;
                }
                frame = script->queue.front();
                script->queue.pop_front();
            }
            receiver.OnFrame(frame);
        }
    }
    void Stop() override {
        std::lock_guard hold(script->lock);
        script->window = nullptr;
    }

private:
    std::shared_ptr<ScriptedFrames> script;
    bool failStart;
};

FrameSourceMaker ScriptedFrames::Maker(bool failStart) {
    std::weak_ptr<ScriptedFrames> weak = weak_from_this();
    return [weak, failStart]() -> std::unique_ptr<FrameSource> {
        auto script = weak.lock();
        if (!script) {
            return nullptr;
        }
        {
            std::lock_guard hold(script->lock);
            ++script->made;
        }
        return std::make_unique<ScriptedSource>(script, failStart);
    };
}

bool ScriptedFrames::Push(const std::vector<ptp::Frame>& frames) {
    HWND target = nullptr;
    {
        std::lock_guard hold(lock);
        if (window == nullptr) {
            return false;
        }
        queue.insert(queue.end(), frames.begin(), frames.end());
        target = window;
    }
    return PostMessageW(target, FramesWaiting, 0, 0) != FALSE;
}

int ScriptedFrames::Made() const {
    std::lock_guard hold(lock);
    return made;
}

int ScriptedFrames::Started() const {
    std::lock_guard hold(lock);
    return started;
}

DWORD ScriptedFrames::LastThread() const {
    std::lock_guard hold(lock);
    return thread;
}

bool ScriptedFrames::Listening() const {
    std::lock_guard hold(lock);
    return window != nullptr;
}

bool ScriptedFrames::WaitStarted(int count) const {
    for (int i = 0; i < 5000 && Started() < count; ++i) {
        Sleep(1);
    }
    return Started() >= count;
}
