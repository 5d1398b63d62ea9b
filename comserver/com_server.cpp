#include "com_server.h"

#include <objbase.h>
#include <olectl.h>

namespace {

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

std::wstring ClsidKey(const CLSID& clsid) {
    return L"CLSID\\" + GuidText(clsid);
}

// True when HKCR\<progId>\CLSID names `clsid`.
bool ProgIdPointsAt(const wchar_t* progId, const CLSID& clsid) {
    wchar_t text[64] = {};
    DWORD size = sizeof text;
    const std::wstring key = std::wstring(progId) + L"\\CLSID";
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, text,
                     &size) != ERROR_SUCCESS) {
        return false;
    }
    CLSID named = {};
    return SUCCEEDED(CLSIDFromString(text, &named)) && IsEqualCLSID(named, clsid);
}

} // namespace

HRESULT STDMETHODCALLTYPE ServerClassFactory::QueryInterface(REFIID iid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
        *ppv = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE ServerClassFactory::CreateInstance(IUnknown* outer, REFIID iid,
                                                             void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (outer != nullptr) {
        return CLASS_E_NOAGGREGATION;
    }
    return serverClass->create(iid, ppv);
}

HRESULT STDMETHODCALLTYPE ServerClassFactory::LockServer(BOOL lock) {
    serverLocks->Add(lock ? 1 : -1);
    return S_OK;
}

HRESULT GetServerClassObject(std::span<ServerClassFactory> factories, REFCLSID clsid, REFIID iid,
                             void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    for (ServerClassFactory& factory : factories) {
        if (IsEqualCLSID(clsid, *factory.Class().clsid)) {
            return factory.QueryInterface(iid, ppv);
        }
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT RegisterServerClasses(std::span<const ServerClass> classes, const wchar_t* dllPath,
                              const wchar_t* description) {
    for (const ServerClass& c : classes) {
        const std::wstring key = ClsidKey(*c.clsid);
        const std::wstring text = std::wstring(description) + c.progId;
        // The class first, then the ProgID: a ProgID never points at a class that is not there.
        bool ok = SetString(key, nullptr, text) &&
                  SetString(key + L"\\InprocServer32", nullptr, dllPath) &&
                  SetString(key + L"\\InprocServer32", L"ThreadingModel", L"Both") &&
                  SetString(key + L"\\ProgID", nullptr, c.progId) &&
                  SetString(std::wstring(c.progId) + L"\\CLSID", nullptr, GuidText(*c.clsid)) &&
                  SetString(c.progId, nullptr, text);
        if (!ok) {
            UnregisterServerClasses(classes);
            return SELFREG_E_CLASS;
        }
    }
    return S_OK;
}

HRESULT UnregisterServerClasses(std::span<const ServerClass> classes) {
    bool ok = true;
    for (const ServerClass& c : classes) {
        if (ProgIdPointsAt(c.progId, *c.clsid)) {
            ok = DeleteTree(c.progId) && ok;
        }
        ok = DeleteTree(ClsidKey(*c.clsid)) && ok;
    }
    return ok ? S_OK : SELFREG_E_CLASS;
}

std::wstring ModulePath(HMODULE module) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD got = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (got == 0) {
            return {};
        }
        if (got < path.size()) {
            path.resize(got);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::wstring GuidText(const GUID& guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}
