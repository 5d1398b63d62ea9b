// vtpctl's player keeps a script's timing: on a pad of eleven collections, whose devices take
// tens of milliseconds to open, each report reaches raw input when the script says it is due,
// from the first one on and again after the pad is unplugged and plugged in.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "player.h"
#include "support/process.h"
#include "virtual_pads.h"

namespace {

// The touchpad reports raw input hands this thread, each with when it came.
class Arrivals {
public:
    Arrivals() {
        window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                                 nullptr);
        RAWINPUTDEVICE device = {0x0D, 0x05, RIDEV_INPUTSINK, window};
        registered = RegisterRawInputDevices(&device, 1, sizeof device) != FALSE;
    }
    ~Arrivals() {
        RAWINPUTDEVICE device = {0x0D, 0x05, RIDEV_REMOVE, nullptr};
        RegisterRawInputDevices(&device, 1, sizeof device);
        DestroyWindow(window);
    }
    Arrivals(const Arrivals&) = delete;
    Arrivals& operator=(const Arrivals&) = delete;

    // Takes reports until `count` have come, or `stop` holds and no more come for `quietMs`.
    void Collect(size_t count, const std::atomic<bool>& stop, DWORD quietMs) {
        DWORD quietSince = 0;
        while (times.size() < count) {
            MSG msg;
            bool any = false;
            while (PeekMessageW(&msg, window, 0, 0, PM_REMOVE)) {
                if (msg.message == WM_INPUT) {
                    LARGE_INTEGER now;
                    QueryPerformanceCounter(&now);
                    times.push_back(now.QuadPart);
                    any = true;
                }
                DispatchMessageW(&msg);
            }
            if (!stop) {
                MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
                continue;
            }
            if (any || quietSince == 0) {
                quietSince = GetTickCount();
            } else if (GetTickCount() - quietSince > quietMs) {
                return;
            }
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        }
    }

    bool registered = false;
    std::vector<int64_t> times;

private:
    HWND window = nullptr;
};

std::string Hex(const vtp::Bytes& bytes) {
    std::string text;
    char byte[4];
    for (uint8_t b : bytes) {
        std::snprintf(byte, sizeof byte, " %02X", b);
        text += byte;
    }
    return text;
}

// A finger sliding for `reports` reports, 8 ms apart.
void Slide(std::string& script, int reports, int scan) {
    for (int i = 0; i < reports; ++i) {
        script +=
            "many" +
            Hex(vpadtest::OneFingerReport(i + 1 < reports, 500 + 20 * i, 900, scan + 80 * i)) +
            "\nwait 8\n";
    }
}

TEST(Play, EachReportReachesRawInputWhenTheScriptSaysFromTheFirstOnAndAfterAnAdd) {
    vpadtest::RemoveAll();
    vpadtest::Install(L"many", L"many-collections");
    Arrivals arrivals;
    ASSERT_TRUE(arrivals.registered);
    std::string script;
    Slide(script, 150, 0);
    script += "remove many\nwait 100\nadd many\nwait 8\n";
    Slide(script, 150, 20000);
    std::vector<vtp::Step> steps;
    std::string error;
    ASSERT_TRUE(vtp::ParseScript(script, steps, error)) << error;
    const size_t reports =
        static_cast<size_t>(std::count_if(steps.begin(), steps.end(), [](const vtp::Step& s) {
            return s.kind == vtp::Step::Kind::Report;
        }));

    std::vector<int64_t> due;
    std::atomic<bool> played = false;
    bool ok = false;
    std::thread player([&] {
        ok = vtp::PlayScript(steps, EnvironmentValue(L"VTP_DRIVER_DIR"), error, &due);
        played = true;
    });
    arrivals.Collect(reports, played, 2000);
    player.join();
    ASSERT_TRUE(ok) << error;
    ASSERT_EQ(arrivals.times.size(), reports) << vtp::DescribeDelivery(L"many");

    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    std::vector<double> lateMs;
    for (size_t i = 0, k = 0; i < steps.size(); ++i) {
        if (steps[i].kind == vtp::Step::Kind::Report) {
            lateMs.push_back(static_cast<double>(arrivals.times[k++] - due[i]) * 1000.0 /
                             static_cast<double>(frequency.QuadPart));
        }
    }
    std::vector<double> sorted = lateMs;
    std::sort(sorted.begin(), sorted.end());
    const double p50 = sorted[sorted.size() / 2];
    const double p99 = sorted[(sorted.size() * 99 + 99) / 100 - 1];
    char summary[256];
    std::snprintf(summary, sizeof summary,
                  "after when due, ms: min %.2f p50 %.2f p99 %.2f max %.2f; first report %.2f, "
                  "first after the add %.2f",
                  sorted.front(), p50, p99, sorted.back(), lateMs[0], lateMs[150]);
    std::printf("%s\n", summary);
    EXPECT_LE(p99, 2.0) << summary;
    vpadtest::RemoveAll();
}

} // namespace
