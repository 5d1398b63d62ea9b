// A packet sink for tests of a device library's delivery: it records every call with the
// packet that FillPacket gives for it, and can run a test's code inside the call. With the
// events and the delayed setter that such tests need to hold a call.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <vector>

#include "device/velcom.h"

struct Call {
    DWORD thread = 0;
    LONG a = 0, b = 0, x = 0, y = 0, motion = 0;
};

class Event;

// Records every call with the packet FillPacket gives for it; `during` runs inside the call.
class RecordingSink final : public PacketSink {
public:
    RecordingSink(PointingDevice* d, DevicePacket* p) : device(d), packet(p) {}

    LONG STDMETHODCALLTYPE OnPacket(LONG) override;

    std::vector<Call> Calls();
    size_t Count() { return Calls().size(); }
    // Polls until `n` calls have been made; false after 10 s.
    bool WaitForCalls(size_t n);
    // Makes the first call set `entered` and wait (up to 5 s) until `release` is set.
    void HoldFirstCall(Event& entered, Event& release);

    PointingDevice* device;
    DevicePacket* packet;
    LONG result = 0;
    std::function<void(size_t)> during;
    std::atomic<int> inside{0};

private:
    std::mutex mutex;
    std::vector<Call> calls;
};

// A manual-reset event owned by the test.
class Event {
public:
    Event() : handle(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~Event() { CloseHandle(handle); }
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    void Set() { SetEvent(handle); }
    bool Wait(DWORD ms) { return WaitForSingleObject(handle, ms) == WAIT_OBJECT_0; }

private:
    HANDLE handle;
};

// A thread procedure that sets the Event it is given after 200 ms.
DWORD WINAPI SetAfterAWhile(void* event);
