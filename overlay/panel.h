// The panel's pure core: the pad's zones as the program lays them out, and what the panel shows
// at a moment (the finger, the zone under it, the flashes), followed packet by packet with the
// program's own rules. No window, no clock: times are handed in.
//
// Frames. Packets carry device coordinates. The grid and the exit button are hit with the Y
// turned over (top + bottom - device Y), the strip with the device's own Y, as the program does.
// The panel is drawn in the turned-over frame, which is the pad as the user sees it: the pad's
// top edge at the top.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <optional>

#include "layout/geometry.h"
#include "layout/zone.h"
#include "layout/zone_words.h"

namespace overlay {

// The pad rectangle and its eleven zones, in the order the layout adds them.
struct PanelLayout {
    RECT pad{};
    std::array<Zone, ZoneCount> zones{};
};

PanelLayout LayoutFor(const RECT& pad);

ZoneClass ClassOf(size_t zoneIndex);

// The zone's rectangle in the turned-over (view) frame: the strip's Y turned over, the others
// as laid out.
RECT ViewRect(const PanelLayout& layout, size_t zoneIndex);
// Device Y turned over, as the program does for its buttons.
LONG TurnY(const PanelLayout& layout, LONG deviceY);

// The program's hit tests at a device point: the button a tap goes to (the exit button before
// the grid), and whether the finger is on the strip.
std::optional<size_t> ButtonAt(const PanelLayout& layout, LONG x, LONG y);
bool OnStrip(const PanelLayout& layout, LONG x, LONG y);

// How long a flash lasts, fading from full to nothing.
inline constexpr DWORD FlashMs = 300;

// What the panel shows at a moment. Flash strengths run from 1 (just happened) to 0 (none).
struct PanelState {
    bool touching = false;
    LONG x = 0; // device coordinates of the finger
    LONG y = 0;
    std::optional<size_t> under; // the zone under the finger, in hit order, while touching
    std::optional<size_t> flashZone;
    float flash = 0;
    float stepFlash = 0;
    LONG stepY = 0;        // device Y on the strip of the last volume step
    int stepDirection = 0; // +1 up the pad's device Y, -1 down

    bool operator==(const PanelState&) const = default;
};

// One packet as the device library hands it to the program.
struct PacketView {
    uint32_t flagsA = 0;
    LONG x = 0;
    LONG y = 0;
    LONG motion = 0;
    uint32_t flagsB = 0;
};

// Follows the packets as the program reads them: the finger bits, the tap (the gesture bit
// falling after finger and gesture were both seen), and the strip's motion sum, a step at each
// sum over 25. One thread at a time.
class PanelTracker {
public:
    explicit PanelTracker(const PanelLayout& panelLayout) : layout(panelLayout) {}

    // Takes one packet at `nowMs`; true when what the panel shows changed.
    bool OnPacket(const PacketView& packet, DWORD nowMs);
    // What the panel shows at `nowMs`, flashes faded by the time since they began.
    PanelState StateAt(DWORD nowMs) const;
    // A flash is still fading at `nowMs`: the panel must be drawn again later.
    bool Fading(DWORD nowMs) const;

private:
    PanelLayout layout;
    bool touching = false;
    bool wasTouching = false;
    uint32_t tapState = 0;
    LONG lastX = 0;
    LONG lastY = 0;
    LONG motionSum = 0;
    std::optional<size_t> flashZone;
    DWORD flashAt = 0;
    bool stepSeen = false;
    DWORD stepAt = 0;
    LONG stepY = 0;
    int stepDirection = 0;
};

} // namespace overlay
