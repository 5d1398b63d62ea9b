// A stand-in media player: a top-level window of a player's class on a thread of its own that
// pumps messages. It records the WM_SYSCOMMAND commands it receives and lets the default
// handling carry them out, so a minimize or a restore really happens.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

inline constexpr char WmPlayerWindowClass[] = "WMPlayerApp";
inline constexpr char GeminiPlayerWindowClass[] = "GeminiWindowClass";

enum class PlayerShow { Normal, Minimized, Maximized };

// Named apart from the PlayerWindow action. Created on construction, destroyed (and its thread
// ended) on destruction.
class StandInPlayer {
public:
    StandInPlayer(const char* className, PlayerShow show);
    ~StandInPlayer();
    StandInPlayer(const StandInPlayer&) = delete;
    StandInPlayer& operator=(const StandInPlayer&) = delete;

    // Null when the window could not be created.
    HWND Handle() const { return window; }
    // The WM_SYSCOMMAND commands received so far (SC_MINIMIZE, SC_RESTORE, ...), oldest first,
    // with the low four bits that the system uses internally cleared.
    std::vector<WPARAM> Commands() const;
    // Waits until at least `count` commands arrived; false on time-out.
    bool WaitForCommands(std::size_t count, DWORD timeoutMs) const;
    // Waits until the window has handled every message posted to it before this call, so a
    // command that was posted earlier is in Commands() when this returns true.
    bool Flush(DWORD timeoutMs) const;
    bool Minimized() const { return IsIconic(window) != FALSE; }
    bool Maximized() const { return IsZoomed(window) != FALSE; }

private:
    static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    void Run(std::string className, PlayerShow show);

    mutable std::mutex lock;
    mutable std::condition_variable changed;
    std::vector<WPARAM> commands;
    mutable unsigned flushesPosted = 0;
    unsigned flushesHandled = 0;
    bool started = false;
    HWND window = nullptr;
    std::thread thread;
};
