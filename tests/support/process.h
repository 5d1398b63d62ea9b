// Runs a program of the project as a separate process, with its own environment, and keeps
// what it wrote to standard output and error. With beep tracing on, Wine's relay trace of the
// child records every call of user32.MessageBeep, so a test can count the beeps for real.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

class ChildProcess {
public:
    struct Options {
        // Variables set (or replaced) in the child's environment.
        std::vector<std::pair<std::wstring, std::wstring>> environment;
        bool traceBeeps = false;
    };

    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts `program` with `arguments`; check Started() for failure.
    static ChildProcess Start(const std::wstring& program, const std::wstring& arguments,
                              const Options& options);

    bool Started() const { return process != nullptr; }
    // GetLastError of the failed start; 0 after a good one.
    DWORD StartError() const { return startError; }
    DWORD Id() const { return processId; }
    // Waits for the end; false on time-out.
    bool Wait(DWORD milliseconds);
    // The exit code once ended, STILL_ACTIVE before.
    DWORD ExitCode() const;
    void Kill();
    // Everything written to standard output and error so far.
    std::string Output() const;
    // Calls of MessageBeep seen in the relay trace (with traceBeeps on); -1 where no trace can
    // be read (outside the Wine test runner).
    int BeepCount() const;

private:
    void Close();

    HANDLE process = nullptr;
    DWORD processId = 0;
    DWORD startError = 0;
    std::wstring outputPath;
};

// A Unicode environment block for CreateProcess: this process's environment with `extra`
// (name, value) set over it.
std::wstring EnvironmentBlock(const std::vector<std::pair<std::wstring, std::wstring>>& extra);

// Environment variable of the test process, or empty.
std::wstring EnvironmentValue(const wchar_t* name);

// Sets an environment variable of the test process (and of the processes it starts) for its
// own lifetime; an empty value counts as unset when it is restored.
class ScopedVariable {
public:
    ScopedVariable(const wchar_t* name, const std::wstring& value);
    ~ScopedVariable();
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const wchar_t* name;
    std::wstring old;
};

// A fresh file name in the temporary folder (the file is created empty).
std::wstring TempFilePath(const wchar_t* prefix);

std::string ReadWholeFile(const std::wstring& path);
