// What the resident launcher costs and how fast it starts Tapdeck, on a virtual clickpad
// (hybrid-one-finger.hid) under Wine:
//  1. idle: tapdeck-launcher.exe over a minute with nothing touching the pad: the wake-ups and
//     CPU of its threads (/proc/<pid>/task/*/schedstat through drive Z:), and its working set;
//  2. per report: a finger moving away from the corner at 125 reports a second for 10 s: the
//     launcher's CPU over the reports, per report;
//  3. the hold reached to Tapdeck's mode on: a finger held in the corner, reported every 8 ms,
//     from the moment its hold time is reached (its first report plus the hold time) to
//     Tapdeck's panel on the screen, over several starts; each Tapdeck then ended by a tap on
//     its exit button.
//
//   bench_launcher.exe [idle seconds] [starts]   (defaults 60 and 10; TAPDECK_EXE, VELPTP_DLL,
//                                                 VELSIM_DLL, VTP_DRIVER_DIR and VTP_PADS as
//                                                 tools/bench.sh sets them)
#include <windows.h>

#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bench_util.h"
#include "devices.h"
#include "overlay_window.h"
#include "support/process.h"

namespace {

using namespace bench;

using ServerCall = HRESULT(STDAPICALLTYPE*)();

ServerCall Export(HMODULE module, const char* name) {
    return module == nullptr ? nullptr
                             : reinterpret_cast<ServerCall>(
                                   reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// Quits every launcher of the session: a copy left running would keep this run's from starting.
void QuitLaunchers() {
    while (HWND window = FindWindowW(L"VelTapdeckLauncher", nullptr)) {
        DWORD id = 0;
        GetWindowThreadProcessId(window, &id);
        HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, id);
        PostMessageW(window, WM_CLOSE, 0, 0);
        if (process != nullptr) {
            WaitForSingleObject(process, 10000);
            CloseHandle(process);
        }
    }
}

// Ends the run as it found the prefix: no launcher, no virtual pad, the simulated touchpad
// registered.
struct Restore {
    HMODULE ptp = nullptr;
    ~Restore() {
        QuitLaunchers();
        vtp::RemoveAll();
        if (const ServerCall unregister = Export(ptp, "DllUnregisterServer")) {
            unregister();
        }
        if (const ServerCall reg =
                Export(LoadLibraryW(Env(L"VELSIM_DLL").c_str()), "DllRegisterServer")) {
            reg();
        }
    }
};

struct Usage {
    unsigned long long runs = 0;
    double millis = 0;
};

Usage Total(const LinuxProcess& process) {
    Usage total;
    for (const LinuxProcess::Task& task : process.Tasks()) {
        total.runs += task.runs;
        total.millis += task.runMillis;
    }
    return total;
}

// The clickpad's report of one finger (pads/hybrid-one-finger.hid).
vtp::Bytes Report(int id, int x, int y, bool tip, int scan) {
    const auto b = [](int v, int shift) { return static_cast<uint8_t>((v >> shift) & 0xFF); };
    return {0x04,       static_cast<uint8_t>(1 | (tip ? 2 : 0) | (id & 7) << 2),
            b(x, 0),    b(x, 8),
            b(y, 0),    b(y, 8),
            b(scan, 0), b(scan, 8),
            1,          0};
}

class Pad {
public:
    bool Open(std::string& error) { return feeder.Open(L"launcher", error); }
    // One report, then the pad's next scan 8 ms later.
    void Send(int id, int x, int y, bool tip) {
        std::string error;
        feeder.Send(Report(id, x, y, tip, scan), error);
        scan = (scan + 80) & 0xFFFF;
        Sleep(8);
    }

private:
    vtp::PadFeeder feeder;
    int scan = 0;
};

DWORD TapdeckProcess() {
    DWORD id = 0;
    if (HWND window = FindWindowW(L"VelTapdeckClass", L"VelTapdeckApp")) {
        GetWindowThreadProcessId(window, &id);
    }
    return id;
}

bool PanelShown(DWORD tapdeck) {
    const HWND panel = tapdeck != 0 ? overlay::FindPanelWindow(tapdeck) : nullptr;
    return panel != nullptr && IsWindowVisible(panel);
}

} // namespace

// Looking for the launcher's ring window (made hidden at its start): its class begins with
// "VelTapdeckLauncherRing".
struct RingSearch {
    DWORD process = 0;
    HWND found = nullptr;
};

BOOL CALLBACK FindRing(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<RingSearch*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    if (owner == search->process &&
        std::wstring_view(name).starts_with(L"VelTapdeckLauncherRing")) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND RingOf(DWORD process) {
    RingSearch search{process, nullptr};
    EnumWindows(FindRing, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

int main() {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    const std::wstring idleArg = Argument(1);
    const std::wstring startsArg = Argument(2);
    const int idleSeconds = idleArg.empty() ? 60 : _wtoi(idleArg.c_str());
    const int startCount = startsArg.empty() ? 10 : _wtoi(startsArg.c_str());
    const std::wstring tapdeck = Env(L"TAPDECK_EXE");
    if (idleSeconds <= 0 || startCount <= 0 || tapdeck.empty()) {
        std::printf("usage: bench_launcher.exe [idle seconds] [starts]  (with TAPDECK_EXE, "
                    "VELPTP_DLL, VELSIM_DLL, VTP_DRIVER_DIR, VTP_PADS)\n");
        return 2;
    }
    const std::wstring launcherPath =
        tapdeck.substr(0, tapdeck.find_last_of(L"\\/") + 1) + L"tapdeck-launcher.exe";
    Restore restore;
    restore.ptp = LoadLibraryW(Env(L"VELPTP_DLL").c_str());
    const ServerCall reg = Export(restore.ptp, "DllRegisterServer");
    if (reg == nullptr || reg() != S_OK) {
        std::printf("bench_launcher: velptp.dll cannot be registered (VELPTP_DLL)\n");
        return 1;
    }
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Velmora\\Tapdeck\\Launcher");
    vtp::PadSpec described;
    described.name = L"launcher";
    const std::string text = ReadWholeFile(Env(L"VTP_PADS") + L"\\hybrid-one-finger.hid");
    std::string error;
    vtp::RemoveAll();
    if (text.empty() || !vtp::ParseHex(text, described.descriptor, error) ||
        !vtp::InstallPad(described, Env(L"VTP_DRIVER_DIR"), error)) {
        std::printf("bench_launcher: cannot install the virtual pad: %s\n", error.c_str());
        return 1;
    }
    for (int i = 0; i < 300 && vtp::RawInputDevice(L"launcher", 0) == nullptr; ++i) {
        Sleep(10);
    }
    Pad pad;
    if (!pad.Open(error)) {
        std::printf("bench_launcher: %s\n", error.c_str());
        return 1;
    }

    QuitLaunchers();
    const Started launcher = StartProgram(launcherPath, L"", {{L"WINEDEBUG", L"-all"}});
    HWND window = nullptr;
    for (int i = 0; i < 1000 && window == nullptr; ++i) {
        window = FindWindowW(L"VelTapdeckLauncher", nullptr);
        Sleep(10);
    }
    const auto linux = FindLinuxProcess("tapdeck-launcher.exe");
    if (!launcher.process || window == nullptr || !linux) {
        std::printf("bench_launcher: the launcher did not start\n");
        return 1;
    }
    Sleep(2000); // its start's own work done
    const HWND ring = RingOf(GetProcessId(launcher.process));
    if (ring == nullptr) {
        std::printf("bench_launcher: the launcher has no ring window\n");
        return 1;
    }

    // 1. Idle.
    const Usage idleBefore = Total(*linux);
    Sleep(static_cast<DWORD>(idleSeconds) * 1000);
    const Usage idleAfter = Total(*linux);
    const unsigned long long idleRuns = idleAfter.runs - idleBefore.runs;
    const double idleMillis = idleAfter.millis - idleBefore.millis;
    const WinMemory memory = MemoryOf(launcher.process);
    const auto rss = linux->StatusKb("VmRSS");
    const auto anon = linux->StatusKb("RssAnon");
    std::printf("idle %d s: %llu wake-ups, %.2f ms of CPU; working set %.2f MiB (Windows), "
                "VmRSS %lld kB, RssAnon %lld kB\n",
                idleSeconds, idleRuns, idleMillis, memory.workingSet / 1048576.0, rss.value_or(-1),
                anon.value_or(-1));

    // 2. Per report: a finger sliding across the middle of the pad, nowhere near the corner.
    constexpr int Reports = 1250;
    const Usage movingBefore = Total(*linux);
    for (int i = 0; i < Reports; ++i) {
        pad.Send(1, 800 + (i % 250) * 8, 1300, i % 250 != 249);
    }
    Sleep(500);
    const Usage movingAfter = Total(*linux);
    const double perReportUs = (movingAfter.millis - movingBefore.millis) * 1000.0 / Reports;
    std::printf("%d reports at 125 a second: %.2f ms of CPU, %.1f us a report\n", Reports,
                movingAfter.millis - movingBefore.millis, perReportUs);

    // 3. The hold reached to Tapdeck's mode on.
    constexpr double HoldMs = 800; // the default
    std::vector<double> latencies;
    std::vector<double> ringLatencies;
    for (int run = 0; run < startCount; ++run) {
        Sleep(1200); // the launcher waits a second after a Tapdeck ended
        const double first = QpcMicros();
        double onAt = 0;
        double ringAt = 0;
        DWORD running = 0;
        while (QpcMicros() - first < 15e6 && onAt == 0) {
            pad.Send(1, 3900, 100, true);
            running = running != 0 ? running : TapdeckProcess();
            for (int i = 0; i < 8 && onAt == 0; ++i) {
                if (ringAt == 0 && IsWindowVisible(ring) != FALSE) {
                    ringAt = QpcMicros();
                }
                if (PanelShown(running != 0 ? running : TapdeckProcess())) {
                    onAt = QpcMicros();
                }
                Sleep(1);
            }
        }
        pad.Send(1, 3900, 100, false);
        running = running != 0 ? running : TapdeckProcess();
        if (onAt == 0 || running == 0) {
            std::printf("bench_launcher: start %d: Tapdeck's mode did not come on\n", run + 1);
            return 1;
        }
        latencies.push_back((onAt - first) / 1000.0 - HoldMs);
        if (ringAt == 0) {
            std::printf("bench_launcher: start %d: the ring never showed\n", run + 1);
            return 1;
        }
        ringLatencies.push_back((ringAt - first) / 1000.0);
        // A tap on the exit button ends it, once the claim has settled (a touch that lands as
        // it starts is taken for one that was down before).
        Sleep(300);
        HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, running);
        pad.Send(2, 3900, 100, true);
        pad.Send(2, 3900, 100, true);
        pad.Send(2, 3900, 100, false);
        if (process == nullptr || WaitForSingleObject(process, 10000) != WAIT_OBJECT_0) {
            std::printf("bench_launcher: start %d: the exit tap did not end Tapdeck\n", run + 1);
            return 1;
        }
        CloseHandle(process);
    }
    std::vector<double> sample = latencies;
    const Percentiles p = Summarise(sample);
    std::printf("hold reached -> Tapdeck's mode on, %d starts: p50 %.1f ms, p99 %.1f ms, "
                "max %.1f ms\n",
                startCount, p.p50, p.p99, p.max);
    const Percentiles r = Summarise(ringLatencies);
    std::printf("finger down in the corner -> ring on screen, %d holds: p50 %.1f ms, p99 %.1f ms, "
                "max %.1f ms\n",
                startCount, r.p50, r.p99, r.max);

    PostMessageW(window, WM_CLOSE, 0, 0);
    WaitForSingleObject(launcher.process, 10000);
    CloseHandle(launcher.process);
    std::printf("RESULT launcher_idle: %llu wake-ups, %.2f ms CPU over %d s untouched (target: "
                "none) %s\n",
                idleRuns, idleMillis, idleSeconds, Verdict(idleRuns == 0));
    std::printf("RESULT launcher_per_report: %.1f us CPU a report\n", perReportUs);
    std::printf("RESULT launcher_hold_to_mode_on: p50 %.1f ms, p99 %.1f ms\n", p.p50, p.p99);
    std::printf("RESULT launcher_touch_to_ring: p50 %.1f ms, p99 %.1f ms (target: 100 ms) %s\n",
                r.p50, r.p99, Verdict(r.p99 <= 100));
    return 0;
}
