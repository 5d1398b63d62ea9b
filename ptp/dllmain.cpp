// velptp.dll's entry points: the COM server exports.
#include "velptp_core.h"

#include <olectl.h>

#include <string>

#include "com_server.h"

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
    return PtpGetClassObject(clsid, iid, ppv);
}

STDAPI DllCanUnloadNow() {
    return PtpCanUnloadNow();
}

STDAPI DllRegisterServer() {
    const std::wstring path = ModulePath(module);
    return path.empty() ? SELFREG_E_CLASS : PtpRegisterServer(path.c_str());
}

STDAPI DllUnregisterServer() {
    return PtpUnregisterServer();
}
