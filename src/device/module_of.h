// The module (the program or a DLL) whose image holds an address: a window class's or a hook's
// module, and the DLL a thread keeps loaded until it has left the DLL's code.
#pragma once

#include <windows.h>

// The module holding `address` (a function or data of it); null when no module does. With
// `addReference` the module gets a reference, which the caller frees (FreeLibrary or
// FreeLibraryAndExitThread); without it the module's reference count is left as it is.
template <class T> HMODULE ModuleOf(T* address, bool addReference = false) {
    HMODULE module = nullptr;
    const DWORD flags = GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                        (addReference ? 0 : GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT);
    // The address is not a name: GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS reads it as an address.
    GetModuleHandleExW(flags, reinterpret_cast<LPCWSTR>(address), &module);
    return module;
}
