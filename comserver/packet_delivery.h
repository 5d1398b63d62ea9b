// Packet delivery as Tapdeck expects it of a device library, shared by the project's device
// libraries so that they deliver alike:
// - a device delivers on a thread of the library's own, one run at a time, while it is claimed
//   and has a sink (the library decides when a run starts: at Claim, or at SetPacketSink);
// - the sink's OnPacket is called once per packet on that thread with no lock held, so it may
//   call back into the device, release it, or block on another thread;
// - FillPacket fills the packet being delivered, and outside a delivery call the one delivered
//   last;
// - Unclaim only tells the run to stop, since the sink may be blocked on the thread that calls
//   it; a call that is running finishes, and none starts once Unclaim has returned;
// - SetPacketSink(null) and the device's destruction stop the run and wait for its thread,
//   except from inside the sink, where they return at once and the run ends after the call;
// - a new run first waits for a stopped one's last call to end; from inside that call none
//   starts.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "com_object.h"
#include "device/unique_handle.h"
#include "device/velcom.h"

// Counts a library's delivery threads, for DllCanUnloadNow and for tests that wait for the
// end of delivery. Plain data: DeliveryCount count = {SRWLOCK_INIT, CONDITION_VARIABLE_INIT, 0}.
struct DeliveryCount {
    SRWLOCK lock;
    CONDITION_VARIABLE idle;
    LONG running;

    void Add(LONG delta);
    LONG Running();
    // Waits until no delivery thread runs; FALSE on time-out. A run is counted from the moment
    // the call that starts it returns.
    BOOL WaitIdle(DWORD ms);
};

template <class Packet> class PacketDevice;

// One run of delivery: a thread that calls the sink through Deliver(). Shared by the device and
// the thread (two references); whichever lets go last deletes it.
template <class Packet> class DeliveryRun {
public:
    // With `launcherWaits`, the call that starts the run returns once the thread has called
    // Ready(), with its status.
    explicit DeliveryRun(bool launcherWaits) : waitForReady(launcherWaits) {}
    DeliveryRun(const DeliveryRun&) = delete;
    DeliveryRun& operator=(const DeliveryRun&) = delete;
    virtual ~DeliveryRun() = default;

    // Any thread. The first reason to stop is kept; no sink call starts afterwards.
    void Stop(const char* why) {
        AcquireSRWLockExclusive(&lock);
        if (reason == nullptr) {
            reason = why;
            live.store(false, std::memory_order_release);
            SetEvent(stop.Get());
        }
        ReleaseSRWLockExclusive(&lock);
    }
    bool Stopped() {
        AcquireSRWLockShared(&lock);
        const bool stopped = reason != nullptr;
        ReleaseSRWLockShared(&lock);
        return stopped;
    }

protected:
    // On the run's thread, everything the run does: Ready() once set up (when the launcher
    // waits), then Deliver() for each packet until it returns false or there are no more.
    virtual void Body() = 0;

    void Ready(HRESULT status) {
        setup = status;
        if (ready) {
            SetEvent(ready.Get());
        }
    }
    // Calls the sink with `packet` (its result in `result`); false, without a call, once the
    // run is told to stop or has lost its sink or its device.
    bool Deliver(const Packet& packet, LONG* result = nullptr) {
        AcquireSRWLockExclusive(&lock);
        PacketSink* target = sink;
        PacketDevice<Packet>* owner = device;
        bool go = reason == nullptr;
        if (go && (target == nullptr || owner == nullptr)) {
            reason = target == nullptr ? "sink" : "release";
            live.store(false, std::memory_order_release);
            SetEvent(stop.Get());
            go = false;
        }
        if (go) {
            owner->BeginCallback(packet);
        }
        ReleaseSRWLockExclusive(&lock);
        if (!go) {
            return false;
        }
        const LONG got = target->OnPacket(0);
        if (result != nullptr) {
            *result = got;
        }
        AcquireSRWLockShared(&lock);
        if (device != nullptr) {
            device->EndCallback();
        }
        ReleaseSRWLockShared(&lock);
        return true;
    }
    // For the end of Body: why the run ended, `ending` when it was not told to stop.
    const char* Finish(const char* ending) {
        AcquireSRWLockExclusive(&lock);
        if (reason == nullptr) {
            reason = ending;
            live.store(false, std::memory_order_release);
            SetEvent(stop.Get());
        }
        const char* why = reason;
        ReleaseSRWLockExclusive(&lock);
        return why;
    }
    // Set when the run is told to stop.
    HANDLE StopEvent() const { return stop.Get(); }
    // True until the run is told to stop; lock-free, for a hook procedure on the run's thread.
    const std::atomic<bool>& Live() const { return live; }

private:
    friend class PacketDevice<Packet>;

    static DWORD WINAPI Thread(void* parameter) {
        auto* run = static_cast<DeliveryRun*>(parameter);
        // Keeps the library loaded until this thread has left its code.
        HMODULE self = nullptr;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                           reinterpret_cast<LPCWSTR>(&DeliveryRun::Thread), &self);
        run->Body();
        DeliveryCount* count = run->count;
        run->Release();
        count->Add(-1);
        if (self != nullptr) {
            FreeLibraryAndExitThread(self, 0);
        }
        return 0;
    }
    void Release() {
        if (InterlockedDecrement(&refs) == 0) {
            delete this;
        }
    }

    LONG refs = 2;
    bool waitForReady;
    HRESULT setup = E_FAIL;
    DeliveryCount* count = nullptr;
    UniqueHandle stop;
    UniqueHandle ready;
    UniqueHandle thread;
    DWORD threadId = 0;
    std::atomic<bool> live{true};
    // Guards the three fields below. Never held while the sink runs.
    SRWLOCK lock = SRWLOCK_INIT;
    PacketSink* sink = nullptr;
    // Null while delivery may go on; the first reason to stop wins.
    const char* reason = nullptr;
    // Null once the device has been destroyed from inside the sink.
    PacketDevice<Packet>* device = nullptr;
};

