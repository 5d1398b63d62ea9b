#include "volume.h"

#include <initguid.h>

#include <endpointvolume.h>
#include <mmdeviceapi.h>

#include <atomic>
#include <new>
#include <string>
#include <utility>

namespace overlay {

namespace {

// One interface pointer, released once. Move-only.
template <class Interface> class ComRef {
public:
    ComRef() = default;
    ~ComRef() { Reset(); }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    ComRef(ComRef&& other) noexcept : ptr(std::exchange(other.ptr, nullptr)) {}
    ComRef& operator=(ComRef&& other) noexcept {
        if (this != &other) {
            Reset();
            ptr = std::exchange(other.ptr, nullptr);
        }
        return *this;
    }

    Interface* Get() const { return ptr; }
    Interface* operator->() const { return ptr; }
    explicit operator bool() const { return ptr != nullptr; }
    // For a call that hands back a new reference.
    Interface** Put() {
        Reset();
        return &ptr;
    }
    void** Out() { return reinterpret_cast<void**>(Put()); }
    void Reset() {
        if (ptr != nullptr) {
            std::exchange(ptr, nullptr)->Release();
        }
    }

private:
    Interface* ptr = nullptr;
};

} // namespace

// Told of volume changes, on the system's threads.
class EndpointVolume::Listener final : public IAudioEndpointVolumeCallback {
public:
    Listener(WakeFn wakeFn, void* wakeContext) : wake(wakeFn), context(wakeContext) {}
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;
    Listener(Listener&&) = delete;
    Listener& operator=(Listener&&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(iid, IID_IUnknown) ||
            IsEqualIID(iid, __uuidof(IAudioEndpointVolumeCallback))) {
            *out = static_cast<IAudioEndpointVolumeCallback*>(this);
        } else {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references;
        if (left == 0) {
            delete this;
        }
        return left;
    }

    HRESULT STDMETHODCALLTYPE OnNotify(PAUDIO_VOLUME_NOTIFICATION_DATA data) override {
        if (data != nullptr) {
            Set(VolumeLevel{data->fMasterVolume, data->bMuted != FALSE});
        }
        return S_OK;
    }
    void Set(std::optional<VolumeLevel> value) {
        AcquireSRWLockExclusive(&lock);
        const bool changed = level != value;
        level = value;
        ReleaseSRWLockExclusive(&lock);
        if (changed) {
            wake(context);
        }
    }
    std::optional<VolumeLevel> Get() {
        AcquireSRWLockShared(&lock);
        const std::optional<VolumeLevel> value = level;
        ReleaseSRWLockShared(&lock);
        return value;
    }

private:
    ~Listener() = default;

    std::atomic<ULONG> references{1};
    WakeFn wake;
    void* context;
    SRWLOCK lock = SRWLOCK_INIT;
    std::optional<VolumeLevel> level;
};

struct EndpointVolume::Endpoint {
    ComRef<IMMDeviceEnumerator> enumerator;
    std::wstring output; // the open endpoint's id
    ComRef<IAudioEndpointVolume> volume;
    bool toldOfVolume = false;
};

EndpointVolume::EndpointVolume(WakeFn wakeFn, void* wakeContext)
    : wake(wakeFn), context(wakeContext) {
    listener = new (std::nothrow) Listener(wake, context);
    endpoint.reset(new (std::nothrow) Endpoint);
    if (listener == nullptr || !endpoint) {
        return;
    }
    if (FAILED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_INPROC_SERVER,
                                __uuidof(IMMDeviceEnumerator), endpoint->enumerator.Out()))) {
        return;
    }
    Open();
}

EndpointVolume::~EndpointVolume() {
    Close();
    endpoint.reset();
    if (listener != nullptr) {
        listener->Release();
    }
}

void EndpointVolume::Open() {
    if (!endpoint || !endpoint->enumerator) {
        return;
    }
    ComRef<IMMDevice> device;
    // No output (E_NOTFOUND): no level, and nothing to report.
    if (FAILED(endpoint->enumerator->GetDefaultAudioEndpoint(eRender, eMultimedia, device.Put())) ||
        FAILED(device->Activate(__uuidof(IAudioEndpointVolume), CLSCTX_INPROC_SERVER, nullptr,
                                endpoint->volume.Out()))) {
        endpoint->volume.Reset();
        listener->Set(std::nullopt);
        return;
    }
    endpoint->toldOfVolume = SUCCEEDED(endpoint->volume->RegisterControlChangeNotify(listener));
    float level = 0;
    BOOL muted = FALSE;
    if (SUCCEEDED(endpoint->volume->GetMasterVolumeLevelScalar(&level)) &&
        SUCCEEDED(endpoint->volume->GetMute(&muted))) {
        listener->Set(VolumeLevel{level, muted != FALSE});
    } else {
        listener->Set(std::nullopt);
    }
}

void EndpointVolume::Close() {
    if (endpoint && endpoint->volume) {
        if (endpoint->toldOfVolume) {
            endpoint->volume->UnregisterControlChangeNotify(listener);
        }
        endpoint->toldOfVolume = false;
        endpoint->volume.Reset();
    }
}

bool EndpointVolume::SameOutput() {
    ComRef<IMMDevice> device;
    if (FAILED(endpoint->enumerator->GetDefaultAudioEndpoint(eRender, eMultimedia, device.Put()))) {
        return endpoint->output.empty();
    }
    LPWSTR id = nullptr;
    if (FAILED(device->GetId(&id)) || id == nullptr) {
        return false;
    }
    const bool same = endpoint->output == id;
    CoTaskMemFree(id);
    return same;
}

void EndpointVolume::Recheck() {
    if (endpoint && endpoint->enumerator && !SameOutput()) {
        Close();
        Open();
    }
}

std::optional<VolumeLevel> EndpointVolume::Level() const {
    return listener != nullptr ? listener->Get() : std::nullopt;
}

} // namespace overlay
