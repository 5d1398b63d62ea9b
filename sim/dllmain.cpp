// velsim.dll's entry points: the COM server exports and the functions for tests and benchmarks.
#include "velsim_core.h"

#include "com_server.h"

#include <olectl.h>

#include <string>

namespace {
HINSTANCE module = nullptr;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        module = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* ppv) {
    return SimGetClassObject(clsid, iid, ppv);
}

STDAPI DllCanUnloadNow() {
    return SimCanUnloadNow();
}

STDAPI DllRegisterServer() {
    const std::wstring path = ModulePath(module);
    return path.empty() ? SELFREG_E_CLASS : SimRegisterServer(path.c_str());
}

STDAPI DllUnregisterServer() {
    return SimUnregisterServer();
}

extern "C" LONG WINAPI VelSimLiveObjects() {
    return SimLiveObjects();
}

extern "C" BOOL WINAPI VelSimWaitDelivery(DWORD ms) {
    return SimWaitDelivery(ms);
}
