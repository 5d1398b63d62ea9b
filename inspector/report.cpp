#include "report.h"

#include <algorithm>
#include <cstdio>

namespace inspector {

namespace {

constexpr size_t LineWidth = 100;

std::string Num(long long value) {
    return std::to_string(value);
}

std::string Status(LONG status) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(status));
    return Num(status) + " (" + hex + ")";
}

std::string RegistryKey(const BoundsOrigin& origin) {
    return std::string("HKLM\\") + PadConfigPath + " (" + Num(origin.registryView) + "-bit view)";
}

constexpr const char* BoundNames[4] = {"left", "top", "right", "bottom"};
constexpr const char* EdgeNames[4] = {"low X edge (PropXLo)", "low Y edge (PropYLo)",
                                      "high X edge (PropXHi)", "high Y edge (PropYHi)"};

std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

// One JSON object on one line, member by member.
class Object {
public:
    Object& Raw(const char* name, const std::string& json) {
        text += (text.empty() ? "" : ", ") + Quoted(name) + ": " + json;
        return *this;
    }
    Object& Str(const char* name, const std::string& value) { return Raw(name, Quoted(value)); }
    Object& Num(const char* name, long long value) { return Raw(name, std::to_string(value)); }
    Object& Bool(const char* name, bool value) { return Raw(name, value ? "true" : "false"); }
    std::string Json() const { return "{" + text + "}"; }

private:
    std::string text;
};

template <class Item, class Fn> std::string Array(const std::vector<Item>& items, Fn json) {
    std::string text;
    for (const Item& item : items) {
        text += (text.empty() ? "" : ", ") + json(item);
    }
    return "[" + text + "]";
}

std::string Range(long long first, long long last) {
    return "[" + Num(first) + ", " + Num(last) + "]";
}

// The device points of a view-frame area: x and the device's own y, first and last.
std::string DeviceJson(const LayoutModel& model, const Area& area) {
    return Object()
        .Raw("x", Range(area.left, area.right))
        .Raw("y", Range(model.Turn(area.bottom), model.Turn(area.top)))
        .Json();
}

// The same area as the pad looks: across from its left edge, down from its top edge.
std::string ViewJson(const LayoutModel& model, const Area& area) {
    const Area& pad = model.padArea;
    return Object()
        .Raw("across", Range(area.left - pad.left, area.right - pad.left))
        .Raw("down", Range(area.top - pad.top, area.bottom - pad.top))
        .Json();
}

std::string FindingKindName(FindingKind kind) {
    switch (kind) {
    case FindingKind::SizeWrapped:
        return "size-wrapped";
    case FindingKind::SizeTooSmall:
        return "size-too-small";
    case FindingKind::Dead:
        return "dead";
    case FindingKind::Overlap:
        return "overlap";
    case FindingKind::BeyondPad:
        return "beyond-pad";
    case FindingKind::ZoneWrapped:
        return "zone-wrapped";
    }
    return "";
}

std::string SourceKindName(SourceKind kind) {
    switch (kind) {
    case SourceKind::Registry:
        return "registry";
    case SourceKind::Touchpad:
        return "touchpad";
    case SourceKind::Given:
        break;
    }
    return "given";
}

std::string ZoneJson(const LayoutModel& model, const InspectedZone& zone) {
    const RECT& r = zone.zone.rect;
    std::vector<std::string> wrapped;
    for (int e = 0; e < 4; ++e) {
        if (zone.wrapped[e]) {
            wrapped.push_back(BoundNames[e]);
        }
    }
    return Object()
        .Str("key", ZoneKey(zone))
        .Str("name", ZoneName(zone))
        .Num("id", zone.zone.id)
        .Num("action", zone.zone.action)
        .Str("does", ZoneDoes(zone))
        .Str("list", zone.IsButton() ? "buttons" : "strips")
        .Str("testedIn", zone.IsButton() ? "turned" : "device")
        .Raw("rect", "[" + Num(r.left) + ", " + Num(r.top) + ", " + Num(r.right) + ", " +
                         Num(r.bottom) + "]")
        .Raw("device", zone.area ? DeviceJson(model, *zone.area) : "null")
        .Raw("view", zone.area ? ViewJson(model, *zone.area) : "null")
        .Bool("beyondPad", zone.beyondPad)
        .Raw("wrapped", Array(wrapped, Quoted))
        .Bool("canBeHit", zone.CanBeHit())
        .Json();
}