// A device's side of delivery: its sink, its claim and its current run, and the packet that
// FillPacket gives. The library's PointingDevice derives from it, makes its runs (MakeRun) and
// calls these operations from its own, around its statuses and journal.
template <class Packet> class PacketDevice {
public:
    explicit PacketDevice(DeliveryCount& runs) : count(&runs) {}
    PacketDevice(const PacketDevice&) = delete;
    PacketDevice& operator=(const PacketDevice&) = delete;
    // The library's destructor calls EndDelivery first, while all that the sink may call on
    // the device is still there.
    virtual ~PacketDevice() { alive.store(DeadMark, std::memory_order_relaxed); }

protected:
    // A new run of the library's own, not started; null when none can be made.
    virtual DeliveryRun<Packet>* MakeRun() = 0;

    // SetPacketSink with a sink: a running run goes on with the new sink. Returns whether the
    // device is claimed.
    bool KeepSink(PacketSink* newSink) {
        AcquireSRWLockExclusive(&stateLock);
        sink = newSink;
        if (delivery != nullptr) {
            AcquireSRWLockExclusive(&delivery->lock);
            if (delivery->reason == nullptr) {
                delivery->sink = newSink;
            }
            ReleaseSRWLockExclusive(&delivery->lock);
        }
        const bool isClaimed = claimed;
        ReleaseSRWLockExclusive(&stateLock);
        return isClaimed;
    }
    // SetPacketSink(null): stops the run and waits for its thread, except from inside the sink.
    void DropSink() {
        AcquireSRWLockExclusive(&stateLock);
        sink = nullptr;
        DeliveryRun<Packet>* run = delivery;
        if (run != nullptr) {
            InterlockedIncrement(&run->refs);
        }
        ReleaseSRWLockExclusive(&stateLock);
        if (run != nullptr) {
            run->Stop("sink");
            if (run->threadId != GetCurrentThreadId()) {
                WaitForSingleObject(run->thread.Get(), INFINITE);
            }
            run->Release();
        }
    }
    // Claim sets it; Unclaim clears it and only tells the run to stop.
    void SetClaimed(bool on) {
        AcquireSRWLockExclusive(&stateLock);
        claimed = on;
        if (!on && delivery != nullptr) {
            delivery->Stop("unclaim");
        }
        ReleaseSRWLockExclusive(&stateLock);
    }
    // Starts a run unless one is going on or there is no sink. A run that was stopped but is
    // still finishing its last call is waited for first, except from inside that call (then
    // none starts). The status of a launcher that waits for the run's set-up, else S_OK.
    HRESULT StartDelivery() {
        AcquireSRWLockExclusive(&startLock);
        AcquireSRWLockShared(&stateLock);
        PacketSink* target = sink;
        DeliveryRun<Packet>* old = delivery;
        ReleaseSRWLockShared(&stateLock);
        const bool busy =
            old != nullptr && (!old->Stopped() || old->threadId == GetCurrentThreadId());
        HRESULT status = S_OK;
        if (target != nullptr && !busy) {
            if (old != nullptr) {
                WaitForSingleObject(old->thread.Get(), INFINITE);
                Unpublish(old);
            }
            status = Launch(target);
        }
        ReleaseSRWLockExclusive(&startLock);
        return status;
    }
    // For the device's destruction: stops the run and waits for its thread; from inside the
    // sink, lets the thread finish its call without coming back to the device.
    void EndDelivery() {
        DeliveryRun<Packet>* run = delivery;
        if (run == nullptr) {
            return;
        }
        delivery = nullptr;
        run->Stop("release");
        if (run->threadId == GetCurrentThreadId()) {
            AcquireSRWLockExclusive(&run->lock);
            run->device = nullptr;
            ReleaseSRWLockExclusive(&run->lock);
        } else {
            WaitForSingleObject(run->thread.Get(), INFINITE);
        }
        run->Release();
    }
    // FillPacket: puts PacketToFill() into `packet`, which must be one of the library's own
    // `Own` packets (found by Own::From, which AddRefs it).
    template <class Own> LONG FillOwnPacket(DevicePacket* packet) {
        if (packet == nullptr) {
            return E_POINTER;
        }
        Own* own = Own::From(packet);
        if (own == nullptr) {
            return E_INVALIDARG;
        }
        own->Set(PacketToFill());
        own->Release();
        return S_OK;
    }
    // What FillPacket puts in a packet: the packet being delivered when called from inside the
    // sink, else the one delivered last (a default Packet before the first).
    Packet PacketToFill() {
        if (callbackThread.load(std::memory_order_relaxed) == GetCurrentThreadId()) {
            return current;
        }
        AcquireSRWLockShared(&lastLock);
        const Packet packet = last;
        ReleaseSRWLockShared(&lastLock);
        return packet;
    }

private:
    friend class DeliveryRun<Packet>;

    // On the delivery thread, around each call of the sink.
    void BeginCallback(const Packet& packet) {
        CheckAlive();
        current = packet;
        callbackThread.store(GetCurrentThreadId(), std::memory_order_relaxed);
    }
    void EndCallback() {
        CheckAlive();
        callbackThread.store(0, std::memory_order_relaxed);
        AcquireSRWLockExclusive(&lastLock);
        last = current;
        ReleaseSRWLockExclusive(&lastLock);
    }

    // A run that came back to a device destroyed under it would write into freed memory, which
    // nothing else notices: end the process there and then, as a crash that says where.
    void CheckAlive() const {
        if (alive.load(std::memory_order_relaxed) != AliveMark) {
#ifdef _MSC_VER
            __debugbreak();
#else
            __builtin_trap();
#endif
        }
    }

    void Unpublish(DeliveryRun<Packet>* run) {
        AcquireSRWLockExclusive(&stateLock);
        delivery = nullptr;
        ReleaseSRWLockExclusive(&stateLock);
        run->Release();
    }

    HRESULT Launch(PacketSink* target) {
        DeliveryRun<Packet>* run = MakeRun();
        if (run == nullptr) {
            return E_OUTOFMEMORY;
        }
        run->sink = target;
        run->device = this;
        run->count = count;
        run->stop = UniqueHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (run->waitForReady) {
            run->ready = UniqueHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        }
        if (!run->stop || (run->waitForReady && !run->ready)) {
            const HRESULT failed = LastErrorStatus();
            delete run;
            return failed;
        }
        count->Add(1);
        run->thread = UniqueHandle(CreateThread(nullptr, 0, &DeliveryRun<Packet>::Thread, run,
                                                CREATE_SUSPENDED, &run->threadId));
        if (!run->thread) {
            const HRESULT failed = LastErrorStatus();
            count->Add(-1);
            delete run;
            return failed;
        }
        AcquireSRWLockExclusive(&stateLock);
        delivery = run;
        ReleaseSRWLockExclusive(&stateLock);
        ResumeThread(run->thread.Get());
        if (!run->waitForReady) {
            return S_OK;
        }
        const HANDLE waits[] = {run->ready.Get(), run->thread.Get()};
        WaitForMultipleObjects(2, waits, FALSE, INFINITE);
        if (WaitForSingleObject(run->ready.Get(), 0) == WAIT_OBJECT_0 && SUCCEEDED(run->setup)) {
            return S_OK;
        }
        const HRESULT failed = FAILED(run->setup) ? run->setup : E_FAIL;
        WaitForSingleObject(run->thread.Get(), INFINITE);
        Unpublish(run);
        return failed;
    }

    DeliveryCount* count;
    // Serialises StartDelivery, so two threads cannot both start a run.
    SRWLOCK startLock = SRWLOCK_INIT;
    // Guards sink, claimed and delivery.
    SRWLOCK stateLock = SRWLOCK_INIT;
    PacketSink* sink = nullptr;
    bool claimed = false;
    DeliveryRun<Packet>* delivery = nullptr;

    static constexpr uint32_t AliveMark = 0xA11CE5ED;
    static constexpr uint32_t DeadMark = 0xDEADDE51;
    // AliveMark from construction to destruction; atomic, so the destructor's store is kept.
    std::atomic<uint32_t> alive{AliveMark};

    // The packet being delivered; used only on the delivery thread during its sink call.
    std::atomic<DWORD> callbackThread{0};
    Packet current{};
    // Guards the packet delivered last, which FillPacket gives outside a delivery call.
    SRWLOCK lastLock = SRWLOCK_INIT;
    Packet last{};
};
