// The library's three objects and their class table.
//
// Threads: any thread may create, call and release the objects. A PointingDevice that is
// claimed and has a sink delivers packets on a thread of its own (one run at a time per
// device, ptp/pad_run.h), which calls the sink once per packet with no lock held, so it may
// call back into the device, release it, or block on another thread. The claim's input (the
// touchpad's raw input, its translation into packets, the mouse hook) runs on threads that
// never wait for the sink (ptp/pad_input.h).
#include "velptp_core.h"

#include <atomic>
#include <iterator>
#include <memory>
#include <new>
#include <utility>

#include "com_object.h"
#include "com_server.h"
#include "device_panel.h"
#include "hid_pad.h"
#include "pad_run.h"
#include "packet_delivery.h"
#include "recorder.h"
#include "translator.h"

static_assert(ptp::PacketFinger == FlagsAFinger && ptp::PacketGesture == FlagsAGesture,
              "the translator's flags are Tapdeck's");

namespace {

// Private interfaces through which the library recognises its own objects.
constexpr IID IID_VelPtpPacketImpl = {
    0x4332515a, 0x7bf1, 0x45ac, {0xb2, 0x72, 0x82, 0x58, 0xc4, 0x68, 0xee, 0x10}};
constexpr IID IID_VelPtpDeviceImpl = {
    0x4332515a, 0x7bf1, 0x45ac, {0xb2, 0x72, 0x82, 0x58, 0xc4, 0x68, 0xee, 0x11}};

std::atomic<LONG> liveObjects{0};
DeliveryCount deliveries = {SRWLOCK_INIT, CONDITION_VARIABLE_INIT, 0};

// The three objects: the live count follows construction and destruction.
template <class Interface> class PtpObjectBase : public ComObject<Interface> {
public:
    PtpObjectBase() { liveObjects.fetch_add(1); }
    PtpObjectBase(const PtpObjectBase&) = delete;
    PtpObjectBase& operator=(const PtpObjectBase&) = delete;
    ~PtpObjectBase() override { liveObjects.fetch_sub(1); }
};

// Operations the library keeps in its slots but does not implement.
constexpr LONG NotImplemented = E_NOTIMPL;

class ApiObject final : public PtpObjectBase<DeviceApi> {
public:
    LONG STDMETHODCALLTYPE Prepare() override { return S_OK; }
    // The selectors are not looked at: the library knows one kind of device.
    LONG STDMETHODCALLTYPE LocateDevice(LONG, LONG, LONG* handle) override {
        if (handle == nullptr) {
            return E_POINTER;
        }
        HANDLE found = nullptr;
        try {
            found = FindTouchpad();
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        if (found == nullptr) {
            *handle = NoDeviceHandle;
            return NoTouchpad;
        }
        // Raw-input handles are 32-bit values on 64-bit Windows too, so the LONG carries it.
        *handle = HandleToLong(found);
        return S_OK;
    }
    LONG STDMETHODCALLTYPE ReservedA() override { return NotImplemented; }

private:
    bool Answers(REFIID iid) const override { return IsEqualIID(iid, IID_DeviceApi); }
};

class PacketObject final : public PtpObjectBase<DevicePacket> {
public:
    // The packet behind a DevicePacket pointer, AddRef'd; null for a foreign object.
    static PacketObject* From(DevicePacket* packet) {
        void* own = nullptr;
        if (packet == nullptr || FAILED(packet->QueryInterface(IID_VelPtpPacketImpl, &own))) {
            return nullptr;
        }
        return static_cast<PacketObject*>(static_cast<DevicePacket*>(own));
    }

    void Set(const ptp::Packet& packet) {
        // The finger is in flags A; flags B stays 0.
        values = {static_cast<LONG>(packet.flagsA), 0, packet.x, packet.y, packet.motion};
    }

    LONG STDMETHODCALLTYPE ReadProperty(LONG id, LONG* value) override {
        if (value == nullptr) {
            return E_POINTER;
        }
        *value = values.Read(id);
        return S_OK;
    }
    LONG STDMETHODCALLTYPE ReservedA() override { return NotImplemented; }
    LONG STDMETHODCALLTYPE CopyPacket(DevicePacket* source) override {
        if (source == nullptr) {
            return E_POINTER;
        }
        PacketObject* from = From(source);
        if (from == nullptr) {
            return E_INVALIDARG;
        }
        values = from->values;
        from->Release();
        return S_OK;
    }
    LONG STDMETHODCALLTYPE ReservedB() override { return NotImplemented; }

private:
    bool Answers(REFIID iid) const override {
        return IsEqualIID(iid, IID_DevicePacket) || IsEqualIID(iid, IID_VelPtpPacketImpl);
    }

