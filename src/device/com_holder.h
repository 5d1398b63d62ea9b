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

// Owns a class factory of the library. Move-only.
class ClassFactoryHolder {
public:
    ClassFactoryHolder() = default;
    // The factory of the class behind `progId` (in-process, local or remote server); empty
    // when there is none.
    explicit ClassFactoryHolder(const wchar_t* progId);
    ~ClassFactoryHolder() { Reset(); }
    ClassFactoryHolder(const ClassFactoryHolder&) = delete;
    ClassFactoryHolder& operator=(const ClassFactoryHolder&) = delete;
    ClassFactoryHolder(ClassFactoryHolder&& other) noexcept
        : ptr(std::exchange(other.ptr, nullptr)) {}
    ClassFactoryHolder& operator=(ClassFactoryHolder&& other) noexcept {
        if (this != &other) {
            Reset();
            ptr = std::exchange(other.ptr, nullptr);
        }
        return *this;
    }

    IClassFactory* Get() const { return ptr; }
    explicit operator bool() const { return ptr != nullptr; }
    void Reset() {
        if (ptr) {
            std::exchange(ptr, nullptr)->Release();
        }
    }

private:
    IClassFactory* ptr = nullptr;
};

// The same for DevicePacket, without the virtual Reserved: a bare owning pointer.
class PacketHolder {
public:
    // Made by ProgID.
    PacketHolder();
    // Made by a factory of the packet class that the caller keeps: no registry look-up, which
    // matters for a packet made on every touchpad report. An empty factory gives an empty
    // holder.
    explicit PacketHolder(IClassFactory* factory);
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
