// Records the keyboard events that reach the system's input stream, through a low-level
// keyboard hook on a thread of its own, and swallows them so they go no further.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <ostream>
#include <thread>
#include <vector>

struct KeyRecord {
    DWORD vk;
    bool up;
    bool injected;

    bool operator==(const KeyRecord&) const = default;
};

// Prints "0xAF down injected", so a failed comparison reads as the events themselves.
void PrintTo(const KeyRecord& record, std::ostream* out);

// Installed on construction, removed on destruction. One per process at a time: a second one
// would see nothing until the first is gone (the first swallows the events).
class KeyHook {
public:
    KeyHook();
    ~KeyHook();
    KeyHook(const KeyHook&) = delete;
    KeyHook& operator=(const KeyHook&) = delete;

    // False when the hook could not be set; then nothing is ever recorded.
    bool Installed() const { return installed; }
    // Waits until at least `count` events were recorded; false on time-out.
    bool WaitFor(std::size_t count, DWORD timeoutMs) const;
    // A copy of the events recorded so far, oldest first.
    std::vector<KeyRecord> Events() const;
    void Clear();

private:
    static LRESULT CALLBACK HookProc(int code, WPARAM wParam, LPARAM lParam);
    void Run();

    // The hook thread's own; HookProc runs on it and finds its recorder here.
    static thread_local KeyHook* current;

    mutable std::mutex lock;
    mutable std::condition_variable changed;
    std::vector<KeyRecord> events;
    bool started = false;
    bool installed = false;
    DWORD threadId = 0;
    std::thread thread;
};
