// The panel's drawing, read back by its pixels: GDI draws into a real DIB (under Wine, with
// Wine's fonts) and the tests look at the colours where the zones, the finger and the flashes
// must be, on bitmaps of several sizes at DPI scales 1.0, 1.5 and 2.0. The state comes from
// packets fed to the tracker, as the device library hands them to the program.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "panel.h"
#include "render.h"

namespace overlay {

void PrintTo(const Rgb& c, std::ostream* os) {
    *os << c.Hex().data();
}

namespace {

constexpr uint32_t Finger = 0x2000;
constexpr uint32_t Gesture = 0x10000;

// The simulated touchpad's and the Precision Touchpad library's edges, and a larger pad.
constexpr RECT LibraryPad{1000, 1000, 7000, 5800};
constexpr RECT LargePad{0, 0, 12000, 9000};

struct Canvas {
    const char* name;
    RECT pad;
    int width;
    int height;
    float dpiScale;
};

constexpr Canvas Canvases[] = {
    {"library pad 250x200 at 1.0", LibraryPad, 250, 200, 1.0F},
    {"library pad 375x300 at 1.5", LibraryPad, 375, 300, 1.5F},
    {"library pad 500x400 at 2.0", LibraryPad, 500, 400, 2.0F},
    {"library pad 303x241 at 1.5", LibraryPad, 303, 241, 1.5F},
    {"large pad 320x240 at 1.0", LargePad, 320, 240, 1.0F},
    {"large pad 640x480 at 2.0", LargePad, 640, 480, 2.0F},
};

std::string Name(const Canvas& canvas) {
    return canvas.name;
}

// A drawn panel and what the tests need to read it.
struct Drawn {
    PanelLayout layout;
    PanelBitmap bitmap;
    PadMapping map;

