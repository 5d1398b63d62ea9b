// velsim.dll's entry points: the COM server exports and the functions for tests and benchmarks.
#include "velsim_core.h"

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
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD got = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (got == 0) {
            return SELFREG_E_CLASS;
        }
        if (got < path.size()) {
            path.resize(got);
            break;
        }
        path.resize(path.size() * 2);
    }
    return SimRegisterServer(path.c_str());
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
