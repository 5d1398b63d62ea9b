// The panel's pure core: what it shows as packets come (the finger, the zone under it, a tap's
// pressed zone and caption, a volume step), by the program's own rules, and where it draws
// things: aligned tiles, and a finger always drawn on the tile of the zone that takes it, which
// is checked over a grid of points against the program's own hit tests (PadApp's).
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "device/pad_app.h"
#include "panel.h"
#include "panel_geometry.h"

namespace overlay {
namespace {

constexpr uint32_t Finger = 0x2000;
constexpr uint32_t Gesture = 0x10000;
constexpr RECT LibraryPad{1000, 1000, 7000, 5800};

// The centre of a zone's points, as a device point (the strip's: below the exit button).
POINT DeviceCentre(const PanelLayout& layout, size_t zone) {
    RECT r = ViewRect(layout, zone);
    if (zone == StripIndex) {
        r.top = ViewRect(layout, ExitIndex).bottom;
    }
    return {(r.left + r.right) / 2, TurnY(layout, (r.top + r.bottom) / 2)};
}

// ---- What the panel shows, packet by packet.

// One packet and the time it comes, or (with `check`) what the panel shows at that time.
struct Step {
    DWORD at;
    bool check;
    uint32_t flags;
    int zone; // where the finger is: a zone's centre, or -1 for the same place as before
    LONG motion;
    // Expected when `check`: the zone shown pressed (-1: none), the caption's zone and
    // direction (-1: none), whether a step's mark shows.
    int pressed;
    int caption;
    int direction;
    bool stepping;
};

constexpr Step Feed(DWORD at, uint32_t flags, int zone, LONG motion = 0) {
    return {at, false, flags, zone, motion, 0, 0, 0, false};
}

constexpr Step Expect(DWORD at, int pressed, int caption, int direction = 0,
                      bool stepping = false) {
    return {at, true, 0, -1, 0, pressed, caption, direction, stepping};
}

struct TrackCase {
    const char* name;
    std::vector<Step> steps;
};

constexpr int Strip = static_cast<int>(StripIndex);
constexpr int Exit = static_cast<int>(ExitIndex);
constexpr int Five = static_cast<int>(FirstGridIndex) + 4;
constexpr int Seven = static_cast<int>(FirstGridIndex) + 6;

const TrackCase TrackCases[] = {
    {"a tap presses its zone; the caption stays a second, then fades",
     {Feed(0, Finger, Five), Feed(8, Gesture, -1), Feed(16, 0, -1), Expect(16, Five, Five),
      Expect(16 + CaptionHoldMs - 1, Five, Five), Expect(16 + CaptionHoldMs + 100, Five, Five),
      Expect(16 + CaptionHoldMs + CaptionFadeMs, -1, -1)}},
    {"the exit button takes a tap before the strip under it",
     {Feed(0, Finger, Exit), Feed(8, Gesture, -1), Feed(16, 0, -1), Expect(20, Exit, Exit)}},
    {"a tap on the strip presses nothing",
     {Feed(0, Finger, Strip), Feed(8, Gesture, -1), Feed(16, 0, -1), Expect(20, -1, -1)}},
    // After a tap the tap state starts afresh: a new touch without the gesture bit is no tap.
    {"a touch after a tap is no second tap",
     {Feed(0, Finger, Five), Feed(8, Gesture, -1), Feed(16, 0, -1), Feed(300, Finger, Seven),
      Feed(308, Finger, -1), Feed(316, 0, -1), Expect(320, Five, Five),
      Expect(16 + CaptionHoldMs + CaptionFadeMs, -1, -1)}},
    {"26 motion units on the strip: a step up, its caption held while the finger stays",
     {Feed(0, Finger, Strip), Feed(8, Finger, -1, 26), Expect(10, -1, Strip, 1, true),
      Expect(5000, -1, Strip, 1, false), Feed(5000, 0, -1),
      Expect(5000 + CaptionHoldMs - 1, -1, Strip, 1, false),
      Expect(5000 + CaptionHoldMs + CaptionFadeMs, -1, -1)}},
    {"13 and 13 down: a step down",
     {Feed(0, Finger, Strip), Feed(8, Finger, -1, -13), Feed(16, Finger, -1, -13),
      Expect(20, -1, Strip, -1, true)}},
    {"25 units: no step", {Feed(0, Finger, Strip), Feed(8, Finger, -1, 25), Expect(10, -1, -1)}},
    {"26 units beside the strip: no step",
     {Feed(0, Finger, Five), Feed(8, Finger, -1, 26), Expect(10, -1, -1)}},
    {"the first packet's motion does not count", {Feed(0, Finger, Strip, 26), Expect(10, -1, -1)}},
    // The sum starts afresh at each touch: 20 and then 10 in a second touch is no step.
    {"the motion sum is cleared when the finger lifts",
     {Feed(0, Finger, Strip), Feed(8, Finger, -1, 20), Feed(16, 0, -1), Feed(100, Finger, Strip),
      Feed(108, Finger, -1, 10), Expect(110, -1, -1)}},
    {"a tap on a button clears the motion sum",
     {Feed(0, Finger, Strip), Feed(8, Finger, -1, 20), Feed(16, Finger, Five),
      Feed(24, Gesture, -1), Feed(32, 0, -1), Feed(40, Finger, Strip), Feed(48, Finger, -1, 10),
      Expect(50, Five, Five)}},
};

TEST(OverlayTracker, WhatEachRunOfPacketsShows) {
    const PanelLayout layout = LayoutFor(LibraryPad);
    for (const TrackCase& c : TrackCases) {
        SCOPED_TRACE(c.name);
        PanelTracker tracker(layout);
        POINT at{};
        for (const Step& s : c.steps) {
            SCOPED_TRACE("at " + std::to_string(s.at));
            if (!s.check) {
                if (s.zone >= 0) {
                    at = DeviceCentre(layout, static_cast<size_t>(s.zone));
                }
                tracker.OnPacket({s.flags, at.x, at.y, s.motion}, s.at);
                continue;
            }
            const PanelState state = tracker.StateAt(s.at);
            EXPECT_EQ(state.pressed ? static_cast<int>(*state.pressed) : -1, s.pressed);
            EXPECT_EQ(state.caption ? static_cast<int>(state.caption->zone) : -1, s.caption);
            if (state.caption) {
                EXPECT_EQ(state.caption->direction, s.direction);
            }
            EXPECT_EQ(state.stepStrength > 0, s.stepping);
        }
    }
}

// What changes by itself, and when the panel has been quiet since: what the panel's thread
// wakes for, and when it may fade to its small form.
TEST(OverlayTracker, WhenItChangesByItselfAndSinceWhenItIsQuiet) {
    const PanelLayout layout = LayoutFor(LibraryPad);
    PanelTracker tracker(layout, 500);
    EXPECT_EQ(tracker.NextChange(600), std::nullopt);
    EXPECT_EQ(tracker.QuietSince(600), DWORD{500}) << "shown, never touched";
    const POINT five = DeviceCentre(layout, FirstGridIndex + 4);
    tracker.OnPacket({Finger, five.x, five.y, 0}, 1000);
    EXPECT_EQ(tracker.QuietSince(1001), std::nullopt) << "touching";
    tracker.OnPacket({Gesture, five.x, five.y, 0}, 1008);
    tracker.OnPacket({0, five.x, five.y, 0}, 1016);
    EXPECT_EQ(tracker.NextChange(1100), DWORD{1016 + CaptionHoldMs}) << "the hold's end";
    EXPECT_EQ(tracker.NextChange(1016 + CaptionHoldMs + 10), DWORD{1016 + CaptionHoldMs + 10})
        << "fading: every frame";
    EXPECT_EQ(tracker.QuietSince(1100), std::nullopt) << "the caption shows";
    const DWORD gone = 1016 + CaptionHoldMs + CaptionFadeMs;
    EXPECT_EQ(tracker.NextChange(gone), std::nullopt);
    EXPECT_EQ(tracker.QuietSince(gone + 5000), gone);
}

// ---- Where the panel draws its tiles.

struct Sizing {
    const char* name;
    RECT pad;
    int size; // tens of effective pixels
    float scale;
};

constexpr Sizing Sizings[] = {
    {"library pad at 100%", LibraryPad, 28, 1.0F},
    {"library pad at 150%", LibraryPad, 28, 1.5F},
    {"library pad at 200%", LibraryPad, 28, 2.0F},
    {"library pad, smallest", LibraryPad, 10, 1.0F},
    {"library pad, largest at 150%", LibraryPad, 60, 1.5F},
    {"large pad", {0, 0, 12000, 9000}, 24, 1.0F},
    {"wide pad at 200%", {0, 0, 16000, 6000}, 20, 2.0F},
    // A pad whose layout has no aligned structure: drawn to scale.
    {"narrow pad (buttons wrapped)", {1000, 1000, 3000, 5800}, 28, 1.0F},
    {"short pad (buttons of negative height)", {1612, 2072, 5300, 3748}, 28, 1.5F},
};

PanelGeometry GeometryOf(const Sizing& c) {
    const SIZE body =
        BodySize(c.pad, static_cast<int>(static_cast<float>(c.size) * 10 * c.scale + 0.5F), 4000);
    return PanelGeometry(LayoutFor(c.pad), body.cx, body.cy, c.scale);
}

TEST(OverlayGeometry, AlignedTilesKeepEqualGapsAndInsets) {
    for (const Sizing& c : Sizings) {
        SCOPED_TRACE(c.name);
        const PanelGeometry g = GeometryOf(c);
        const bool odd = std::string(c.name).find("narrow") != std::string::npos ||
                         std::string(c.name).find("short") != std::string::npos;
        ASSERT_EQ(g.Aligned(), !odd);
        if (!g.Aligned()) {
            continue;
        }
        const auto tile = [&](size_t row, size_t col) -> const RectF& {
            return g.Tile(FirstGridIndex + row * 3 + col);
        };
        const float gap = g.Gap();
        const float inset = g.Inset();
        EXPECT_GE(gap, static_cast<float>(g.Px(3)));
        EXPECT_LE(gap, static_cast<float>(g.Px(GapEpx)));
        EXPECT_GE(inset, gap);
        std::set<float> widths;
        std::set<float> heights;
        for (size_t row = 0; row < 3; ++row) {
            for (size_t col = 0; col < 3; ++col) {
                const RectF& t = tile(row, col);
                widths.insert(t.Width());
                heights.insert(t.Height());
                if (col > 0) {
                    EXPECT_EQ(t.left - tile(row, col - 1).right, gap);
                    EXPECT_EQ(t.top, tile(row, 0).top);
                }
                if (row > 0) {
                    EXPECT_EQ(t.top - tile(row - 1, col).bottom, gap);
                }
            }
        }
        EXPECT_EQ(widths.size(), 1U) << "buttons of one width";
        EXPECT_EQ(heights.size(), 1U) << "buttons of one height";
        EXPECT_EQ(tile(0, 0).left - g.Body().left, inset);
        EXPECT_EQ(tile(0, 0).top - g.Body().top, inset);
        // The right-hand column: the exit button beside the first row, the strip beside the
        // other two, the same gap from the grid and inset from the body's edge.
        const RectF& exit = g.Tile(ExitIndex);
        const RectF& strip = g.Tile(StripIndex);
        EXPECT_EQ(exit.left - tile(0, 2).right, gap);
        EXPECT_EQ(g.Body().right - exit.right, inset);
        EXPECT_EQ(exit.top, tile(0, 0).top);
        EXPECT_EQ(exit.bottom, tile(0, 0).bottom);
        EXPECT_EQ(strip.left, exit.left);
        EXPECT_EQ(strip.right, exit.right);
        EXPECT_EQ(strip.top, tile(1, 0).top);
        EXPECT_EQ(strip.bottom, tile(2, 0).bottom);
        EXPECT_GT(g.Footer().Height(), 0);
        EXPECT_GE(g.Footer().top, tile(2, 0).bottom);
    }
}

// Device points around every zone edge (one before, on and after each) and across the pad.
std::vector<LONG> Samples(LONG lo, LONG hi, const std::vector<LONG>& edges) {
    std::set<LONG> samples;
    for (LONG v = lo; v <= hi; v += std::max<LONG>(1, (hi - lo) / 57)) {
        samples.insert(v);
    }
    for (const LONG e : edges) {
        for (const LONG v : {e - 1, e, e + 1}) {
            if (v >= lo && v <= hi) {
                samples.insert(v);
            }
        }
    }
    return {samples.begin(), samples.end()};
}

TEST(OverlayGeometry, TheTileDrawnUnderAFingerIsTheZoneThatTakesIt) {
    for (const Sizing& c : Sizings) {
        SCOPED_TRACE(c.name);
        const PanelGeometry g = GeometryOf(c);
        const PanelLayout& layout = g.Layout();
        // The program's own zones and hit tests.
        PadApp app;
        app.padRect = c.pad;
        const PadSizes sizes = DeriveSizes(c.pad);
        app.colWidth = sizes.colWidth;
        app.btnWidth = sizes.btnWidth;
        app.btnHeight = sizes.btnHeight;
        app.stripHeight = sizes.stripHeight;
        ASSERT_EQ(app.LayoutZones(), 1);
        std::vector<LONG> xs;
        std::vector<LONG> ys; // device Y
        for (size_t i = 0; i < ZoneCount; ++i) {
            const RECT& r = layout.zones[i].rect;
            xs.insert(xs.end(), {r.left, r.right});
            if (i == StripIndex) {
                ys.insert(ys.end(), {r.top, r.bottom});
            } else {
                ys.insert(ys.end(), {TurnY(layout, r.top), TurnY(layout, r.bottom)});
            }
        }
        int checked = 0;
        int mismatches = 0;
        for (const LONG x : Samples(c.pad.left, c.pad.right, xs)) {
            for (const LONG y : Samples(c.pad.top, c.pad.bottom, ys)) {
                std::optional<size_t> takes;
                if (const Zone* button = app.FindButton(x, TurnY(layout, y))) {
                    takes = static_cast<size_t>(button->id) + 1; // exit 0, grid 1..9
                } else if (app.InStrip(x, y) != 0) {
                    takes = StripIndex;
                }
                const PointF drawn = g.Map(x, y);
                const auto under = g.DrawnAt(drawn);
                ++checked;
                if (under != takes && ++mismatches <= 5) {
                    ADD_FAILURE() << "device point " << x << "," << y << " taken by "
                                  << (takes ? static_cast<int>(*takes) : -1) << ", drawn at "
                                  << drawn.x << "," << drawn.y << " on "
                                  << (under ? static_cast<int>(*under) : -1);
                }
                // Inside the panel's body.
                EXPECT_TRUE(drawn.x >= g.Body().left && drawn.x <= g.Body().right &&
                            drawn.y >= g.Body().top && drawn.y <= g.Body().bottom);
            }
        }
        EXPECT_EQ(mismatches, 0) << "of " << checked;
        EXPECT_GT(checked, 3000);
    }
}

} // namespace
} // namespace overlay
