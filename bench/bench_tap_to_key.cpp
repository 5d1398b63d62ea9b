// Tap to key: tapdeck.exe runs as its own process on the simulated touchpad and taps the
// play/pause button again and again; a low-level keyboard hook in this process stamps each
// VK_MEDIA_PLAY_PAUSE key-down with QueryPerformanceCounter. The latency of a tap is that
// stamp minus the start of the OnPacket call of the packet that completed the tap, from the
// library's journal (its clock + `begin`). A last tap on the exit button ends tapdeck.
//
//   bench_tap_to_key.exe [tapdeck.exe] [taps]     (or TAPDECK_EXE)
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bench_util.h"
#include "support/process.h"
#include "support/sim_journal.h"

namespace {

constexpr int MaxKeys = 100000;

// The hook's thread alone writes the stamps; the main thread reads them once tapdeck ended.
struct KeyStamps {
    std::vector<long long> ticks = std::vector<long long>(MaxKeys, 0);
    std::atomic<int> count{0};
    std::atomic<int> others{0};
};
KeyStamps* stamps = nullptr;

LRESULT CALLBACK HookProc(int code, WPARAM wParam, LPARAM lParam) {
    const long long now = bench::QpcTicks();
    if (code != HC_ACTION) {
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    const auto* info = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
    if (info->vkCode == VK_MEDIA_PLAY_PAUSE && (info->flags & LLKHF_UP) == 0) {
        const int i = stamps->count.load(std::memory_order_relaxed);
        if (i < MaxKeys) {
            stamps->ticks[static_cast<size_t>(i)] = now;
            stamps->count.store(i + 1, std::memory_order_release);
        }
    } else if (info->vkCode != VK_MEDIA_PLAY_PAUSE) {
        stamps->others.fetch_add(1);
    }
    // Swallowed: the media keys go no further than this benchmark.
    return 1;
}

// Runs the hook on a thread of its own with a message loop, as low-level hooks need.
class HookThread {
public:
    HookThread() {
        thread = std::thread([this] {
            MSG msg;
            PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
            HHOOK hook = SetWindowsHookExW(WH_KEYBOARD_LL, HookProc, GetModuleHandleW(nullptr), 0);
            threadId.store(GetCurrentThreadId());
            installed.store(hook != nullptr);
            ready.store(true);
            while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
                DispatchMessageW(&msg);
            }
            if (hook) {
                UnhookWindowsHookEx(hook);
            }
        });
        while (!ready.load()) {
            Sleep(1);
        }
    }
    ~HookThread() {
        PostThreadMessageW(threadId.load(), WM_QUIT, 0, 0);
        thread.join();
    }
    HookThread(const HookThread&) = delete;
    HookThread& operator=(const HookThread&) = delete;
    bool Installed() const { return installed.load(); }

private:
    std::atomic<bool> ready{false};
    std::atomic<bool> installed{false};
    std::atomic<DWORD> threadId{0};
    std::thread thread;
};

} // namespace

int main(int argc, char**) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    const std::wstring tapdeck = bench::TapdeckPath();
    const std::wstring tapsArg = bench::Argument(2);
    const int taps = tapsArg.empty() ? 200 : std::wcstol(tapsArg.c_str(), nullptr, 10);
    if (tapdeck.empty() || taps <= 0 || argc > 3) {
        std::printf("usage: bench_tap_to_key.exe [tapdeck.exe] [taps]  (or TAPDECK_EXE)\n");
        return 2;
    }

    // Taps 15 ms apart, the first after 300 ms so that the hook's thread and tapdeck settle.
    std::string scenario = "rate max\n";
    for (int i = 0; i < taps; ++i) {
        scenario += bench::TapPackets(bench::PlayPauseX, bench::PlayPauseY, i == 0 ? 300 : 15);
    }
    scenario += bench::TapPackets(bench::ExitX, bench::ExitY, 15);
    const bench::TextFile scenarioFile(L"bts", scenario);
    const bench::TextFile journal(L"btj", "");

    KeyStamps keys;
    stamps = &keys;
    HookThread hook;
    if (!hook.Installed()) {
        std::printf("bench_tap_to_key: the keyboard hook could not be set\n");
        return 1;
    }
    const bench::Started child = bench::StartProgram(tapdeck, L"",
                                                     {{L"VELSIM_SCENARIO", scenarioFile.Path()},
                                                      {L"VELSIM_JOURNAL", journal.Path()},
                                                      {L"WINEDEBUG", L"-all"}});
    if (!child.process) {
        std::printf("bench_tap_to_key: tapdeck could not be started\n");
        return 1;
    }
    DWORD exitCode = STILL_ACTIVE;
    const DWORD timeoutMs = 60000 + static_cast<DWORD>(taps) * 200;
    if (WaitForSingleObject(child.process, timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(child.process, 1);
        WaitForSingleObject(child.process, 5000);
    }
    GetExitCodeProcess(child.process, &exitCode);
    CloseHandle(child.process);
    // The last key events are handed to the hook before SendInput returns; a moment for the
    // hook's thread to finish its stamp all the same.
    Sleep(200);

    const auto records = ReadJournal(journal.Path());
    const auto clock = bench::ScenarioClock(records, child.pid);
    // Packet 4k+3 completes tap k.
    std::vector<double> completing(static_cast<size_t>(taps), -1);
    std::vector<double> callMicros;
    for (const auto& r : records) {
        if (r.pid != child.pid || r.event != "Packet") {
            continue;
        }
        const auto index = r.Num("index");
        const auto begin = r.Num("begin");
        if (index && begin && *index % 4 == 3 && *index / 4 < taps && clock) {
            completing[static_cast<size_t>(*index / 4)] = *clock + static_cast<double>(*begin);
            callMicros.push_back(static_cast<double>(r.usec - *begin));
        }
    }
    const int got = keys.count.load(std::memory_order_acquire);
    std::vector<double> latency;
    for (int k = 0; k < taps && k < got; ++k) {
        if (completing[static_cast<size_t>(k)] >= 0) {
            latency.push_back(bench::TicksToMicros(keys.ticks[static_cast<size_t>(k)]) -
                              completing[static_cast<size_t>(k)]);
        }
    }
    std::printf("tapdeck exit code %ld; %d taps, %d play/pause key-downs seen, %d other key "
                "events, %zu completing packets in the journal\n",
                static_cast<long>(exitCode), taps, got, keys.others.load(),
                static_cast<size_t>(std::count_if(completing.begin(), completing.end(),
                                                  [](double v) { return v >= 0; })));
    if (exitCode != 0 || got != taps || latency.size() != static_cast<size_t>(taps)) {
        std::printf("bench_tap_to_key: the run is incomplete; no figure\n");
        return 1;
    }
    auto call = bench::Summarise(callMicros);
    auto p = bench::Summarise(latency);
    std::printf("completing packet's OnPacket call (journal line time - begin, includes "
                "journal lines): p50 %.0f us, p99 %.0f us, max %.0f us\n",
                call.p50, call.p99, call.max);
    std::printf("tap-to-key latency over %zu taps: p50 %.0f us, p99 %.0f us, max %.0f us, "
                "min %.0f us\n",
                p.count, p.p50, p.p99, p.max, latency.front());
    std::printf("RESULT tap_to_key: p99 %.3f ms (target <= 2 ms) %s\n", p.p99 / 1000.0,
                bench::Verdict(p.p99 <= 2000.0));
    return 0;
}
