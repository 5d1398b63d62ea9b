// The inspector's model: the program's sizes and zones for a pad rectangle, where each zone can
// be hit, and the findings; checked against worked rows and against the program's own hit
// tests.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "device/pad_app.h"
#include "model.h"

namespace inspector {
namespace {

PadBounds BoundsOf(const RECT& pad) {
    return {pad, DeriveSizes(pad)};
}

// "dead button1", "overlap exit>strip" (the zone that takes the tap first), "size-wrapped
// btnWidth"...
std::string Summary(const LayoutModel& model, const Finding& finding) {
    static const char* const kinds[] = {"size-wrapped", "size-too-small", "dead",
                                        "overlap",      "beyond",         "wrapped"};
    std::string text = kinds[static_cast<int>(finding.kind)];
    if (!finding.size.empty()) {
        return text + " " + finding.size;
    }
    for (size_t i = 0; i < finding.zones.size(); ++i) {
        text += (i == 0 ? " " : ">") + ZoneKey(model.zones[finding.zones[i]]);
    }
    return text;
}

struct SizesRow {
    const char* name;
    RECT pad;
    PadSizes sizes;
};

// The worked bounds rows, the simulated touchpad's edges, and edges whose width wraps.
constexpr SizesRow SizesRows[] = {
    {"registry defaults", {1612, 2072, 5300, 3748}, {614, 424, -41, 1117}},
    {"second row", {1632, 1568, 5312, 4288}, {613, 422, 306, 1814}},
    {"narrow", {1000, 1000, 3000, 3000}, {333, 1431655721, 66, 1334}},
    {"simulated touchpad", {1000, 1000, 7000, 5800}, {1000, 1066, 1000, 3200}},
    {"wrapping edges", {-2147483000, 1, 2147483000, 2}, {-216, 1431654805, -599, 0}},
};

TEST(InspectorModel, SizesAreTheProgramsForTheWorkedRows) {
    for (const SizesRow& row : SizesRows) {
        SCOPED_TRACE(row.name);
        const LayoutModel model = Inspect(BoundsOf(row.pad));
        EXPECT_EQ(model.sizes.colWidth, row.sizes.colWidth);
        EXPECT_EQ(model.sizes.btnWidth, row.sizes.btnWidth);
        EXPECT_EQ(model.sizes.btnHeight, row.sizes.btnHeight);
        EXPECT_EQ(model.sizes.stripHeight, row.sizes.stripHeight);
    }
}

// The eleven-zone worked example: strip, exit button, buttons 1 to 9.
constexpr RECT WorkedZones[ZoneCount] = {
    {6300, 2600, 7000, 5800}, {5700, 1000, 7000, 2450}, {1300, 1300, 2366, 2300},
    {2966, 1300, 4032, 2300}, {4632, 1300, 5698, 2300}, {1300, 2900, 2366, 3900},
    {2966, 2900, 4032, 3900}, {4632, 2900, 5698, 3900}, {1300, 4500, 2366, 5500},
    {2966, 4500, 4032, 5500}, {4632, 4500, 5698, 5500},
};

TEST(InspectorModel, ZonesAreTheWorkedExample) {
    const LayoutModel model = Inspect(BoundsOf({1000, 1000, 7000, 5800}));
    for (size_t i = 0; i < ZoneCount; ++i) {
        const Zone& zone = model.zones[i].zone;
        EXPECT_EQ(zone.rect.left, WorkedZones[i].left) << i;
        EXPECT_EQ(zone.rect.top, WorkedZones[i].top) << i;
        EXPECT_EQ(zone.rect.right, WorkedZones[i].right) << i;
        EXPECT_EQ(zone.rect.bottom, WorkedZones[i].bottom) << i;
        EXPECT_EQ(zone.id, i < FirstGridIndex ? 0 : static_cast<LONG>(i - 1)) << i;
        EXPECT_EQ(zone.action, zone.id) << i;
    }
    EXPECT_TRUE(model.AllZonesCanBeHit());
}

struct FindingsCase {
    const char* name;
    RECT pad;
    std::vector<std::string> findings;
    std::set<std::string> neverHit;
};

const FindingsCase FindingsCases[] = {
    {"simulated touchpad: only the exit button and the strip overlap",
     {1000, 1000, 7000, 5800},
     {"overlap exit>strip"},
     {}},
    {"second row", {1632, 1568, 5312, 4288}, {"overlap exit>strip"}, {}},
    {"registry defaults: the whole grid is upside down",
     {1612, 2072, 5300, 3748},
     {"size-too-small btnHeight", "dead button1", "dead button2", "dead button3", "dead button4",
      "dead button5", "dead button6", "dead button7", "dead button8", "dead button9",
      "overlap exit>strip"},
     {"button1", "button2", "button3", "button4", "button5", "button6", "button7", "button8",
      "button9"}},
    // btnWidth wraps: the second column's right edge wraps below its left edge, the third
    // column wraps around to start far left of the pad and reaches the pad only left of the
    // first column.
    {"narrow: two grid columns wrapped away",
     {1000, 1000, 3000, 3000},
     {"size-wrapped btnWidth",
      "dead button2",
      "dead button5",
      "dead button8",
      "overlap exit>button1",
      "overlap button1>button3",
      "overlap button4>button6",
      "overlap button7>button9",
      "overlap exit>strip",
      "overlap button4>strip",
      "beyond button1",
      "beyond button3",
      "beyond button4",
      "beyond button6",
      "beyond button7",
      "beyond button9",
      "wrapped button2",
      "wrapped button3",
      "wrapped button5",
      "wrapped button6",
      "wrapped button8",
      "wrapped button9"},
     {"button2", "button5", "button8"}},
    {"wrapping edges: nothing can be hit",
     {-2147483000, 1, 2147483000, 2},
     {"size-wrapped colWidth", "size-wrapped btnWidth", "size-too-small btnHeight",
      "size-too-small stripHeight", "dead strip", "dead exit", "dead button1", "dead button2",
      "dead button3", "dead button4", "dead button5", "dead button6", "dead button7",
      "dead button8", "dead button9"},
     {"strip", "exit", "button1", "button2", "button3", "button4", "button5", "button6", "button7",
      "button8", "button9"}},
};

// What the strip's overlap findings add after "a tap there goes to ...", zone by zone of the
// worked example: a launch button ends Tapdeck after its key, as the exit button ends it.
constexpr const char* TapOutcomes[ZoneCount] = {
    "",
    " and ends Tapdeck",
    ", which ends Tapdeck after its key",
    ", which ends Tapdeck after its key",
    ", which ends Tapdeck after its key",
    "",
    "",
    "",
    "",
    "",
    "",
};

TEST(InspectorModel, ATapOnALaunchButtonOrTheExitButtonIsSaidToEndTapdeck) {
    const LayoutModel model = Inspect(BoundsOf({1000, 1000, 7000, 5800}));
    for (size_t i = 0; i < ZoneCount; ++i) {
        EXPECT_EQ(TapOutcome(model.zones[i]), TapOutcomes[i]) << ZoneName(model.zones[i]);
    }
}

TEST(InspectorModel, FindingsNameEveryProblem) {
    for (const FindingsCase& c : FindingsCases) {
        SCOPED_TRACE(c.name);
        const LayoutModel model = Inspect(BoundsOf(c.pad));
        std::vector<std::string> findings;
        for (const Finding& finding : model.findings) {
            findings.push_back(Summary(model, finding));
            EXPECT_FALSE(finding.text.empty());
        }
        EXPECT_EQ(findings, c.findings);
        std::set<std::string> neverHit;
        for (const InspectedZone& zone : model.zones) {
            if (!zone.CanBeHit()) {
                neverHit.insert(ZoneKey(zone));
            }
        }
        EXPECT_EQ(neverHit, c.neverHit);
        EXPECT_EQ(model.AllZonesCanBeHit(), c.neverHit.empty());
    }
}

struct TextCase {
    const char* name;
    RECT pad;
    // A finding's text, whole.
    const char* text;
};

constexpr TextCase FindingTexts[] = {
    {"exit and strip",
     {1000, 1000, 7000, 5800},
     "The volume strip and the exit button overlap at the top right of the pad, x 6300..6999, "
     "device y 4351..5799: a tap there goes to the exit button and ends Tapdeck; a slide there "
     "steps the volume."},
    {"upside-down button",
     {1612, 2072, 5300, 3748},
     "Button 1 (browser home) can never be hit: its bottom edge (2331) is not below its top edge "
     "(2372), because btnHeight is -41."},
    {"the reason for it",
     {1612, 2072, 5300, 3748},
     "btnHeight is -41: the pad is 1676 high, 124 short of the 1800 that the grid's margins and "
     "gaps take, so no grid button holds a point."},
    {"wrapped width",
     {1000, 1000, 3000, 3000},
     "btnWidth wrapped: right - colWidth - left - 1800 is -133 (the pad is 2000 wide, of which "
     "1667 lie left of the right-hand column, less than the 1800 that the grid's margins and gaps "
     "take); divided as an unsigned 32-bit number it gives 1431655721 in place of -44."},
    {"wrapped button",
     {1000, 1000, 3000, 3000},
     "Button 2 (Win+F search) can never be hit: its right edge (-1431653954) is not right of its "
     "left edge (1431657621), because its right edge wrapped around 32 bits."},
    {"wrapped around to the left margin",
     {1000, 1000, 3000, 3000},
     "Button 3 (mail) wrapped around 32 bits: its left edge 2863313942 became -1431653354 and "
     "right edge 4294969663 became 2367; on the pad it answers only at the top left of the pad, "
     "x 1000..1299, device y 2635..2700."},
    {"two buttons",
     {1000, 1000, 3000, 3000},
     "Button 3 (mail) and button 1 (browser home) overlap at the top centre of the pad, x "
     "1300..2366, device y 2635..2700: a tap there goes to button 1, which comes first in the "
     "button list."},
    {"beyond the pad",
     {1000, 1000, 3000, 3000},
     "Button 1 (browser home) reaches beyond the pad: right to x 1431657020 (the pad ends at "
     "3000)."},
};

TEST(InspectorModel, FindingsSayWhyInPlainWords) {
    for (const TextCase& c : FindingTexts) {
        SCOPED_TRACE(c.name);
        const LayoutModel model = Inspect(BoundsOf(c.pad));
        bool found = false;
        for (const Finding& finding : model.findings) {
            found = found || finding.text == c.text;
        }
        EXPECT_TRUE(found) << c.text;
    }
}

// Which button takes a tap at a device point, and whether the strip takes a slide there, by the
// model's reachable areas.
std::optional<size_t> ModelButton(const LayoutModel& model, long long x, long long viewY) {
    std::optional<size_t> found;
    for (size_t i = ExitIndex; i < ZoneCount; ++i) {
        for (const Area& a : model.zones[i].reachable) {
            if (x >= a.left && x <= a.right && viewY >= a.top && viewY <= a.bottom) {
                EXPECT_FALSE(found) << "two buttons reach " << x << "," << viewY;
                found = i;
            }
        }
    }
    return found;
}

bool ModelStrip(const LayoutModel& model, long long x, long long viewY) {
    for (const Area& a : model.zones[StripIndex].reachable) {
        if (x >= a.left && x <= a.right && viewY >= a.top && viewY <= a.bottom) {
            return true;
        }
    }
    return false;
}

// Coordinates worth trying on one axis: the pad's edges, every zone edge and its neighbours,
// and a regular spread.
std::vector<long long> Samples(long long lo, long long hi, const std::vector<long long>& edges) {
    std::set<long long> samples = {lo, hi};
    for (const long long e : edges) {
        for (const long long d : {-1, 0, 1}) {
            if (e + d >= lo && e + d <= hi) {
                samples.insert(e + d);
            }
        }
    }
    for (long long v = lo; v <= hi; v += std::max<long long>(1, (hi - lo) / 60)) {
        samples.insert(v);
    }
    return {samples.begin(), samples.end()};
}

TEST(InspectorModel, WhereZonesCanBeHitAgreesWithTheProgramsHitTests) {
    for (const SizesRow& row : SizesRows) {
        SCOPED_TRACE(row.name);
        const LayoutModel model = Inspect(BoundsOf(row.pad));
        PadApp app;
        app.padRect = row.pad;
        app.colWidth = row.sizes.colWidth;
        app.btnWidth = row.sizes.btnWidth;
        app.btnHeight = row.sizes.btnHeight;
        app.stripHeight = row.sizes.stripHeight;
        ASSERT_EQ(app.LayoutZones(), 1);

        std::vector<long long> xs;
        std::vector<long long> ys; // view frame
        for (const InspectedZone& zone : model.zones) {
            const RECT& r = zone.zone.rect;
            xs.insert(xs.end(), {r.left, r.right});
            if (zone.IsButton()) {
                ys.insert(ys.end(), {r.top, r.bottom});
            } else {
                ys.insert(ys.end(), {model.Turn(r.top), model.Turn(r.bottom)});
            }
        }
        const Area& pad = model.padArea;
        int mismatches = 0;
        for (const long long x : Samples(pad.left, pad.right, xs)) {
            for (const long long viewY : Samples(pad.top, pad.bottom, ys)) {
                // The finger's device point: packet handling turns its Y over for the buttons.
                const auto deviceX = static_cast<LONG>(x);
                const auto deviceY = static_cast<LONG>(model.Turn(viewY));
                const Zone* program = app.FindButton(deviceX, static_cast<LONG>(viewY));
                const auto expected = ModelButton(model, x, viewY);
                const bool same =
                    expected ? program == app.buttons[*expected - 1].get() : program == nullptr;
                const bool stripSame =
                    ModelStrip(model, x, viewY) == (app.InStrip(deviceX, deviceY) != 0);
                if ((!same || !stripSame) && ++mismatches <= 5) {
                    ADD_FAILURE() << "device point " << deviceX << "," << deviceY;
                }
            }
        }
        EXPECT_EQ(mismatches, 0);
    }
}

struct SubtractCase {
    const char* name;
    Area from;
    Area cut;
    std::vector<Area> rest;
};

const SubtractCase SubtractCases[] = {
    {"apart", {0, 0, 9, 9}, {20, 20, 29, 29}, {{0, 0, 9, 9}}},
    {"covered", {0, 0, 9, 9}, {-5, -5, 15, 15}, {}},
    {"hole", {0, 0, 9, 9}, {3, 4, 5, 6}, {{0, 0, 9, 3}, {0, 7, 9, 9}, {0, 4, 2, 6}, {6, 4, 9, 6}}},
    {"right part", {0, 0, 9, 9}, {5, -1, 20, 20}, {{0, 0, 4, 9}}},
    {"one point", {0, 0, 0, 0}, {0, 0, 0, 0}, {}},
};

TEST(InspectorModel, SubtractLeavesThePointsOutsideTheCut) {
    for (const SubtractCase& c : SubtractCases) {
        SCOPED_TRACE(c.name);
        const auto rest = Subtract(c.from, c.cut);
        ASSERT_EQ(rest.size(), c.rest.size());
        for (size_t i = 0; i < rest.size(); ++i) {
            EXPECT_EQ(rest[i].left, c.rest[i].left);
            EXPECT_EQ(rest[i].top, c.rest[i].top);
            EXPECT_EQ(rest[i].right, c.rest[i].right);
            EXPECT_EQ(rest[i].bottom, c.rest[i].bottom);
        }
    }
}

struct TouchCase {
    const char* name;
    LONG x, y;          // device point
    const char* button; // null: none
    bool onStrip;
};

// On the simulated touchpad's layout: the program turns the Y over for buttons only.
constexpr TouchCase Touches[] = {
    {"button 1 near the top", 1500, 5000, "button1", false},
    {"exit and strip share it", 6500, 5000, "exit", true},
    {"strip only", 6500, 3000, nullptr, true},
    {"bottom of the right column: nothing", 6500, 1500, nullptr, false},
    {"button 8", 3499, 1800, "button8", false},
};

TEST(InspectorModel, TouchesUseTheProgramsHitRules) {
    const LayoutModel model = Inspect(BoundsOf({1000, 1000, 7000, 5800}));
    for (const TouchCase& c : Touches) {
        SCOPED_TRACE(c.name);
        const auto button = ButtonAtDevicePoint(model, c.x, c.y);
        EXPECT_EQ(button ? ZoneKey(model.zones[*button]) : "none", c.button ? c.button : "none");
        EXPECT_EQ(OnStripAtDevicePoint(model, c.x, c.y), c.onStrip);
    }
}

} // namespace
} // namespace inspector
