// The library's three objects, their class factory, and packet delivery.
//
// Threads: any thread may create, call and release the objects. A PointingDevice delivers
// packets on a thread of its own (one at a time per device); it calls the sink with no lock
// held, so the sink may call back into the device, release it, or block on another thread.
#include "session.h"

#include <algorithm>
#include <atomic>
#include <iterator>
#include <new>
#include <utility>

namespace {

// A scripted slow operation: it returns only after its delay (any delivery it starts runs on).
void TakeTime(const Scenario& script, SimOp op) {
    const LONG ms = script.delayMs[static_cast<int>(op)];
    if (ms > 0) {
        Sleep(static_cast<DWORD>(ms));
    }
}

// Private interface through which the library recognises its own packets.
constexpr IID IID_VelSimPacketImpl = {
    0x5e0b7a61, 0x3c2d, 0x4f8e, {0x9a, 0x41, 0x6d, 0x12, 0xc8, 0x77, 0x0b, 0x10}};

// Guards the live count, the current session and the creation counts.
SRWLOCK creationLock = SRWLOCK_INIT;
LONG liveObjects = 0;
LONG createdSinceRead[SimObjectCount] = {};
std::shared_ptr<const Session> currentSession;

// Guards runningDeliveries; deliveriesIdle is woken when it falls to 0.
SRWLOCK deliveryCountLock = SRWLOCK_INIT;
CONDITION_VARIABLE deliveriesIdle = CONDITION_VARIABLE_INIT;
LONG runningDeliveries = 0;

void ObjectGone(const Session& session, SimObject object) {
    AcquireSRWLockExclusive(&creationLock);
    LONG live = --liveObjects;
    if (session.Journaling()) {
        JournalLine(session, "Release")
            .Text("object", SimObjectNames[static_cast<int>(object)])
            .Num("live", live)
            .Write();
    }
    ReleaseSRWLockExclusive(&creationLock);
}

// IUnknown for the three objects; the live count follows construction and destruction.
template <class Interface, SimObject Kind> class SimObjectBase : public Interface {
public:
    explicit SimObjectBase(std::shared_ptr<const Session> s) : session(std::move(s)) {}
    SimObjectBase(const SimObjectBase&) = delete;
    SimObjectBase& operator=(const SimObjectBase&) = delete;
    virtual ~SimObjectBase() { ObjectGone(*session, Kind); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, OwnIid()) ||
            (Kind == SimObject::VelPacket && IsEqualIID(iid, IID_VelSimPacketImpl))) {
            AddRef();
            *ppv = static_cast<Interface*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        return static_cast<ULONG>(InterlockedIncrement(&refs));
    }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG left = InterlockedDecrement(&refs);
        if (left == 0) {
            delete this;
        }
        return static_cast<ULONG>(left);
    }

    static const IID& OwnIid() {
        switch (Kind) {
        case SimObject::VelAPI:
            return IID_DeviceApi;
        case SimObject::PointingDevice:
            return IID_PointingDevice;
        default:
            return IID_DevicePacket;
        }
    }

protected:
    const Scenario& Script() const { return session->scenario; }
    LONG Reserved(const char* slot) {
        if (session->Journaling()) {
            JournalLine(*session, "Reserved")
                .Text("object", SimObjectNames[static_cast<int>(Kind)])
                .Text("slot", slot)
                .Num("status", E_NOTIMPL)
                .Write();
        }
        return E_NOTIMPL;
    }

    std::shared_ptr<const Session> session;

private:
    LONG refs = 1;
};

class ApiObject final : public SimObjectBase<DeviceApi, SimObject::VelAPI> {
public:
    using SimObjectBase::SimObjectBase;

    LONG STDMETHODCALLTYPE Prepare() override {
        LONG status = Script().status[static_cast<int>(SimOp::Prepare)];
        if (session->Journaling()) {
            JournalLine(*session, "Prepare").Num("status", status).Write();
        }
        TakeTime(Script(), SimOp::Prepare);
        return status;
    }
    LONG STDMETHODCALLTYPE LocateDevice(LONG selectorA, LONG selectorB, LONG* handle) override {
        LONG status = Script().status[static_cast<int>(SimOp::LocateDevice)];
        if (handle == nullptr) {
            status = E_POINTER;
        } else if (status == 0) {
            *handle = Script().handle;
        }
        if (session->Journaling()) {
            JournalLine(*session, "LocateDevice")
                .Num("a", selectorA)
                .Num("b", selectorB)
                .Num("handle", handle != nullptr ? *handle : 0)
                .Num("status", status)
                .Write();
        }
        TakeTime(Script(), SimOp::LocateDevice);
        return status;
    }
    LONG STDMETHODCALLTYPE ReservedA() override { return Reserved("ReservedA"); }
};

