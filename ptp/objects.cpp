// The library's three objects, their class table, and packet delivery.
//
// Threads: any thread may create, call and release the objects. A PointingDevice that is
// claimed and has a sink delivers packets on a thread of its own (one run at a time per
// device): a message-only window there receives the touchpad's raw input, the translator turns
// each frame into packets, and the sink is called once per packet with no lock held, so it may
// call back into the device, release it, or block on another thread. The low-level mouse hook
// of the claim lives on the same thread.
#include "velptp_core.h"

#include <atomic>
#include <iterator>
#include <memory>
#include <new>
#include <optional>
#include <utility>

#include "com_server.h"
#include "hid_pad.h"
#include "mouse_hook.h"
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
constexpr wchar_t WindowClass[] = L"VelPtpDelivery";

std::atomic<LONG> liveObjects{0};

// The calling thread's last error as a failure status (E_FAIL when it holds none).
HRESULT LastError() {
    const DWORD error = GetLastError();
    return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}

// Guards runningDeliveries; deliveriesIdle is woken when it falls to 0.
SRWLOCK deliveryCountLock = SRWLOCK_INIT;
CONDITION_VARIABLE deliveriesIdle = CONDITION_VARIABLE_INIT;
LONG runningDeliveries = 0;

void CountDelivery(LONG delta) {
    AcquireSRWLockExclusive(&deliveryCountLock);
    runningDeliveries += delta;
    ReleaseSRWLockExclusive(&deliveryCountLock);
    if (delta < 0) {
        WakeAllConditionVariable(&deliveriesIdle);
    }
}

// IUnknown for the three objects; the live count follows construction and destruction.
template <class Interface> class PtpObjectBase : public Interface {
public:
    PtpObjectBase() { liveObjects.fetch_add(1); }
    PtpObjectBase(const PtpObjectBase&) = delete;
    PtpObjectBase& operator=(const PtpObjectBase&) = delete;
    virtual ~PtpObjectBase() { liveObjects.fetch_sub(1); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, OwnIid()) ||
            IsEqualIID(iid, PrivateIid())) {
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

    virtual const IID& OwnIid() const = 0;
    virtual const IID& PrivateIid() const { return OwnIid(); }

private:
    LONG refs = 1;
};

// Operations the library keeps in its slots but does not implement.
constexpr LONG NotImplemented = E_NOTIMPL;

class ApiObject final : public PtpObjectBase<DeviceApi> {
public:
    const IID& OwnIid() const override { return IID_DeviceApi; }

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
};

class PacketObject final : public PtpObjectBase<DevicePacket> {
public:
    const IID& OwnIid() const override { return IID_DevicePacket; }
    const IID& PrivateIid() const override { return IID_VelPtpPacketImpl; }

    // The packet behind a DevicePacket pointer, AddRef'd; null for a foreign object.
    static PacketObject* From(DevicePacket* packet) {
        void* own = nullptr;
        if (packet == nullptr || FAILED(packet->QueryInterface(IID_VelPtpPacketImpl, &own))) {
            return nullptr;
        }
        return static_cast<PacketObject*>(static_cast<DevicePacket*>(own));
    }

    void Set(const ptp::Packet& packet) { values = packet; }

    LONG STDMETHODCALLTYPE ReadProperty(LONG id, LONG* value) override {
        if (value == nullptr) {
            return E_POINTER;
        }
        switch (id) {
        case PropFlagsA:
            *value = static_cast<LONG>(values.flagsA);
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
        default: // PropFlagsB among them: the finger is in flags A
            *value = 0;
            break;
        }
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
    // Before it is filled: no finger, at the low corner of the pad.
    ptp::Packet values;
};

class DeviceObject;

// One run of delivery: its thread, window, frame source, translator, hook and recording. Shared
// by the device and the thread (two references); whichever lets go last deletes it.
class Delivery final : public FrameReceiver {
public:
    Delivery(const ptp::PadGeometry& pad, std::unique_ptr<FrameSource> frames)
        : geometry(pad), translator(pad), source(std::move(frames)) {}
    Delivery(const Delivery&) = delete;
    Delivery& operator=(const Delivery&) = delete;
    ~Delivery() = default;

    void Release() {
        if (InterlockedDecrement(&refs) == 0) {
            delete this;
        }
    }
    // Records the first reason to stop; no sink call starts afterwards. Any thread.
    void Stop() {
        AcquireSRWLockExclusive(&lock);
        stopped = true;
        claimed.store(false, std::memory_order_release);
        SetEvent(stop.Get());
        ReleaseSRWLockExclusive(&lock);
    }
    bool Stopped() {
        AcquireSRWLockShared(&lock);
        const bool s = stopped;
        ReleaseSRWLockShared(&lock);
        return s;
    }

