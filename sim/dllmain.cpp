// velsim.dll's entry points: the COM exports (comserver/dll_exports.cpp) over the library's
// core, and the functions for tests and benchmarks.
#include "server_module.h"
#include "velsim_core.h"

const ServerModule serverModule = {SimGetClassObject, SimCanUnloadNow, SimRegisterServer,
                                   SimUnregisterServer};

extern "C" LONG WINAPI VelSimLiveObjects() {
    return SimLiveObjects();
}

extern "C" BOOL WINAPI VelSimWaitDelivery(DWORD ms) {
    return SimWaitDelivery(ms);
}