    Drawn(const Canvas& canvas, const PanelState& state, bool labels)
        : layout(LayoutFor(canvas.pad)), bitmap(canvas.width, canvas.height),
          map(layout, canvas.width, canvas.height, canvas.dpiScale) {
        RenderPanel(layout, state, {canvas.dpiScale, labels}, bitmap);
    }
    Rgb At(POINT p) const { return bitmap.At(p.x, p.y); }
};

Rgb FillOf(size_t zone) {
    return LookOf(ClassOf(zone)).fill;
}

// A view-frame point well inside the part of the zone that shows: for the strip, below the exit
// button that covers its top.
POINT ViewCentre(const PanelLayout& layout, size_t zone) {
    RECT r = ViewRect(layout, zone);
    if (zone == StripIndex) {
        r.top = ViewRect(layout, ExitIndex).bottom;
    }
    return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

// The same point in device coordinates, where a finger would be.
POINT DeviceCentre(const PanelLayout& layout, size_t zone) {
    const POINT view = ViewCentre(layout, zone);
    return {view.x, layout.pad.top + layout.pad.bottom - view.y};
}

// A pixel a third of the way from a zone's centre to its lower edge: clear of a dot at the
// centre and of the label there.
POINT AsideOfCentre(const Drawn& d, size_t zone) {
    const RECT px = d.map.ZonePixels(zone);
    const POINT view = ViewCentre(d.layout, zone);
    const int x = d.map.Column(view.x);
    const int y = d.map.Row(view.y);
    return {x, y + (px.bottom - y) * 2 / 3};
}

void Feed(PanelTracker& tracker, const std::vector<PacketView>& packets, DWORD at) {
    for (const PacketView& p : packets) {
        tracker.OnPacket(p, at);
    }
}

// A tap as the device library delivers it: the finger down, the lift with the gesture bit, then
// both bits clear.
std::vector<PacketView> Tap(POINT at) {
    return {{Finger, at.x, at.y, 0}, {Gesture, at.x, at.y, 0}, {0, at.x, at.y, 0}};
}

// ---- Where the pad lands: every zone's centre, by a plain proportional mapping of the pad to
// the bitmap, in the zone's colour; the frame around the pad.

TEST(OverlayRender, EachZonesCentreIsInItsColour) {
    for (const Canvas& canvas : Canvases) {
        SCOPED_TRACE(Name(canvas));
        const Drawn d(canvas, {}, /*labels=*/false);
        const LONG padWidth = canvas.pad.right - canvas.pad.left;
        const LONG padHeight = canvas.pad.bottom - canvas.pad.top;
        for (size_t zone = 0; zone < ZoneCount; ++zone) {
            SCOPED_TRACE("zone " + std::to_string(zone));
            const POINT view = ViewCentre(d.layout, zone);
            const int x = static_cast<int>((view.x - canvas.pad.left) * canvas.width / padWidth);
            const int y = static_cast<int>((view.y - canvas.pad.top) * canvas.height / padHeight);
            EXPECT_EQ(d.bitmap.At(x, y), FillOf(zone));
        }
        EXPECT_EQ(d.bitmap.At(0, 0), FrameColour);
        EXPECT_EQ(d.bitmap.At(canvas.width - 1, canvas.height - 1), FrameColour);
        const int inside = d.map.Border();
        EXPECT_EQ(d.bitmap.At(inside, inside), PadFill);
    }
}

// ---- The finger: a dot where it is, the pad's top edge (high device Y) at the top.

struct FingerCase {
    const char* name;
    // Where the finger is, in eighths of the pad across from the left edge and up from the
    // lowest device Y.
    int eighthsAcross;
    int eighthsUp;
};

constexpr FingerCase FingerCases[] = {
    {"middle", 4, 4},
    {"near the top left", 1, 7},
    {"near the bottom left", 1, 1},
    {"near the top right", 7, 7},
    {"near the bottom right", 7, 1},
    {"left of middle", 2, 5},
};

TEST(OverlayRender, TheDotIsWhereTheFingerIsWithTheTopEdgeUp) {
    for (const Canvas& canvas : Canvases) {
        for (const FingerCase& c : FingerCases) {
            SCOPED_TRACE(Name(canvas) + ", " + c.name);
            const LONG padWidth = canvas.pad.right - canvas.pad.left;
            const LONG padHeight = canvas.pad.bottom - canvas.pad.top;
            PanelTracker tracker(LayoutFor(canvas.pad));
            const LONG x = canvas.pad.left + padWidth * c.eighthsAcross / 8;
            const LONG y = canvas.pad.top + padHeight * c.eighthsUp / 8;
            tracker.OnPacket({Finger, x, y, 0}, 1000);
            const Drawn d(canvas, tracker.StateAt(1000), /*labels=*/true);
            // The dot's pixels, and where their middle is.
            long long sumX = 0;
            long long sumY = 0;
            long long count = 0;
            for (int py = 0; py < canvas.height; ++py) {
                for (int px = 0; px < canvas.width; ++px) {
                    if (d.bitmap.At(px, py) == DotColour) {
                        sumX += px;
                        sumY += py;
                        ++count;
                    }
                }
            }
            const int radius = DotRadius(canvas.height, canvas.dpiScale);
            ASSERT_GT(count, radius * radius * 2) << "the dot is missing or cut";
            const double expectX = canvas.width * c.eighthsAcross / 8.0;
            const double expectY = canvas.height * (8 - c.eighthsUp) / 8.0;
            const double tolerance = d.map.Border() + 2.0;
            EXPECT_NEAR(static_cast<double>(sumX) / count, expectX, tolerance);
            EXPECT_NEAR(static_cast<double>(sumY) / count, expectY, tolerance);
            // Large enough to see at a glance from a metre: at least a 40th of the height across.
            EXPECT_GE(2 * radius + 1, canvas.height / 40);
        }
    }
}

// ---- The zone under the finger, darker; the others as they are.

TEST(OverlayRender, TheZoneUnderTheFingerIsHighlighted) {
    for (const Canvas& canvas : Canvases) {
        for (size_t under = 0; under < ZoneCount; ++under) {
            SCOPED_TRACE(Name(canvas) + ", finger on zone " + std::to_string(under));
            const PanelLayout layout = LayoutFor(canvas.pad);
            PanelTracker tracker(layout);
            const POINT at = DeviceCentre(layout, under);
            tracker.OnPacket({Finger, at.x, at.y, 0}, 1000);
            const PanelState state = tracker.StateAt(1000);
            ASSERT_EQ(state.under, under);
            const Drawn d(canvas, state, /*labels=*/false);
            for (size_t zone = 0; zone < ZoneCount; ++zone) {
                const Rgb want = zone == under ? Highlighted(FillOf(zone)) : FillOf(zone);
                EXPECT_EQ(d.At(AsideOfCentre(d, zone)), want) << "zone " << zone;
            }
        }
    }
}

// ---- A tap: the zone that takes it flashes white, fading over FlashMs; the exit button takes
// a tap before the grid and before the strip's own points.

struct TapCase {
    const char* name;
    size_t tapped; // the zone whose centre is tapped
    size_t flashes;
};

constexpr TapCase TapCases[] = {
    {"exit button", ExitIndex, ExitIndex},
    {"button 1", FirstGridIndex, FirstGridIndex},
    {"button 5", FirstGridIndex + 4, FirstGridIndex + 4},
    {"button 9", FirstGridIndex + 8, FirstGridIndex + 8},
};

struct FadeCase {
    DWORD afterMs;
    float strength;
};

constexpr FadeCase FadeCases[] = {{0, 1.0F}, {FlashMs / 2, 0.5F}, {FlashMs, 0.0F}};

TEST(OverlayRender, ATappedZoneFlashesAndFades) {
    for (const Canvas& canvas : Canvases) {
        for (const TapCase& c : TapCases) {
            for (const FadeCase& fade : FadeCases) {
                SCOPED_TRACE(Name(canvas) + ", " + c.name + ", after " +
                             std::to_string(fade.afterMs) + " ms");
                const PanelLayout layout = LayoutFor(canvas.pad);
                PanelTracker tracker(layout);
                Feed(tracker, Tap(DeviceCentre(layout, c.tapped)), 5000);
                const Drawn d(canvas, tracker.StateAt(5000 + fade.afterMs), /*labels=*/false);
                for (size_t zone = 0; zone < ZoneCount; ++zone) {
                    const Rgb want =
                        zone == c.flashes ? Flashed(FillOf(zone), fade.strength) : FillOf(zone);
                    EXPECT_EQ(d.At(AsideOfCentre(d, zone)), want) << "zone " << zone;
                }
                EXPECT_EQ(tracker.Fading(5000 + fade.afterMs), fade.strength > 0);
            }
        }
    }
}

// Where the strip and the exit button share points, the program's hit order gives the tap to
// the exit button: the exit button flashes, not the strip.
TEST(OverlayRender, ATapWhereTheStripAndTheExitButtonMeetFlashesTheExitButton) {
    for (const Canvas& canvas : Canvases) {
        SCOPED_TRACE(Name(canvas));
        const PanelLayout layout = LayoutFor(canvas.pad);
        const RECT strip = layout.zones[StripIndex].rect; // device Y
        const RECT exitView = ViewRect(layout, ExitIndex);
        // On the strip's device rectangle and on the exit button's turned-over one.
        const LONG x = (strip.left + strip.right) / 2;
        const LONG y = layout.pad.top + layout.pad.bottom - (exitView.top + exitView.bottom) / 2;
        ASSERT_TRUE(OnStrip(layout, x, y));
        PanelTracker tracker(layout);
        Feed(tracker, Tap({x, y}), 100);
        const PanelState state = tracker.StateAt(100);
        EXPECT_EQ(state.flashZone, ExitIndex);
    }
}

// ---- Volume steps: a step each time the strip's motion sum goes over 25, as the program
// counts; the strip flashes with a white mark across it where the finger stepped.

struct StepCase {
    const char* name;
    std::initializer_list<LONG> motions; // after the finger lands on the strip
    bool onStrip;
    int direction; // 0 for no step
};

const StepCase StepCases[] = {
    {"26 units up in one", {26}, true, 1},
    {"13 and 13", {13, 13}, true, 1},
    {"25 units: no step", {12, 13}, true, 0},
    {"26 units down", {-10, -10, -6}, true, -1},
    {"26 units beside the strip", {13, 13}, false, 0},
};

TEST(OverlayRender, TheStripFlashesWithAMarkAtEachVolumeStep) {
    for (const Canvas& canvas : Canvases) {
        for (const StepCase& c : StepCases) {
            SCOPED_TRACE(Name(canvas) + ", " + c.name);
            const PanelLayout layout = LayoutFor(canvas.pad);
            PanelTracker tracker(layout);
            const POINT at = DeviceCentre(layout, c.onStrip ? StripIndex : FirstGridIndex + 5);
            std::vector<PacketView> packets{{Finger, at.x, at.y, 0}};
            for (const LONG motion : c.motions) {
                packets.push_back({Finger, at.x, at.y, motion});
            }
            packets.push_back({0, at.x, at.y, 0}); // lifted: no dot over the mark
            Feed(tracker, packets, 2000);
            const PanelState state = tracker.StateAt(2000);
            EXPECT_EQ(state.stepDirection, c.direction);
            const Drawn d(canvas, state, /*labels=*/false);
            const RECT strip = d.map.ZonePixels(StripIndex);
            const int markRow = d.map.Finger(at.x, at.y).y;
            const POINT onMark{(strip.left + strip.right) / 2, markRow};
            const POINT offMark = AsideOfCentre(d, StripIndex);
            if (c.direction != 0) {
                EXPECT_EQ(d.At(onMark), StepMarkColour);
                EXPECT_EQ(d.At(offMark), Flashed(FillOf(StripIndex), 0.6F));
            } else {
                EXPECT_EQ(d.At(offMark), FillOf(StripIndex));
                if (c.onStrip) {
                    EXPECT_EQ(d.At(onMark), FillOf(StripIndex));
                }
            }
        }
    }
}

// ---- Labels: each zone has its words, drawn dark inside it; nothing spills onto the pad
// between the zones.

TEST(OverlayRender, LabelsAreInsideTheirZones) {
    for (const Canvas& canvas : Canvases) {
        SCOPED_TRACE(Name(canvas));
        const Drawn d(canvas, {}, /*labels=*/true);
        std::vector<RECT> zones;
        for (size_t zone = 0; zone < ZoneCount; ++zone) {
            zones.push_back(d.map.ZonePixels(zone));
        }
        const auto inZone = [&](int x, int y) {
            for (const RECT& r : zones) {
                if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) {
                    return true;
                }
            }
            return false;
        };
        const int b = d.map.Border();
        int spilled = 0;
        for (int y = b; y < canvas.height - b; ++y) {
            for (int x = b; x < canvas.width - b; ++x) {
                if (!inZone(x, y) && !(d.bitmap.At(x, y) == PadFill)) {
                    ++spilled;
                }
            }
        }
        EXPECT_EQ(spilled, 0);
        for (size_t zone = 0; zone < ZoneCount; ++zone) {
            // Dark pixels: the words, drawn in LabelColour over a light fill.
            const RECT box = d.map.LabelBox(zone);
            int dark = 0;
            for (int y = box.top; y < box.bottom; ++y) {
                for (int x = box.left; x < box.right; ++x) {
                    const Rgb c = d.bitmap.At(x, y);
                    if (c.r + c.g + c.b < 200) {
                        ++dark;
                    }
                }
            }
            EXPECT_GT(dark, 20) << "zone " << zone << " has no words";
        }
    }
}

} // namespace
} // namespace overlay

