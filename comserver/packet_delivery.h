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
// - SetPacketSink with another sink lets a running run go on with it: the next call goes to
//   the new sink, and a call into the old one that is running is waited for (except from
//   inside it), so that the caller may let the old sink go once it returns;
// - a new run first waits for a stopped one's last call to end; from inside that call none
//   starts.
//
// The bookkeeping: the device and the run's thread each hold a reference to the run; the
// device's one lock guards its sink, its claim, its run and the call that is running, which
// holds the sink it calls; the run's stop reason is an atomic its thread and the device share.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <new>

#include "com_object.h"
#include "device/module_of.h"
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
// the thread; whichever lets go of it last destroys it.
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
        const char* none = nullptr;
        if (reason.compare_exchange_strong(none, why, std::memory_order_acq_rel)) {
            live.store(false, std::memory_order_release);
            SetEvent(stop.Get());
        }
    }
    bool Stopped() const { return reason.load(std::memory_order_acquire) != nullptr; }

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
        if (device == nullptr) {
            return false; // destroyed from inside the last call
        }
        PacketSink* target = device->BeginCall(*this, packet);
        if (target == nullptr) {
            return false;
        }
        const LONG got = target->OnPacket(0);
        if (result != nullptr) {
            *result = got;
        }
        if (device != nullptr) {
            device->EndCall();
        }
        return true;
    }
    // For the end of Body: why the run ended, `ending` when it was not told to stop.
    const char* Finish(const char* ending) {
        Stop(ending);
        return reason.load(std::memory_order_acquire);
    }
    // Set when the run is told to stop.
    HANDLE StopEvent() const { return stop.Get(); }
    // True until the run is told to stop; lock-free, for a hook procedure of the run's.
    const std::atomic<bool>& Live() const { return live; }

private:
    friend class PacketDevice<Packet>;

    static DWORD WINAPI Thread(void* parameter) {
        // Keeps the library loaded until this thread has left its code.
        HMODULE self = ModuleOf(&DeliveryRun::Thread, /*addReference=*/true);
        std::unique_ptr<std::shared_ptr<DeliveryRun>> held(
            static_cast<std::shared_ptr<DeliveryRun>*>(parameter));
        (*held)->Body();
        DeliveryCount* counted = (*held)->count;
        held.reset(); // the run goes here when the device has let go of it
        counted->Add(-1);
        if (self != nullptr) {
            FreeLibraryAndExitThread(self, 0);
        }
        return 0;
    }

    const bool waitForReady;
    // Written by the run's thread before it sets `ready`.
    HRESULT setup = E_FAIL;
    // Set before the thread starts, never changed.
    DeliveryCount* count = nullptr;
    UniqueHandle stop;
    UniqueHandle ready;
    UniqueHandle thread;
    DWORD threadId = 0;
    // Null while delivery may go on; the first reason to stop wins.
    std::atomic<const char*> reason{nullptr};
    std::atomic<bool> live{true};
    // The device whose sink the run calls. Set before the thread starts; afterwards only the
    // run's own thread clears it, when the device is destroyed from inside the sink.
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
    virtual ~PacketDevice() = default;

protected:
    using Run = DeliveryRun<Packet>;

    // A new run of the library's own, not started; null when none can be made.
    virtual std::shared_ptr<Run> MakeRun() = 0;

    // SetPacketSink with a sink: a running run goes on with the new sink. Returns whether the
    // device is claimed.
    bool KeepSink(PacketSink* newSink) {
        Locked hold(*this);
        sink = newSink;
        // The caller may let the old sink go once this returns.
        while (calling != nullptr && calling != newSink && callThread != GetCurrentThreadId()) {
            SleepConditionVariableSRW(&changed, &lock, INFINITE, 0);
        }
        return claimed;
    }
    // SetPacketSink(null): stops the run and waits for its thread, except from inside the sink.
    void DropSink() {
        std::shared_ptr<Run> stopping;
        {
            Locked hold(*this);
            sink = nullptr;
            stopping = run;
        }
        if (stopping) {
            stopping->Stop("sink");
            if (stopping->threadId != GetCurrentThreadId()) {
                WaitForSingleObject(stopping->thread.Get(), INFINITE);
            }
        }
    }
    // Claim sets it; Unclaim clears it and only tells the run to stop.
    void SetClaimed(bool on) {
        Locked hold(*this);
        claimed = on;
        if (!on && run) {
            run->Stop("unclaim");
        }
    }
    // Starts a run unless one is going on or there is no sink. A run that was stopped but is
    // still finishing its last call is waited for first, except from inside that call (then
    // none starts). The status of a launcher that waits for the run's set-up, else S_OK.
    HRESULT StartDelivery() {
        const DWORD self = GetCurrentThreadId();
        {
            Locked hold(*this);
            for (;;) {
                if (starting) { // another thread's start: its outcome first
                    SleepConditionVariableSRW(&changed, &lock, INFINITE, 0);
                    continue;
                }
                if (sink == nullptr || (run && (!run->Stopped() || run->threadId == self))) {
                    return S_OK;
                }
                if (!run) {
                    break;
                }
                // Its last call needs the lock to end: waited for without it.
                const std::shared_ptr<Run> finishing = run;
                ReleaseSRWLockExclusive(&lock);
                WaitForSingleObject(finishing->thread.Get(), INFINITE);
                AcquireSRWLockExclusive(&lock);
                if (run == finishing) {
                    run.reset();
                }
            }
            starting = true;
        }
        const HRESULT status = Launch();
        {
            Locked hold(*this);
            starting = false;
        }
        WakeAllConditionVariable(&changed);
        return status;
    }
    // For the device's destruction: stops the run and waits for its thread; from inside the
    // sink, lets the thread finish its call without coming back to the device.
    void EndDelivery() {
        std::shared_ptr<Run> ending;
        {
            Locked hold(*this);
            ending = std::move(run);
        }
        if (!ending) {
            return;
        }
        ending->Stop("release");
        if (ending->threadId == GetCurrentThreadId()) {
            ending->device = nullptr; // the run's own thread, inside the sink
        } else {
            WaitForSingleObject(ending->thread.Get(), INFINITE);
        }
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
        AcquireSRWLockShared(&lock);
        const Packet packet = callThread == GetCurrentThreadId() ? current : last;
        ReleaseSRWLockShared(&lock);
        return packet;
    }

