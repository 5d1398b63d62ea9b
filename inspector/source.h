// Where the inspector's bounds come from. By default exactly what tapdeck.exe would use now:
// the registry override (in this build's view of the registry), else the touchpad through the
// device library, opened as the mode start opens it but never given a packet sink nor claimed.
// Or bounds given on the command line, for a what-if that needs no device and no registry.
#pragma once

#include <windows.h>

#include <array>
#include <string>

#include "device/touchpad_open.h"
#include "layout/pad_bounds.h"

namespace inspector {

enum class SourceKind { Registry, Touchpad, Given };

enum class SourceProblem {
    None,
    LibraryNotRegistered, // a ProgID of the device library is not registered
    LibraryObjectFailed,  // registered, but its object could not be made
    PrepareFailed,
    NoTouchpad, // LocateDevice failed or found none
    AttachFailed,
    WrongKind,
    UseUserConfigInvalid,
    ZeroBound,
};

struct BoundsOrigin {
    SourceKind kind = SourceKind::Given;
    // Bits of the registry view this build reads (64 or 32).
    int registryView = 0;
    // Registry: whether the override key exists, UseUserConfig as read, and which of the four
    // bounds took the fixed default.
    bool keyOpened = false;
    LONG useUserConfig = 0;
    std::array<bool, 4> defaulted = {};
    // Touchpad: how far the opening went.
    TouchpadOpening opening;
    // The device library's ProgID whose object could not be made.
    std::string missingProgId;
    // The four values (left, top, right, bottom) as read or given.
    BoundValues values = {};
    SourceProblem problem = SourceProblem::None;
    // The index of the first 0 among the values, with ZeroBound.
    int zeroBound = -1;
    // The bounds, when there is no problem.
    PadBounds bounds = {};
};

// Bounds given on the command line: checked and derived as the program would.
BoundsOrigin GivenBounds(const BoundValues& values);

// What tapdeck.exe would use now. Reads the registry, and the touchpad only when the registry
// does not override it.
BoundsOrigin CurrentBounds();

} // namespace inspector