std::string FindingJson(const LayoutModel& model, const Finding& finding) {
    Object object;
    object.Str("kind", FindingKindName(finding.kind));
    if (!finding.size.empty()) {
        object.Str("size", finding.size);
    }
    object.Raw("zones", Array(finding.zones,
                              [&model](size_t i) { return Quoted(ZoneKey(model.zones[i])); }));
    if (finding.kind == FindingKind::Overlap) {
        object.Str("tapGoesTo", ZoneKey(model.zones[finding.zones.front()]))
            .Bool("slideStepsVolume", finding.withStrip)
            .Raw("device", DeviceJson(model, BoundingArea(finding.areas)))
            .Num("pieces", static_cast<long long>(finding.areas.size()));
    }
    return object.Str("text", finding.text).Json();
}

std::string TouchJson(const LayoutModel& model, const Touch& touch, size_t number) {
    Object object;
    object.Num("number", static_cast<long long>(number))
        .Str("kind", touch.IsTap() ? "tap" : "slide");
    object.Raw("points", Array(touch.points, [](const POINT& p) {
                   return "[" + Num(p.x) + ", " + Num(p.y) + "]";
               }));
    if (touch.IsTap()) {
        const POINT& p = touch.points.back();
        const auto button = ButtonAtDevicePoint(model, p.x, p.y);
        object.Raw("button", button ? Quoted(ZoneKey(model.zones[*button])) : "null");
    } else {
        long long onStrip = 0;
        for (const POINT& p : touch.points) {
            onStrip += OnStripAtDevicePoint(model, p.x, p.y) ? 1 : 0;
        }
        object.Num("onStrip", onStrip);
    }
    return object.Str("text", TouchText(model, touch)).Json();
}

std::string SourceJson(const BoundsOrigin& origin) {
    Object object;
    object.Str("kind", SourceKindName(origin.kind)).Str("text", SourceText(origin));
    if (origin.kind != SourceKind::Given) {
        object.Num("registryView", origin.registryView)
            .Bool("overrideKey", origin.keyOpened)
            .Num("useUserConfig", origin.useUserConfig);
    }
    if (origin.kind == SourceKind::Registry) {
        std::vector<std::string> defaulted;
        for (int i = 0; i < 4; ++i) {
            if (origin.defaulted[i]) {
                defaulted.push_back(BoundValueNames[i]);
            }
        }
        object.Raw("defaulted", Array(defaulted, Quoted));
    }
    if (origin.kind == SourceKind::Touchpad && origin.opening.handle != NoDeviceHandle) {
        object.Num("handle", origin.opening.handle);
    }
    const bool haveValues = origin.kind == SourceKind::Given ||
                            origin.problem == SourceProblem::None ||
                            origin.problem == SourceProblem::ZeroBound;
    if (haveValues) {
        object.Raw("values", "[" + Num(origin.values[0]) + ", " + Num(origin.values[1]) + ", " +
                                 Num(origin.values[2]) + ", " + Num(origin.values[3]) + "]");
    }
    return object.Json();
}

// A table with columns as wide as their widest cell.
std::string Table(const std::vector<std::vector<std::string>>& rows, const std::string& indent) {
    std::vector<size_t> widths;
    for (const auto& row : rows) {
        widths.resize(std::max(widths.size(), row.size()));
        for (size_t c = 0; c < row.size(); ++c) {
            widths[c] = std::max(widths[c], row[c].size());
        }
    }
    std::string text;
    for (const auto& row : rows) {
        std::string line = indent;
        for (size_t c = 0; c < row.size(); ++c) {
            line += row[c];
            if (c + 1 < row.size()) {
                line += std::string(widths[c] - row[c].size() + 2, ' ');
            }
        }
        text += line + "\n";
    }
    return text;
}

std::string Span(long long first, long long last) {
    return Num(first) + ".." + Num(last);
}

} // namespace

int ExitCodeOf(const Inspection& inspection) {
    if (inspection.origin.problem != SourceProblem::None || !inspection.model) {
        return NoBounds;
    }
    return inspection.model->AllZonesCanBeHit() ? AllZonesHit : ZonesNeverHit;
}