private:
    friend class DeliveryRun<Packet>;

    // Holds the device's lock exclusively for a scope.
    class Locked {
    public:
        explicit Locked(PacketDevice& d) : device(d) { AcquireSRWLockExclusive(&device.lock); }
        ~Locked() { ReleaseSRWLockExclusive(&device.lock); }
        Locked(const Locked&) = delete;
        Locked& operator=(const Locked&) = delete;

    private:
        PacketDevice& device;
    };

    // On the run's thread, around each call of the sink: the sink to call, which the call
    // holds until EndCall; null when the run must not call it.
    PacketSink* BeginCall(Run& caller, const Packet& packet) {
        Locked hold(*this);
        if (caller.Stopped()) {
            return nullptr;
        }
        if (sink == nullptr) {
            caller.Stop("sink");
            return nullptr;
        }
        calling = sink;
        callThread = GetCurrentThreadId();
        current = packet;
        return calling;
    }
    void EndCall() {
        {
            Locked hold(*this);
            last = current;
            calling = nullptr;
            callThread = 0;
        }
        WakeAllConditionVariable(&changed);
    }

    HRESULT Launch() {
        std::shared_ptr<Run> made = MakeRun();
        if (!made) {
            return E_OUTOFMEMORY;
        }
        made->device = this;
        made->count = count;
        made->stop = UniqueHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (made->waitForReady) {
            made->ready = UniqueHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        }
        if (!made->stop || (made->waitForReady && !made->ready)) {
            return LastErrorStatus();
        }
        // The thread's reference, which it lets go of when it ends.
        auto* threadsRun = new (std::nothrow) std::shared_ptr<Run>(made);
        if (threadsRun == nullptr) {
            return E_OUTOFMEMORY;
        }
        count->Add(1);
        made->thread = UniqueHandle(
            CreateThread(nullptr, 0, &Run::Thread, threadsRun, CREATE_SUSPENDED, &made->threadId));
        if (!made->thread) {
            const HRESULT failed = LastErrorStatus();
            delete threadsRun;
            count->Add(-1);
            return failed;
        }
        {
            Locked hold(*this);
            run = made;
        }
        ResumeThread(made->thread.Get());
        if (!made->waitForReady) {
            return S_OK;
        }
        const HANDLE waits[] = {made->ready.Get(), made->thread.Get()};
        WaitForMultipleObjects(2, waits, FALSE, INFINITE);
        if (WaitForSingleObject(made->ready.Get(), 0) == WAIT_OBJECT_0 && SUCCEEDED(made->setup)) {
            return S_OK;
        }
        const HRESULT failed = FAILED(made->setup) ? made->setup : E_FAIL;
        WaitForSingleObject(made->thread.Get(), INFINITE);
        Locked hold(*this);
        if (run == made) {
            run.reset();
        }
        return failed;
    }

    DeliveryCount* count;
    // Guards everything below; never held while the sink runs.
    SRWLOCK lock = SRWLOCK_INIT;
    // Signalled when a call into the sink ends and when a start has ended.
    CONDITION_VARIABLE changed = CONDITION_VARIABLE_INIT;
    PacketSink* sink = nullptr;
    bool claimed = false;
    // The current run (a stopped one until the next starts), and whether a thread is starting
    // one.
    std::shared_ptr<Run> run;
    bool starting = false;
    // The call into the sink that is running: the sink it holds, its thread and its packet.
    PacketSink* calling = nullptr;
    DWORD callThread = 0;
    Packet current{};
    // The packet delivered last, which FillPacket gives outside a delivery call.
    Packet last{};
};
