// Where the pad rectangle comes from: the registry override when it asks for it, else the
// touchpad's own edges. The reads are the platform part; DecideBounds, which checks the four
// values and derives the sizes, is pure. PadApp's LoadPadBounds and the layout inspector both
// go through LoadBounds, so they read the same values the same way.
#pragma once

#include <windows.h>

#include <array>
#include <functional>

#include "device/velcom.h"
#include "layout/geometry.h"

// HKEY_LOCAL_MACHINE subkey of the override; read only, never created.
inline constexpr char PadConfigPath[] = "Software\\Velmora\\TwinpadApp";

// Left, top, right, bottom.
using BoundValues = std::array<LONG, 4>;

// Registry value names of the four bounds, and the fixed defaults for an absent bound.
inline constexpr const char* BoundValueNames[4] = {"LoX", "LoY", "HiX", "HiY"};
inline constexpr BoundValues DefaultBounds = {1612, 2072, 5300, 3748};
// The touchpad properties of the four edges, in the same order.
inline constexpr LONG EdgeProperties[4] = {PropXLo, PropYLo, PropXHi, PropYHi};

enum class BoundsSource { Registry, Touchpad };

enum class BoundsFailure {
    None,
    // UseUserConfig is present, fits in 4 bytes, and is neither a REG_DWORD nor a 4-byte
    // REG_BINARY.
    UseUserConfigInvalid,
    // The edge reader could not reach the touchpad (its caller knows why).
    NoTouchpad,
    // One of the four values is 0.
    ZeroBound,
};

// The pad rectangle, stored as read, and the sizes derived from it.
struct PadBounds {
    RECT rect;
    PadSizes sizes;
};

// The four values checked: the first that is 0 fails them; otherwise the rectangle and its
// sizes. No other test is made.
struct BoundsDecision {
    BoundsFailure failure = BoundsFailure::None;
    int zeroBound = -1; // index in BoundValues of the first 0, with ZeroBound
    PadBounds bounds = {};
};
BoundsDecision DecideBounds(const BoundValues& values);

// Everything one bounds load read and decided.
struct BoundsLoad {
    bool keyOpened = false;
    // UseUserConfig after the load: as read, or the current setting when the key or the value
    // is absent (the bytes read when the value is invalid).
    LONG useUserConfig = 0;
    BoundsSource source = BoundsSource::Touchpad;
    // The four values used; with the registry as source, which of them took the fixed default.
    BoundValues values = {};
    std::array<bool, 4> defaulted = {};
    BoundsDecision decision;
};

// Reads the touchpad's four edges; false when the touchpad cannot be reached.
using EdgeReader = std::function<bool(BoundValues& edges)>;

// The bounds load: opens the override key (without creating it); when it opened, reads
// UseUserConfig with `currentUse` as its default; when the setting is then non-zero, reads the
// four bounds from the key (absent or unreadable ones take the fixed defaults), else asks
// `readEdges` for the touchpad's. The key is closed before it returns.
BoundsLoad LoadBounds(LONG currentUse, const EdgeReader& readEdges);

// The four edge properties of `device`, in order, each preset to 0 so that one the device does
// not deliver reads 0; all 0 without a device. Statuses are not looked at.
BoundValues ReadTouchpadEdges(PointingDevice* device);