class PacketObject final : public SimObjectBase<DevicePacket, SimObject::VelPacket> {
public:
    using SimObjectBase::SimObjectBase;

    // The packet behind a DevicePacket pointer, AddRef'd; null for a foreign object.
    static PacketObject* From(DevicePacket* packet) {
        void* own = nullptr;
        if (packet == nullptr || FAILED(packet->QueryInterface(IID_VelSimPacketImpl, &own))) {
            return nullptr;
        }
        return static_cast<PacketObject*>(static_cast<DevicePacket*>(own));
    }

    void Set(const SimPacketData& data, long long packetIndex) {
        values = data;
        index = packetIndex;
    }

    LONG STDMETHODCALLTYPE ReadProperty(LONG id, LONG* value) override {
        if (value == nullptr) {
            return E_POINTER;
        }
        switch (id) {
        case PropFlagsA:
            *value = values.a;
            break;
        case PropFlagsB:
            *value = values.b;
            break;
        case PropX:
            *value = values.x;
            break;
        case PropY:
            *value = values.y;
            break;
        case PropMotion:
            *value = values.motion;
            break;
        default:
            *value = 0;
            break;
        }
        if (Script().journalPacketReads && session->Journaling()) {
            JournalLine(*session, "PacketRead")
                .Num("index", index)
                .Hex("id", id)
                .Num("value", *value)
                .Write();
        }
        return 0;
    }
    LONG STDMETHODCALLTYPE ReservedA() override { return Reserved("ReservedA"); }
    LONG STDMETHODCALLTYPE CopyPacket(DevicePacket* source) override {
        if (source == nullptr) {
            return E_POINTER;
        }
        PacketObject* from = From(source);
        if (from == nullptr) {
            return E_INVALIDARG;
        }
        values = from->values;
        index = from->index;
        from->Release();
        return 0;
    }
    LONG STDMETHODCALLTYPE ReservedB() override { return Reserved("ReservedB"); }

private:
    SimPacketData values;
    // Index of the delivered packet these values came from; -1 before any was filled in.
    long long index = -1;
};

class DeviceObject;

// One run of the packet list on its own thread. Shared by the device and the thread (two
// references); whichever lets go last deletes it.
struct Delivery {
    Delivery(const Delivery&) = delete;
    Delivery& operator=(const Delivery&) = delete;
    Delivery() = default;
    ~Delivery() {
        if (thread != nullptr) {
            CloseHandle(thread);
        }
        if (stop != nullptr) {
            CloseHandle(stop);
        }
    }
    void Release() {
        if (InterlockedDecrement(&refs) == 0) {
            delete this;
        }
    }

    LONG refs = 2;
    std::shared_ptr<const Session> session;
    // Manual-reset; set once a reason to stop is recorded.
    HANDLE stop = nullptr;
    HANDLE thread = nullptr;
    DWORD threadId = 0;

    // Guards the three fields below. Never held while the sink runs.
    SRWLOCK lock = SRWLOCK_INIT;
    PacketSink* sink = nullptr;
    // Null while delivery may go on; the first reason to stop wins.
    const char* reason = nullptr;
    // Null once the device has been destroyed from inside the sink.
    DeviceObject* device = nullptr;
};

bool Stopped(Delivery& d) {
    AcquireSRWLockShared(&d.lock);
    bool stopped = d.reason != nullptr;
    ReleaseSRWLockShared(&d.lock);
    return stopped;
}

void StopDelivery(Delivery& d, const char* reason) {
    AcquireSRWLockExclusive(&d.lock);
    if (d.reason == nullptr) {
        d.reason = reason;
        SetEvent(d.stop);
    }
    ReleaseSRWLockExclusive(&d.lock);
}

DWORD WINAPI DeliveryThread(void* parameter);

