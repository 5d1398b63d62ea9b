#include "support/class_registry.h"

#include <objbase.h>

std::wstring ClsidText(const CLSID& clsid) {
    wchar_t text[40] = {};
    StringFromGUID2(clsid, text, 40);
    return text;
}

std::wstring RegistryString(HKEY root, const std::wstring& key, const wchar_t* name) {
    wchar_t value[1024] = {};
    DWORD size = sizeof value;
    if (RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, value, &size) !=
        ERROR_SUCCESS) {
        return L"<missing>";
    }
    return value;
}

std::wstring ClassesString(const std::wstring& key, const wchar_t* name) {
    return RegistryString(HKEY_CLASSES_ROOT, key, name);
}
