// A reader for one registry key: opens (or creates) a key below a root key and reads 32-bit
// values from it. Used by one thread at a time; takes no locks.
#pragma once

#include <windows.h>

#include <memory>

// Owns one open registry key and closes it with RegCloseKey. Move-only.
class RegKeyHandle {
public:
    RegKeyHandle() = default;
    explicit RegKeyHandle(HKEY key) : handle(key) {}
    ~RegKeyHandle() { Reset(); }
    RegKeyHandle(const RegKeyHandle&) = delete;
    RegKeyHandle& operator=(const RegKeyHandle&) = delete;
    RegKeyHandle(RegKeyHandle&& other) noexcept : handle(other.Release()) {}
    RegKeyHandle& operator=(RegKeyHandle&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }

    HKEY Get() const { return handle; }
    explicit operator bool() const { return handle != nullptr; }
    // Closes the held key, if any, and takes `key` in its place.
    void Reset(HKEY key = nullptr);
    HKEY Release() {
        HKEY key = handle;
        handle = nullptr;
        return key;
    }

private:
    HKEY handle = nullptr;
};

// A key's identity as IsSameKey compares it: the root and the subkey path below it.
struct RegKeyIdentity {
    HKEY root;
    const char* path;
};

class RegKey {
public:
    RegKey() = default;
    virtual ~RegKey() { Close(); }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    RegKey(RegKey&& other) noexcept;
    RegKey& operator=(RegKey&& other) noexcept;

    // True when `other` names this key: same root and, when `other` gives a path, the same
    // path byte for byte; a null path in `other` matches any key of the root that holds one.
    virtual bool IsSameKey(const RegKeyIdentity* other) const;
    virtual LONG Reserved(LONG) { return 0; }

    // Drops what the reader holds, then opens (or with `create`, creates) `path` below `root`.
    // True when the registry call succeeded. After a failed call the reader keeps `root` and
    // `path` but holds no open key, so later reads fall back to their defaults.
    bool Open(HKEY rootKey, const char* subkeyPath, bool create);

    // Reads the 32-bit value `name` (of the open key, or of `subkey` below it) into `*dest`.
    // `*def` is read before anything else, so `dest` and `def` may be the same variable. True
    // for a REG_DWORD, or a 4-byte REG_BINARY; a value of another type that fits in 4 bytes
    // gives false with its bytes left in `*dest`. An absent or longer value, a missing subkey or
    // no open key stores `*def` and gives true, or gives false when `def` is null.
    bool QueryDword(const char* name, DWORD* dest, const DWORD* def, const char* subkey) const;

    void Close();

    RegKeyIdentity Identity() const { return {root, path.get()}; }
    bool IsOpen() const { return static_cast<bool>(openKey); }

private:
    HKEY root = nullptr;
    std::unique_ptr<char[]> path;
    RegKeyHandle openKey;
};
