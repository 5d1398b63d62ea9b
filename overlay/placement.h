// Where a small window over everything goes: a monitor's work area and display scale, and a
// corner of it. PlaceInCorner and PlacePanel are pure; ScreenFor asks the system.
#pragma once

#include <windows.h>

#include "settings.h"

namespace overlay {

// A monitor's work area (above the taskbar), in pixels, and its scale: pixels per effective
// pixel (1.5 at 150%, 144 DPI).
struct Screen {
    RECT work{};
    float scale = 1.0F;
};

// The primary monitor, or the one under the pointer. The primary monitor's work area is the
// one SPI_GETWORKAREA reports (what SPI_SETWORKAREA changes); another's comes from its
// monitor information. The scale is the monitor's effective DPI where the system tells it per
// monitor (Windows 8.1 on), else the system's.
Screen ScreenFor(MonitorChoice choice);

// A window of `size` in `corner` of `work`, flush with the corner's two edges (the window's
// own transparent margin keeps what it shows off them).
RECT PlaceInCorner(const RECT& work, SIZE size, Corner corner);

// The panel's window: a body `size` tens of effective pixels high, as wide as the pad's
// proportions make it, both as large as the work area allows with the margin around it, and
// that margin, in the corner of the settings.
RECT PlacePanel(const RECT& work, const RECT& pad, const OverlaySettings& settings, float scale);

} // namespace overlay
