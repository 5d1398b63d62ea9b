// The library's class table: its three classes, their factories and their self-registration
// (the way regsvr32 expects an in-process server to do it).
#include "velsim_core.h"

#include <iterator>

#include "com_server.h"

namespace {

template <SimObject Object> HRESULT Create(REFIID iid, void** ppv) {
    return SimCreateObject(Object, iid, ppv);
}

constexpr ServerClass classes[] = {
    {&CLSID_VelSimApi, ProgIdDeviceApi, Create<SimObject::VelAPI>},
    {&CLSID_VelSimPointingDevice, ProgIdPointingDevice, Create<SimObject::PointingDevice>},
    {&CLSID_VelSimPacket, ProgIdDevicePacket, Create<SimObject::VelPacket>},
};

constinit ServerFactories<std::size(classes)> factories(classes);

} // namespace

HRESULT SimGetClassObject(REFCLSID clsid, REFIID iid, void** ppv) {
    return factories.GetClassObject(clsid, iid, ppv);
}

bool SimServerLocked() {
    return factories.Locked();
}

HRESULT SimRegisterServer(const wchar_t* dllPath) {
    return RegisterServerClasses(classes, dllPath, L"Simulated touchpad ");
}

HRESULT SimUnregisterServer() {
    return UnregisterServerClasses(classes);
}
