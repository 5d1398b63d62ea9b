// The panel's pure core: the pad's zones as the program lays them out, and what the panel shows
// at a moment (the finger, the zone under it, a pressed zone, a caption, a volume step), followed
// packet by packet with the program's own rules. No window, no clock: times are handed in.
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

// The zone under a finger at a device point, as the panel highlights it: the button a tap
// there goes to, else the strip when the finger is on it.
std::optional<size_t> ZoneUnder(const PanelLayout& layout, LONG x, LONG y);

// What a tap or a volume step left on the panel: the tapped zone stays pressed (in the accent
// colour) and its caption shown for CaptionHoldMs after the finger lifts, then both fade out
// over CaptionFadeMs; a volume step's caption stays while the finger slides and as long after
// it lifts. A step's mark on the strip fades over StepFadeMs.
inline constexpr DWORD CaptionHoldMs = 1000;
inline constexpr DWORD CaptionFadeMs = 250;
inline constexpr DWORD StepFadeMs = 400;

// What the panel says once a tap or a slide has done its work.
struct Caption {
    size_t zone = 0;   // the tapped zone, or the strip
    int direction = 0; // for the strip: +1 a step up, -1 down

    bool operator==(const Caption&) const = default;
};

// What the panel shows at a moment. Strengths run from 1 (full) to 0 (gone).
struct PanelState {
    bool touching = false;
    LONG x = 0; // device coordinates of the finger
    LONG y = 0;
    std::optional<size_t> under;   // the zone under the finger, while touching
    std::optional<size_t> pressed; // the zone the last tap went to, while it shows pressed
    float pressedStrength = 0;
    std::optional<Caption> caption;
    float captionStrength = 0;
    float stepStrength = 0;
    LONG stepY = 0;        // device Y on the strip of the last volume step
    int stepDirection = 0; // +1 up the pad's device Y (towards its top edge), -1 down

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
// sum over 25, the sum cleared when the finger lifts. Times are handed in (milliseconds on any
// clock that wraps as a DWORD). One thread at a time.
class PanelTracker {
public:
    // `shownMs`: when the panel was shown, which counts as the last touch until the first one.
    explicit PanelTracker(const PanelLayout& panelLayout, DWORD shownMs = 0)
        : layout(panelLayout), liftedAt(shownMs) {}

    // Takes one packet at `nowMs`; true when what the panel shows changed.
    bool OnPacket(const PacketView& packet, DWORD nowMs);
    // What the panel shows at `nowMs`, with what fades faded.
    PanelState StateAt(DWORD nowMs) const;
    // When what the panel shows changes next by itself, after `nowMs`: `nowMs` while something
    // fades (every frame), the end of a hold, or nothing while it stays as it is.
    std::optional<DWORD> NextChange(DWORD nowMs) const;
    // Since when nothing has touched the pad and nothing shows a past tap or step; none while
    // the finger is down or a caption still shows.
    std::optional<DWORD> QuietSince(DWORD nowMs) const;

private:
    // The time the caption's hold ends, or none while its finger is still down.
    std::optional<DWORD> CaptionEnds() const;

    PanelLayout layout;
    bool touching = false;
    bool wasTouching = false;
    uint32_t tapState = 0;
    LONG lastX = 0;
    LONG lastY = 0;
    LONG motionSum = 0;
    DWORD liftedAt = 0;
    std::optional<size_t> pressed;
    DWORD pressedAt = 0;
    std::optional<Caption> caption;
    DWORD captionFrom = 0;    // the tap, or the lift after the last step
    bool captionHeld = false; // a step's caption while its finger stays down
    bool stepSeen = false;
    DWORD stepAt = 0;
    LONG stepY = 0;
    int stepDirection = 0;
};

} // namespace overlay
