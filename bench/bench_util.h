// Shared pieces of the benchmarks: clocks, percentiles, memory and CPU figures of a process,
// scenario files, and the journal's mode-on line. Every benchmark runs on one thread of its
// own plus the library's delivery thread, so nothing here takes a lock.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/sim_journal.h"

namespace bench {

// QueryPerformanceCounter, raw and in microseconds (the journal's `clock` unit).
long long QpcTicks();
double QpcFrequency();
double TicksToMicros(long long ticks);
double QpcMicros();

// Order statistics of a sample; the sample is reordered.
struct Percentiles {
    double p50 = 0;
    double p99 = 0;
    double p999 = 0;
    double max = 0;
    double mean = 0;
    size_t count = 0;
};
Percentiles Summarise(std::vector<double>& sample);
double Median(std::vector<double> sample);

// A file holding `text`, in the temporary folder; deleted on destruction.
class TextFile {
public:
    TextFile(const wchar_t* prefix, const std::string& text);
    ~TextFile();
    TextFile(const TextFile&) = delete;
    TextFile& operator=(const TextFile&) = delete;
    const std::wstring& Path() const { return path; }

private:
    std::wstring path;
};

// The packets of one tap at device point (x, y); the fourth completes it. `pauseMs` waits
// before the first.
std::string TapPackets(LONG x, LONG y, int pauseMs);

// Eight packets that touch, slide and lift without ever making a tap, a volume step or a key:
// finger down off every zone (twice), sliding on the strip by +1/-1 (flags A, then flags B
// alone), lifted twice. The motion sum never leaves -1..1 and no gesture bit is set.
inline constexpr char NoOpCycle[] = "packet a=0x2000 x=2700 y=3000\n"
                                    "packet a=0x2000 x=2700 y=3000\n"
                                    "packet a=0x2000 x=6500 y=4000 motion=1\n"
                                    "packet a=0x2000 x=6500 y=4000 motion=-1\n"
                                    "packet b=0x100 x=6500 y=4000 motion=1\n"
                                    "packet a=0x2000 x=6500 y=4000 motion=-1\n"
                                    "packet a=0\n"
                                    "packet a=0\n";

// Device points for the default edges 1000 1000 7000 5800 (Y as the device reports it).
inline constexpr LONG PlayPauseX = 3500; // grid button 8
inline constexpr LONG PlayPauseY = 2000;
inline constexpr LONG ExitX = 6000;
inline constexpr LONG ExitY = 5000;

// Starts `program` with `arguments`, the current environment plus `extra` (name, value), the
// same console. `startTicks` gets QPC taken just before CreateProcess.
struct Started {
    HANDLE process = nullptr;
    DWORD pid = 0;
    long long startTicks = 0;
};
Started StartProgram(const std::wstring& program, const std::wstring& arguments,
                     const std::vector<std::pair<std::wstring, std::wstring>>& extra);

// Waits until the journal shows process `pid` writing the mode LED on; returns the absolute
// time of that write in QPC microseconds (journal clock + first column). nullopt on time-out
// or when the process ended first.
std::optional<double> WaitLedOn(const std::wstring& journal, DWORD pid, HANDLE process,
                                DWORD timeoutMs);
// The journal clock (`Scenario ... clock=C`) of process `pid`; nullopt when it is missing.
std::optional<double> ScenarioClock(const std::vector<JournalRecord>& records, DWORD pid);

// Asks a running tapdeck to end, as a log-off would, and waits for it; its exit code, or
// STILL_ACTIVE when it did not end in time (it is then terminated).
DWORD EndTapdeck(HANDLE process, DWORD timeoutMs);

// Memory of a process as Windows reports it (GetProcessMemoryInfo).
struct WinMemory {
    bool ok = false;
    unsigned long long privateBytes = 0;
    unsigned long long workingSet = 0;
};
WinMemory MemoryOf(HANDLE process);

// User + kernel CPU time of a process as Windows reports it, in milliseconds.
std::optional<double> CpuMillisOf(HANDLE process);

// Under Wine the Linux process behind a Windows one, read through drive Z:. Found by its
// command name (the exe name Wine gives it) and the Wine prefix of this process.
struct LinuxProcess {
    long pid = 0;
    // utime + stime from /proc/<pid>/stat, in milliseconds (10 ms ticks).
    std::optional<double> CpuMillis() const;
    // Time on a CPU of every current thread, from /proc/<pid>/task/*/schedstat (nanosecond
    // counters), in milliseconds.
    std::optional<double> SchedMillis() const;
    // Each current thread: its Linux id and name, its time on a CPU (nanoseconds of
    // /proc/<pid>/task/<tid>/schedstat, in milliseconds) and the times it was put on one
    // (schedstat's third field: each wake-up, and each return after being preempted).
    struct Task {
        long tid = 0;
        std::string name;
        double runMillis = 0;
        unsigned long long runs = 0;
    };
    std::vector<Task> Tasks() const;
    // "VmRSS", "RssAnon", ... from /proc/<pid>/status, and "Private_Clean", "Private_Dirty"
    // from smaps_rollup; kB, nullopt when the line is missing.
    std::optional<long long> StatusKb(const char* field) const;
    std::optional<long long> SmapsKb(const char* field) const;
};
std::optional<LinuxProcess> FindLinuxProcess(const char* exeName);

// An environment variable of this process, or empty.
std::wstring Env(const wchar_t* name);
// The command line's argument `index` (0 is the program), or empty.
std::wstring Argument(int index);
// tapdeck.exe: the first argument, else TAPDECK_EXE; empty when neither is given.
std::wstring TapdeckPath();

// "PASS" when `ok`, else "MISS".
const char* Verdict(bool ok);

} // namespace bench
