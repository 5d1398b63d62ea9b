// Holders for the device library's interface pointers, and the per-thread COM guard they use.
#pragma once

#include <utility>

#include "velcom.h"

// The object kinds. Each kind has its own ComThreadInit guard with its own TLS index.
enum class ComKind { DeviceApi, PointingDevice, DevicePacket };

// Makes sure COM is initialised on the calling thread for this kind. Returns true when this
// call initialised it (the first call of the kind on the thread), false otherwise.
bool ComThreadInit(ComKind kind);

// Creates an object of the library by ProgID (in-process, local or remote server).
// Returns null when the ProgID is unknown or the object cannot be made.
IUnknown* CreateByProgId(const wchar_t* progId, REFIID iid);

// Owns one interface pointer; releases it on destruction. Move-only.
template <class Interface> class ComHolderBase {
public:
    ComHolderBase() = default;
    ComHolderBase(const ComHolderBase&) = delete;
    ComHolderBase& operator=(const ComHolderBase&) = delete;
    ComHolderBase(ComHolderBase&& other) noexcept : ptr(std::exchange(other.ptr, nullptr)) {}
    ComHolderBase& operator=(ComHolderBase&& other) noexcept {
        if (this != &other) {
            Reset();
            ptr = std::exchange(other.ptr, nullptr);
        }
        return *this;
    }

    virtual LONG Reserved(LONG) { return 0; }

    Interface* Get() const { return ptr; }
    Interface* operator->() const { return ptr; }
    explicit operator bool() const { return ptr != nullptr; }
    void Reset() {
        if (ptr) {
            std::exchange(ptr, nullptr)->Release();
        }
    }

protected:
    ~ComHolderBase() { Reset(); }

    Interface* ptr = nullptr;
};

template <class Interface, ComKind Kind> struct ComTraits;
template <> struct ComTraits<DeviceApi, ComKind::DeviceApi> {
    static constexpr const wchar_t* progId = ProgIdDeviceApi;
    static constexpr const IID& iid = IID_DeviceApi;
};
template <> struct ComTraits<PointingDevice, ComKind::PointingDevice> {
    static constexpr const wchar_t* progId = ProgIdPointingDevice;
    static constexpr const IID& iid = IID_PointingDevice;
};
template <> struct ComTraits<DevicePacket, ComKind::DevicePacket> {
    static constexpr const wchar_t* progId = ProgIdDevicePacket;
    static constexpr const IID& iid = IID_DevicePacket;
};

// Creates its object on construction; stays empty when the object cannot be made.
template <class Interface, ComKind Kind> class ComHolder final : public ComHolderBase<Interface> {
public:
    ComHolder() {
        using Traits = ComTraits<Interface, Kind>;
        ComThreadInit(Kind);
        this->ptr = static_cast<Interface*>(CreateByProgId(Traits::progId, Traits::iid));
    }
};

using DeviceApiHolder = ComHolder<DeviceApi, ComKind::DeviceApi>;
using PointingDeviceHolder = ComHolder<PointingDevice, ComKind::PointingDevice>;

// The same for DevicePacket, without the virtual Reserved: a bare owning pointer.
class PacketHolder {
public:
    PacketHolder();
    ~PacketHolder() { Reset(); }
    PacketHolder(const PacketHolder&) = delete;
    PacketHolder& operator=(const PacketHolder&) = delete;
    PacketHolder(PacketHolder&& other) noexcept : ptr(std::exchange(other.ptr, nullptr)) {}
    PacketHolder& operator=(PacketHolder&& other) noexcept {
        if (this != &other) {
            Reset();
            ptr = std::exchange(other.ptr, nullptr);
        }
        return *this;
    }

    DevicePacket* Get() const { return ptr; }
    DevicePacket* operator->() const { return ptr; }
    explicit operator bool() const { return ptr != nullptr; }
    void Reset() {
        if (ptr) {
            std::exchange(ptr, nullptr)->Release();
        }
    }

private:
    DevicePacket* ptr = nullptr;
};
