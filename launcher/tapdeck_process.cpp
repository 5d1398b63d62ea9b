#include "tapdeck_process.h"

namespace launcher {

bool TapdeckWatch::MayStart(DWORD nowMs) {
    if (process && WaitForSingleObject(process.Get(), 0) == WAIT_TIMEOUT) {
        return false;
    }
    if (process) {
        Ended(nowMs);
    }
    if (HWND running = FindWindowW(TapdeckClass, TapdeckTitle)) {
        DWORD id = 0;
        GetWindowThreadProcessId(running, &id);
        Watch(OpenProcess(SYNCHRONIZE, FALSE, id), id);
        return false;
    }
    return !endedOnce || nowMs - endedAt >= RestAfterEndMs;
}

bool TapdeckWatch::Start(const std::wstring& path, DWORD& error) {
    std::wstring folder = path.substr(0, path.find_last_of(L"\\/"));
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    std::wstring commandLine = L"\"" + path + L"\"";
    if (!CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.c_str(), &startup, &started)) {
        error = GetLastError();
        return false;
    }
    CloseHandle(started.hThread);
    Watch(started.hProcess, started.dwProcessId);
    error = 0;
    return true;
}

void TapdeckWatch::Watch(HANDLE opened, DWORD id) {
    process = UniqueHandle(opened);
    processId = opened != nullptr ? id : 0;
}

void TapdeckWatch::Ended(DWORD nowMs) {
    process = UniqueHandle();
    processId = 0;
    endedOnce = true;
    endedAt = nowMs;
}

std::wstring TapdeckBesideMe() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring self(path, length);
    return self.substr(0, self.find_last_of(L"\\/") + 1) + L"tapdeck.exe";
}

} // namespace launcher
