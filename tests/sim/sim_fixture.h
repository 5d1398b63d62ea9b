// What the simulated library's tests share: owning interface pointers, creation by ProgID as
// the program does it, and a fixture that checks no object outlives a test.
#pragma once

#include <gtest/gtest.h>

#include <utility>

#include "device/velcom.h"
#include "support/sim_scenario.h"

// Owns one interface pointer. Move-only.
template <class Interface> class Owned {
public:
    Owned() = default;
    explicit Owned(Interface* p) : ptr(p) {}
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    Owned(Owned&& other) noexcept : ptr(std::exchange(other.ptr, nullptr)) {}
    Owned& operator=(Owned&& other) noexcept {
        if (this != &other) {
            Reset();
            ptr = std::exchange(other.ptr, nullptr);
        }
        return *this;
    }
    ~Owned() { Reset(); }

    Interface* Get() const { return ptr; }
    Interface* operator->() const { return ptr; }
    explicit operator bool() const { return ptr != nullptr; }
    void Reset() {
        if (ptr) {
            std::exchange(ptr, nullptr)->Release();
        }
    }

private:
    Interface* ptr = nullptr;
};

// CLSIDFromProgID and CoCreateInstance with the program's class context; `result` gets the
// first failing status.
template <class Interface>
Owned<Interface> Make(const wchar_t* progId, REFIID iid, HRESULT* result = nullptr) {
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(progId, &clsid);
    void* object = nullptr;
    if (SUCCEEDED(hr)) {
        hr = CoCreateInstance(clsid, nullptr, 0x15, iid, &object);
    }
    if (result != nullptr) {
        *result = hr;
    }
    return Owned<Interface>(SUCCEEDED(hr) ? static_cast<Interface*>(object) : nullptr);
}

inline Owned<DeviceApi> MakeApi(HRESULT* hr = nullptr) {
    return Make<DeviceApi>(ProgIdDeviceApi, IID_DeviceApi, hr);
}
inline Owned<PointingDevice> MakeDevice(HRESULT* hr = nullptr) {
    return Make<PointingDevice>(ProgIdPointingDevice, IID_PointingDevice, hr);
}
inline Owned<DevicePacket> MakePacket(HRESULT* hr = nullptr) {
    return Make<DevicePacket>(ProgIdDevicePacket, IID_DevicePacket, hr);
}

// Every test starts and must end with no live object and no delivery thread in the process.
class SimTest : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        ASSERT_NE(SimModule(), nullptr) << "VELSIM_DLL cannot be loaded";
        ASSERT_EQ(SimLiveObjects(), 0);
    }
    void TearDown() override {
        EXPECT_TRUE(SimWaitDelivery(5000));
        EXPECT_EQ(SimLiveObjects(), 0);
    }
};