std::string SourceText(const BoundsOrigin& origin) {
    switch (origin.kind) {
    case SourceKind::Given:
        return "given on the command line (--bounds): no device, no registry.";
    case SourceKind::Registry: {
        std::string text = "from the registry override " + RegistryKey(origin) +
                           ", UseUserConfig " + Num(origin.useUserConfig);
        if (origin.problem == SourceProblem::UseUserConfigInvalid) {
            return text + ".";
        }
        text += ":";
        for (int i = 0; i < 4; ++i) {
            text += std::string(i == 0 ? " " : ", ") + BoundValueNames[i] + " " +
                    Num(origin.values[i]) + (origin.defaulted[i] ? " (absent: the default)" : "");
        }
        return text + ".";
    }
    case SourceKind::Touchpad:
        break;
    }
    std::string why = !origin.keyOpened ? "there is no " + RegistryKey(origin)
                                        : RegistryKey(origin) + " has UseUserConfig 0 or none";
    std::string text = "from the touchpad, through the device library";
    if (origin.problem == SourceProblem::None || origin.problem == SourceProblem::ZeroBound) {
        text += " (touchpad handle " + Num(origin.opening.handle) + ", its four edges read)";
    }
    return text + ", as the registry does not override them: " + why + ".";
}

std::string ProblemCode(SourceProblem problem) {
    switch (problem) {
    case SourceProblem::None:
        return "";
    case SourceProblem::LibraryNotRegistered:
        return "device-library-not-registered";
    case SourceProblem::LibraryObjectFailed:
        return "device-library-object-failed";
    case SourceProblem::PrepareFailed:
        return "prepare-failed";
    case SourceProblem::NoTouchpad:
        return "no-touchpad";
    case SourceProblem::AttachFailed:
        return "attach-failed";
    case SourceProblem::WrongKind:
        return "wrong-kind";
    case SourceProblem::UseUserConfigInvalid:
        return "use-user-config-invalid";
    case SourceProblem::ZeroBound:
        return "zero-bound";
    }
    return "";
}

std::string ProblemText(const BoundsOrigin& origin) {
    const TouchpadOpening& opening = origin.opening;
    const std::string beeps = " tapdeck.exe beeps and ends.";
    switch (origin.problem) {
    case SourceProblem::None:
        return "";
    case SourceProblem::LibraryNotRegistered:
        return "No bounds: the touchpad's device library is not installed (the ProgID " +
               origin.missingProgId +
               " is not registered), and the registry does not override the bounds. "
               "tapdeck.exe ends without a sound.";
    case SourceProblem::LibraryObjectFailed:
        return "No bounds: the device library's object " + origin.missingProgId +
               " could not be made, though its ProgID is registered. tapdeck.exe ends "
               "without a sound.";
    case SourceProblem::PrepareFailed:
        return "No bounds: the device library did not get ready: Prepare failed with status " +
               Status(opening.status) + "." + beeps;
    case SourceProblem::NoTouchpad:
        return "No bounds: no touchpad found: " +
               (opening.status != 0
                    ? "LocateDevice failed with status " + Status(opening.status) + "."
                    : std::string("the device library knows of none (LocateDevice gave no "
                                  "handle).")) +
               beeps;
    case SourceProblem::AttachFailed:
        return "No bounds: the touchpad (handle " + Num(opening.handle) +
               ") could not be attached: Attach failed with status " + Status(opening.status) +
               "." + beeps;
    case SourceProblem::WrongKind:
        return "No bounds: the device found is not a touchpad: its kind reads " +
               Num(opening.kind) + ", a touchpad's is " + Num(DeviceKindTouchpad) +
               ". tapdeck.exe ends without a sound.";
    case SourceProblem::UseUserConfigInvalid:
        return "No bounds: UseUserConfig in " + RegistryKey(origin) +
               " is not a 32-bit value: it fits in 4 bytes but is neither a REG_DWORD nor a "
               "4-byte REG_BINARY (a short string, for instance). Store it as a REG_DWORD: 1 "
               "for the override's bounds, 0 for the touchpad's edges." +
               beeps;
    case SourceProblem::ZeroBound:
        break;
    }
    const int i = origin.zeroBound;
    std::string what;
    switch (origin.kind) {
    case SourceKind::Registry:
        what = std::string(BoundValueNames[i]) + " is 0 in the registry override " +
               RegistryKey(origin);
        break;
    case SourceKind::Touchpad:
        what = std::string("the touchpad reports 0 for its ") + EdgeNames[i];
        break;
    case SourceKind::Given:
        what = std::string("the ") + BoundNames[i] + " bound given is 0";
        break;
    }
    return "No bounds: " + what + ", and a bound of 0 makes the bounds fail." + beeps;
}

