// Start to mode on: from just before CreateProcess to tapdeck's write of the mode LED (the
// journal's WriteProperty of 0x01000292 = 200, at its clock + first column), against the start
// of an empty GUI program (bench_empty.exe) from just before CreateProcess to its WinMain's
// entry. Runs alternate between the two after a warm-up; each tapdeck run is ended with
// WM_ENDSESSION and must exit 0.
//
//   bench_start.exe [tapdeck.exe] [runs]     (or TAPDECK_EXE; bench_empty.exe beside this exe)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "bench_util.h"
#include "support/process.h"
#include "support/sim_journal.h"

namespace {

std::wstring BesideThisExe(const wchar_t* name) {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path);
    dir.resize(dir.find_last_of(L"\\/") + 1);
    return dir + name;
}

struct EmptyRun {
    double toEntry = 0; // CreateProcess to WinMain's entry, microseconds
    double toComUp = 0; // CreateProcess to COM initialised (bench_empty_com only)
    double toExit = 0;  // CreateProcess to the process handle signalled
};

std::optional<EmptyRun> RunEmpty(const std::wstring& program) {
    const std::wstring stampFile = TempFilePath(L"bst");
    const bench::Started child = bench::StartProgram(program, stampFile, {});
    if (!child.process) {
        return std::nullopt;
    }
    const bool ended = WaitForSingleObject(child.process, 30000) == WAIT_OBJECT_0;
    const long long endTicks = bench::QpcTicks();
    CloseHandle(child.process);
    const std::string stamp = ReadWholeFile(stampFile);
    DeleteFileW(stampFile.c_str());
    if (!ended || stamp.empty()) {
        return std::nullopt;
    }
    const double start = bench::TicksToMicros(child.startTicks);
    char* rest = nullptr;
    const double entry = std::strtod(stamp.c_str(), &rest);
    const double comUp = std::strtod(rest, nullptr);
    return EmptyRun{entry - start, comUp - start, bench::TicksToMicros(endTicks) - start};
}

struct TapdeckRun {
    double toLed = 0;      // CreateProcess to the LED write
    double toScenario = 0; // CreateProcess to the library's first object (scenario read)
};

std::optional<TapdeckRun> RunTapdeck(const std::wstring& program, const std::wstring& scenario) {
    const bench::TextFile journal(L"bsj", "");
    const bench::Started child = bench::StartProgram(program, L"",
                                                     {{L"VELSIM_SCENARIO", scenario},
                                                      {L"VELSIM_JOURNAL", journal.Path()},
                                                      {L"WINEDEBUG", L"-all"}});
    if (!child.process) {
        return std::nullopt;
    }
    const auto led = bench::WaitLedOn(journal.Path(), child.pid, child.process, 30000);
    const DWORD exitCode = bench::EndTapdeck(child.process, 10000);
    CloseHandle(child.process);
    const auto clock = bench::ScenarioClock(ReadJournal(journal.Path()), child.pid);
    if (!led || !clock || exitCode != 0) {
        return std::nullopt;
    }
    const double start = bench::TicksToMicros(child.startTicks);
    return TapdeckRun{*led - start, *clock - start};
}

} // namespace

int main(int argc, char**) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    const std::wstring tapdeck = bench::TapdeckPath();
    const std::wstring runsArg = bench::Argument(2);
    const int runs = runsArg.empty() ? 30 : std::wcstol(runsArg.c_str(), nullptr, 10);
    const std::wstring empty = BesideThisExe(L"bench_empty.exe");
    const std::wstring emptyCom = BesideThisExe(L"bench_empty_com.exe");
    if (tapdeck.empty() || runs <= 0 || argc > 3) {
        std::printf("usage: bench_start.exe [tapdeck.exe] [runs]  (or TAPDECK_EXE)\n");
        return 2;
    }
    // The default touchpad, no packets.
    // Each round starts the three programs in turn, so load changes fall on all of them.
    const bench::TextFile scenario(L"bss", "edges 1000 1000 7000 5800\n");

    constexpr int WarmUp = 3;
    std::vector<double> emptyEntry, emptyExit, comEntry, comUp, tapdeckLed, tapdeckScenario;
    for (int i = 0; i < WarmUp + runs; ++i) {
        const auto e = RunEmpty(empty);
        const auto c = RunEmpty(emptyCom);
        const auto t = RunTapdeck(tapdeck, scenario.Path());
        if (!e || !c || !t) {
            std::printf("bench_start: run %d failed (%s)\n", i,
                        !e   ? "bench_empty"
                        : !c ? "bench_empty_com"
                             : "tapdeck");
            return 1;
        }
        if (i >= WarmUp) {
            emptyEntry.push_back(e->toEntry);
            emptyExit.push_back(e->toExit);
            comEntry.push_back(c->toEntry);
            comUp.push_back(c->toComUp);
            tapdeckLed.push_back(t->toLed);
            tapdeckScenario.push_back(t->toScenario);
        }
    }
    const double entry = bench::Median(emptyEntry);
    const double led = bench::Median(tapdeckLed);
    auto spread = [](std::vector<double> v) {
        const auto p = bench::Summarise(v);
        return std::to_string(static_cast<long>(v.front() / 1000)) + ".." +
               std::to_string(static_cast<long>(p.max / 1000)) + " ms";
    };
    std::printf("%d runs each after %d warm-up runs, alternating; medians:\n", runs, WarmUp);
    std::printf("  empty program, CreateProcess -> WinMain entry: %.1f ms (%s)\n", entry / 1000,
                spread(emptyEntry).c_str());
    std::printf("  empty program, CreateProcess -> process ended: %.1f ms (%s)\n",
                bench::Median(emptyExit) / 1000, spread(emptyExit).c_str());
    std::printf("  user32+ole32 program, CreateProcess -> WinMain entry: %.1f ms (%s)\n",
                bench::Median(comEntry) / 1000, spread(comEntry).c_str());
    std::printf("  user32+ole32 program, CreateProcess -> FindWindowA + CoInitialize done: "
                "%.1f ms (%s)\n",
                bench::Median(comUp) / 1000, spread(comUp).c_str());
    std::printf("  tapdeck, CreateProcess -> first library object (COM up, velsim loaded): "
                "%.1f ms (%s)\n",
                bench::Median(tapdeckScenario) / 1000, spread(tapdeckScenario).c_str());
    std::printf("  tapdeck, CreateProcess -> mode LED on: %.1f ms (%s)\n", led / 1000,
                spread(tapdeckLed).c_str());
    const double ratio = led / entry;
    std::printf("tapdeck to mode on / user32+ole32 program to COM up = %.2f (how much of the "
                "start is tapdeck's own)\n",
                led / bench::Median(comUp));
    std::printf("RESULT start: tapdeck to mode on / empty program to WinMain = %.2f (target <= "
                "1.5) %s; %.1f ms against %.1f ms\n",
                ratio, bench::Verdict(ratio <= 1.5), led / 1000, entry / 1000);
    return 0;
}
