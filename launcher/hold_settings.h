// The launcher's settings, in HKCU\Software\Velmora\Tapdeck\Launcher: whether a corner hold
// starts Tapdeck, which corner, how large and how long. The decision is pure; the registry read
// and write are the thin layer over it.
#pragma once

#include <windows.h>

#include <cstdint>

#include "hold.h"

namespace launcher {

inline constexpr wchar_t LauncherKeyPath[] = L"Software\\Velmora\\Tapdeck\\Launcher";

// The values and their ranges; anything else (missing, not a 4-byte REG_DWORD, out of range)
// gives the default.
inline constexpr wchar_t ValueEnabled[] = L"Enabled";             // 0 or 1, default 1
inline constexpr wchar_t ValueCorner[] = L"Corner";               // 0..3, default 2 (top right)
inline constexpr wchar_t ValueCornerPercent[] = L"CornerPercent"; // 3..25, default 10
inline constexpr wchar_t ValueHoldMs[] = L"HoldMs";               // 300..3000, default 800
inline constexpr uint32_t MinCornerPercent = 3;
inline constexpr uint32_t MaxCornerPercent = 25;
inline constexpr uint32_t MinHoldMs = 300;
inline constexpr uint32_t MaxHoldMs = 3000;

// The corners as the panel's OverlayCorner numbers them.
inline constexpr uint32_t CornerNumber(Corner corner) {
    switch (corner) {
    case Corner::BottomRight:
        return 0;
    case Corner::BottomLeft:
        return 1;
    case Corner::TopRight:
        return 2;
    case Corner::TopLeft:
        return 3;
    }
    return 2;
}

// One value as the registry holds it: absent, or its type, its size and its first 4 bytes.
struct StoredValue {
    bool present = false;
    DWORD type = REG_NONE;
    DWORD size = 0;
    uint32_t data = 0;
};

struct StoredSettings {
    StoredValue enabled;
    StoredValue corner;
    StoredValue cornerPercent;
    StoredValue holdMs;
};

HoldSettings DecideSettings(const StoredSettings& stored);

// The current user's settings (the key is never created by reading).
HoldSettings ReadSettings();
// Switches the corner hold on or off for the current user; false when it cannot be written.
bool WriteEnabled(bool on);

} // namespace launcher
