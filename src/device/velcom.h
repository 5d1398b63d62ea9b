// The touchpad maker's COM device library as Tapdeck sees it: three objects made by ProgID,
// their operations in vtable slot order, the property identifiers, and the packet callback.
// The program and the simulated library both include this one declaration.
#pragma once

#include <windows.h>
#include <unknwn.h>

// ProgIDs of the library's objects.
inline constexpr wchar_t ProgIdDeviceApi[] = L"VelCom.VelAPI";
inline constexpr wchar_t ProgIdPointingDevice[] = L"VelCom.PointingDevice";
inline constexpr wchar_t ProgIdDevicePacket[] = L"VelCom.VelPacket";

// Interface identifiers. GCC ignores __declspec(uuid), so they are plain constants.
inline constexpr IID IID_DeviceApi = {
    0x7a3fb6cb, 0xae37, 0x4371, {0xb0, 0x17, 0xa5, 0xf8, 0x48, 0xfd, 0x24, 0xe2}};
inline constexpr IID IID_PointingDevice = {
    0xb6cbbfbf, 0xc70f, 0x417d, {0xb4, 0xc5, 0x88, 0xdf, 0xce, 0x74, 0xed, 0xb1}};
inline constexpr IID IID_DevicePacket = {
    0x746ca763, 0x4355, 0x476f, {0xbf, 0x3f, 0x0d, 0x83, 0x64, 0x7a, 0x9d, 0x9e}};

// Property identifiers. Device properties are read from PointingDevice, packet properties
// from DevicePacket.
inline constexpr LONG PropDeviceKind = 0x10000107; // must read DeviceKindTouchpad
inline constexpr LONG PropXLo = 0x10000115;
inline constexpr LONG PropYLo = 0x10000116;
inline constexpr LONG PropXHi = 0x10000117;
inline constexpr LONG PropYHi = 0x10000118;
inline constexpr LONG PropModeLed = 0x01000292; // written: ModeLedOn or ModeLedOff
inline constexpr LONG PropX = 0x10000309;
inline constexpr LONG PropY = 0x1000030A;
inline constexpr LONG PropMotion = 0x10000310;
inline constexpr LONG PropFlagsA = 0x10000312; // FlagsAFinger, FlagsAGesture
inline constexpr LONG PropFlagsB = 0x10000313; // FlagsBFinger

inline constexpr LONG DeviceKindTouchpad = 13;
inline constexpr LONG ModeLedOn = 200;
inline constexpr LONG ModeLedOff = 208;
inline constexpr DWORD FlagsAFinger = 0x2000;   // bit 13 of PropFlagsA
inline constexpr DWORD FlagsAGesture = 0x10000; // bit 16 of PropFlagsA
inline constexpr DWORD FlagsBFinger = 0x100;    // bit 8 of PropFlagsB

// Selectors that LocateDevice is called with, and the handle it leaves when it finds nothing.
inline constexpr LONG LocateSelector = 2;
inline constexpr LONG NoDeviceHandle = -1;

// Every operation returns a 32-bit status, 0 for success. The Reserved slots exist in the
// library but Tapdeck never calls them; they keep the slot order of the operations it does call.

struct DeviceApi : IUnknown {
    virtual LONG STDMETHODCALLTYPE Prepare() = 0;
    virtual LONG STDMETHODCALLTYPE LocateDevice(LONG selectorA, LONG selectorB, LONG* handle) = 0;
    virtual LONG STDMETHODCALLTYPE ReservedA() = 0;
};

struct DevicePacket : IUnknown {
    virtual LONG STDMETHODCALLTYPE ReadProperty(LONG id, LONG* value) = 0;
    virtual LONG STDMETHODCALLTYPE ReservedA() = 0;
    virtual LONG STDMETHODCALLTYPE CopyPacket(DevicePacket* source) = 0;
    virtual LONG STDMETHODCALLTYPE ReservedB() = 0;
};

// The packet callback. It has no IUnknown part: the library neither AddRefs nor Releases it.
struct PacketSink {
    virtual LONG STDMETHODCALLTYPE OnPacket(LONG unused) = 0;

protected:
    ~PacketSink() = default;
};

struct PointingDevice : IUnknown {
    virtual LONG STDMETHODCALLTYPE ReadProperty(LONG id, LONG* value) = 0;
    virtual LONG STDMETHODCALLTYPE WriteProperty(LONG id, LONG value) = 0;
    virtual LONG STDMETHODCALLTYPE ReservedA() = 0;
    virtual LONG STDMETHODCALLTYPE FillPacket(DevicePacket* packet) = 0;
    virtual LONG STDMETHODCALLTYPE ReservedB() = 0;
    virtual LONG STDMETHODCALLTYPE Claim(LONG mode) = 0;
    virtual LONG STDMETHODCALLTYPE Unclaim() = 0;
    virtual LONG STDMETHODCALLTYPE ReservedC() = 0;
    virtual LONG STDMETHODCALLTYPE Attach(LONG handle) = 0;
    virtual LONG STDMETHODCALLTYPE ReservedD() = 0;
    // A null sink stops delivery; once it returns, no call to the old sink is running or will
    // start (unless it is made from inside that sink's OnPacket).
    virtual LONG STDMETHODCALLTYPE SetPacketSink(PacketSink* sink) = 0;
    virtual LONG STDMETHODCALLTYPE ReservedE() = 0;
};
