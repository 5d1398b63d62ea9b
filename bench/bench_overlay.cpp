// The on-screen panel's costs, in process under Wine: what a person feels (a report's arrival
// to the panel's new pixels handed to the screen, while a finger moves at 125 reports a second
// for 10 s; a touch to the full panel again after its idle fade), the panel's thread's CPU
// while the finger moves and over a minute of the panel idle, and the process's memory with
// the panel against without it.
//
//   bench_overlay.exe [move seconds] [idle seconds]      (defaults 10 and 60)
#include <windows.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "bench_util.h"
#include "device/velcom.h"
#include "overlay_window.h"

namespace {

std::optional<double> ThreadCpuMillis(DWORD threadId) {
    HANDLE thread = OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, threadId);
    if (thread == nullptr) {
        return std::nullopt;
    }
    FILETIME created{};
    FILETIME exited{};
    FILETIME kernel{};
    FILETIME user{};
    const BOOL got = GetThreadTimes(thread, &created, &exited, &kernel, &user);
    CloseHandle(thread);
    if (got == FALSE) {
        return std::nullopt;
    }
    const auto ticks = [](const FILETIME& t) {
        return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 10'000.0;
}

struct Memory {
    std::optional<long long> rssAnonKb;
    std::optional<long long> rssShmemKb;
    std::optional<long long> vmRssKb;
};

// Under Wine, the Linux process behind this one (its command name cut to 15 characters), whose
// memory the figures read: a path under Z:\proc\self would be opened by the wineserver.
const std::optional<bench::LinuxProcess>& Linux() {
    static const std::optional<bench::LinuxProcess> process =
        bench::FindLinuxProcess("bench_overlay.e");
    return process;
}

Memory MemoryNow() {
    Memory m;
    if (Linux()) {
        m.rssAnonKb = Linux()->StatusKb("RssAnon");
        m.rssShmemKb = Linux()->StatusKb("RssShmem");
        m.vmRssKb = Linux()->StatusKb("VmRSS");
    }
    return m;
}

std::string Kb(const std::optional<long long>& kb) {
    return kb ? std::to_string(*kb) + " kB" : std::string("n/a");
}

// The frames the panel put on the screen: how many Update calls each showed, and when it was
// on the screen. Filled on the panel's thread into room made beforehand; read after.
struct Frames {
    struct Frame {
        unsigned long long updates;
        long long shownAt;
    };
    std::vector<Frame> list;
    size_t count = 0;

    static void Seen(void* self, unsigned long long updates, long long shownAt) {
        auto* frames = static_cast<Frames*>(self);
        if (frames->count < frames->list.size()) {
            frames->list[frames->count++] = {updates, shownAt};
        }
    }
    // Each report's time to the first frame that showed it, in milliseconds: report i (1-based
    // count of Update calls) arrived at `arrivals[i - 1]`.
    std::vector<double> Latencies(const std::vector<long long>& arrivals,
                                  unsigned long long firstUpdate, size_t fromFrame) const {
        std::vector<double> out;
        size_t frame = fromFrame;
        for (size_t i = 0; i < arrivals.size(); ++i) {
            const unsigned long long update = firstUpdate + i;
            while (frame < count && list[frame].updates < update) {
                ++frame;
            }
            if (frame == count) {
                break;
            }
            out.push_back(bench::TicksToMicros(list[frame].shownAt - arrivals[i]) / 1000.0);
        }
        return out;
    }
};

} // namespace