    void OnFrame(const ptp::Frame& frame) override {
        batch.Clear();
        translator.OnFrame(frame, batch);
        Deliver();
    }
    void OnIdle() {
        batch.Clear();
        translator.Idle(FrameClock(), batch);
        Deliver();
    }
    void Deliver();
    void Run();

    LONG refs = 2;
    UniqueHandle stop{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    UniqueHandle ready{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    UniqueHandle thread;
    DWORD threadId = 0;
    // The thread's set-up (window, raw input, hook), written before `ready` is set.
    HRESULT setup = E_FAIL;

    // Guards the three fields below. Never held while the sink runs.
    SRWLOCK lock = SRWLOCK_INIT;
    PacketSink* sink = nullptr;
    bool stopped = false;
    // Null once the device has been destroyed from inside the sink.
    DeviceObject* device = nullptr;
    // What the hook reads: cleared at once when the run is told to stop.
    std::atomic<bool> claimed{true};

private:
    static LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    HWND MakeWindow(HINSTANCE instance);

    // The rest is the delivery thread's own.
    ptp::PadGeometry geometry;
    ptp::Translator translator;
    std::unique_ptr<FrameSource> source;
    std::optional<SessionRecorder> recorder;
    ptp::PacketBatch batch;
};

class DeviceObject final : public PtpObjectBase<PointingDevice> {
public:
    DeviceObject() = default;
    DeviceObject(const DeviceObject&) = delete;
    DeviceObject& operator=(const DeviceObject&) = delete;

    const IID& OwnIid() const override { return IID_PointingDevice; }
    const IID& PrivateIid() const override { return IID_VelPtpDeviceImpl; }

    ~DeviceObject() override {
        Delivery* run = delivery;
        if (run == nullptr) {
            return;
        }
        run->Stop();
        if (run->threadId == GetCurrentThreadId()) {
            // Destroyed from inside the sink: the thread must not come back to this object.
            AcquireSRWLockExclusive(&run->lock);
            run->device = nullptr;
            ReleaseSRWLockExclusive(&run->lock);
        } else {
            WaitForSingleObject(run->thread.Get(), INFINITE);
        }
        run->Release();
    }

    // On the delivery thread, around each call of the sink.
    void BeginCallback(const ptp::Packet& packet) {
        current = packet;
        callbackThread.store(GetCurrentThreadId(), std::memory_order_relaxed);
    }
    void EndCallback() {
        callbackThread.store(0, std::memory_order_relaxed);
        AcquireSRWLockExclusive(&lastLock);
        last = current;
        ReleaseSRWLockExclusive(&lastLock);
    }

    void UseSource(const ptp::PadGeometry& pad, FrameSourceMaker maker) {
        AcquireSRWLockExclusive(&stateLock);
        geometry = pad;
        makeSource = std::move(maker);
        ReleaseSRWLockExclusive(&stateLock);
    }

    LONG STDMETHODCALLTYPE ReadProperty(LONG id, LONG* value) override {
        if (value == nullptr) {
            return E_POINTER;
        }
        *value = DeviceProperty(id);
        return S_OK;
    }
    // Any property is kept and reads back until the device is released; the pad has no mode
    // LED, so PropModeLed is only kept.
    LONG STDMETHODCALLTYPE WriteProperty(LONG id, LONG value) override {
        AcquireSRWLockExclusive(&stateLock);
        size_t i = 0;
        while (i < writtenCount && written[i].id != id) {
            ++i;
        }
        LONG status = S_OK;
        if (i < std::size(written)) {
            written[i] = {id, value};
            writtenCount = i == writtenCount ? i + 1 : writtenCount;
        } else {
            status = E_OUTOFMEMORY;
        }
        ReleaseSRWLockExclusive(&stateLock);
        return status;
    }
    LONG STDMETHODCALLTYPE ReservedA() override { return NotImplemented; }
    LONG STDMETHODCALLTYPE FillPacket(DevicePacket* packet) override {
        if (packet == nullptr) {
            return E_POINTER;
        }
        PacketObject* own = PacketObject::From(packet);
        if (own == nullptr) {
            return E_INVALIDARG;
        }
        if (callbackThread.load(std::memory_order_relaxed) == GetCurrentThreadId()) {
            own->Set(current);
        } else {
            AcquireSRWLockShared(&lastLock);
            own->Set(last);
            ReleaseSRWLockShared(&lastLock);
        }
        own->Release();
        return S_OK;
    }
    LONG STDMETHODCALLTYPE ReservedB() override { return NotImplemented; }
    LONG STDMETHODCALLTYPE Claim(LONG) override {
        AcquireSRWLockExclusive(&stateLock);
        const bool attached = static_cast<bool>(makeSource);
        claimed = attached;
        ReleaseSRWLockExclusive(&stateLock);
        if (!attached) {
            return NotAttached;
        }
        const HRESULT started = StartDelivery();
        if (FAILED(started)) {
            AcquireSRWLockExclusive(&stateLock);
            claimed = false;
            ReleaseSRWLockExclusive(&stateLock);
        }
        return started;
    }
    // Only tells the run to stop: the sink may be blocked on the thread that calls this.
    LONG STDMETHODCALLTYPE Unclaim() override {
        AcquireSRWLockExclusive(&stateLock);
        claimed = false;
        if (delivery != nullptr) {
            delivery->Stop();
        }
        ReleaseSRWLockExclusive(&stateLock);
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
    struct Property {
        LONG id;
        LONG value;
    };

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
        AcquireSRWLockShared(&stateLock);
        for (size_t i = 0; i < writtenCount; ++i) {
            if (written[i].id == id) {
                value = written[i].value;
            }
        }
        ReleaseSRWLockShared(&stateLock);
        return value;
    }

    LONG SetSink(PacketSink* newSink) {
        AcquireSRWLockExclusive(&stateLock);
        sink = newSink;
        if (delivery != nullptr) {
            // A running delivery goes on with the new sink.
            AcquireSRWLockExclusive(&delivery->lock);
            if (!delivery->stopped) {
                delivery->sink = newSink;
            }
            ReleaseSRWLockExclusive(&delivery->lock);
        }
        const bool start = claimed;
        ReleaseSRWLockExclusive(&stateLock);
        return start ? StartDelivery() : S_OK;
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
            run->Stop();
            if (run->threadId != GetCurrentThreadId()) {
                WaitForSingleObject(run->thread.Get(), INFINITE);
            }
            run->Release();
        }
        return S_OK;
    }

    // Starts a run unless one is going on or there is no sink. A run that was stopped but is
    // still finishing its last call is waited for first, except from inside that call (then
    // none starts).
    HRESULT StartDelivery() {
        AcquireSRWLockExclusive(&startLock);
        AcquireSRWLockShared(&stateLock);
        PacketSink* target = sink;
        Delivery* old = delivery;
        ReleaseSRWLockShared(&stateLock);
        const bool busy =
            old != nullptr && (!old->Stopped() || old->threadId == GetCurrentThreadId());
        HRESULT status = S_OK;
        if (target != nullptr && !busy) {
            if (old != nullptr) {
                WaitForSingleObject(old->thread.Get(), INFINITE);
                AcquireSRWLockExclusive(&stateLock);
                delivery = nullptr;
                ReleaseSRWLockExclusive(&stateLock);
                old->Release();
            }
            status = Launch(target);
        }
        ReleaseSRWLockExclusive(&startLock);
        return status;
    }

    HRESULT Launch(PacketSink* target);

    // Serialises StartDelivery, so two threads cannot both start a run.
    SRWLOCK startLock = SRWLOCK_INIT;
    // Guards sink, claimed, delivery, the source and the written properties.
    SRWLOCK stateLock = SRWLOCK_INIT;
    PacketSink* sink = nullptr;
    bool claimed = false;
    Delivery* delivery = nullptr;
    ptp::PadGeometry geometry;
    // Set by Attach; a device without it has nothing to deliver from.
    FrameSourceMaker makeSource;
    Property written[32] = {};
    size_t writtenCount = 0;

    // The packet being delivered; used only on the delivery thread during its sink call.
    std::atomic<DWORD> callbackThread{0};
    ptp::Packet current;
    // Guards the packet delivered last, which FillPacket gives outside a delivery call.
    SRWLOCK lastLock = SRWLOCK_INIT;
    ptp::Packet last;
};

DWORD WINAPI DeliveryThread(void* parameter) {
    auto* run = static_cast<Delivery*>(parameter);
    // Keeps the library loaded until this thread has left its code.
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCWSTR>(&DeliveryThread), &self);
    run->Run();
    run->Release();
    CountDelivery(-1);
    if (self != nullptr) {
        FreeLibraryAndExitThread(self, 0);
    }
    return 0;
}

HRESULT DeviceObject::Launch(PacketSink* target) {
    AcquireSRWLockShared(&stateLock);
    const ptp::PadGeometry pad = geometry;
    const FrameSourceMaker maker = makeSource;
    ReleaseSRWLockShared(&stateLock);
    std::unique_ptr<FrameSource> frames;
    Delivery* run = nullptr;
    try {
        frames = maker();
        if (!frames) {
            return E_FAIL;
        }
        run = new Delivery(pad, std::move(frames));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    if (!run->stop || !run->ready) {
        const HRESULT failed = LastError();
        delete run;
        return failed;
    }
    run->sink = target;
    run->device = this;
    CountDelivery(1);
    run->thread = UniqueHandle(
        CreateThread(nullptr, 0, DeliveryThread, run, CREATE_SUSPENDED, &run->threadId));
    if (!run->thread) {
        const HRESULT failed = LastError();
        CountDelivery(-1);
        delete run;
        return failed;
    }
    AcquireSRWLockExclusive(&stateLock);
    delivery = run;
    ReleaseSRWLockExclusive(&stateLock);
    ResumeThread(run->thread.Get());
    // Claim reports whether raw input and the hook could be set up.
    const HANDLE waits[] = {run->ready.Get(), run->thread.Get()};
    WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    if (WaitForSingleObject(run->ready.Get(), 0) == WAIT_OBJECT_0 && SUCCEEDED(run->setup)) {
        return S_OK;
    }
    const HRESULT failed = FAILED(run->setup) ? run->setup : E_FAIL;
    WaitForSingleObject(run->thread.Get(), INFINITE);
    AcquireSRWLockExclusive(&stateLock);
    delivery = nullptr;
    ReleaseSRWLockExclusive(&stateLock);
    run->Release();
    return failed;
}

HWND Delivery::MakeWindow(HINSTANCE instance) {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WndProc;
    wc.hInstance = instance;
    wc.lpszClassName = WindowClass;
    // Another run's thread may have registered it already.
    if (RegisterClassExW(&wc) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        return nullptr;
    }
    return CreateWindowExW(0, WindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance,
                           this);
}

LRESULT CALLBACK Delivery::WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        // NOLINTNEXTLINE(performance-no-int-to-ptr): WM_NCCREATE's lParam is the creation record
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    // NOLINTNEXTLINE(performance-no-int-to-ptr): the user data is where WM_NCCREATE put the run
    auto* run = reinterpret_cast<Delivery*>(GetWindowLongPtrW(window, GWLP_USERDATA));
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

void Delivery::Run() {
    HMODULE instance = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&DeliveryThread), &instance);
    HWND window = MakeWindow(instance);
    MouseHook hook;
    if (window == nullptr || !source->Start(window)) {
        setup = LastError();
    } else {
        hook = MouseHook(&claimed);
        setup = hook ? S_OK : LastError();
    }
    if (SUCCEEDED(setup)) {
        recorder.emplace(RecordPath(), geometry, ClockMicros());
        SetTimer(window, IdleTimer, IdleCheckMs, nullptr);
    }
    SetEvent(ready.Get());

