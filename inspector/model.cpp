#include "model.h"

#include <algorithm>

#include "device/wrap32.h"

namespace inspector {

std::optional<Area> Intersect(const Area& a, const Area& b) {
    const Area common{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                      std::min(a.bottom, b.bottom)};
    if (common.left > common.right || common.top > common.bottom) {
        return std::nullopt;
    }
    return common;
}

std::vector<Area> Subtract(const Area& from, const Area& cut) {
    const auto common = Intersect(from, cut);
    if (!common) {
        return {from};
    }
    std::vector<Area> pieces;
    // Full-width bands above and below the common part, then what lies left and right of it.
    if (from.top < common->top) {
        pieces.push_back({from.left, from.top, from.right, common->top - 1});
    }
    if (common->bottom < from.bottom) {
        pieces.push_back({from.left, common->bottom + 1, from.right, from.bottom});
    }
    if (from.left < common->left) {
        pieces.push_back({from.left, common->top, common->left - 1, common->bottom});
    }
    if (common->right < from.right) {
        pieces.push_back({common->right + 1, common->top, from.right, common->bottom});
    }
    return pieces;
}

std::vector<Area> Subtract(const std::vector<Area>& from, const Area& cut) {
    std::vector<Area> rest;
    for (const Area& area : from) {
        for (const Area& piece : Subtract(area, cut)) {
            rest.push_back(piece);
        }
    }
    return rest;
}

Area BoundingArea(const std::vector<Area>& areas) {
    Area box = areas.front();
    for (const Area& a : areas) {
        box = {std::min(box.left, a.left), std::min(box.top, a.top), std::max(box.right, a.right),
               std::max(box.bottom, a.bottom)};
    }
    return box;
}

bool LayoutModel::AllZonesCanBeHit() const {
    return std::all_of(zones.begin(), zones.end(),
                       [](const InspectedZone& zone) { return zone.CanBeHit(); });
}

namespace {

constexpr const char* EdgeNames[4] = {"left", "top", "right", "bottom"};
constexpr LONG GridSpan = 2 * GridMargin + 2 * GridGap; // 1800

std::string Num(long long value) {
    return std::to_string(value);
}

// "x 6300..6999, device y 4351..5800": the device points of a view-frame area.
std::string DeviceRanges(const LayoutModel& model, const Area& area) {
    return "x " + Num(area.left) + ".." + Num(area.right) + ", device y " +
           Num(model.Turn(area.bottom)) + ".." + Num(model.Turn(area.top));
}

std::string Join(const std::vector<std::string>& parts) {
    std::string text;
    for (size_t i = 0; i < parts.size(); ++i) {
        text += i == 0 ? "" : (i + 1 == parts.size() ? " and " : ", ");
        text += parts[i];
    }
    return text;
}

// The points a zone's rectangle holds, in the view frame.
std::optional<Area> ViewArea(const LayoutModel& model, ZoneKind kind, const RECT& r) {
    if (r.right <= r.left || r.bottom <= r.top) {
        return std::nullopt;
    }
    if (kind != ZoneKind::Strip) {
        return Area{r.left, r.top, static_cast<long long>(r.right) - 1,
                    static_cast<long long>(r.bottom) - 1};
    }
    // The strip is tested with the device's Y: turn its rows over into the view frame.
    return Area{r.left, model.Turn(static_cast<long long>(r.bottom) - 1),
                static_cast<long long>(r.right) - 1, model.Turn(r.top)};
}

bool Contains(const Area& outer, const Area& inner) {
    return inner.left >= outer.left && inner.right <= outer.right && inner.top >= outer.top &&
           inner.bottom <= outer.bottom;
}

void AddFinding(LayoutModel& model, FindingKind kind, std::vector<size_t> zones, std::string text) {
    Finding finding;
    finding.kind = kind;
    finding.zones = std::move(zones);
    finding.text = std::move(text);
    model.findings.push_back(std::move(finding));
}

void SizeFindings(LayoutModel& model) {
    const long long width = static_cast<long long>(model.pad.right) - model.pad.left;
    const long long height = static_cast<long long>(model.pad.bottom) - model.pad.top;
    const struct {
        const char* name;
        LONG value;
        long long exact;
    } sizes[] = {
        {"colWidth", model.sizes.colWidth, model.exactSizes.colWidth},
        {"btnWidth", model.sizes.btnWidth, model.exactSizes.btnWidth},
        {"btnHeight", model.sizes.btnHeight, model.exactSizes.btnHeight},
        {"stripHeight", model.sizes.stripHeight, model.exactSizes.stripHeight},
    };
    for (const auto& size : sizes) {
        std::string text;
        FindingKind kind = FindingKind::SizeWrapped;
        const std::string name = size.name;
        if (size.value != size.exact) {
            const long long gridRoom = width - model.exactSizes.colWidth - GridSpan;
            if (name == "btnWidth" && gridRoom < 0 && gridRoom >= INT32_MIN) {
                text = "btnWidth wrapped: right - colWidth - left - 1800 is " + Num(gridRoom) +
                       " (the pad is " + Num(width) + " wide, of which " +
                       Num(width - model.exactSizes.colWidth) +
                       " lie left of the right-hand column, less than the 1800 that the grid's "
                       "margins and gaps take); divided as an unsigned 32-bit number it gives " +
                       Num(size.value) + " in place of " + Num(size.exact) + ".";
            } else {
                text = name + " wrapped around 32 bits: its sums come to " + Num(size.exact) +
                       ", the program's 32-bit result is " + Num(size.value) + ".";
            }
        } else if (size.value <= 0) {
            kind = FindingKind::SizeTooSmall;
            if (name == "btnHeight") {
                text = "btnHeight is " + Num(size.value) + ": the pad is " + Num(height) +
                       " high, " +
                       (height < GridSpan ? Num(GridSpan - height) + " short of"
                                          : "which leaves nothing beyond") +
                       " the 1800 that the grid's margins and gaps take, so no grid button "
                       "holds a point.";
            } else if (name == "btnWidth") {
                text = "btnWidth is 0: the pad is " + Num(width) +
                       " wide, which leaves nothing for the grid beyond the right-hand column "
                       "and the 1800 that the grid's margins and gaps take, so no grid button "
                       "holds a point.";
            } else if (name == "colWidth") {
                text = "colWidth is " + Num(size.value) + ": the pad is " + Num(width) +
                       " wide, so the right-hand column has no width.";
            } else {
                text = "stripHeight is " + Num(size.value) +
                       ": the volume strip has no height and holds no point.";
            }
        } else {
            continue;
        }
        Finding finding;
        finding.kind = kind;
        finding.size = name;
        finding.text = std::move(text);
        model.findings.push_back(std::move(finding));
    }
}

// Why a zone's rectangle holds no point at all.
std::string EmptyReason(const LayoutModel& model, const InspectedZone& zone) {
    const RECT& r = zone.zone.rect;
    const bool across = r.right <= r.left;
    const int lo = across ? 0 : 1;
    const int hi = across ? 2 : 3;
    const LONG low = across ? r.left : r.top;
    const LONG high = across ? r.right : r.bottom;
    std::string text = "its " + std::string(EdgeNames[hi]) + " edge (" + Num(high) + ") is not " +
                       (across ? "right of" : "below") + " its " + EdgeNames[lo] + " edge (" +
                       Num(low) + ")";
    std::vector<std::string> wrapped;
    for (const int edge : {lo, hi}) {
        if (zone.wrapped[edge]) {
            wrapped.push_back(std::string(EdgeNames[edge]) + " edge");
        }
    }
    if (!wrapped.empty()) {
        return text + ", because its " + Join(wrapped) + " wrapped around 32 bits";
    }
    if (zone.kind == ZoneKind::Grid) {
        const LONG size = across ? model.sizes.btnWidth : model.sizes.btnHeight;
        if (size <= 0) {
            return text + ", because " + (across ? "btnWidth" : "btnHeight") + " is " + Num(size);
        }
    }
    return text;
}

void DeadFindings(LayoutModel& model) {
    for (size_t i = 0; i < ZoneCount; ++i) {
        const InspectedZone& zone = model.zones[i];
        if (zone.CanBeHit()) {
            continue;
        }
        std::string reason;
        if (!zone.area) {
            reason = EmptyReason(model, zone);
        } else if (!Intersect(*zone.area, model.padArea)) {
            reason = "it lies wholly outside the pad (" + DeviceRanges(model, *zone.area) + ")";
        } else {
            std::vector<std::string> before;
            for (size_t j = ExitIndex; j < i; ++j) {
                const auto& other = model.zones[j].area;
                if (other && Intersect(*other, *zone.area)) {
                    before.push_back(ZoneRef(model.zones[j]));
                }
            }
            reason = "every point of it on the pad belongs to " + Join(before) + ", which come" +
                     (before.size() == 1 ? "s" : "") + " before it in the button list";
        }
        AddFinding(model, FindingKind::Dead, {i},
                   Capitalised(ZoneLabel(zone)) + " can never be hit: " + reason + ".");
    }
}

std::string AreaText(const LayoutModel& model, const std::vector<Area>& areas) {
    const Area box = BoundingArea(areas);
    std::string text = WhereOnPad(model, box) + ", " + DeviceRanges(model, box);
    if (areas.size() > 1) {
        text += " (in " + Num(static_cast<long long>(areas.size())) + " pieces)";
    }
    return text;
}

// `zones`: the zone that takes a tap there first, then the other.
void AddOverlap(LayoutModel& model, std::vector<size_t> zones, const std::vector<Area>& areas,
                bool withStrip, std::string text) {
    Finding finding;
    finding.kind = FindingKind::Overlap;
    finding.zones = std::move(zones);
    finding.areas = areas;
    finding.withStrip = withStrip;
    finding.text = std::move(text);
    model.findings.push_back(std::move(finding));
}

void OverlapFindings(LayoutModel& model) {
    // Buttons: a tap goes to the first button in the list that holds the point.
    for (size_t winner = ExitIndex; winner < ZoneCount; ++winner) {
        for (size_t loser = winner + 1; loser < ZoneCount; ++loser) {
            const auto& a = model.zones[winner].area;
            const auto& b = model.zones[loser].area;
            if (!a || !b) {
                continue;
            }
            const auto shared = Intersect(*a, *b);
            const auto onPad = shared ? Intersect(*shared, model.padArea) : std::nullopt;
            if (!onPad) {
                continue;
            }
            std::vector<Area> areas{*onPad};
            for (size_t k = ExitIndex; k < winner; ++k) {
                if (model.zones[k].area) {
                    areas = Subtract(areas, *model.zones[k].area);
                }
            }
            if (areas.empty()) {
                continue;
            }
            const InspectedZone& first = model.zones[winner];
            AddOverlap(model, {winner, loser}, areas, false,
                       Capitalised(ZoneLabel(model.zones[loser])) + " and " + ZoneLabel(first) +
                           " overlap at " + AreaText(model, areas) + ": a tap there goes to " +
                           ZoneRef(first) + ", which comes first in the button list.");
        }
    }
    // The strip takes slides, the buttons taps: where they share points, both happen.
    const InspectedZone& strip = model.zones[StripIndex];
    for (size_t i = ExitIndex; i < ZoneCount; ++i) {
        std::vector<Area> areas;
        for (const Area& stripArea : strip.reachable) {
            for (const Area& buttonArea : model.zones[i].reachable) {
                if (const auto shared = Intersect(stripArea, buttonArea)) {
                    areas.push_back(*shared);
                }
            }
        }
        if (areas.empty()) {
            continue;
        }
        const InspectedZone& button = model.zones[i];
        AddOverlap(model, {i, StripIndex}, areas, true,
                   "The volume strip and " + ZoneLabel(button) + " overlap at " +
                       AreaText(model, areas) + ": a tap there goes to " + ZoneRef(button) +
                       TapOutcome(button) + "; a slide there steps the volume.");
    }
}

void BeyondFindings(LayoutModel& model) {
    const Area& pad = model.padArea;
    for (size_t i = 0; i < ZoneCount; ++i) {
        const InspectedZone& zone = model.zones[i];
        if (!zone.beyondPad) {
            continue;
        }
        const Area& a = *zone.area;
        std::vector<std::string> sides;
        if (a.left < pad.left) {
            sides.push_back("left to x " + Num(a.left) + " (the pad starts at " + Num(pad.left) +
                            ")");
        }
        if (a.right > pad.right) {
            sides.push_back("right to x " + Num(a.right) + " (the pad ends at " + Num(pad.right) +
                            ")");
        }
        if (a.top < pad.top) {
            sides.push_back("up to device y " + Num(model.Turn(a.top)) +
                            " (the pad's top edge is at " + Num(model.Turn(pad.top)) + ")");
        }
        if (a.bottom > pad.bottom) {
            sides.push_back("down to device y " + Num(model.Turn(a.bottom)) +
                            " (the pad's bottom edge is at " + Num(model.Turn(pad.bottom)) + ")");
        }
        AddFinding(model, FindingKind::BeyondPad, {i},
                   Capitalised(ZoneLabel(zone)) + " reaches beyond the pad: " + Join(sides) + ".");
    }
}

void WrapFindings(LayoutModel& model) {
    for (size_t i = 0; i < ZoneCount; ++i) {
        const InspectedZone& zone = model.zones[i];
        const RECT& r = zone.zone.rect;
        const LONG stored[4] = {r.left, r.top, r.right, r.bottom};
        const long long exact[4] = {zone.exact.left, zone.exact.top, zone.exact.right,
                                    zone.exact.bottom};
        std::vector<std::string> edges;
        for (int e = 0; e < 4; ++e) {
            if (zone.wrapped[e]) {
                edges.push_back(std::string(EdgeNames[e]) + " edge " + Num(exact[e]) + " became " +
                                Num(stored[e]));
            }
        }
        if (edges.empty()) {
            continue;
        }
        std::string text =
            Capitalised(ZoneLabel(zone)) + " wrapped around 32 bits: its " + Join(edges);
        if (zone.CanBeHit()) {
            text += "; on the pad it answers only at " + AreaText(model, zone.reachable);
        }
        AddFinding(model, FindingKind::ZoneWrapped, {i}, text + ".");
    }
}

} // namespace

LayoutModel Inspect(const PadBounds& bounds) {
    LayoutModel model{};
    model.pad = bounds.rect;
    model.sizes = bounds.sizes;
    const RECT& pad = model.pad;
    const auto exactSizes =
        SizesFor(Exact{pad.left}, Exact{pad.top}, Exact{pad.right}, Exact{pad.bottom});
    model.exactSizes = {exactSizes.colWidth.v, exactSizes.btnWidth.v, exactSizes.btnHeight.v,
                        exactSizes.stripHeight.v};
    model.padArea = {std::min(pad.left, pad.right), std::min(pad.top, pad.bottom),
                     std::max(pad.left, pad.right), std::max(pad.top, pad.bottom)};

    // The zones as the program places them, and the same sums (from the program's sizes)
    // without wrapping.
    const auto zones = PlaceZones(pad, model.sizes);
    const LayoutSizes<Exact> sizes{{model.sizes.colWidth},
                                   {model.sizes.btnWidth},
                                   {model.sizes.btnHeight},
                                   {model.sizes.stripHeight}};
    const auto exact =
        ZoneBoxes(Exact{pad.left}, Exact{pad.top}, Exact{pad.right}, Exact{pad.bottom}, sizes);

    std::vector<Area> earlierButtons;
    for (size_t i = 0; i < ZoneCount; ++i) {
        InspectedZone& zone = model.zones[i];
        zone.kind = i == StripIndex  ? ZoneKind::Strip
                    : i == ExitIndex ? ZoneKind::Exit
                                     : ZoneKind::Grid;
        zone.zone = zones[i];
        zone.exact = {exact[i].left.v, exact[i].top.v, exact[i].right.v, exact[i].bottom.v};
        const RECT& r = zone.zone.rect;
        zone.wrapped = {zone.exact.left != r.left, zone.exact.top != r.top,
                        zone.exact.right != r.right, zone.exact.bottom != r.bottom};
        zone.area = ViewArea(model, zone.kind, r);
        zone.beyondPad = zone.area && !Contains(model.padArea, *zone.area);
        if (!zone.area) {
            continue;
        }
        if (const auto onPad = Intersect(*zone.area, model.padArea)) {
            zone.reachable = {*onPad};
            if (zone.IsButton()) {
                for (const Area& before : earlierButtons) {
                    zone.reachable = Subtract(zone.reachable, before);
                }
            }
        }
        if (zone.IsButton()) {
            earlierButtons.push_back(*zone.area);
        }
    }

    SizeFindings(model);
    DeadFindings(model);
    OverlapFindings(model);
    BeyondFindings(model);
    WrapFindings(model);
    return model;
}

namespace {

const ZoneClassLook& WordsOf(const InspectedZone& zone) {
    return LookOf(static_cast<ZoneClass>(zone.kind));
}

} // namespace

std::string ZoneName(const InspectedZone& zone) {
    const std::string name = WordsOf(zone).name;
    return zone.kind == ZoneKind::Grid ? name + Num(zone.zone.id) : name;
}

std::string ZoneKey(const InspectedZone& zone) {
    const std::string key = WordsOf(zone).key;
    return zone.kind == ZoneKind::Grid ? key + Num(zone.zone.id) : key;
}

std::string ZoneDoes(const InspectedZone& zone) {
    if (zone.kind != ZoneKind::Grid) {
        return WordsOf(zone).does;
    }
    const ActionWords* words = WordsOfAction(zone.zone.action);
    return words != nullptr ? words->does : "nothing";
}

std::string ZoneRef(const InspectedZone& zone) {
    return zone.kind == ZoneKind::Grid ? ZoneName(zone) : "the " + ZoneName(zone);
}

std::string ZoneLabel(const InspectedZone& zone) {
    return zone.kind == ZoneKind::Grid ? ZoneName(zone) + " (" + ZoneDoes(zone) + ")"
                                       : ZoneRef(zone);
}

std::string Capitalised(std::string text) {
    if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') {
        text[0] = static_cast<char>(text[0] - 'a' + 'A');
    }
    return text;
}