std::string UpText(const LayoutModel& model) {
    const Area& pad = model.padArea;
    return "Up is the pad's high device Y edge (" + Num(model.Turn(pad.top)) +
           "): buttons 1 2 3 are the row nearest it. Buttons are hit-tested with the Y turned "
           "over (" +
           Num(static_cast<long long>(model.pad.top) + model.pad.bottom) +
           " - device Y), the volume strip with the device's own Y.";
}

std::string TouchText(const LayoutModel& model, const Touch& touch) {
    const auto at = [](const POINT& p) { return "(" + Num(p.x) + ", " + Num(p.y) + ")"; };
    if (touch.IsTap()) {
        const POINT& p = touch.points.back();
        const auto button = ButtonAtDevicePoint(model, p.x, p.y);
        return "tap at device " + at(p) + ": " +
               (button ? ZoneLabel(model.zones[*button]) : std::string("no button"));
    }
    long long onStrip = 0;
    for (const POINT& p : touch.points) {
        onStrip += OnStripAtDevicePoint(model, p.x, p.y) ? 1 : 0;
    }
    return "slide from device " + at(touch.points.front()) + " to " + at(touch.points.back()) +
           ", " + Num(static_cast<long long>(touch.points.size())) + " positions, " + Num(onStrip) +
           " on the volume strip";
}

std::string Wrapped(const std::string& text, size_t width, const std::string& first,
                    const std::string& indent) {
    std::string out;
    std::string line = first;
    bool empty = true;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t space = text.find(' ', pos);
        const std::string word = text.substr(pos, space == std::string::npos ? space : space - pos);
        pos = space == std::string::npos ? text.size() : space + 1;
        if (!empty && line.size() + 1 + word.size() > width) {
            out += line + "\n";
            line = indent;
            empty = true;
        }
        line += (empty ? "" : " ") + word;
        empty = false;
    }
    return out + line + "\n";
}

std::string TextReport(const Inspection& inspection) {
    const BoundsOrigin& origin = inspection.origin;
    std::string text = "Tapdeck pad layout\n\n";
    text += Wrapped("Bounds " + SourceText(origin), LineWidth, "", "  ");
    if (origin.problem != SourceProblem::None || !inspection.model) {
        return text + "\n" + Wrapped(ProblemText(origin), LineWidth, "", "") + "(exit code 2)\n";
    }
    const LayoutModel& model = *inspection.model;
    const RECT& pad = model.pad;
    const PadSizes& sizes = model.sizes;
    text += "Pad rectangle: left " + Num(pad.left) + ", top " + Num(pad.top) + ", right " +
            Num(pad.right) + ", bottom " + Num(pad.bottom) + " (" +
            Num(static_cast<long long>(pad.right) - pad.left) + " wide, " +
            Num(static_cast<long long>(pad.bottom) - pad.top) + " high)\n";
    text += "Sizes: colWidth " + Num(sizes.colWidth) + ", btnWidth " + Num(sizes.btnWidth) +
            ", btnHeight " + Num(sizes.btnHeight) + ", stripHeight " + Num(sizes.stripHeight) +
            "\n\n";
    text += Wrapped(UpText(model), LineWidth, "", "");

    text += "\nZones: the rectangle as Tapdeck tests it (left, top, right, bottom); the device "
            "points it\nholds (first..last); and as the pad looks: across from its left edge, "
            "down from its top edge.\n";
    std::vector<std::vector<std::string>> rows = {{"zone", "does", "rectangle", "tested with",
                                                   "device x", "device y", "across", "down",
                                                   "can be hit"}};
    for (const InspectedZone& zone : model.zones) {
        const RECT& r = zone.zone.rect;
        std::vector<std::string> row = {ZoneName(zone), ZoneDoes(zone),
                                        Num(r.left) + "," + Num(r.top) + "," + Num(r.right) + "," +
                                            Num(r.bottom),
                                        zone.IsButton() ? "turned-over Y" : "device Y"};
        if (zone.area) {
            const Area& a = *zone.area;
            const Area& p = model.padArea;
            row.push_back(Span(a.left, a.right));
            row.push_back(Span(model.Turn(a.bottom), model.Turn(a.top)));
            row.push_back(Span(a.left - p.left, a.right - p.left));
            row.push_back(Span(a.top - p.top, a.bottom - p.top));
        } else {
            row.insert(row.end(), {"none", "none", "none", "none"});
        }
        row.push_back(zone.CanBeHit() ? "yes" : "NEVER");
        rows.push_back(std::move(row));
    }
    text += Table(rows, "  ");

    text += "\nFindings\n";
    if (model.findings.empty()) {
        text += "  none\n";
    }
    for (const Finding& finding : model.findings) {
        text += Wrapped(finding.text, LineWidth, "  - ", "    ");
    }

    if (inspection.touches) {
        text += "\nTouches" +
                (inspection.touchesName.empty() ? "" : " in " + inspection.touchesName) + "\n";
        if (inspection.touches->empty()) {
            text += "  none\n";
        }
        size_t number = 0;
        for (const Touch& touch : *inspection.touches) {
            text += Wrapped(TouchText(model, touch), LineWidth,
                            "  " + Num(static_cast<long long>(++number)) + "  ", "     ");
        }
    }

    size_t dead = 0;
    for (const InspectedZone& zone : model.zones) {
        dead += zone.CanBeHit() ? 0 : 1;
    }
    text += "\n";
    text += dead == 0 ? "All eleven zones can be hit. (exit code 0)\n"
                      : Num(static_cast<long long>(dead)) +
                            " of the eleven zones can never be hit. (exit code 1)\n";
    return text;
}

