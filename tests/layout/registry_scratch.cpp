#include "registry_scratch.h"

#include "layout/reg_key.h"

bool CreateKey(const char* key) {
    HKEY created = nullptr;
    if (RegCreateKeyA(HKEY_LOCAL_MACHINE, key, &created) != ERROR_SUCCESS) {
        return false;
    }
    RegKeyHandle holder(created);
    return true;
}

bool StoreValue(const char* key, const StoredValue& value) {
    HKEY created = nullptr;
    if (RegCreateKeyA(HKEY_LOCAL_MACHINE, key, &created) != ERROR_SUCCESS) {
        return false;
    }
    RegKeyHandle holder(created);
    return RegSetValueExA(holder.Get(), value.name, 0, value.type,
                          reinterpret_cast<const BYTE*>(value.data), value.size) == ERROR_SUCCESS;
}

bool KeyExists(const char* key) {
    HKEY opened = nullptr;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, key, &opened) != ERROR_SUCCESS) {
        return false;
    }
    RegKeyHandle holder(opened);
    return true;
}

void DeleteKeyTree(const char* key, const char* parent) {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, key);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, key);
    // Fails, and keeps the parent, while anything else lives below it.
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, parent);
}