class DeviceObject final : public SimObjectBase<PointingDevice, SimObject::PointingDevice> {
public:
    using SimObjectBase::SimObjectBase;
    DeviceObject(const DeviceObject&) = delete;
    DeviceObject& operator=(const DeviceObject&) = delete;

    ~DeviceObject() override {
        Delivery* run = delivery;
        if (run == nullptr) {
            return;
        }
        StopDelivery(*run, "release");
        if (run->threadId == GetCurrentThreadId()) {
            // Destroyed from inside the sink: the thread must not come back to this object.
            AcquireSRWLockExclusive(&run->lock);
            run->device = nullptr;
            ReleaseSRWLockExclusive(&run->lock);
        } else {
            WaitForSingleObject(run->thread, INFINITE);
        }
        run->Release();
    }

    // On the delivery thread, before and after each call of the sink.
    void BeginCallback(const SimPacketData* packet, long long index) {
        current = packet;
        currentIndex = index;
        callbackThread.store(GetCurrentThreadId(), std::memory_order_relaxed);
    }
    void EndCallback() {
        callbackThread.store(0, std::memory_order_relaxed);
        AcquireSRWLockExclusive(&lastLock);
        last = *current;
        lastIndex = currentIndex;
        ReleaseSRWLockExclusive(&lastLock);
    }

    LONG STDMETHODCALLTYPE ReadProperty(LONG id, LONG* value) override {
        if (value == nullptr) {
            return E_POINTER;
        }
        *value = DeviceProperty(id);
        if (session->Journaling()) {
            JournalLine(*session, "ReadProperty")
                .Hex("id", id)
                .Num("value", *value)
                .Num("status", 0)
                .Write();
        }
        return 0;
    }
    LONG STDMETHODCALLTYPE WriteProperty(LONG id, LONG value) override {
        AcquireSRWLockExclusive(&stateLock);
        size_t i = 0;
        while (i < writtenCount && written[i].id != id) {
            ++i;
        }
        LONG status = 0;
        if (i < std::size(written)) {
            written[i] = {id, value};
            writtenCount = i == writtenCount ? i + 1 : writtenCount;
        } else {
            status = E_OUTOFMEMORY;
        }
        ReleaseSRWLockExclusive(&stateLock);
        if (session->Journaling()) {
            JournalLine(*session, "WriteProperty")
                .Hex("id", id)
                .Num("value", value)
                .Num("status", status)
                .Write();
        }
        return status;
    }
    LONG STDMETHODCALLTYPE ReservedA() override { return Reserved("ReservedA"); }
    LONG STDMETHODCALLTYPE FillPacket(DevicePacket* packet) override {
        if (packet == nullptr) {
            return E_POINTER;
        }
        PacketObject* target = PacketObject::From(packet);
        if (target == nullptr) {
            return E_INVALIDARG;
        }
        if (callbackThread.load(std::memory_order_relaxed) == GetCurrentThreadId()) {
            target->Set(*current, currentIndex);
        } else {
            // Outside a delivery call: the packet delivered last (zeros before the first).
            AcquireSRWLockShared(&lastLock);
            target->Set(last, lastIndex);
            ReleaseSRWLockShared(&lastLock);
        }
        target->Release();
        return 0;
    }
    LONG STDMETHODCALLTYPE ReservedB() override { return Reserved("ReservedB"); }
    LONG STDMETHODCALLTYPE Claim(LONG mode) override {
        LONG status = Script().status[static_cast<int>(SimOp::Claim)];
        if (status == 0) {
            AcquireSRWLockExclusive(&stateLock);
            claimed = true;
            ReleaseSRWLockExclusive(&stateLock);
        }
        if (session->Journaling()) {
            JournalLine(*session, "Claim").Num("mode", mode).Num("status", status).Write();
        }
        if (status == 0 && !Script().deliverAfterSink) {
            StartDelivery();
        }
        TakeTime(Script(), SimOp::Claim);
        return status;
    }
    LONG STDMETHODCALLTYPE Unclaim() override {
        AcquireSRWLockExclusive(&stateLock);
        claimed = false;
        Delivery* run = delivery;
        // Only signals: the sink may be blocked on the thread calling Unclaim.
        if (run != nullptr) {
            StopDelivery(*run, "unclaim");
        }
        ReleaseSRWLockExclusive(&stateLock);
        if (session->Journaling()) {
            JournalLine(*session, "Unclaim").Num("status", 0).Write();
        }
        return 0;
    }
    LONG STDMETHODCALLTYPE ReservedC() override { return Reserved("ReservedC"); }
    LONG STDMETHODCALLTYPE Attach(LONG handle) override {
        LONG status = Script().status[static_cast<int>(SimOp::Attach)];
        if (session->Journaling()) {
            JournalLine(*session, "Attach").Num("handle", handle).Num("status", status).Write();
        }
        TakeTime(Script(), SimOp::Attach);
        return status;
    }
    LONG STDMETHODCALLTYPE ReservedD() override { return Reserved("ReservedD"); }
    LONG STDMETHODCALLTYPE SetPacketSink(PacketSink* newSink) override {
        return newSink != nullptr ? SetSink(newSink) : ClearSink();
    }
    LONG STDMETHODCALLTYPE ReservedE() override { return Reserved("ReservedE"); }

private:
    LONG DeviceProperty(LONG id) {
        const Scenario& s = Script();
        if (id == PropDeviceKind) {
            return s.kind;
        }
        if (id >= PropXLo && id <= PropYHi) {
            return s.edges[id - PropXLo];
        }
        LONG value = 0;
        bool found = false;
        AcquireSRWLockShared(&stateLock);
        for (size_t i = 0; i < writtenCount; ++i) {
            if (written[i].id == id) {
                value = written[i].value;
                found = true;
            }
        }
        ReleaseSRWLockShared(&stateLock);
        if (!found) {
            for (const auto& p : s.properties) {
                if (p.id == id) {
                    value = p.value;
                }
            }
        }
        return value;
    }

