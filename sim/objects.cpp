// The library's three objects, their class factory, and packet delivery.
//
// Threads: any thread may create, call and release the objects. A PointingDevice delivers
// packets on a thread of its own (one at a time per device); it calls the sink with no lock
// held, so the sink may call back into the device, release it, or block on another thread.
#include "session.h"

#include <algorithm>
#include <iterator>
#include <memory>
#include <new>
#include <utility>

#include "com_object.h"
#include "device_panel.h"
#include "packet_delivery.h"

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

// A packet as delivered: its scripted values and the index of the delivery, which PacketRead
// journals.
struct SimDelivered {
    SimPacketData data;
    long long index = -1;
};

// Guards the live count, the current session and the creation counts.
SRWLOCK creationLock = SRWLOCK_INIT;
LONG liveObjects = 0;
LONG createdSinceRead[SimObjectCount] = {};
std::shared_ptr<const Session> currentSession;

DeliveryCount deliveries = {SRWLOCK_INIT, CONDITION_VARIABLE_INIT, 0};

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

// The three objects: the live count follows construction and destruction.
template <class Interface, SimObject Kind> class SimObjectBase : public ComObject<Interface> {
public:
    explicit SimObjectBase(std::shared_ptr<const Session> s) : session(std::move(s)) {}
    SimObjectBase(const SimObjectBase&) = delete;
    SimObjectBase& operator=(const SimObjectBase&) = delete;
    ~SimObjectBase() override { ObjectGone(*session, Kind); }

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
    bool Answers(REFIID iid) const override {
        return IsEqualIID(iid, OwnIid()) ||
               (Kind == SimObject::VelPacket && IsEqualIID(iid, IID_VelSimPacketImpl));
    }
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

    void Set(const SimDelivered& delivered) {
        const SimPacketData& d = delivered.data;
        values = {d.a, d.b, d.x, d.y, d.motion};
        index = delivered.index;
    }

    LONG STDMETHODCALLTYPE ReadProperty(LONG id, LONG* value) override {
        if (value == nullptr) {
            return E_POINTER;
        }
        *value = values.Read(id);
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
    PacketValues values;
    // Index of the delivered packet these values came from; -1 before any was filled in.
    long long index = -1;
};

// One run of the packet list on a thread of its own.
class SimRun final : public DeliveryRun<SimDelivered> {
public:
    SimRun(std::shared_ptr<const Session> s, std::shared_ptr<overlay::DevicePanel> panelLink)
        : DeliveryRun(/*launcherWaits=*/false), session(std::move(s)), panel(std::move(panelLink)) {
    }

private:
    void Body() override;
    // Waits until the QueryPerformanceCounter value `due`, or until the run is stopped (false).
    bool WaitUntil(long long due);

    std::shared_ptr<const Session> session;
    // The device's on-screen panel, shared: the run may finish its last call after the device
    // is gone. Null unless VELSIM_OVERLAY asked for it.
    std::shared_ptr<overlay::DevicePanel> panel;
};

class DeviceObject final : public SimObjectBase<PointingDevice, SimObject::PointingDevice>,
                           public PacketDevice<SimDelivered> {
public:
    explicit DeviceObject(std::shared_ptr<const Session> s)
        : SimObjectBase(std::move(s)), PacketDevice(deliveries) {}
    DeviceObject(const DeviceObject&) = delete;
    DeviceObject& operator=(const DeviceObject&) = delete;
    ~DeviceObject() override {
        EndDelivery();
        ClosePanel();
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
        const LONG status = written.Write(id, value);
        if (id == PropModeLed && panel) {
            panel->ModeLed(value);
        }
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
    // Outside a delivery call: the packet delivered last (zeros before the first).
    LONG STDMETHODCALLTYPE FillPacket(DevicePacket* packet) override {
        return FillOwnPacket<PacketObject>(packet);
    }
    LONG STDMETHODCALLTYPE ReservedB() override { return Reserved("ReservedB"); }
    LONG STDMETHODCALLTYPE Claim(LONG mode) override {
        LONG status = Script().status[static_cast<int>(SimOp::Claim)];
        if (status == 0) {
            OpenPanel();
            SetClaimed(true);
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
        // Only signals: the sink may be blocked on the thread calling Unclaim.
        SetClaimed(false);
        ClosePanel();
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
        if (!written.Read(id, value)) {
            for (const auto& p : s.properties) {
                if (p.id == id) {
                    value = p.value;
                }
            }
        }
        return value;
    }

    // The simulated pad stands for one with the panel printed on it: a panel on the screen only
    // when VELSIM_OVERLAY is 1, read at each claim.
    void OpenPanel() {
        wchar_t wanted[4] = {};
        const DWORD got = GetEnvironmentVariableW(L"VELSIM_OVERLAY", wanted, 4);
        if (got != 1 || wanted[0] != L'1') {
            ClosePanel();
        } else if (panel) {
            const LONG* e = Script().edges;
            panel->Claimed({e[0], e[1], e[2], e[3]});
        }
    }
    void ClosePanel() {
        if (panel) {
            panel->Close();
        }
    }

    LONG SetSink(PacketSink* newSink) {
        LONG status = Script().status[static_cast<int>(SimOp::SetPacketSink)];
        bool start = false;
        if (status == 0) {
            // A running delivery goes on with the new sink.
            const bool isClaimed = KeepSink(newSink);
            start = Script().deliverAfterSink || isClaimed;
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
        DropSink();
        if (session->Journaling()) {
            JournalLine(*session, "SetPacketSink").Text("sink", "null").Num("status", 0).Write();
        }
        return 0;
    }

    std::shared_ptr<Run> MakeRun() override {
        try {
            return std::make_shared<SimRun>(session, panel);
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
    }

    WrittenProperties written;
    // Set at construction, never changed: read without a lock.
    const std::shared_ptr<overlay::DevicePanel> panel = overlay::DevicePanel::Make();
};

bool SimRun::WaitUntil(long long due) {
    const long long frequency = session->frequency.QuadPart;
    for (;;) {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        long long remaining = due - now.QuadPart;
        if (remaining <= 0) {
            return WaitForSingleObject(StopEvent(), 0) != WAIT_OBJECT_0;
        }
        auto ms = static_cast<DWORD>((remaining * 1000 + frequency - 1) / frequency);
        if (WaitForSingleObject(StopEvent(), ms) == WAIT_OBJECT_0) {
            return false;
        }
    }
}

void SimRun::Body() {
    const Session& journal = *session;
    const Scenario& s = journal.scenario;
    if (journal.Journaling()) {
        JournalLine(journal, "DeliveryStart").Write();
    }

    const long long frequency = journal.frequency.QuadPart;
    const auto listed = static_cast<long long>(s.packets.size());
    const long long total = s.repeat == 0 ? -1 : listed * s.repeat;
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    long long pauses = 0;
    long long index = 0;
    for (; listed != 0 && index != total; ++index) {
        const SimPacketData& packet = s.packets[static_cast<size_t>(index % listed)];
        bool go = true;
        if (s.rateHz != 0) {
            // Absolute schedule: a late packet does not delay the ones after it.
            pauses += packet.pauseMs * frequency / 1000;
            go = WaitUntil(start.QuadPart + pauses + index * frequency / s.rateHz);
        } else if (packet.pauseMs != 0) {
            go = WaitForSingleObject(StopEvent(), static_cast<DWORD>(packet.pauseMs)) !=
                 WAIT_OBJECT_0;
        }
        const long long begin = journal.Journaling() ? journal.Micros() : 0;
        LONG result = 0;
        if (!go || !Deliver({packet, index}, &result)) {
            break;
        }
        if (panel) {
            panel->Packet({static_cast<uint32_t>(packet.a), packet.x, packet.y, packet.motion,
                           static_cast<uint32_t>(packet.b)});
        }
        if (journal.Journaling()) {
            JournalLine(journal, "Packet")
                .Num("index", index)
                .Num("result", result)
                .Num("begin", begin)
                .Write();
        }
    }

    const char* why = Finish("end");
    if (journal.Journaling()) {
        JournalLine(journal, "DeliveryEnd").Text("reason", why).Num("packets", index).Write();
    }
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
    const bool busy = SimLiveObjects() != 0 || deliveries.Running() != 0 || SimServerLocked();
    return busy ? S_FALSE : S_OK;
}

BOOL SimWaitDelivery(DWORD ms) {
    return deliveries.WaitIdle(ms);
}
