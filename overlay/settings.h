// The panel's settings, read at each claim from HKCU\Software\Velmora\Tapdeck\PrecisionTouchpad,
// and where the panel goes on the screen. The decisions are pure; ReadOverlaySettings is the
// registry read.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>

namespace overlay {

inline constexpr wchar_t SettingsKeyPath[] = L"Software\\Velmora\\Tapdeck\\PrecisionTouchpad";

enum class Corner { BottomRight = 0, BottomLeft = 1, TopRight = 2, TopLeft = 3 };

struct OverlaySettings {
    bool enabled = true;
    Corner corner = Corner::BottomRight;
    int sizePercent = 28;    // of the work area's height
    int opacityPercent = 85; // 100 is opaque

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
};

// A value that is missing, not a 4-byte REG_DWORD, or out of its range gives the default.
OverlaySettings DecideSettings(const RawSettings& raw);

// Reads the four values from the current user's key (which it never creates).
OverlaySettings ReadOverlaySettings();

// Where the panel goes: `sizePercent` of the work area's height, as wide as the pad's
// proportions make it (narrower when that would not fit), `margin` pixels in from the corner's
// two edges.
RECT PlacePanel(const RECT& workArea, const RECT& pad, const OverlaySettings& settings, int margin);

} // namespace overlay
