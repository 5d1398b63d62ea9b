// A post-mortem debugger for test runs: Windows (and Wine) start the program named under
// "HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug" when a process has an unhandled
// exception. This one attaches, writes one line that names the exception, its address and the
// module it is in, and lets the process end with the exception code, so that the test that started
// it fails at once instead of waiting in an interactive debugger.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

struct LoadedModule {
    uint64_t base = 0;
    uint64_t size = 0; // 0 when unknown: the module then reaches up to the next one above
    std::wstring name;
};

// "kernel32.dll+0x1a2b" for the module that holds `address`, or "?" when none does.
std::wstring Locate(const std::vector<LoadedModule>& modules, uint64_t address);

// The line written for an exception `code` at `address` in process `pid`.
std::wstring CrashLine(DWORD pid, const std::wstring& image, DWORD code, uint64_t address,
                       const std::wstring& where);

// Attaches to `pid`, signals `attached` (the AeDebug handshake), waits for the exception and
// reports it on standard error; then lets the process end itself with the exception's code.
// Returns 0 when a crash was reported, 1 otherwise.
int ReportCrash(DWORD pid, HANDLE attached);
