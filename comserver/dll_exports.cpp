// The COM exports of a device library DLL (its .def names them), over the DLL's serverModule.
#include <olectl.h>

#include <string>

#include "com_server.h"
#include "server_module.h"

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
    return serverModule.getClassObject(clsid, iid, ppv);
}

STDAPI DllCanUnloadNow() {
    return serverModule.canUnloadNow();
}

STDAPI DllRegisterServer() {
    const std::wstring path = ModulePath(module);
    return path.empty() ? SELFREG_E_CLASS : serverModule.registerServer(path.c_str());
}

STDAPI DllUnregisterServer() {
    return serverModule.unregisterServer();
}
