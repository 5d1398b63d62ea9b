// Self-registration: the three classes under HKEY_CLASSES_ROOT\CLSID and their ProgIDs, the way
// regsvr32 expects an in-process server to do it.
#include "velsim_core.h"

#include <olectl.h>

#include <string>

namespace {

struct ClassEntry {
    const CLSID* clsid;
    const wchar_t* progId;
};

constexpr ClassEntry classes[] = {
    {&CLSID_VelSimApi, ProgIdDeviceApi},
    {&CLSID_VelSimPointingDevice, ProgIdPointingDevice},
    {&CLSID_VelSimPacket, ProgIdDevicePacket},
};

std::wstring ClsidKey(const CLSID& clsid) {
    wchar_t text[40] = {};
    StringFromGUID2(clsid, text, 40);
    return std::wstring(L"CLSID\\") + text;
}

// Creates HKCR\key and sets one string value (the default value when name is null).
bool SetString(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    HKEY handle = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, nullptr, &handle, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    auto bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    LONG result = RegSetValueExW(handle, name, 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(value.c_str()), bytes);
    RegCloseKey(handle);
    return result == ERROR_SUCCESS;
}

bool DeleteTree(const std::wstring& key) {
    LONG result = RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
}

} // namespace

HRESULT SimRegisterServer(const wchar_t* dllPath) {
    for (const auto& c : classes) {
        wchar_t clsidText[40] = {};
        StringFromGUID2(*c.clsid, clsidText, 40);
        const std::wstring key = ClsidKey(*c.clsid);
        const std::wstring description = std::wstring(L"Simulated touchpad ") + c.progId;
        bool ok = SetString(key, nullptr, description) &&
                  SetString(key + L"\\InprocServer32", nullptr, dllPath) &&
                  SetString(key + L"\\InprocServer32", L"ThreadingModel", L"Both") &&
                  SetString(key + L"\\ProgID", nullptr, c.progId) &&
                  SetString(c.progId, nullptr, description) &&
                  SetString(std::wstring(c.progId) + L"\\CLSID", nullptr, clsidText);
        if (!ok) {
            SimUnregisterServer();
            return SELFREG_E_CLASS;
        }
    }
    return S_OK;
}

HRESULT SimUnregisterServer() {
    bool ok = true;
    for (const auto& c : classes) {
        ok = DeleteTree(c.progId) && ok;
        ok = DeleteTree(ClsidKey(*c.clsid)) && ok;
    }
    return ok ? S_OK : SELFREG_E_CLASS;
}
