// The simulated touchpad library's core: the scenario and its parser, the journal, the COM
// objects with their class factory, and self-registration. velsim.dll exports thin wrappers
// over it; tests link it to call the parser directly.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "device/velcom.h"

// Class identifiers of the three objects, registered under their ProgIDs.
inline constexpr CLSID CLSID_VelSimApi = {
    0x5e0b7a61, 0x3c2d, 0x4f8e, {0x9a, 0x41, 0x6d, 0x12, 0xc8, 0x77, 0x0b, 0x01}};
inline constexpr CLSID CLSID_VelSimPointingDevice = {
    0x5e0b7a61, 0x3c2d, 0x4f8e, {0x9a, 0x41, 0x6d, 0x12, 0xc8, 0x77, 0x0b, 0x02}};
inline constexpr CLSID CLSID_VelSimPacket = {
    0x5e0b7a61, 0x3c2d, 0x4f8e, {0x9a, 0x41, 0x6d, 0x12, 0xc8, 0x77, 0x0b, 0x03}};

// The library's own objects, in the order of the `create` directive's names.
enum class SimObject { VelAPI, PointingDevice, VelPacket };
inline constexpr int SimObjectCount = 3;
inline constexpr const char* SimObjectNames[SimObjectCount] = {"VelAPI", "PointingDevice",
                                                               "VelPacket"};

// Operations whose status a scenario can script, in the order of the `status` directive's names.
enum class SimOp { Prepare, LocateDevice, Attach, SetPacketSink, Claim };
inline constexpr int SimOpCount = 5;
inline constexpr const char* SimOpNames[SimOpCount] = {"Prepare", "LocateDevice", "Attach",
                                                       "SetPacketSink", "Claim"};

// One scripted packet: the five packet properties and the wait before it is delivered.
struct SimPacketData {
    LONG a = 0;
    LONG b = 0;
    LONG x = 0;
    LONG y = 0;
    LONG motion = 0;
    LONG pauseMs = 0;
};

struct SimDeviceProperty {
    LONG id = 0;
    LONG value = 0;
};

struct SimCreateRule {
    bool fail = false;
    // Creations of the object that succeed before it fails; 0 means it always fails.
    LONG after = 0;
};

// A parsed scenario. The defaults are those of a scenario file with no directives.
struct Scenario {
    LONG handle = 1;
    LONG kind = DeviceKindTouchpad;
    LONG edges[4] = {1000, 1000, 7000, 5800};
    std::vector<SimDeviceProperty> properties;
    LONG status[SimOpCount] = {};
    // Milliseconds each operation takes before it returns (after any delivery it starts).
    LONG delayMs[SimOpCount] = {};
    SimCreateRule create[SimObjectCount] = {};
    bool deliverAfterSink = false;
    // Packets per second; 0 delivers as fast as the sink takes them.
    LONG rateHz = 125;
    // Times the packet list is played; 0 plays it until delivery is stopped.
    LONG repeat = 1;
    bool journalPacketReads = false;
    std::vector<SimPacketData> packets;
};

struct ScenarioError {
    int line = 0; // 1-based; 0 when the error is not on a line (e.g. the file cannot be read)
    std::string message;
};

// Parses scenario text. Never fills in defaults for a line it cannot understand.
std::variant<Scenario, ScenarioError> ParseScenario(std::string_view text);

// Object creation for the class factory; any thread. Returns a COM status.
HRESULT SimCreateObject(SimObject object, REFIID iid, void** ppv);

// The class factory for a CLSID; CLASS_E_CLASSNOTAVAILABLE for a foreign one.
HRESULT SimGetClassObject(REFCLSID clsid, REFIID iid, void** ppv);

// S_OK when no object, server lock or delivery thread of the library is alive.
HRESULT SimCanUnloadNow();

// True while a LockServer lock of the library's class factories is held.
bool SimServerLocked();

// Count of the process's live objects.
LONG SimLiveObjects();

// Waits until no delivery thread of the process runs; FALSE on time-out.
BOOL SimWaitDelivery(DWORD ms);

// Writes or removes the three classes and their ProgIDs under HKEY_CLASSES_ROOT. dllPath is
// the InprocServer32 path. Removing keys that are already gone is not an error; a ProgID that
// another library has taken over is left to it.
HRESULT SimRegisterServer(const wchar_t* dllPath);
HRESULT SimUnregisterServer();

// velsim.dll's extra exports, for a process that loads it and looks them up by name.
using VelSimLiveObjectsFn = LONG(WINAPI*)();
using VelSimWaitDeliveryFn = BOOL(WINAPI*)(DWORD ms);
