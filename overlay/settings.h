// The panel's settings, read at each claim from HKCU\Software\Velmora\Tapdeck\PrecisionTouchpad.
// The decisions are pure; ReadOverlaySettings is the registry read.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>

namespace overlay {

inline constexpr wchar_t SettingsKeyPath[] = L"Software\\Velmora\\Tapdeck\\PrecisionTouchpad";

enum class Corner { BottomRight = 0, BottomLeft = 1, TopRight = 2, TopLeft = 3 };

// The monitor the panel goes on.
enum class MonitorChoice { Primary = 0, UnderPointer = 1 };

struct OverlaySettings {
    bool enabled = true;
    Corner corner = Corner::BottomRight;
    // The panel's height in tens of effective pixels (times the display's scale): 28 is 280,
    // 420 pixels at 150%.
    int size = 28;
    int opacityPercent = 100; // 100 is opaque
    // Seconds without a touch before the panel shrinks to its small, faint form; 0: never.
    int idleSeconds = 5;
    MonitorChoice monitor = MonitorChoice::Primary;

    bool operator==(const OverlaySettings&) const = default;
};

// One registry value as read: absent, or its type and its bytes (at most 4 kept).
struct RawValue {
    bool present = false;
    DWORD type = REG_NONE;
    DWORD size = 0;
    uint32_t data = 0;
};

struct RawSettings {
    RawValue overlay;
    RawValue corner;
    RawValue size;
    RawValue opacity;
    RawValue idle;
    RawValue monitor;
};

// A value that is missing, not a 4-byte REG_DWORD, or out of its range gives the default.
OverlaySettings DecideSettings(const RawSettings& raw);

// Reads the values from the current user's key (which it never creates).
OverlaySettings ReadOverlaySettings();

} // namespace overlay
