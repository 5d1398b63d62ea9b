#include "support/process.h"

#include <cstdio>
#include <map>
#include <string_view>

std::wstring EnvironmentBlock(const std::vector<std::pair<std::wstring, std::wstring>>& extra) {
    std::map<std::wstring, std::wstring> vars;
    if (wchar_t* block = GetEnvironmentStringsW()) {
        for (const wchar_t* p = block; *p; p += wcslen(p) + 1) {
            std::wstring entry(p);
            const size_t eq = entry.find(L'=', 1);
            if (eq != std::wstring::npos) {
                vars[entry.substr(0, eq)] = entry.substr(eq + 1);
            }
        }
        FreeEnvironmentStringsW(block);
    }
    for (const auto& [name, value] : extra) {
        vars[name] = value;
    }
    std::wstring result;
    for (const auto& [name, value] : vars) {
        result += name + L"=" + value;
        result.push_back(L'\0');
    }
    result.push_back(L'\0');
    return result;
}

std::wstring EnvironmentValue(const wchar_t* name) {
    wchar_t buffer[4096];
    const DWORD n = GetEnvironmentVariableW(name, buffer, 4096);
    return n > 0 && n < 4096 ? std::wstring(buffer, n) : std::wstring();
}

ScopedVariable::ScopedVariable(const wchar_t* variable, const std::wstring& value)
    : name(variable), old(EnvironmentValue(variable)) {
    SetEnvironmentVariableW(name, value.c_str());
}

ScopedVariable::~ScopedVariable() {
    SetEnvironmentVariableW(name, old.empty() ? nullptr : old.c_str());
}

std::wstring TempFilePath(const wchar_t* prefix) {
    wchar_t dir[MAX_PATH];
    wchar_t path[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    GetTempFileNameW(dir, prefix, 0, path);
    return path;
}

std::string ReadWholeFile(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return {};
    }
    std::string text;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        text.append(buffer, got);
    }
    CloseHandle(file);
    return text;
}

ChildProcess::~ChildProcess() {
    Close();
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : process(std::exchange(other.process, nullptr)), processId(std::exchange(other.processId, 0)),
      outputPath(std::move(other.outputPath)) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        Close();
        process = std::exchange(other.process, nullptr);
        processId = std::exchange(other.processId, 0);
        startError = other.startError;
        outputPath = std::move(other.outputPath);
    }
    return *this;
}

void ChildProcess::Close() {
    if (process) {
        if (ExitCode() == STILL_ACTIVE) {
            TerminateProcess(process, 1);
            WaitForSingleObject(process, 5000);
        }
        CloseHandle(std::exchange(process, nullptr));
    }
    if (!outputPath.empty()) {
        DeleteFileW(outputPath.c_str());
        outputPath.clear();
    }
}

ChildProcess ChildProcess::Start(const std::wstring& program, const std::wstring& arguments,
                                 const Options& options) {
    ChildProcess child;
    child.outputPath = TempFilePath(L"out");
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE output = CreateFileW(child.outputPath.c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                                CREATE_ALWAYS, 0, nullptr);
    if (output == INVALID_HANDLE_VALUE) {
        child.startError = GetLastError();
        return child;
    }
    auto environment = options.environment;
    environment.emplace_back(L"WINEDEBUG", options.traceBeeps ? L"+pid,+relay" : L"-all");
    std::wstring envBlock = EnvironmentBlock(environment);

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output;
    startup.hStdError = output;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    PROCESS_INFORMATION info = {};
    // Tried again a few times: under Wine, one of ten processes started at the same moment was
    // once refused. A program that cannot be started at all still fails every try.
    for (int attempt = 0; attempt < 3 && !child.process; ++attempt) {
        if (attempt > 0) {
            Sleep(50);
        }
        if (CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                           CREATE_UNICODE_ENVIRONMENT, envBlock.data(), nullptr, &startup, &info)) {
            CloseHandle(info.hThread);
            child.process = info.hProcess;
            child.processId = info.dwProcessId;
            child.startError = 0;
        } else {
            child.startError = GetLastError();
        }
    }
    CloseHandle(output);
    return child;
}

bool ChildProcess::Wait(DWORD milliseconds) {
    return process && WaitForSingleObject(process, milliseconds) == WAIT_OBJECT_0;
}

DWORD ChildProcess::ExitCode() const {
    DWORD code = STILL_ACTIVE;
    if (process) {
        GetExitCodeProcess(process, &code);
    }
    return code;
}

void ChildProcess::Kill() {
    if (process) {
        TerminateProcess(process, 1);
        WaitForSingleObject(process, 5000);
    }
}

std::string ChildProcess::Output() const {
    return ReadWholeFile(outputPath);
}

int ChildProcess::BeepCount() const {
    // Wine writes the traces of every process the test starts to the test's own Unix standard
    // error, which the test runner sends to this file; each line starts with "pid:tid:".
    const std::wstring traces = EnvironmentValue(L"TAPDECK_STDERR");
    if (traces.empty()) {
        return -1;
    }
    char prefix[16];
    snprintf(prefix, sizeof prefix, "%04lx:", static_cast<unsigned long>(processId));
    const std::string text = ReadWholeFile(traces);
    const std::string call = ":Call user32.MessageBeep(";
    int count = 0;
    size_t lineStart = 0;
    while (lineStart < text.size()) {
        size_t lineEnd = text.find('\n', lineStart);
        if (lineEnd == std::string::npos) {
            lineEnd = text.size();
        }
        const std::string_view line(text.data() + lineStart, lineEnd - lineStart);
        if (line.rfind(prefix, 0) == 0 && line.find(call) != std::string_view::npos) {
            ++count;
        }
        lineStart = lineEnd + 1;
    }
    return count;
}
