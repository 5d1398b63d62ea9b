// The library's three objects, their class table, and packet delivery.
//
// Threads: any thread may create, call and release the objects. A PointingDevice that is
// claimed and has a sink delivers packets on a thread of its own (one run at a time per
// device): a message-only window there receives the touchpad's raw input, the translator turns
// each frame into packets, and the sink is called once per packet with no lock held, so it may
// call back into the device, release it, or block on another thread. The low-level mouse hook
// of the claim lives on a thread of its own, which that thread starts and ends.
#include "velptp_core.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cwchar>
#include <iterator>
#include <memory>
#include <new>
#include <optional>
#include <utility>

#include "com_object.h"
#include "com_server.h"
#include "device_panel.h"
#include "hid_pad.h"
#include "mouse_hook.h"
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

// How often the delivery thread looks for a contact that stopped being reported.
constexpr UINT IdleCheckMs = 50;
constexpr UINT_PTR IdleTimer = 1;

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

// One run of delivery, from a claim to Unclaim: a message-only window that receives the
// frames, the translator, the mouse hook of the claim, and the recording.
class PadRun final : public DeliveryRun<ptp::Packet>, public FrameReceiver {
public:
    PadRun(const ptp::PadGeometry& pad, std::unique_ptr<FrameSource> frames,
           std::shared_ptr<overlay::DevicePanel> panelLink)
        : DeliveryRun(/*launcherWaits=*/true), geometry(pad), translator(pad),
          source(std::move(frames)), panel(std::move(panelLink)) {}

    void OnFrame(const ptp::Frame& frame) override {
        lastFrameUs = frame.timeUs;
        lastArrivalUs = FrameClock();
        framed = true;
        // Any contact, lifting ones too (the system clicks for a tap after the lift), or the
        // button keeps the pad in use for the hook.
        const DWORD now = GetTickCount();
        if (frame.count != 0 || frame.button) {
            lastContact.store(ContactTick(now), std::memory_order_release);
        }
        CheckHook(frame, now);
        batch.Clear();
        translator.OnFrame(frame, batch);
        DeliverBatch();
    }
    void OnPadChanged(const ptp::PadGeometry& pad) override {
        batch.Clear();
        translator.ChangePad(pad, batch);
        DeliverBatch();
    }
    void OnPadRemoved() override {
        // Every mouse works again at once, whatever the pad was doing.
        lastContact.store(0, std::memory_order_release);
        hadContact = false;
        batch.Clear();
        translator.Lose(batch);
        DeliverBatch();
    }

private:
    void Body() override;
    void DeliverBatch();
    void CheckHook(const ptp::Frame& frame, DWORD now);
    void OnIdle() {
        // The silence since the last frame arrived, on the frames' clock: frame times follow
        // the pad's scan clock, which may run behind the arrivals after a stall.
        const uint32_t now = FrameClock();
        batch.Clear();
        translator.Idle(framed ? lastFrameUs + (now - lastArrivalUs) : now, batch);
        DeliverBatch();
    }
    static LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    HWND MakeWindow(HINSTANCE instance);