    LONG SetSink(PacketSink* newSink) {
        LONG status = Script().status[static_cast<int>(SimOp::SetPacketSink)];
        bool start = false;
        if (status == 0) {
            AcquireSRWLockExclusive(&stateLock);
            sink = newSink;
            if (delivery != nullptr) {
                // A running delivery goes on with the new sink.
                AcquireSRWLockExclusive(&delivery->lock);
                if (delivery->reason == nullptr) {
                    delivery->sink = newSink;
                }
                ReleaseSRWLockExclusive(&delivery->lock);
            }
            start = Script().deliverAfterSink || claimed;
            ReleaseSRWLockExclusive(&stateLock);
        }
        if (session->Journaling()) {
            JournalLine(*session, "SetPacketSink")
                .Text("sink", "set")
                .Num("status", status)
                .Write();
        }
        if (start) {
            StartDelivery();
        }
        TakeTime(Script(), SimOp::SetPacketSink);
        return status;
    }

    LONG ClearSink() {
        AcquireSRWLockExclusive(&stateLock);
        sink = nullptr;
        Delivery* run = delivery;
        if (run != nullptr) {
            InterlockedIncrement(&run->refs);
        }
        ReleaseSRWLockExclusive(&stateLock);
        if (run != nullptr) {
            StopDelivery(*run, "sink");
            if (run->threadId != GetCurrentThreadId()) {
                WaitForSingleObject(run->thread, INFINITE);
            }
            run->Release();
        }
        if (session->Journaling()) {
            JournalLine(*session, "SetPacketSink").Text("sink", "null").Num("status", 0).Write();
        }
        return 0;
    }

    // Starts a run of the packet list unless one is going on. A run that was stopped but is
    // still finishing its last call is waited for first, except from inside that call.
    void StartDelivery() {
        AcquireSRWLockExclusive(&startLock);
        AcquireSRWLockShared(&stateLock);
        PacketSink* target = sink;
        Delivery* old = delivery;
        ReleaseSRWLockShared(&stateLock);
        bool busy = old != nullptr && (!Stopped(*old) || old->threadId == GetCurrentThreadId());
        if (target != nullptr && !busy) {
            if (old != nullptr) {
                WaitForSingleObject(old->thread, INFINITE);
                AcquireSRWLockExclusive(&stateLock);
                delivery = nullptr;
                ReleaseSRWLockExclusive(&stateLock);
                old->Release();
            }
            Launch(target);
        }
        ReleaseSRWLockExclusive(&startLock);
    }