namespace overlay {
namespace {

// ---- Painting again on the same bitmap redraws only what changed: after any state, the next
// one looks exactly as a fresh drawing of it.

struct RepaintCase {
    const char* name;
    // Packets fed one group at a time; the panel is painted after each group.
    std::vector<std::vector<PacketView>> groups;
};

RepaintCase MovesAcrossZones() {
    RepaintCase c{"a finger from zone to zone, then lifted", {}};
    const PanelLayout layout = LayoutFor(LibraryPad);
    // First between buttons 1 and 2, on no zone.
    const RECT one = layout.zones[FirstGridIndex].rect;
    c.groups.push_back(
        {{Finger, one.right + GridGap / 2, TurnY(layout, (one.top + one.bottom) / 2), 0}});
    for (const size_t zone :
         {FirstGridIndex, FirstGridIndex + 1, StripIndex, ExitIndex, FirstGridIndex + 8}) {
        const POINT at = DeviceCentre(layout, zone);
        c.groups.push_back({{Finger, at.x, at.y, 0}});
    }
    c.groups.push_back({{0, 0, 0, 0}});
    return c;
}

RepaintCase TapThenMove() {
    const PanelLayout layout = LayoutFor(LibraryPad);
    const POINT three = DeviceCentre(layout, FirstGridIndex + 2);
    const POINT seven = DeviceCentre(layout, FirstGridIndex + 6);
    return {"a tap, then a finger elsewhere", {Tap(three), {{Finger, seven.x, seven.y, 0}}}};
}

RepaintCase StepThenLift() {
    const PanelLayout layout = LayoutFor(LibraryPad);
    const POINT strip = DeviceCentre(layout, StripIndex);
    return {"a volume step, then lifted",
            {{{Finger, strip.x, strip.y, 0}, {Finger, strip.x, strip.y, 30}},
             {{0, strip.x, strip.y, 0}},
             {{Finger, strip.x - 100, strip.y - 400, 0}}}};
}

TEST(OverlayRender, PaintingAgainLooksAsAFreshDrawing) {
    const RepaintCase cases[] = {MovesAcrossZones(), TapThenMove(), StepThenLift()};
    for (const Canvas& canvas : Canvases) {
        if (!EqualRect(&canvas.pad, &LibraryPad)) {
            continue;
        }
        for (const RepaintCase& c : cases) {
            SCOPED_TRACE(Name(canvas) + ", " + c.name);
            const PanelLayout layout = LayoutFor(canvas.pad);
            PanelTracker tracker(layout);
            PanelPainter painter(layout, canvas.width, canvas.height, {canvas.dpiScale, true});
            PanelBitmap again(canvas.width, canvas.height);
            DWORD now = 1000;
            for (size_t g = 0; g < c.groups.size(); ++g) {
                Feed(tracker, c.groups[g], now);
                now += 100; // flashes half faded
                const PanelState state = tracker.StateAt(now);
                painter.Paint(state, again);
                PanelBitmap fresh(canvas.width, canvas.height);
                RenderPanel(layout, state, {canvas.dpiScale, true}, fresh);
                int differing = 0;
                int seeThrough = 0; // Wine's X11 driver blends the alpha byte in: all opaque
                for (int y = 0; y < canvas.height; ++y) {
                    for (int x = 0; x < canvas.width; ++x) {
                        differing += again.At(x, y) == fresh.At(x, y) ? 0 : 1;
                        const size_t at = static_cast<size_t>(y) * canvas.width + x;
                        seeThrough += (again.Bits()[at] >> 24) == 0xff ? 0 : 1;
                        seeThrough += (fresh.Bits()[at] >> 24) == 0xff ? 0 : 1;
                    }
                }
                EXPECT_EQ(differing, 0) << "after group " << g;
                EXPECT_EQ(seeThrough, 0) << "after group " << g;
            }
        }
    }
}

} // namespace
} // namespace overlay