    // Before it is filled: no finger, at the low corner of the pad.
    PacketValues values{0, 0, ptp::DeviceXLo, ptp::DeviceYLo, 0};
};

class DeviceObject final : public PtpObjectBase<PointingDevice>, public PacketDevice<ptp::Packet> {
public:
    DeviceObject() : PacketDevice(deliveries) {}
    DeviceObject(const DeviceObject&) = delete;
    DeviceObject& operator=(const DeviceObject&) = delete;
    ~DeviceObject() override {
        EndDelivery();
        ClosePanel();
    }

    bool Answers(REFIID iid) const override {
        return IsEqualIID(iid, IID_PointingDevice) || IsEqualIID(iid, IID_VelPtpDeviceImpl);
    }

    void UseSource(const ptp::PadGeometry& pad, FrameSourceMaker maker) {
        AcquireSRWLockExclusive(&attachLock);
        geometry = pad;
        makeSource = std::move(maker);
        ReleaseSRWLockExclusive(&attachLock);
    }

    LONG STDMETHODCALLTYPE ReadProperty(LONG id, LONG* value) override {
        if (value == nullptr) {
            return E_POINTER;
        }
        *value = DeviceProperty(id);
        return S_OK;
    }
    // Any property is kept and reads back until the device is released. The pad has no mode
    // LED: PropModeLed shows and hides the panel on the screen.
    LONG STDMETHODCALLTYPE WriteProperty(LONG id, LONG value) override {
        const LONG status = written.Write(id, value);
        if (id == PropModeLed) {
            // The screen is the pad's mode light.
            if (panel) {
                panel->ModeLed(value);
            }
        }
        return status;
    }
    LONG STDMETHODCALLTYPE ReservedA() override { return NotImplemented; }
    LONG STDMETHODCALLTYPE FillPacket(DevicePacket* packet) override {
        return FillOwnPacket<PacketObject>(packet);
    }
    LONG STDMETHODCALLTYPE ReservedB() override { return NotImplemented; }
    LONG STDMETHODCALLTYPE Claim(LONG) override {
        AcquireSRWLockShared(&attachLock);
        const bool attached = static_cast<bool>(makeSource);
        ReleaseSRWLockShared(&attachLock);
        if (!attached) {
            return NotAttached;
        }
        OpenPanel();
        SetClaimed(true);
        // Returns once raw input and the hook are set up, or with why they could not be; a
        // failed claim holds nothing, the panel's claim neither.
        const HRESULT started = StartDelivery();
        if (FAILED(started)) {
            SetClaimed(false);
            ClosePanel();
        }
        return started;
    }
    // Only tells the run to stop: the sink may be blocked on the thread that calls this.
    LONG STDMETHODCALLTYPE Unclaim() override {
        SetClaimed(false);
        ClosePanel();
        return S_OK;
    }
    LONG STDMETHODCALLTYPE ReservedC() override { return NotImplemented; }
    LONG STDMETHODCALLTYPE Attach(LONG handle) override {
        if (handle == NoDeviceHandle) {
            return NoTouchpad;
        }
        try {
            auto pad = std::make_shared<HidPad>();
            const HRESULT opened = OpenHidPad(LongToHandle(handle), *pad);
            if (FAILED(opened)) {
                return opened;
            }
            const ptp::PadGeometry padGeometry = pad->layout.geometry;
            // The recording's setting is read at each claim, when the claim's source is made.
            UseSource(padGeometry, [pad] {
                return std::make_unique<RawInputSource>(pad, RecordReportsFolder());
            });
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }
    LONG STDMETHODCALLTYPE ReservedD() override { return NotImplemented; }
    LONG STDMETHODCALLTYPE SetPacketSink(PacketSink* newSink) override {
        return newSink != nullptr ? SetSink(newSink) : ClearSink();
    }
    LONG STDMETHODCALLTYPE ReservedE() override { return NotImplemented; }

private:
    LONG DeviceProperty(LONG id) {
        switch (id) {
        case PropDeviceKind:
            return DeviceKindTouchpad;
        case PropXLo:
            return ptp::DeviceXLo;
        case PropYLo:
            return ptp::DeviceYLo;
        case PropXHi:
            return ptp::DeviceXHi;
        case PropYHi:
            return ptp::DeviceYHi;
        default:
            break;
        }
        LONG value = 0;
        written.Read(id, value);
        return value;
    }

    // At each claim: the settings are read again.
    void OpenPanel() {
        if (panel) {
            panel->Claimed({ptp::DeviceXLo, ptp::DeviceYLo, ptp::DeviceXHi, ptp::DeviceYHi});
        }
    }
    void ClosePanel() {
        if (panel) {
            panel->Close();
        }
    }

    LONG SetSink(PacketSink* newSink) {
        // A running delivery goes on with the new sink; a claimed device starts one.
        return KeepSink(newSink) ? StartDelivery() : S_OK;
    }

    LONG ClearSink() {
        DropSink();
        return S_OK;
    }

    std::shared_ptr<Run> MakeRun() override {
        AcquireSRWLockShared(&attachLock);
        const ptp::PadGeometry pad = geometry;
        const FrameSourceMaker maker = makeSource;
        ReleaseSRWLockShared(&attachLock);
        try {
            std::unique_ptr<FrameSource> frames = maker ? maker() : nullptr;
            if (!frames) {
                return nullptr;
            }
            return std::make_shared<PadRun>(pad, std::move(frames), panel);
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
    }

    // Guards what Attach sets: a device without a source has nothing to deliver from.
    SRWLOCK attachLock = SRWLOCK_INIT;
    ptp::PadGeometry geometry;
    FrameSourceMaker makeSource;
    // Set at construction, never changed: read without a lock.
    const std::shared_ptr<overlay::DevicePanel> panel = overlay::DevicePanel::Make();
    WrittenProperties written;
};

template <PtpObject Object> HRESULT Create(REFIID iid, void** ppv) {
    return PtpCreateObject(Object, iid, ppv);
}

constexpr ServerClass classes[] = {
    {&CLSID_VelPtpApi, ProgIdDeviceApi, Create<PtpObject::VelAPI>},
    {&CLSID_VelPtpPointingDevice, ProgIdPointingDevice, Create<PtpObject::PointingDevice>},
    {&CLSID_VelPtpPacket, ProgIdDevicePacket, Create<PtpObject::VelPacket>},
};

constinit ServerFactories<std::size(classes)> factories(classes);

} // namespace

long long ClockMicros() {
    LARGE_INTEGER now;
    LARGE_INTEGER frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    const long long f = frequency.QuadPart;
    return now.QuadPart / f * 1000000 + now.QuadPart % f * 1000000 / f;
}

HRESULT PtpCreateObject(PtpObject object, REFIID iid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    IUnknown* made = nullptr;
    switch (object) {
    case PtpObject::VelAPI:
        made = new (std::nothrow) ApiObject;
        break;
    case PtpObject::PointingDevice:
        made = new (std::nothrow) DeviceObject;
        break;
    case PtpObject::VelPacket:
        made = new (std::nothrow) PacketObject;
        break;
    }
    if (made == nullptr) {
        return E_OUTOFMEMORY;
    }
    const HRESULT result = made->QueryInterface(iid, ppv);
    made->Release();
    return result;
}

HRESULT PtpGetClassObject(REFCLSID clsid, REFIID iid, void** ppv) {
    return factories.GetClassObject(clsid, iid, ppv);
}

LONG PtpLiveObjects() {
    return liveObjects.load();
}

HRESULT PtpCanUnloadNow() {
    const bool busy = PtpLiveObjects() != 0 || deliveries.Running() != 0 || factories.Locked();
    return busy ? S_FALSE : S_OK;
}

BOOL PtpWaitDelivery(DWORD ms) {
    return deliveries.WaitIdle(ms);
}

HRESULT PtpRegisterServer(const wchar_t* dllPath) {
    return RegisterServerClasses(classes, dllPath, L"Precision Touchpad ");
}

HRESULT PtpUnregisterServer() {
    return UnregisterServerClasses(classes);
}

HRESULT PtpAttachSource(PointingDevice* device, const ptp::PadGeometry& geometry,
                        FrameSourceMaker maker) {
    void* own = nullptr;
    if (device == nullptr || !maker || FAILED(device->QueryInterface(IID_VelPtpDeviceImpl, &own))) {
        return E_INVALIDARG;
    }
    auto* object = static_cast<DeviceObject*>(static_cast<PointingDevice*>(own));
    object->UseSource(geometry, std::move(maker));
    object->Release();
    return S_OK;
}
