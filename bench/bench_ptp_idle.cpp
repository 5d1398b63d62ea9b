// A laptop's battery while nothing touches the pad: tapdeck.exe on velptp.dll, claimed on a
// virtual touchpad (docs/virtual-touchpad.md) that reports nothing, for a minute. Counted from
// Linux, per thread of the Wine process: the times each was put on a CPU (each wake-up) and its
// CPU time (/proc/<pid>/task/*/schedstat, read through drive Z:), and the same of this prefix's
// wineserver, which every wake-up of a Wine thread on a timer also costs.
//
//   bench_ptp_idle.exe [seconds]      (default 60; TAPDECK_EXE, VELPTP_DLL, VELSIM_DLL,
//                                      VTP_DRIVER_DIR and VTP_PADS as tools/bench.sh sets them)
#include <windows.h>

#include <cstdio>
#include <map>
#include <optional>
#include <string>

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

struct Figures {
    unsigned long long runs = 0;
    double millis = 0;
};

std::map<long, LinuxProcess::Task> ByThread(const LinuxProcess& process) {
    std::map<long, LinuxProcess::Task> tasks;
    for (const LinuxProcess::Task& task : process.Tasks()) {
        tasks[task.tid] = task;
    }
    return tasks;
}

// What the threads did between the two readings; a thread seen only in the second counts from 0.
Figures Between(const std::map<long, LinuxProcess::Task>& before,
                const std::map<long, LinuxProcess::Task>& after, bool print) {
    Figures total;
    for (const auto& [tid, task] : after) {
        const auto was = before.find(tid);
        const unsigned long long runs = task.runs - (was != before.end() ? was->second.runs : 0);
        const double millis = task.runMillis - (was != before.end() ? was->second.runMillis : 0);
        total.runs += runs;
        total.millis += millis;
        if (print) {
            std::printf("  thread %ld (%s): %llu wake-ups, %.2f ms\n", tid, task.name.c_str(), runs,
                        millis);
        }
    }
    return total;
}

// Ends the run as it found the prefix: no virtual pad, the simulated touchpad registered.
struct Restore {
    HMODULE ptp = nullptr;
    ~Restore() {
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

} // namespace

int main() {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    const std::wstring secondsArg = Argument(1);
    const int seconds = secondsArg.empty() ? 60 : _wtoi(secondsArg.c_str());
    const std::wstring program = Env(L"TAPDECK_EXE");
    if (seconds <= 0 || program.empty()) {
        std::printf("usage: bench_ptp_idle.exe [seconds]  (with TAPDECK_EXE, VELPTP_DLL, "
                    "VELSIM_DLL, VTP_DRIVER_DIR, VTP_PADS)\n");
        return 2;
    }
    Restore restore;
    restore.ptp = LoadLibraryW(Env(L"VELPTP_DLL").c_str());
    const ServerCall reg = Export(restore.ptp, "DllRegisterServer");
    if (reg == nullptr || reg() != S_OK) {
        std::printf("bench_ptp_idle: velptp.dll cannot be registered (VELPTP_DLL)\n");
        return 1;
    }
    vtp::PadSpec pad;
    pad.name = L"idle";
    const std::string text = ReadWholeFile(Env(L"VTP_PADS") + L"\\hybrid-one-finger.hid");
    std::string error;
    vtp::RemoveAll();
    if (text.empty() || !vtp::ParseHex(text, pad.descriptor, error) ||
        !vtp::InstallPad(pad, Env(L"VTP_DRIVER_DIR"), error)) {
        std::printf("bench_ptp_idle: cannot install the virtual pad: %s\n", error.c_str());
        return 1;
    }
    // Raw input lists a new device a moment after it starts; Tapdeck must find it.
    for (int i = 0; i < 300 && vtp::RawInputDevice(L"idle", 0) == nullptr; ++i) {
        Sleep(10);
    }

    const Started child = StartProgram(program, L"", {{L"WINEDEBUG", L"-all"}});
    if (!child.process) {
        std::printf("bench_ptp_idle: tapdeck could not be started\n");
        return 1;
    }
    // The mode is on once the panel is on the screen.
    bool on = false;
    for (int i = 0; i < 3000 && !on; ++i) {
        on = overlay::FindPanelWindow(child.pid) != nullptr;
        if (!on && WaitForSingleObject(child.process, 10) == WAIT_OBJECT_0) {
            break;
        }
    }
    if (!on) {
        std::printf("bench_ptp_idle: the mode did not start\n");
        EndTapdeck(child.process, 5000);
        CloseHandle(child.process);
        return 1;
    }
    Sleep(2000); // the start's own work done
    const auto app = FindLinuxProcess("tapdeck.exe");
    // Debian names the 64-bit server wineserver64.
    auto server = FindLinuxProcess("wineserver64");
    if (!server) {
        server = FindLinuxProcess("wineserver");
    }
    if (!app) {
        std::printf("bench_ptp_idle: tapdeck's Linux process not found\n");
        EndTapdeck(child.process, 5000);
        CloseHandle(child.process);
        return 1;
    }
    const auto appBefore = ByThread(*app);
    const auto serverBefore = server ? ByThread(*server) : std::map<long, LinuxProcess::Task>{};
    std::printf("tapdeck on velptp.dll, claimed on a virtual pad nothing touches; Linux pid %ld, "
                "%zu threads; %d s\n",
                app->pid, appBefore.size(), seconds);
    Sleep(static_cast<DWORD>(seconds) * 1000);
    const auto appAfter = ByThread(*app);
    const auto serverAfter = server ? ByThread(*server) : std::map<long, LinuxProcess::Task>{};
    const DWORD exitCode = EndTapdeck(child.process, 10000);
    CloseHandle(child.process);

    const Figures own = Between(appBefore, appAfter, true);
    const Figures wineserver = Between(serverBefore, serverAfter, false);
    std::printf("tapdeck.exe over %d s: %llu wake-ups (%.2f a second), %.2f ms of CPU\n", seconds,
                own.runs, static_cast<double>(own.runs) / seconds, own.millis);
    if (server) {
        std::printf("the prefix's wineserver meanwhile (this benchmark asleep): %llu wake-ups, "
                    "%.2f ms of CPU\n",
                    wineserver.runs, wineserver.millis);
    }
    std::printf("tapdeck exit code %ld\n", static_cast<long>(exitCode));
    if (exitCode != 0) {
        return 1;
    }
    std::printf("RESULT ptp_idle: %llu wake-ups, %.2f ms CPU over %d s untouched (target: no "
                "wake-ups) %s\n",
                own.runs, own.millis, seconds, Verdict(own.runs == 0));
    return 0;
}
