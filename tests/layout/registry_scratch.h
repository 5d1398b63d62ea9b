// Values written into the test prefix's real registry, and removal of the keys tests create.
#pragma once

#include <windows.h>

// One value to store: `type` and `size` bytes of `data` (which may hold zeros).
struct StoredValue {
    const char* name = nullptr;
    DWORD type = REG_NONE;
    const char* data = nullptr;
    DWORD size = 0;
};

// Creates HKLM\`key` when needed and stores `value` in it; false when the registry refused.
bool StoreValue(const char* key, const StoredValue& value);
// Creates HKLM\`key` (empty) when needed.
bool CreateKey(const char* key);
bool KeyExists(const char* key);
// Deletes HKLM\`key` with everything below it, then `parent` when that is left empty.
void DeleteKeyTree(const char* key, const char* parent);