    if (SUCCEEDED(setup)) {
        HANDLE stopEvent = stop.Get();
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

    hook.Reset();
    if (window != nullptr) {
        if (SUCCEEDED(setup)) {
            KillTimer(window, IdleTimer);
            source->Stop();
        }
        DestroyWindow(window);
        // Fails while another run's window uses the class; the last run takes it away, so a
        // library loaded again later registers its own window procedure.
        UnregisterClassW(WindowClass, instance);
    }
    recorder.reset();
}

void Delivery::Deliver() {
    for (const ptp::Packet& packet : batch) {
        AcquireSRWLockExclusive(&lock);
        PacketSink* target = sink;
        DeviceObject* owner = device;
        const bool go = !stopped && target != nullptr && owner != nullptr;
        if (go) {
            owner->BeginCallback(packet);
        }
        ReleaseSRWLockExclusive(&lock);
        if (!go) {
            return;
        }
        if (recorder) {
            recorder->Write(packet, ClockMicros());
        }
        target->OnPacket(0);
        AcquireSRWLockShared(&lock);
        if (device != nullptr) {
            device->EndCallback();
        }
        ReleaseSRWLockShared(&lock);
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

ServerLocks serverLocks = {0};

ServerClassFactory factories[] = {
    ServerClassFactory(classes[0], serverLocks),
    ServerClassFactory(classes[1], serverLocks),
    ServerClassFactory(classes[2], serverLocks),
};
static_assert(std::size(factories) == std::size(classes));

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
    return GetServerClassObject(factories, clsid, iid, ppv);
}

LONG PtpLiveObjects() {
    return liveObjects.load();
}

HRESULT PtpCanUnloadNow() {
    AcquireSRWLockShared(&deliveryCountLock);
    const LONG deliveries = runningDeliveries;
    ReleaseSRWLockShared(&deliveryCountLock);
    const bool busy = PtpLiveObjects() != 0 || deliveries != 0 || serverLocks.Any();
    return busy ? S_FALSE : S_OK;
}

BOOL PtpWaitDelivery(DWORD ms) {
    const ULONGLONG deadline = GetTickCount64() + ms;
    AcquireSRWLockExclusive(&deliveryCountLock);
    BOOL idle = TRUE;
    while (runningDeliveries != 0) {
        const ULONGLONG now = GetTickCount64();
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
