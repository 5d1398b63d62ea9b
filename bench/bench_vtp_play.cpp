// When a replay's reports reach raw input against when its script says: vtpctl's player on a
// virtual pad of eleven collections (tests/virtual_touchpad/pads/many-collections.hid), a
// finger sliding in reports 8 ms apart, the pad unplugged and plugged in again between the
// slides. Each report is timed from when it was due on the player's clock to its WM_INPUT in
// this process (the player runs on a thread of its own here, as in vtpctl).
//
//   bench_vtp_play.exe [slides]    (default 4 slides of 250 reports; VTP_DRIVER_DIR and
//                                   VTP_PADS as the tests have them)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_util.h"
#include "play_timing.h"
#include "support/process.h"
#include "virtual_pads.h"

int main(int argc, char** argv) {
    const int slides = argc > 1 ? std::atoi(argv[1]) : 4;
    vtp::RemoveAll();
    vtp::PadSpec pad;
    pad.name = L"many";
    std::string error;
    if (!vtp::ParseHex(ReadWholeFile(EnvironmentValue(L"VTP_PADS") + L"\\many-collections.hid"),
                       pad.descriptor, error) ||
        !vtp::InstallPad(pad, EnvironmentValue(L"VTP_DRIVER_DIR"), error)) {
        std::printf("no virtual pad: %s\n", error.c_str());
        return 1;
    }
    std::string script;
    for (int i = 0; i < slides; ++i) {
        if (i != 0) {
            script += "remove many\nwait 100\nadd many\nwait 8\n";
        }
        script += vpadtest::SlideSteps("many", 250, 0);
    }
    const vpadtest::PlayTiming timing = vpadtest::PlayAndTime(script);
    vtp::RemoveAll();
    if (!timing.played || timing.lateMs.size() != timing.reports) {
        std::printf("the replay failed (%zu of %zu reports came): %s\n", timing.lateMs.size(),
                    timing.reports, timing.error.c_str());
        return 1;
    }
    std::printf("first report after the clock started:");
    std::printf(" %.2f", timing.lateMs[0]);
    for (const size_t start : timing.restarts) {
        std::printf(" %.2f", timing.lateMs[start]);
    }
    std::printf(" ms\n");
    std::vector<double> late = timing.lateMs;
    const bench::Percentiles p = bench::Summarise(late);
    std::printf("%zu reports, ms after due: p50 %.2f  p99 %.2f  p99.9 %.2f  max %.2f  mean %.2f\n",
                p.count, p.p50, p.p99, p.p999, p.max, p.mean);
    std::printf("RESULT vtp_play: p99 %.2f ms after due at raw input (target <= 2 ms) %s\n", p.p99,
                bench::Verdict(p.p99 <= 2.0));
    return 0;
}