    void Launch(PacketSink* target) {
        auto* run = new (std::nothrow) Delivery;
        if (run == nullptr) {
            return;
        }
        run->session = session;
        run->sink = target;
        run->device = this;
        run->stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (run->stop != nullptr) {
            AcquireSRWLockExclusive(&deliveryCountLock);
            ++runningDeliveries;
            ReleaseSRWLockExclusive(&deliveryCountLock);
            run->thread =
                CreateThread(nullptr, 0, DeliveryThread, run, CREATE_SUSPENDED, &run->threadId);
            if (run->thread == nullptr) {
                AcquireSRWLockExclusive(&deliveryCountLock);
                --runningDeliveries;
                ReleaseSRWLockExclusive(&deliveryCountLock);
                WakeAllConditionVariable(&deliveriesIdle);
            }
        }
        if (run->thread == nullptr) {
            delete run;
            return;
        }
        AcquireSRWLockExclusive(&stateLock);
        delivery = run;
        ReleaseSRWLockExclusive(&stateLock);
        ResumeThread(run->thread);
    }

    // Serialises StartDelivery, so two threads cannot both start a run.
    SRWLOCK startLock = SRWLOCK_INIT;
    // Guards sink, claimed, delivery and the written properties.
    SRWLOCK stateLock = SRWLOCK_INIT;
    PacketSink* sink = nullptr;
    bool claimed = false;
    Delivery* delivery = nullptr;
    SimDeviceProperty written[32] = {};
    size_t writtenCount = 0;

    // The packet being delivered; used only on the delivery thread during its sink call.
    std::atomic<DWORD> callbackThread{0};
    const SimPacketData* current = nullptr;
    long long currentIndex = -1;
    // Guards the packet delivered last, which FillPacket gives outside a delivery call.
    SRWLOCK lastLock = SRWLOCK_INIT;
    SimPacketData last;
    long long lastIndex = -1;
};

// Waits until the QueryPerformanceCounter value due, or until the run is stopped (false).
bool WaitUntil(const Delivery& d, long long due) {
    const long long frequency = d.session->frequency.QuadPart;
    for (;;) {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        long long remaining = due - now.QuadPart;
        if (remaining <= 0) {
            return WaitForSingleObject(d.stop, 0) != WAIT_OBJECT_0;
        }
        auto ms = static_cast<DWORD>((remaining * 1000 + frequency - 1) / frequency);
        if (WaitForSingleObject(d.stop, ms) == WAIT_OBJECT_0) {
            return false;
        }
    }
}

DWORD WINAPI DeliveryThread(void* parameter) {
    auto* d = static_cast<Delivery*>(parameter);
    // Keeps the library loaded until this thread has left its code.
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCWSTR>(&DeliveryThread), &self);
    const Session& session = *d->session;
    const Scenario& s = session.scenario;
    if (session.Journaling()) {
        JournalLine(session, "DeliveryStart").Write();
    }

    const long long frequency = session.frequency.QuadPart;
    const auto count = static_cast<long long>(s.packets.size());
    const long long total = s.repeat == 0 ? -1 : count * s.repeat;
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    long long pauses = 0;
    long long index = 0;
    const char* reason = "end";
    for (; count != 0 && index != total; ++index) {
        const SimPacketData& packet = s.packets[static_cast<size_t>(index % count)];
        bool go = true;
        if (s.rateHz != 0) {
            // Absolute schedule: a late packet does not delay the ones after it.
            pauses += packet.pauseMs * frequency / 1000;
            go = WaitUntil(*d, start.QuadPart + pauses + index * frequency / s.rateHz);
        } else if (packet.pauseMs != 0) {
            go = WaitForSingleObject(d->stop, static_cast<DWORD>(packet.pauseMs)) != WAIT_OBJECT_0;
        }
        AcquireSRWLockExclusive(&d->lock);
        PacketSink* sink = d->sink;
        DeviceObject* device = d->device;
        if (d->reason == nullptr && (sink == nullptr || device == nullptr)) {
            d->reason = sink == nullptr ? "sink" : "release";
        }
        go = go && d->reason == nullptr;
        if (go) {
            device->BeginCallback(&packet, index);
        }
        ReleaseSRWLockExclusive(&d->lock);
        if (!go) {
            break;
        }
        const long long begin = session.Journaling() ? session.Micros() : 0;
        LONG result = sink->OnPacket(0);
        if (session.Journaling()) {
            JournalLine(session, "Packet")
                .Num("index", index)
                .Num("result", result)
                .Num("begin", begin)
                .Write();
        }
        AcquireSRWLockShared(&d->lock);
        if (d->device != nullptr) {
            d->device->EndCallback();
        }
        ReleaseSRWLockShared(&d->lock);
    }

    AcquireSRWLockExclusive(&d->lock);
    if (d->reason == nullptr) {
        d->reason = reason;
        SetEvent(d->stop);
    }
    reason = d->reason;
    ReleaseSRWLockExclusive(&d->lock);
    if (session.Journaling()) {
        JournalLine(session, "DeliveryEnd").Text("reason", reason).Num("packets", index).Write();
    }
    d->Release();

    AcquireSRWLockExclusive(&deliveryCountLock);
    --runningDeliveries;
    ReleaseSRWLockExclusive(&deliveryCountLock);
    WakeAllConditionVariable(&deliveriesIdle);
    if (self != nullptr) {
        FreeLibraryAndExitThread(self, 0);
    }
    return 0;
}

} // namespace

