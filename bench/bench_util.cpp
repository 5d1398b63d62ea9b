#include "bench_util.h"

#include <psapi.h>
#include <shellapi.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <numeric>
#include <sstream>

#include "device/velcom.h"
#include "support/process.h"

namespace bench {

long long QpcTicks() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

double QpcFrequency() {
    static const double frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    return frequency;
}

double TicksToMicros(long long ticks) {
    return static_cast<double>(ticks) * 1e6 / QpcFrequency();
}

double QpcMicros() {
    return TicksToMicros(QpcTicks());
}

namespace {

// The value at rank q (0..1) of a sorted sample, nearest rank.
double Rank(const std::vector<double>& sorted, double q) {
    if (sorted.empty()) {
        return 0;
    }
    const auto last = sorted.size() - 1;
    auto index = static_cast<size_t>(std::ceil(q * static_cast<double>(sorted.size()))) - 1;
    return sorted[std::min(index, last)];
}

} // namespace

Percentiles Summarise(std::vector<double>& sample) {
    Percentiles p;
    p.count = sample.size();
    if (sample.empty()) {
        return p;
    }
    std::sort(sample.begin(), sample.end());
    p.p50 = Rank(sample, 0.5);
    p.p99 = Rank(sample, 0.99);
    p.p999 = Rank(sample, 0.999);
    p.max = sample.back();
    p.mean = std::accumulate(sample.begin(), sample.end(), 0.0) / static_cast<double>(p.count);
    return p;
}

double Median(std::vector<double> sample) {
    return Summarise(sample).p50;
}

TextFile::TextFile(const wchar_t* prefix, const std::string& text) : path(TempFilePath(prefix)) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        CloseHandle(file);
    }
}

TextFile::~TextFile() {
    DeleteFileW(path.c_str());
}

std::string TapPackets(LONG x, LONG y, int pauseMs) {
    std::ostringstream out;
    out << "packet a=0x2000 x=" << x << " y=" << y;
    if (pauseMs > 0) {
        out << " pause=" << pauseMs;
    }
    out << "\npacket a=0x12000 x=" << x << " y=" << y << "\npacket a=0x10000\npacket a=0\n";
    return out.str();
}

Started StartProgram(const std::wstring& program, const std::wstring& arguments,
                     const std::vector<std::pair<std::wstring, std::wstring>>& extra) {
    std::wstring envBlock = EnvironmentBlock(extra);
    std::wstring commandLine = L"\"" + program + L"\"";
    if (!arguments.empty()) {
        commandLine += L" " + arguments;
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    Started started;
    started.startTicks = QpcTicks();
    if (CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                       CREATE_UNICODE_ENVIRONMENT, envBlock.data(), nullptr, &startup, &info)) {
        CloseHandle(info.hThread);
        started.process = info.hProcess;
        started.pid = info.dwProcessId;
    }
    return started;
}

std::optional<double> ScenarioClock(const std::vector<JournalRecord>& records, DWORD pid) {
    for (const auto& r : records) {
        if (r.pid == pid && r.event == "Scenario") {
            if (auto clock = r.Num("clock")) {
                return static_cast<double>(*clock);
            }
        }
    }
    return std::nullopt;
}

std::optional<double> WaitLedOn(const std::wstring& journal, DWORD pid, HANDLE process,
                                DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        const auto records = ReadJournal(journal);
        for (const auto& r : records) {
            if (r.pid == pid && r.event == "WriteProperty" &&
                r.Num("id") == std::optional<long long>(PropModeLed) &&
                r.Num("value") == std::optional<long long>(ModeLedOn)) {
                if (auto clock = ScenarioClock(records, pid)) {
                    return *clock + static_cast<double>(r.usec);
                }
            }
        }
        if (WaitForSingleObject(process, 0) == WAIT_OBJECT_0 || GetTickCount64() > deadline) {
            return std::nullopt;
        }
        Sleep(2);
    }
}

DWORD EndTapdeck(HANDLE process, DWORD timeoutMs) {
    if (HWND window = FindWindowA("VelTapdeckClass", "VelTapdeckApp")) {
        DWORD_PTR result = 0;
        SendMessageTimeoutA(window, WM_ENDSESSION, TRUE, 0, SMTO_NORMAL, timeoutMs, &result);
    }
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(process, timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process, 1);
        WaitForSingleObject(process, 5000);
        return STILL_ACTIVE;
    }
    GetExitCodeProcess(process, &code);
    return code;
}

WinMemory MemoryOf(HANDLE process) {
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof counters;
    WinMemory memory;
    if (GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                             sizeof counters)) {
        memory.ok = true;
        memory.privateBytes = counters.PrivateUsage;
        memory.workingSet = counters.WorkingSetSize;
    }
    return memory;
}

std::optional<double> CpuMillisOf(HANDLE process) {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) {
        return std::nullopt;
    }
    auto hundredNs = [](const FILETIME& t) {
        return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return static_cast<double>(hundredNs(kernel) + hundredNs(user)) / 1e4;
}

