#include "play_timing.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>

#include "player.h"
#include "support/process.h"
#include "virtual_pads.h"

namespace vpadtest {

namespace {

// The touchpad reports raw input hands this thread, each with when it came.
class Arrivals {
public:
    Arrivals() {
        window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                                 nullptr);
        RAWINPUTDEVICE device = {0x0D, 0x05, RIDEV_INPUTSINK, window};
        RegisterRawInputDevices(&device, 1, sizeof device);
    }
    ~Arrivals() {
        RAWINPUTDEVICE device = {0x0D, 0x05, RIDEV_REMOVE, nullptr};
        RegisterRawInputDevices(&device, 1, sizeof device);
        DestroyWindow(window);
    }
    Arrivals(const Arrivals&) = delete;
    Arrivals& operator=(const Arrivals&) = delete;

    // Takes reports until `count` have come, or `done` holds and none comes for 2 s.
    void Collect(size_t count, const std::atomic<bool>& done) {
        DWORD quietSince = 0;
        while (times.size() < count) {
            bool any = false;
            MSG msg;
            while (PeekMessageW(&msg, window, 0, 0, PM_REMOVE)) {
                if (msg.message == WM_INPUT) {
                    LARGE_INTEGER now;
                    QueryPerformanceCounter(&now);
                    times.push_back(now.QuadPart);
                    any = true;
                }
                DispatchMessageW(&msg);
            }
            if (done && (any || quietSince == 0)) {
                quietSince = GetTickCount();
            } else if (done && GetTickCount() - quietSince > 2000) {
                return;
            }
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        }
    }

    std::vector<int64_t> times;

private:
    HWND window = nullptr;
};

} // namespace

PlayTiming PlayAndTime(const std::string& script) {
    PlayTiming timing;
    std::vector<vtp::Step> steps;
    if (!vtp::ParseScript(script, steps, timing.error)) {
        return timing;
    }
    timing.reports =
        static_cast<size_t>(std::count_if(steps.begin(), steps.end(), [](const vtp::Step& s) {
            return s.kind == vtp::Step::Kind::Report;
        }));
    Arrivals arrivals;
    std::vector<int64_t> due;
    std::atomic<bool> done = false;
    std::thread player([&] {
        timing.played =
            vtp::PlayScript(steps, EnvironmentValue(L"VTP_DRIVER_DIR"), timing.error, &due);
        done = true;
    });
    arrivals.Collect(timing.reports, done);
    player.join();
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    size_t k = 0;
    for (size_t i = 0; i < steps.size() && k < arrivals.times.size(); ++i) {
        if (steps[i].kind == vtp::Step::Kind::Add) {
            timing.restarts.push_back(k);
        }
        if (steps[i].kind == vtp::Step::Kind::Report) {
            timing.lateMs.push_back(static_cast<double>(arrivals.times[k++] - due[i]) * 1000.0 /
                                    static_cast<double>(frequency.QuadPart));
        }
    }
    return timing;
}

std::string SlideSteps(const std::string& pad, int reports, int scan) {
    std::string script;
    char byte[4];
    for (int i = 0; i < reports; ++i) {
        script += pad;
        for (uint8_t b : OneFingerReport(i + 1 < reports, 500 + 20 * i, 900, scan + 80 * i)) {
            std::snprintf(byte, sizeof byte, " %02X", b);
            script += byte;
        }
        script += "\nwait 8\n";
    }
    return script;
}

} // namespace vpadtest