HRESULT SimCreateObject(SimObject object, REFIID iid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    const IID* own[SimObjectCount] = {&IID_DeviceApi, &IID_PointingDevice, &IID_DevicePacket};
    const auto slot = static_cast<int>(object);
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, *own[slot])) {
        return E_NOINTERFACE;
    }

    AcquireSRWLockExclusive(&creationLock);
    if (liveObjects == 0) {
        currentSession = LoadSession();
        std::fill(std::begin(createdSinceRead), std::end(createdSinceRead), 0);
    }
    std::shared_ptr<const Session> session = currentSession;
    const SimCreateRule& rule = session->scenario.create[slot];
    HRESULT result = S_OK;
    if (!session->valid || (rule.fail && createdSinceRead[slot] >= rule.after)) {
        result = E_FAIL;
    } else {
        IUnknown* made = nullptr;
        switch (object) {
        case SimObject::VelAPI:
            made = new (std::nothrow) ApiObject(session);
            break;
        case SimObject::PointingDevice:
            made = new (std::nothrow) DeviceObject(session);
            break;
        case SimObject::VelPacket:
            made = new (std::nothrow) PacketObject(session);
            break;
        }
        if (made == nullptr) {
            result = E_OUTOFMEMORY;
        } else {
            ++liveObjects;
            ++createdSinceRead[slot];
            *ppv = made;
        }
    }
    if (session->Journaling()) {
        if (SUCCEEDED(result)) {
            JournalLine(*session, "Create")
                .Text("object", SimObjectNames[slot])
                .Num("live", liveObjects)
                .Write();
        } else {
            JournalLine(*session, "CreateFailed").Text("object", SimObjectNames[slot]).Write();
        }
    }
    ReleaseSRWLockExclusive(&creationLock);
    return result;
}

LONG SimLiveObjects() {
    AcquireSRWLockShared(&creationLock);
    LONG live = liveObjects;
    ReleaseSRWLockShared(&creationLock);
    return live;
}

HRESULT SimCanUnloadNow() {
    AcquireSRWLockShared(&deliveryCountLock);
    LONG deliveries = runningDeliveries;
    ReleaseSRWLockShared(&deliveryCountLock);
    bool busy = SimLiveObjects() != 0 || deliveries != 0 || SimServerLocked();
    return busy ? S_FALSE : S_OK;
}

BOOL SimWaitDelivery(DWORD ms) {
    const ULONGLONG deadline = GetTickCount64() + ms;
    AcquireSRWLockExclusive(&deliveryCountLock);
    BOOL idle = TRUE;
    while (runningDeliveries != 0) {
        ULONGLONG now = GetTickCount64();
        if (now >= deadline) {
            idle = FALSE;
            break;
        }
        SleepConditionVariableSRW(&deliveriesIdle, &deliveryCountLock,
                                  static_cast<DWORD>(deadline - now), 0);
    }
    ReleaseSRWLockExclusive(&deliveryCountLock);
    return idle;
}
