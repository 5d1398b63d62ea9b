// Memory of tapdeck.exe in the mode and after a million packets. The scenario plays 8,001
// packets that press no button and step no volume (finger down off the zones, small strip
// motions, finger up) 125 times at `rate max`, with no journal, which would cost a file lock
// per packet. The first packet of each pass waits 150 ms, so the mode-on figures are taken
// before any packet; the end of the stream shows as tapdeck's CPU time standing still.
//
//   bench_memory.exe [tapdeck.exe] [passes]     (or TAPDECK_EXE; 8,001 packets a pass)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "bench_util.h"

namespace {

constexpr const char* Cycle = bench::NoOpCycle;
constexpr long CyclesPerPass = 1000;
constexpr long PacketsPerPass = CyclesPerPass * 8;

struct Sample {
    double seconds = 0;
    bench::WinMemory win;
    long long vmRss = -1;
    long long rssAnon = -1;
    long long privateClean = -1;
    long long privateDirty = -1;
    std::optional<double> cpu;
};

Sample Take(HANDLE process, const std::optional<bench::LinuxProcess>& unixProcess,
            long long startTicks) {
    Sample s;
    s.seconds = bench::TicksToMicros(bench::QpcTicks() - startTicks) / 1e6;
    s.win = bench::MemoryOf(process);
    if (unixProcess) {
        s.vmRss = unixProcess->StatusKb("VmRSS").value_or(-1);
        s.rssAnon = unixProcess->StatusKb("RssAnon").value_or(-1);
        s.privateClean = unixProcess->SmapsKb("Private_Clean").value_or(-1);
        s.privateDirty = unixProcess->SmapsKb("Private_Dirty").value_or(-1);
        // The process's own count keeps the time of threads that have ended.
        s.cpu = unixProcess->CpuMillis();
    }
    if (!s.cpu) {
        s.cpu = bench::CpuMillisOf(process);
    }
    return s;
}

void Print(const char* when, const Sample& s) {
    std::printf("  %-22s t=%6.1f s  PrivateUsage %5.2f MiB  WorkingSetSize %5.2f MiB | VmRSS "
                "%6lld kB  RssAnon %6lld kB  Private_Clean %5lld kB  Private_Dirty %6lld kB  "
                "CPU %.0f ms\n",
                when, s.seconds, static_cast<double>(s.win.privateBytes) / 1048576.0,
                static_cast<double>(s.win.workingSet) / 1048576.0, s.vmRss, s.rssAnon,
                s.privateClean, s.privateDirty, s.cpu.value_or(-1));
}

} // namespace

int main(int argc, char**) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    const std::wstring tapdeck = bench::TapdeckPath();
    const std::wstring passesArg = bench::Argument(2);
    const long passes = passesArg.empty() ? 125 : std::wcstol(passesArg.c_str(), nullptr, 10);
    if (tapdeck.empty() || passes <= 0 || argc > 3) {
        std::printf("usage: bench_memory.exe [tapdeck.exe] [passes]  (or TAPDECK_EXE)\n");
        return 2;
    }
    std::string text = "rate max\nrepeat " + std::to_string(passes) + "\n";
    text += "packet a=0 pause=150\n";
    for (long i = 0; i < CyclesPerPass; ++i) {
        text += Cycle;
    }
    const bench::TextFile scenario(L"bms", text);
    const long packets = passes * (PacketsPerPass + 1);

    const bench::Started child = bench::StartProgram(
        tapdeck, L"", {{L"VELSIM_SCENARIO", scenario.Path()}, {L"WINEDEBUG", L"-all"}});
    if (!child.process) {
        std::printf("bench_memory: tapdeck could not be started\n");
        return 1;
    }
    // No journal to read: the mode is on a few milliseconds after the window is there (the
    // mode start runs inside its creation), inside the first pass's 150 ms wait.
    HWND window = nullptr;
    for (int i = 0; i < 10000 && !window; ++i) {
        window = FindWindowA("VelTapdeckClass", "VelTapdeckApp");
        if (!window) {
            Sleep(1);
        }
    }
    if (!window) {
        std::printf("bench_memory: tapdeck's window did not appear\n");
        bench::EndTapdeck(child.process, 5000);
        return 1;
    }
    Sleep(20);
    const auto unixProcess = bench::FindLinuxProcess("tapdeck.exe");
    const Sample modeOn = Take(child.process, unixProcess, child.startTicks);

    // The stream runs at one core's full speed; it has ended once two seconds pass with
    // under 50 ms of CPU time.
    std::vector<Sample> during;
    Sample last = modeOn;
    double quietSince = -1;
    for (;;) {
        Sleep(1000);
        const Sample now = Take(child.process, unixProcess, child.startTicks);
        during.push_back(now);
        if (during.size() % 30 == 0) {
            std::printf("  t=%.0f s: CPU %.0f ms, RssAnon %lld kB\n", now.seconds,
                        now.cpu.value_or(-1), now.rssAnon);
        }
        const bool quiet = now.cpu && last.cpu && *now.cpu - *last.cpu < 50.0 &&
                           now.cpu > modeOn.cpu.value_or(0) + 100.0;
        if (!quiet) {
            quietSince = -1;
        } else if (quietSince < 0) {
            quietSince = now.seconds;
        } else if (now.seconds - quietSince >= 1.5) {
            break;
        }
        last = now;
        if (WaitForSingleObject(child.process, 0) == WAIT_OBJECT_0 || now.seconds > 3600) {
            std::printf("bench_memory: tapdeck ended or the stream did not end\n");
            return 1;
        }
    }
    const Sample after = during.back();
    const DWORD exitCode = bench::EndTapdeck(child.process, 10000);
    CloseHandle(child.process);

    std::printf(
        "tapdeck (Linux pid %ld), %ld packets at rate max, no journal; GetProcessMemoryInfo "
        "on tapdeck's handle | Linux /proc/<pid>/status and smaps_rollup:\n",
        unixProcess ? unixProcess->pid : 0L, packets);
    Print("mode on, no packet yet", modeOn);
    Sample peak = modeOn;
    for (const auto& s : during) {
        if (s.rssAnon > peak.rssAnon) {
            peak = s;
        }
    }
    Print("largest RssAnon seen", peak);
    Print("after the stream", after);
    std::printf("tapdeck exit code %ld\n", static_cast<long>(exitCode));
    if (exitCode != 0 || !unixProcess) {
        std::printf("bench_memory: incomplete run; no figure\n");
        return 1;
    }
    // Windows' PrivateUsage reads 0 under Wine; the private figure judged is Linux's anonymous
    // resident memory (which holds Wine's own runtime heaps as well as tapdeck's).
    const double privateMib = static_cast<double>(after.rssAnon) / 1024.0;
    // Growth is counted from the first second of the stream: the delivery thread's stack and
    // its COM set-up come with the first packet, once.
    const Sample& early = during.front();
    const long long growthKb = after.rssAnon - early.rssAnon;
    std::printf("RssAnon: %lld kB at mode-on, %lld kB after 1 s of the stream, %lld kB after it\n",
                modeOn.rssAnon, early.rssAnon, after.rssAnon);
    std::printf("RESULT memory: private (RssAnon) %.2f MiB at mode-on, %.2f MiB after %ld packets "
                "(target <= 8 MiB) %s; growth over the stream %lld kB %s\n",
                static_cast<double>(modeOn.rssAnon) / 1024.0, privateMib, packets,
                bench::Verdict(privateMib <= 8.0), growthKb, bench::Verdict(growthKb <= 64));
    return 0;
}