    ptp::PadGeometry geometry;
    ptp::Translator translator;
    std::unique_ptr<FrameSource> source;
    // The last frame's time and when it arrived, on the frames' clock; this thread only.
    bool framed = false;
    uint32_t lastFrameUs = 0;
    uint32_t lastArrivalUs = 0;
    std::optional<SessionRecorder> recorder;
    ptp::PacketBatch batch;
    // Tick count of the last frame with a contact or the button, 0 for none: written by this
    // run's thread, read by its mouse hook.
    std::atomic<DWORD> lastContact{0};
    // The claim's hook, from the run's start to its end, and the counts when it started; this
    // thread only.
    std::optional<MouseHookThread> hook;
    MouseHookCounts hookAtStart;
    DWORD lastReinstallAsk = 0;
    // The first down contact of the previous frame, to tell a finger that moves.
    bool hadContact = false;
    ptp::Contact previousContact;
    // The device's on-screen panel, shared: the run may finish its last call after the device
    // is gone.
    std::shared_ptr<overlay::DevicePanel> panel;
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
        // Returns once raw input and the hook are set up, or with why they could not be.
        const HRESULT started = StartDelivery();
        if (FAILED(started)) {
            SetClaimed(false);
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
            UseSource(padGeometry, [pad] { return std::make_unique<RawInputSource>(pad); });
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

    DeliveryRun<ptp::Packet>* MakeRun() override {
        AcquireSRWLockShared(&attachLock);
        const ptp::PadGeometry pad = geometry;
        const FrameSourceMaker maker = makeSource;
        ReleaseSRWLockShared(&attachLock);
        try {
            std::unique_ptr<FrameSource> frames = maker ? maker() : nullptr;
            return frames ? new PadRun(pad, std::move(frames), panel) : nullptr;
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

HWND PadRun::MakeWindow(HINSTANCE instance) {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WndProc;
    wc.hInstance = instance;
    // Named after the window procedure's address: a copy of the library loaded again later at
    // another address registers a class of its own, so the class is never taken away from a
    // run that is starting (Windows keeps it until the process ends).
    wchar_t name[48] = {};
    swprintf(name, std::size(name), L"VelPtpDelivery%p", reinterpret_cast<void*>(&WndProc));
    wc.lpszClassName = name;
    // Another run's thread may have registered it already.
    if (RegisterClassExW(&wc) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        return nullptr;
    }
    return CreateWindowExW(0, name, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, this);
}

LRESULT CALLBACK PadRun::WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        // NOLINTNEXTLINE(performance-no-int-to-ptr): WM_NCCREATE's lParam is the creation record
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    // NOLINTNEXTLINE(performance-no-int-to-ptr): the user data is where WM_NCCREATE put the run
    auto* run = reinterpret_cast<PadRun*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (run != nullptr) {
        if (message == WM_TIMER && wParam == IdleTimer) {
            run->OnIdle();
            return 0;
        }
        try {
            run->source->OnMessage(message, wParam, lParam, *run);
        } catch (const std::bad_alloc&) {
            // The report is lost; the next one comes in a few milliseconds.
        }
    }
    // WM_INPUT too: the default handling frees the system's copy of the input.
    return DefWindowProcW(window, message, wParam, lParam);
}

void PadRun::Body() {
    HMODULE instance = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&PadRun::WndProc), &instance);
    HWND window = MakeWindow(instance);
    HRESULT status = S_OK;
    if (window == nullptr || !source->Start(window)) {
        status = LastErrorStatus();
    } else {
        hook.emplace(&Live(), &lastContact);
        status = hook->Status();
    }
    if (SUCCEEDED(status)) {
        hookAtStart = MouseHookTotals();
        recorder.emplace(RecordPath(), geometry, ClockMicros());
        SetTimer(window, IdleTimer, IdleCheckMs, nullptr);
    }
    Ready(status);

    if (SUCCEEDED(status)) {
        HANDLE stopEvent = StopEvent();
        bool running = true;
        while (running) {
            const DWORD woke = MsgWaitForMultipleObjectsEx(1, &stopEvent, INFINITE, QS_ALLINPUT,
                                                           MWMO_INPUTAVAILABLE);
            if (woke != WAIT_OBJECT_0 + 1) {
                break; // stopped (or the wait failed)
            }
            MSG msg;
            while (running && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.message == WM_QUIT) {
                    running = false;
                    break;
                }
                DispatchMessageW(&msg);
                running = WaitForSingleObject(stopEvent, 0) != WAIT_OBJECT_0;
            }
        }
    }

    hook.reset();
    if (recorder && recorder->On()) {
        // What the claim's hook did, for a report from a laptop: the calls it had, those while
        // the pad was in use, those it swallowed, those for injected input, its reinstalls.
        const MouseHookCounts end = MouseHookTotals();
        char line[160];
        snprintf(line, sizeof line,
                 "mouse hook: %ld calls, %ld while the pad was in use, %ld swallowed, %ld "
                 "injected, %ld reinstalls",
                 end.seen - hookAtStart.seen, end.inUse - hookAtStart.inUse,
                 end.swallowed - hookAtStart.swallowed, end.injected - hookAtStart.injected,
                 end.reinstalls - hookAtStart.reinstalls);
        recorder->Comment(line);
    }
    if (window != nullptr) {
        if (SUCCEEDED(status)) {
            KillTimer(window, IdleTimer);
            source->Stop();
        }
        DestroyWindow(window);
    }
    recorder.reset();
    Finish("end");
}

// A finger moving on the pad makes pointer input that the hook sees before it swallows it: a
// hook that has seen nothing for a second while one moves may have been removed by Windows.
void PadRun::CheckHook(const ptp::Frame& frame, DWORD now) {
    const ptp::Contact* down = nullptr;
    for (size_t i = 0; i < std::min(frame.count, ptp::MaxContacts); ++i) {
        if (frame.contacts[i].tip) {
            down = &frame.contacts[i];
            break;
        }
    }
    const bool moving = down != nullptr && hadContact && previousContact.id == down->id &&
                        (previousContact.x != down->x || previousContact.y != down->y);
    hadContact = down != nullptr;
    if (down != nullptr) {
        previousContact = *down;
    }
    if (hook && HookMayBeGone(moving, hook->LastCall(), lastReinstallAsk, now)) {
        lastReinstallAsk = ContactTick(now);
        hook->Reinstall();
    }
}

void PadRun::DeliverBatch() {
    for (const ptp::Packet& packet : batch) {
        const long long at = ClockMicros();
        if (!Deliver(packet)) {
            return;
        }
        if (panel) {
            panel->Packet({packet.flagsA, packet.x, packet.y, packet.motion});
        }
        if (recorder) {
            recorder->Write(packet, at);
        }
    }
}

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