namespace {

std::string ReadProcFile(long pid, const char* name) {
    const std::wstring path = L"Z:\\proc\\" + (pid ? std::to_wstring(pid) : std::wstring(L"self")) +
                              L"\\" + std::wstring(name, name + strlen(name));
    return ReadWholeFile(path);
}

// The value of NAME in a NUL-separated environ file; empty when missing.
std::string EnvironValue(const std::string& block, const std::string& name) {
    const std::string key = name + "=";
    size_t start = 0;
    while (start < block.size()) {
        size_t end = block.find('\0', start);
        if (end == std::string::npos) {
            end = block.size();
        }
        if (block.compare(start, key.size(), key) == 0) {
            return block.substr(start + key.size(), end - start - key.size());
        }
        start = end + 1;
    }
    return {};
}

// Field `index` (1-based, as proc(5) counts) of /proc/<pid>/stat; the command name in
// parentheses may hold spaces, so counting starts after its closing parenthesis.
std::optional<unsigned long long> StatField(const std::string& stat, int index) {
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) {
        return std::nullopt;
    }
    std::istringstream in(stat.substr(close + 2));
    std::string field;
    for (int i = 3; in >> field; ++i) {
        if (i == index) {
            return std::strtoull(field.c_str(), nullptr, 10);
        }
    }
    return std::nullopt;
}

std::optional<long long> KbLine(const std::string& text, const char* field) {
    const std::string key = std::string(field) + ":";
    size_t at = 0;
    while ((at = text.find(key, at)) != std::string::npos) {
        if (at == 0 || text[at - 1] == '\n') {
            return std::strtoll(text.c_str() + at + key.size(), nullptr, 10);
        }
        at += key.size();
    }
    return std::nullopt;
}

} // namespace

std::optional<double> LinuxProcess::CpuMillis() const {
    const std::string stat = ReadProcFile(pid, "stat");
    const auto utime = StatField(stat, 14);
    const auto stime = StatField(stat, 15);
    if (!utime || !stime) {
        return std::nullopt;
    }
    // Clock ticks of USER_HZ, 100 per second on Linux.
    return static_cast<double>(*utime + *stime) * 10.0;
}

std::optional<double> LinuxProcess::SchedMillis() const {
    const std::wstring tasks = L"Z:\\proc\\" + std::to_wstring(pid) + L"\\task\\";
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((tasks + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    unsigned long long nanos = 0;
    bool any = false;
    do {
        if (found.cFileName[0] < L'0' || found.cFileName[0] > L'9') {
            continue;
        }
        const std::string stat = ReadWholeFile(tasks + found.cFileName + L"\\schedstat");
        if (!stat.empty()) {
            nanos += std::strtoull(stat.c_str(), nullptr, 10);
            any = true;
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return any ? std::optional<double>(static_cast<double>(nanos) / 1e6) : std::nullopt;
}

std::vector<LinuxProcess::Task> LinuxProcess::Tasks() const {
    std::vector<Task> tasks;
    const std::wstring dir = L"Z:\\proc\\" + std::to_wstring(pid) + L"\\task\\";
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((dir + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return tasks;
    }
    do {
        if (found.cFileName[0] < L'0' || found.cFileName[0] > L'9') {
            continue;
        }
        const std::string stat = ReadWholeFile(dir + found.cFileName + L"\\schedstat");
        if (stat.empty()) {
            continue;
        }
        Task task;
        task.tid = std::wcstol(found.cFileName, nullptr, 10);
        task.name = ReadWholeFile(dir + found.cFileName + L"\\comm");
        while (!task.name.empty() && (task.name.back() == '\n' || task.name.back() == '\0')) {
            task.name.pop_back();
        }
        char* next = nullptr;
        task.runMillis = static_cast<double>(std::strtoull(stat.c_str(), &next, 10)) / 1e6;
        std::strtoull(next, &next, 10); // time waiting for a CPU
        task.runs = std::strtoull(next, nullptr, 10);
        tasks.push_back(task);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return tasks;
}

std::optional<long long> LinuxProcess::StatusKb(const char* field) const {
    return KbLine(ReadProcFile(pid, "status"), field);
}

std::optional<long long> LinuxProcess::SmapsKb(const char* field) const {
    return KbLine(ReadProcFile(pid, "smaps_rollup"), field);
}

std::optional<LinuxProcess> FindLinuxProcess(const char* exeName) {
    const std::string prefix = EnvironValue(ReadProcFile(0, "environ"), "WINEPREFIX");
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(L"Z:\\proc\\*", &found);
    if (search == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    std::optional<LinuxProcess> best;
    unsigned long long bestStart = 0;
    do {
        wchar_t* end = nullptr;
        const long pid = std::wcstol(found.cFileName, &end, 10);
        if (pid <= 0 || *end != L'\0') {
            continue;
        }
        std::string comm = ReadProcFile(pid, "comm");
        while (!comm.empty() && (comm.back() == '\n' || comm.back() == '\0')) {
            comm.pop_back();
        }
        // Linux keeps the first 15 characters of the name that Wine gives the process.
        if (_stricmp(comm.c_str(), std::string(exeName).substr(0, 15).c_str()) != 0 ||
            EnvironValue(ReadProcFile(pid, "environ"), "WINEPREFIX") != prefix) {
            continue;
        }
        // The newest one, should an older one still be ending.
        const auto start = StatField(ReadProcFile(pid, "stat"), 22).value_or(0);
        if (!best || start > bestStart) {
            best = LinuxProcess{pid};
            bestStart = start;
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return best;
}

std::wstring Env(const wchar_t* name) {
    return EnvironmentValue(name);
}

std::wstring Argument(int index) {
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    std::wstring value;
    if (args && index < count) {
        value = args[index];
    }
    LocalFree(args);
    return value;
}

std::wstring TapdeckPath() {
    std::wstring path = Argument(1);
    return path.empty() ? Env(L"TAPDECK_EXE") : path;
}

const char* Verdict(bool ok) {
    return ok ? "PASS" : "MISS";
}

} // namespace bench
