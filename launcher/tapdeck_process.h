// Tapdeck as the launcher sees it: whether a hold may start it now, starting it, and knowing
// when it ends without asking again and again. One thread (the launcher's) uses it.
#pragma once

#include <windows.h>

#include <string>

#include "device/unique_handle.h"

namespace launcher {

// Tapdeck's hidden window marks a running Tapdeck.
inline constexpr wchar_t TapdeckClass[] = L"VelTapdeckClass";
inline constexpr wchar_t TapdeckTitle[] = L"VelTapdeckApp";
// After Tapdeck ends, a hold waits this long: the tap that ended it came from the same corner.
inline constexpr DWORD RestAfterEndMs = 1000;

class TapdeckWatch {
public:
    // Whether a hold may start Tapdeck at tick `nowMs`: it is not running, nor ended within
    // RestAfterEndMs. A Tapdeck found running that was not known is watched from then on.
    bool MayStart(DWORD nowMs);
    // Starts `path` (tapdeck.exe) and watches it; false, with GetLastError's code, on failure.
    bool Start(const std::wstring& path, DWORD& error);
    // The watched process, to wait for; null when none is watched.
    HANDLE WaitHandle() const { return process.Get(); }
    // The watched process has ended (its handle was signalled) at tick `nowMs`.
    void Ended(DWORD nowMs);
    // The id of the watched process, 0 when none.
    DWORD ProcessId() const { return processId; }

private:
    void Watch(HANDLE opened, DWORD id);

    UniqueHandle process;
    DWORD processId = 0;
    bool endedOnce = false;
    DWORD endedAt = 0;
};

// tapdeck.exe beside the running program.
std::wstring TapdeckBesideMe();

} // namespace launcher
