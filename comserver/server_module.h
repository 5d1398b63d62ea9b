// What a device library DLL's COM exports do. Each DLL defines `serverModule`; dll_exports.cpp,
// built into each DLL, defines DllMain, DllGetClassObject, DllCanUnloadNow, DllRegisterServer
// and DllUnregisterServer over it.
#pragma once

#include <windows.h>
#include <unknwn.h>

struct ServerModule {
    HRESULT (*getClassObject)(REFCLSID clsid, REFIID iid, void** ppv);
    // S_OK when nothing of the library is alive.
    HRESULT (*canUnloadNow)();
    // Registers the classes with `dllPath` as their InprocServer32.
    HRESULT (*registerServer)(const wchar_t* dllPath);
    HRESULT (*unregisterServer)();
};

extern const ServerModule serverModule;