int main(int argc, char**) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    const std::wstring movesArg = bench::Argument(1);
    const std::wstring idleArg = bench::Argument(2);
    const int moveSeconds = movesArg.empty() ? 10 : std::wcstol(movesArg.c_str(), nullptr, 10);
    const int idleSeconds = idleArg.empty() ? 60 : std::wcstol(idleArg.c_str(), nullptr, 10);
    if (moveSeconds <= 0 || idleSeconds <= 0 || argc > 3) {
        std::printf("usage: bench_overlay.exe [move seconds] [idle seconds]\n");
        return 2;
    }
    // GDI, user32 and COM in use before the reference, as they are in tapdeck.exe.
    HDC screen = GetDC(nullptr);
    ReleaseDC(nullptr, screen);
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    // The benchmark's own records, made before the reference.
    Frames frames;
    frames.list.resize(20'000);
    const int reports = moveSeconds * 125;
    std::vector<long long> arrivals(static_cast<size_t>(reports));
    Sleep(200);
    const Memory before = MemoryNow();

    const overlay::PanelLayout layout = overlay::LayoutFor({1000, 1000, 7000, 5800});
    {
        // The cost of one paint of a finger's move, alone, at the default size at 100%.
        const overlay::PanelGeometry geometry(layout, 350, 280, 1.0F);
        overlay::Canvas canvas(geometry.Width(), geometry.Height());
        overlay::PanelPainter painter(geometry, overlay::MakePalette({}));
        overlay::PanelScene scene;
        scene.state.touching = true;
        scene.state.y = 3400;
        constexpr int paints = 500;
        const long long from = bench::QpcTicks();
        for (int i = 0; i < paints; ++i) {
            scene.state.x = 1500 + 10 * i;
            scene.state.under = overlay::ZoneUnder(layout, scene.state.x, scene.state.y);
            painter.Paint(scene, canvas);
        }
        const double each = bench::TicksToMicros(bench::QpcTicks() - from) / paints;
        std::printf("RESULT overlay paint: %.0f us a paint of a finger's move on %d x %d pixels\n",
                    each, canvas.Width(), canvas.Height());
    }
    overlay::Overlay panel{overlay::OverlaySettings{}};
    panel.ObserveFrames(Frames::Seen, &frames);
    if (panel.WaitForWindow(10'000) == nullptr) {
        std::printf("the panel's window could not be made\n");
        return 1;
    }
    panel.Show(layout);
    Sleep(500);
    const Memory shown = MemoryNow();

    // A finger circling the pad at 125 reports a second, on an absolute schedule.
    const std::optional<double> cpuBefore = ThreadCpuMillis(panel.ThreadId());
    const long redrawsBefore = panel.Redraws();
    const size_t framesBefore = frames.count;
    const long long start = bench::QpcTicks();
    const double frequency = bench::QpcFrequency();
    for (int i = 0; i < reports; ++i) {
        const long long due = start + static_cast<long long>(i * frequency / 125.0);
        while (bench::QpcTicks() < due) {
            Sleep(1);
        }
        const double angle = i * 0.02;
        const auto x = static_cast<LONG>(4000 + 2500 * std::cos(angle));
        const auto y = static_cast<LONG>(3400 + 2000 * std::sin(angle));
        arrivals[static_cast<size_t>(i)] = bench::QpcTicks();
        panel.Update({FlagsAFinger, x, y, 0});
    }
    const double elapsedS = static_cast<double>(bench::QpcTicks() - start) / frequency;
    Sleep(100);
    const std::optional<double> cpuMoved = ThreadCpuMillis(panel.ThreadId());
    const long redrawsMoved = panel.Redraws() - redrawsBefore;
    const Memory moved = MemoryNow();
    std::vector<double> latencies = frames.Latencies(arrivals, 1, framesBefore);
    const size_t drawnReports = latencies.size();
    const bench::Percentiles late = bench::Summarise(latencies);

    // The finger lifts; the panel fades to its small form after its 5 s; then nothing changes
    // for `idleSeconds`.
    panel.Update({0, 4000, 3400, 0});
    Sleep(static_cast<DWORD>(overlay::OverlaySettings{}.idleSeconds) * 1000 + 1500);
    const std::optional<double> idleFrom = ThreadCpuMillis(panel.ThreadId());
    const long redrawsIdleFrom = panel.Redraws();
    Sleep(static_cast<DWORD>(idleSeconds) * 1000);
    const std::optional<double> idleTo = ThreadCpuMillis(panel.ThreadId());
    const long redrawsIdle = panel.Redraws() - redrawsIdleFrom;
    const Memory idled = MemoryNow();

    // A touch: the full panel again, with the finger on it.
    const size_t framesBack = frames.count;
    const long long touchAt = bench::QpcTicks();
    panel.Update({FlagsAFinger, 3500, 3400, 0});
    Sleep(300);
    const double backMs =
        frames.count > framesBack
            ? bench::TicksToMicros(frames.list[framesBack].shownAt - touchAt) / 1000.0
            : -1;
    const size_t backFrames = frames.count - framesBack;

    if (!cpuBefore || !cpuMoved || !idleFrom || !idleTo) {
        std::printf("the panel thread's CPU time cannot be read\n");
        return 1;
    }
    const double movingMs = *cpuMoved - *cpuBefore;
    const double percent = movingMs / (elapsedS * 1000.0) * 100.0;
    const double idleMs = *idleTo - *idleFrom;
    std::printf("RESULT overlay moving: %d reports in %.2f s, panel thread CPU %.1f ms = %.2f%% of "
                "a core, %ld frames (%.1f/s) [%s: <= 2%%]\n",
                reports, elapsedS, movingMs, percent, redrawsMoved, redrawsMoved / elapsedS,
                bench::Verdict(percent <= 2.0));
    std::printf("RESULT overlay report to screen: %zu reports drawn, p50 %.2f ms, p99 %.2f ms, "
                "max %.2f ms [%s: p99 <= 17 ms]\n",
                drawnReports, late.p50, late.p99, late.max, bench::Verdict(late.p99 <= 17.0));
    std::printf("RESULT overlay idle: %d s in the small form with nothing changing, panel thread "
                "CPU %.2f ms, %ld frames [%s: 0 ms]\n",
                idleSeconds, idleMs, redrawsIdle, bench::Verdict(idleMs == 0.0));
    std::printf("RESULT overlay back from idle: the touch to the full panel in %.2f ms, %zu "
                "frame(s) in the next 300 ms [%s: the first frame, <= 17 ms]\n",
                backMs, backFrames, bench::Verdict(backMs >= 0 && backMs <= 17.0));
    // RssAnon and RssShmem: Wine may keep DIB sections and window surfaces in shared memory.
    const auto kept = [](const Memory& m) {
        return m.rssAnonKb && m.rssShmemKb ? std::optional<long long>(*m.rssAnonKb + *m.rssShmemKb)
                                           : std::nullopt;
    };
    if (!kept(before) || !kept(moved) || !kept(idled)) {
        std::printf("the memory of the Linux process behind this one cannot be read\n");
        return 1;
    }
    const double addedMiB =
        static_cast<double>(std::max(*kept(moved), *kept(idled)) - *kept(before)) / 1024.0;
    std::printf("RESULT overlay memory: RssAnon %s before, %s shown, %s after moving, %s idle; "
                "RssShmem %s / %s / %s / %s; VmRSS %s / %s / %s / %s; added %.2f MiB [%s: <= 2 "
                "MiB more]\n",
                Kb(before.rssAnonKb).c_str(), Kb(shown.rssAnonKb).c_str(),
                Kb(moved.rssAnonKb).c_str(), Kb(idled.rssAnonKb).c_str(),
                Kb(before.rssShmemKb).c_str(), Kb(shown.rssShmemKb).c_str(),
                Kb(moved.rssShmemKb).c_str(), Kb(idled.rssShmemKb).c_str(),
                Kb(before.vmRssKb).c_str(), Kb(shown.vmRssKb).c_str(), Kb(moved.vmRssKb).c_str(),
                Kb(idled.vmRssKb).c_str(), addedMiB, bench::Verdict(addedMiB <= 2.0));
    return 0;
}