std::string JsonReport(const Inspection& inspection) {
    const BoundsOrigin& origin = inspection.origin;
    std::string json = "{\n";
    json += "  \"tool\": \"tapdeck-layout\",\n  \"format\": 1,\n";
    json += "  \"source\": " + SourceJson(origin) + ",\n";
    if (origin.problem != SourceProblem::None || !inspection.model) {
        json += "  \"error\": " +
                Object()
                    .Str("reason", ProblemCode(origin.problem))
                    .Str("text", ProblemText(origin))
                    .Json() +
                ",\n";
        return json + "  \"exitCode\": " + Num(ExitCodeOf(inspection)) + "\n}\n";
    }
    const LayoutModel& model = *inspection.model;
    const RECT& pad = model.pad;
    json += "  \"bounds\": " +
            Object()
                .Num("left", pad.left)
                .Num("top", pad.top)
                .Num("right", pad.right)
                .Num("bottom", pad.bottom)
                .Num("width", static_cast<long long>(pad.right) - pad.left)
                .Num("height", static_cast<long long>(pad.bottom) - pad.top)
                .Json() +
            ",\n";
    json += "  \"sizes\": " +
            Object()
                .Num("colWidth", model.sizes.colWidth)
                .Num("btnWidth", model.sizes.btnWidth)
                .Num("btnHeight", model.sizes.btnHeight)
                .Num("stripHeight", model.sizes.stripHeight)
                .Json() +
            ",\n";
    json += "  \"up\": " +
            Object()
                .Num("deviceY", model.Turn(model.padArea.top))
                .Num("turnSum", static_cast<long long>(pad.top) + pad.bottom)
                .Str("text", UpText(model))
                .Json() +
            ",\n";
    const auto list = [&json](const char* name, const std::vector<std::string>& items) {
        json += "  \"" + std::string(name) + "\": [";
        for (size_t i = 0; i < items.size(); ++i) {
            json += (i == 0 ? "\n    " : ",\n    ") + items[i];
        }
        json += items.empty() ? "],\n" : "\n  ],\n";
    };
    std::vector<std::string> items;
    for (const InspectedZone& zone : model.zones) {
        items.push_back(ZoneJson(model, zone));
    }
    list("zones", items);
    items.clear();
    for (const Finding& finding : model.findings) {
        items.push_back(FindingJson(model, finding));
    }
    list("findings", items);
    if (inspection.touches) {
        items.clear();
        for (const Touch& touch : *inspection.touches) {
            items.push_back(TouchJson(model, touch, items.size() + 1));
        }
        list("touches", items);
    }
    json += "  \"allZonesCanBeHit\": " + std::string(model.AllZonesCanBeHit() ? "true" : "false") +
            ",\n";
    return json + "  \"exitCode\": " + Num(ExitCodeOf(inspection)) + "\n}\n";
}

} // namespace inspector