std::string WhereOnPad(const LayoutModel& model, const Area& area) {
    const Area& pad = model.padArea;
    // Twice the centres, to stay in whole numbers.
    const long long cx = area.left + area.right;
    const long long cy = area.top + area.bottom;
    if (cx < 2 * pad.left || cx > 2 * pad.right || cy < 2 * pad.top || cy > 2 * pad.bottom) {
        return "outside the pad";
    }
    const auto third = [](long long c2, long long lo, long long hi) {
        const long long span = hi - lo + 1;
        const long long at = c2 - 2 * lo; // 0 .. 2 * span
        return at * 3 < 2 * span ? 0 : (at * 3 < 4 * span ? 1 : 2);
    };
    static constexpr const char* rows[3] = {"top", "middle", "bottom"};
    static constexpr const char* columns[3] = {"left", "centre", "right"};
    const int row = third(cy, pad.top, pad.bottom);
    const int column = third(cx, pad.left, pad.right);
    if (row == 1 && column == 1) {
        return "the middle of the pad";
    }
    return std::string("the ") + rows[row] + " " + columns[column] + " of the pad";
}

std::optional<size_t> ButtonAtDevicePoint(const LayoutModel& model, LONG x, LONG y) {
    // As packet handling does: the Y turned over, the buttons in list order.
    const POINT turned{x, WrapSub(WrapAdd(model.pad.top, model.pad.bottom), y)};
    for (size_t i = ExitIndex; i < ZoneCount; ++i) {
        if (PtInRect(&model.zones[i].zone.rect, turned)) {
            return i;
        }
    }
    return std::nullopt;
}

bool OnStripAtDevicePoint(const LayoutModel& model, LONG x, LONG y) {
    return PtInRect(&model.zones[StripIndex].zone.rect, POINT{x, y}) != FALSE;
}

std::string TapOutcome(const InspectedZone& zone) {
    if (zone.kind == ZoneKind::Exit) {
        return " and ends Tapdeck";
    }
    const ActionWords* words = WordsOfAction(zone.zone.action);
    return words != nullptr && words->endsTapdeck ? ", which ends Tapdeck after its key" : "";
}

} // namespace inspector
