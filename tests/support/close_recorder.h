// A stand-in for the program's hidden window: a window of the calling thread that counts the
// WM_CLOSE messages it receives and lets the default handling destroy it, as the real one does.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>

class CloseRecorder {
public:
    CloseRecorder();
    ~CloseRecorder();
    CloseRecorder(const CloseRecorder&) = delete;
    CloseRecorder& operator=(const CloseRecorder&) = delete;

    HWND Handle() const { return window; }
    int Closes() const { return closes.load(); }
    bool Destroyed() const { return destroyed.load(); }

private:
    static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

    HWND window = nullptr;
    std::atomic<int> closes{0};
    std::atomic<bool> destroyed{false};
};

// Dispatches the calling thread's messages (so that messages sent to its windows from other
// threads are handled) until `done` returns true; false when `timeoutMs` passed first.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs);
