// What the layout inspector knows about a pad rectangle: the program's sizes and zones (from the
// program's own arithmetic), where each zone can be hit, and the findings in plain words. Pure:
// no registry, no device, no file.
//
// Frames. The pad's points are those of the pad rectangle, edges included. Buttons are tested
// with the Y turned over (top + bottom - device Y), the strip with the device's own Y. The
// "view" frame is the turned-over one: it is the pad as the user sees it, up being the pad's
// highest device Y, with the row of buttons 1 2 3 nearest the top. Every area in the model is
// in the view frame.
#pragma once

#include <windows.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "layout/geometry.h"
#include "layout/pad_bounds.h"
#include "layout/zone.h"
#include "layout/zone_words.h"

namespace inspector {

// A set of whole points: first and last point across and down, both included.
struct Area {
    long long left;
    long long top;
    long long right;
    long long bottom;

    long long Width() const { return right - left + 1; }
    long long Height() const { return bottom - top + 1; }
};

std::optional<Area> Intersect(const Area& a, const Area& b);
// The points of `from` that are not in `cut`, as at most four areas.
std::vector<Area> Subtract(const Area& from, const Area& cut);
std::vector<Area> Subtract(const std::vector<Area>& from, const Area& cut);
// The smallest area that holds them all; `areas` must not be empty.
Area BoundingArea(const std::vector<Area>& areas);

// In the order of ZoneClass, whose table holds each kind's words and colour.
enum class ZoneKind { Strip, Exit, Grid };
static_assert(static_cast<int>(ZoneKind::Strip) == static_cast<int>(ZoneClass::Strip) &&
              static_cast<int>(ZoneKind::Exit) == static_cast<int>(ZoneClass::Exit) &&
              static_cast<int>(ZoneKind::Grid) == static_cast<int>(ZoneClass::Grid));

struct InspectedZone {
    ZoneKind kind;
    // The zone as the program lays it out: the strip's rectangle in device Y, the buttons' in
    // turned-over Y.
    Zone zone;
    // The same rectangle computed without wrapping, from the program's sizes.
    Box<long long> exact;
    // Which of left, top, right, bottom wrapped around 32 bits.
    std::array<bool, 4> wrapped;
    // The points the rectangle holds, in the view frame; none when right <= left or
    // bottom <= top.
    std::optional<Area> area;
    // Some of those points lie outside the pad.
    bool beyondPad;
    // Where a touch on the pad reaches it: for a button, its points on the pad that no button
    // before it holds; for the strip, its points on the pad.
    std::vector<Area> reachable;

    bool CanBeHit() const { return !reachable.empty(); }
    bool IsButton() const { return kind != ZoneKind::Strip; }
};

enum class FindingKind {
    SizeWrapped,  // a size's 32-bit sums wrapped
    SizeTooSmall, // a size of 0 or less: its zones hold nothing
    Dead,         // a zone no point of the pad reaches
    Overlap,      // two zones share points of the pad
    BeyondPad,    // a zone reaches past the pad's edges
    ZoneWrapped,  // a zone's coordinates wrapped around 32 bits
};

struct Finding {
    FindingKind kind = FindingKind::Dead;
    // Zones concerned (indices into LayoutModel::zones); for an overlap, the one that takes a
    // tap there first.
    std::vector<size_t> zones;
    // Size concerned (SizeWrapped, SizeTooSmall): "colWidth", "btnWidth"...
    std::string size;
    // Overlap: the shared points.
    std::vector<Area> areas;
    // Overlap with the strip: a slide there steps the volume as well.
    bool withStrip = false;
    std::string text;
};

struct LayoutModel {
    RECT pad;
    PadSizes sizes;
    // The sizes without wrapping.
    LayoutSizes<long long> exactSizes;
    // The pad's points: from the lower to the higher edge, both included.
    Area padArea;
    // In the order the program adds them: strip, exit button, buttons 1 to 9.
    std::array<InspectedZone, ZoneCount> zones;
    std::vector<Finding> findings;

    bool AllZonesCanBeHit() const;
    // Device Y of a view-frame Y, and back (the same reflection).
    long long Turn(long long y) const { return static_cast<long long>(pad.top) + pad.bottom - y; }
};

// Lays out the pad with the program's arithmetic and inspects the result.
LayoutModel Inspect(const PadBounds& bounds);

// Names for people and for scripts.
std::string ZoneName(const InspectedZone& zone); // "volume strip", "exit button", "button 4"
std::string ZoneKey(const InspectedZone& zone);  // "strip", "exit", "button4"
// What a tap (or, for the strip, a slide) there does: "stop", "ends Tapdeck",
// "steps the volume"...
std::string ZoneDoes(const InspectedZone& zone);
// In a sentence: "the volume strip", "the exit button", "button 4".
std::string ZoneRef(const InspectedZone& zone);
// The same with a grid button's action: "button 4 (stop)".
std::string ZoneLabel(const InspectedZone& zone);
// What a tap on the button does to the mode, after "a tap there goes to ..." in the strip's
// overlap findings: " and ends Tapdeck", ", which ends Tapdeck after its key" or nothing.
std::string TapOutcome(const InspectedZone& zone);
// The text with its first letter in capitals.
std::string Capitalised(std::string text);

// Where an area lies as the pad looks: "the top right corner", "the middle"...
std::string WhereOnPad(const LayoutModel& model, const Area& area);

// The program's hit tests on the inspected zones. The button a tap at device point (x, y)
// goes to (index into zones), and whether a finger at (x, y) is on the strip.
std::optional<size_t> ButtonAtDevicePoint(const LayoutModel& model, LONG x, LONG y);
bool OnStripAtDevicePoint(const LayoutModel& model, LONG x, LONG y);

} // namespace inspector
