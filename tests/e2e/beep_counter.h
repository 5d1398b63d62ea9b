// Runs a program as a debugged child and counts its calls of user32's MessageBeep, through a
// breakpoint on the function's first instruction. Works alike on Windows and under Wine (where
// a child's relay trace goes to the parent's own Unix standard error, out of a test's reach).
#pragma once

#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class BeepCountingProcess {
public:
    // Starts `program` (no arguments) with `environment` set over this process's own.
    BeepCountingProcess(const std::wstring& program,
                        const std::vector<std::pair<std::wstring, std::wstring>>& environment);
    // Ends the child if it still runs.
    ~BeepCountingProcess();
    BeepCountingProcess(const BeepCountingProcess&) = delete;
    BeepCountingProcess& operator=(const BeepCountingProcess&) = delete;

    bool Started() const { return process != nullptr; }
    DWORD Id() const { return processId; }
    bool Wait(DWORD ms) const;
    // The exit code once ended, STILL_ACTIVE before.
    DWORD ExitCode() const;
    // Calls of MessageBeep so far; -1 when the function could not be found in the child.
    int BeepCount() const;

private:
    // The debugger's loop: only the thread that created the child may receive its events.
    void Debug(std::wstring program, std::wstring environmentBlock);

    mutable std::mutex lock;
    std::condition_variable changed;
    bool launched = false;
    HANDLE process = nullptr;
    DWORD processId = 0;
    bool beepFound = false;
    int beeps = 0;
    std::thread debugger;
};
