#include "reg_key.h"

#include <cstring>
#include <new>
#include <utility>

void RegKeyHandle::Reset(HKEY key) {
    HKEY old = handle;
    handle = key;
    if (old) {
        RegCloseKey(old);
    }
}

RegKey::RegKey(RegKey&& other) noexcept
    : root(std::exchange(other.root, nullptr)), path(std::move(other.path)),
      openKey(std::move(other.openKey)) {}

RegKey& RegKey::operator=(RegKey&& other) noexcept {
    if (this != &other) {
        Close();
        root = std::exchange(other.root, nullptr);
        path = std::move(other.path);
        openKey = std::move(other.openKey);
    }
    return *this;
}

bool RegKey::IsSameKey(const RegKeyIdentity* other) const {
    if (!other || other->root != root) {
        return false;
    }
    if (!other->path) {
        return path != nullptr;
    }
    return path && std::strcmp(path.get(), other->path) == 0;
}

bool RegKey::Open(HKEY rootKey, const char* subkeyPath, bool create) {
    openKey.Reset();
    path.reset();
    if (!subkeyPath) {
        Close();
        return false;
    }

    HKEY opened = nullptr;
    const LONG status = create ? RegCreateKeyA(rootKey, subkeyPath, &opened)
                               : RegOpenKeyA(rootKey, subkeyPath, &opened);
    if (status == ERROR_SUCCESS) {
        openKey.Reset(opened);
    }

    const size_t size = std::strlen(subkeyPath) + 1;
    path.reset(new (std::nothrow) char[size]);
    if (!path) {
        Close();
        return false;
    }
    std::memcpy(path.get(), subkeyPath, size);
    root = rootKey;
    return status == ERROR_SUCCESS;
}

bool RegKey::QueryDword(const char* name, DWORD* dest, const DWORD* def, const char* subkey) const {
    // Read first: the destination may be the default itself.
    const DWORD fallback = def ? *def : 0;
    if (!name || !dest) {
        return false;
    }

    if (openKey) {
        HKEY queried = openKey.Get();
        RegKeyHandle sub;
        bool reachable = true;
        if (subkey) {
            HKEY opened = nullptr;
            if (RegOpenKeyA(queried, subkey, &opened) == ERROR_SUCCESS) {
                sub.Reset(opened);
                queried = opened;
            } else {
                reachable = false;
            }
        }
        if (reachable) {
            DWORD type = REG_NONE;
            DWORD size = sizeof(DWORD);
            const LONG status = RegQueryValueExA(queried, name, nullptr, &type,
                                                 reinterpret_cast<BYTE*>(dest), &size);
            sub.Reset();
            if (status == ERROR_SUCCESS) {
                return type == REG_DWORD || (type == REG_BINARY && size == sizeof(DWORD));
            }
        }
    }

    if (!def) {
        return false;
    }
    *dest = fallback;
    return true;
}

void RegKey::Close() {
    openKey.Reset();
    root = nullptr;
    path.reset();
}
