#include "picture.h"

#include <algorithm>
#include <cstdio>

#include "report.h"

namespace inspector {

namespace {

// Pixels: the pad fits in MaxPadWidth x MaxPadHeight, its top-left corner at (PadX, PadY).
constexpr double MaxPadWidth = 720;
constexpr double MaxPadHeight = 480;
constexpr double PadX = 90;
constexpr double PadY = 84;
// How far past the pad's edges a zone that reaches beyond them is drawn.
constexpr double Overhang = 40;
constexpr double CaptionLine = 18;
constexpr size_t CaptionWidth = 110;

std::string Px(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

std::string Escaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// Maps the view frame (x across, turned-over y down) to pixels.
class Canvas {
public:
    explicit Canvas(const LayoutModel& model) : pad(model.padArea) {
        const double width = std::max<double>(1, static_cast<double>(pad.right - pad.left));
        const double height = std::max<double>(1, static_cast<double>(pad.bottom - pad.top));
        scale = std::min(MaxPadWidth / width, MaxPadHeight / height);
        padWidth = static_cast<double>(pad.right - pad.left) * scale;
        padHeight = static_cast<double>(pad.bottom - pad.top) * scale;
    }

    double X(long long x) const { return PadX + static_cast<double>(x - pad.left) * scale; }
    double Y(long long y) const { return PadY + static_cast<double>(y - pad.top) * scale; }

    // A view-frame area's rectangle in pixels, cut to the pad and its overhang; false when
    // nothing of it shows.
    bool Rect(const Area& area, double& x0, double& y0, double& x1, double& y1) const {
        // Points become unit squares: a zone's edges lie at its first point and after its last.
        x0 = std::max(X(area.left), PadX - Overhang);
        y0 = std::max(Y(area.top), PadY - Overhang);
        x1 = std::min(X(area.right + 1), PadX + padWidth + Overhang);
        y1 = std::min(Y(area.bottom + 1), PadY + padHeight + Overhang);
        return x0 < x1 && y0 < y1;
    }

    std::string RectElement(const Area& area, const std::string& attributes) const {
        double x0 = 0;
        double y0 = 0;
        double x1 = 0;
        double y1 = 0;
        if (!Rect(area, x0, y0, x1, y1)) {
            return "";
        }
        return "  <rect x=\"" + Px(x0) + "\" y=\"" + Px(y0) + "\" width=\"" + Px(x1 - x0) +
               "\" height=\"" + Px(y1 - y0) + "\" " + attributes + "/>\n";
    }

    Area pad;
    double scale = 1;
    double padWidth = 0;
    double padHeight = 0;
};

std::string Text(double x, double y, const std::string& text, const std::string& attributes) {
    return "  <text x=\"" + Px(x) + "\" y=\"" + Px(y) + "\" " + attributes + ">" + Escaped(text) +
           "</text>\n";
}

// Round numbers between lo and hi, about six of them.
std::vector<long long> RoundTicks(long long lo, long long hi) {
    std::vector<long long> ticks;
    const long long span = hi - lo;
    if (span <= 0) {
        return ticks;
    }
    long long step = 1;
    for (long long decade = 1; step * 7 < span; decade *= 10) {
        for (const long long m : {1, 2, 5}) {
            step = m * decade;
            if (step * 7 >= span) {
                break;
            }
        }
    }
    long long first = lo / step * step;
    if (first < lo) {
        first += step;
    }
    for (long long t = first; t <= hi; t += step) {
        ticks.push_back(t);
    }
    return ticks;
}

// The two edges and the round numbers between them that are not too close to an edge.
std::vector<long long> Ticks(long long lo, long long hi, double scale) {
    std::vector<long long> ticks = {lo};
    constexpr double MinGap = 36; // pixels
    for (const long long t : RoundTicks(lo, hi)) {
        if (static_cast<double>(t - lo) * scale >= MinGap &&
            static_cast<double>(hi - t) * scale >= MinGap) {
            ticks.push_back(t);
        }
    }
    if (hi != lo) {
        ticks.push_back(hi);
    }
    return ticks;
}

// The largest piece, by area, of `areas`.
Area Largest(const std::vector<Area>& areas) {
    return *std::max_element(areas.begin(), areas.end(), [](const Area& a, const Area& b) {
        return static_cast<double>(a.Width()) * static_cast<double>(a.Height()) <
               static_cast<double>(b.Width()) * static_cast<double>(b.Height());
    });
}

std::string ZoneColour(ZoneKind kind) {
    // In the order of ZoneKind.
    static constexpr const char* colours[] = {StripColour, ExitColour, GridColour};
    return colours[static_cast<int>(kind)];
}

std::string SourceCaption(const BoundsOrigin& origin) {
    switch (origin.kind) {
    case SourceKind::Registry:
        return "from the registry override";
    case SourceKind::Touchpad:
        return "from the touchpad";
    case SourceKind::Given:
        break;
    }
    return "given with --bounds";
}

bool Concerns(const Finding& finding, size_t zone) {
    return std::find(finding.zones.begin(), finding.zones.end(), zone) != finding.zones.end();
}

// The zones: each where it takes the touch, a zone that reaches beyond the pad dashed in full,
// overlaps shaded over them, and the labels.
std::string ZoneElements(const Canvas& canvas, const LayoutModel& model, std::string& clips) {
    std::string fills;
    std::string shades;
    std::string labels;
    for (size_t i = 0; i < ZoneCount; ++i) {
        const InspectedZone& zone = model.zones[i];
        const std::string key = ZoneKey(zone);
        if (zone.beyondPad) {
            fills += canvas.RectElement(*zone.area, "class=\"beyond " + key +
                                                        "\" fill=\"none\" stroke=\"#555555\" "
                                                        "stroke-dasharray=\"6 4\"");
        }
        for (const Area& area : zone.reachable) {
            fills += canvas.RectElement(area, "class=\"zone " + key + "\" fill=\"" +
                                                  ZoneColour(zone.kind) + "\"");
        }
        if (!zone.CanBeHit()) {
            continue;
        }
        // The label goes into the zone's largest piece outside the strip's overlaps: at its top
        // for a button, at its bottom for the strip (whose top the exit button often shares).
        std::vector<Area> free = zone.reachable;
        for (const Finding& finding : model.findings) {
            if (finding.kind == FindingKind::Overlap && finding.withStrip && Concerns(finding, i)) {
                for (const Area& area : finding.areas) {
                    free = Subtract(free, area);
                }
            }
        }
        double x0 = 0;
        double y0 = 0;
        double x1 = 0;
        double y1 = 0;
        if (free.empty() || !canvas.Rect(Largest(free), x0, y0, x1, y1)) {
            continue;
        }
        const std::string clip = "clip-" + key;
        clips += "    <clipPath id=\"" + clip + "\"><rect x=\"" + Px(x0) + "\" y=\"" + Px(y0) +
                 "\" width=\"" + Px(x1 - x0) + "\" height=\"" + Px(y1 - y0) + "\"/></clipPath>\n";
        const std::string attributes = "clip-path=\"url(#" + clip + ")\"";
        switch (zone.kind) {
        case ZoneKind::Strip:
            labels += Text(x0 + 4, y1 - 6, "volume", attributes + " font-weight=\"bold\"");
            break;
        case ZoneKind::Exit:
            labels += Text(x0 + 4, y0 + 14, "exit", attributes + " font-weight=\"bold\"");
            break;
        case ZoneKind::Grid:
            // Labels keep to the top third of a button: the middle stays clear for its colour.
            if (y1 - y0 >= 96) {
                labels += Text(x0 + 4, y0 + 14, std::to_string(zone.zone.id),
                               attributes + " font-weight=\"bold\"");
                labels += Text(x0 + 4, y0 + 28, ZoneDoes(zone), attributes);
            } else if (y1 - y0 >= 48) {
                labels += Text(x0 + 4, y0 + 13, std::to_string(zone.zone.id) + " " + ZoneDoes(zone),
                               attributes + " font-size=\"10\"");
            }
            break;
        }
    }
    // Two buttons: the darker shade of the one that takes the tap. The strip and a button: its
    // own shade, drawn last, as both a tap and a slide happen there.
    for (const bool withStrip : {false, true}) {
        for (const Finding& finding : model.findings) {
            if (finding.kind != FindingKind::Overlap || finding.withStrip != withStrip) {
                continue;
            }
            const ZoneKind winner = model.zones[finding.zones.front()].kind;
            const std::string colour = withStrip                  ? OverlapColour
                                       : winner == ZoneKind::Exit ? ExitOverGridColour
                                                                  : GridOverGridColour;
            for (const Area& area : finding.areas) {
                shades += canvas.RectElement(area, std::string("class=\"overlap") +
                                                       (withStrip ? " strip" : "") + "\" fill=\"" +
                                                       colour + "\"");
            }
        }
    }

    // Buttons that hold no point at all but did not wrap: their rectangle turned the right way
    // round, dashed, where they would have been.
    std::string dead;
    for (const InspectedZone& zone : model.zones) {
        const RECT& r = zone.zone.rect;
        const bool wrapped =
            std::find(zone.wrapped.begin(), zone.wrapped.end(), true) != zone.wrapped.end();
        if (zone.area || wrapped) {
            continue;
        }
        const Area flipped{std::min(r.left, r.right), std::min(r.top, r.bottom),
                           std::max(r.left, r.right) - 1LL, std::max(r.top, r.bottom) - 1LL};
        if (zone.IsButton() && flipped.left <= flipped.right && flipped.top <= flipped.bottom) {
            dead += canvas.RectElement(flipped, "class=\"dead " + ZoneKey(zone) +
                                                    "\" fill=\"none\" stroke=\"#d62728\" "
                                                    "stroke-dasharray=\"4 3\"");
        }
    }
    return fills + shades + labels + dead;
}

// Coordinates at the edges: x along the top, the device's own Y down the left side.
std::string Axes(const Canvas& canvas, const LayoutModel& model) {
    const Area& pad = model.padArea;
    std::string axes;
    const auto tick = [&axes](double x1, double y1, double x2, double y2) {
        axes += "  <line x1=\"" + Px(x1) + "\" y1=\"" + Px(y1) + "\" x2=\"" + Px(x2) + "\" y2=\"" +
                Px(y2) + "\" stroke=\"#333333\"/>\n";
    };
    for (const long long x : Ticks(pad.left, pad.right, canvas.scale)) {
        tick(canvas.X(x), PadY - 6, canvas.X(x), PadY);
        axes += Text(canvas.X(x), PadY - 10, std::to_string(x), "text-anchor=\"middle\"");
    }
    // Round numbers of the device's Y, at the rows of the view that show them.
    for (const long long deviceY :
         Ticks(model.Turn(pad.bottom), model.Turn(pad.top), canvas.scale)) {
        const double y = canvas.Y(model.Turn(deviceY));
        tick(PadX - 6, y, PadX, y);
        axes += Text(PadX - 10, y + 4, std::to_string(deviceY), "text-anchor=\"end\"");
    }
    const double middle = PadY + canvas.padHeight / 2;
    axes += Text(PadX + canvas.padWidth / 2, PadY - 28, "device x", "text-anchor=\"middle\"");
    axes += Text(16, middle, "device y",
                 "text-anchor=\"middle\" transform=\"rotate(-90 16 " + Px(middle) + ")\"");
    // An arrow: up is the pad's high device Y edge.
    axes += Text(PadX + canvas.padWidth + 8, PadY + 4, "\xE2\x86\x91 up", "font-weight=\"bold\"");
    return axes;
}

// Taps as numbered dots (taps at one point share a dot), slides as numbered lines.
std::string TouchElements(const Canvas& canvas, const LayoutModel& model,
                          const std::vector<Touch>& touches) {
    const auto px = [&](const POINT& p) {
        return std::make_pair(canvas.X(p.x), canvas.Y(model.Turn(p.y)));
    };
    std::string marks;
    std::vector<std::pair<POINT, std::string>> taps;
    size_t number = 0;
    for (const Touch& touch : touches) {
        const std::string n = std::to_string(++number);
        if (touch.IsTap()) {
            const POINT& p = touch.points.back();
            auto same = std::find_if(taps.begin(), taps.end(), [&p](const auto& tap) {
                return tap.first.x == p.x && tap.first.y == p.y;
            });
            if (same == taps.end()) {
                taps.emplace_back(p, n);
            } else {
                same->second += "," + n;
            }
            continue;
        }
        std::string points;
        for (const POINT& p : touch.points) {
            const auto [x, y] = px(p);
            points += (points.empty() ? "" : " ") + Px(x) + "," + Px(y);
        }
        const auto [x0, y0] = px(touch.points.front());
        const auto [x1, y1] = px(touch.points.back());
        marks += "  <polyline class=\"slide\" points=\"" + points + "\" fill=\"none\" stroke=\"" +
                 TouchColour + "\" stroke-width=\"3\" stroke-linecap=\"round\"/>\n";
        marks += "  <circle cx=\"" + Px(x1) + "\" cy=\"" + Px(y1) + "\" r=\"4\" fill=\"" +
                 TouchColour + "\"/>\n";
        marks += Text(x0 + 8, y0 + 4, n, "font-size=\"12\" font-weight=\"bold\"");
    }
    for (const auto& [point, label] : taps) {
        const auto [x, y] = px(point);
        const double half = 9 + 3.5 * static_cast<double>(label.size() - 1);
        marks += "  <rect class=\"tap\" x=\"" + Px(x - half) + "\" y=\"" + Px(y - 9) +
                 "\" width=\"" + Px(2 * half) + "\" height=\"18\" rx=\"9\" fill=\"" + TouchColour +
                 "\"/>\n";
        marks += Text(x, y + 4, label, "text-anchor=\"middle\" font-size=\"11\" fill=\"#ffffff\"");
    }
    return marks;
}

} // namespace

std::string PictureSvg(const BoundsOrigin& origin, const LayoutModel& model,
                       const std::vector<Touch>* touches, const std::string& touchesName) {
    const Canvas canvas(model);
    std::string clips;
    std::string body = "  <rect id=\"pad\" x=\"" + Px(PadX) + "\" y=\"" + Px(PadY) + "\" width=\"" +
                       Px(canvas.padWidth) + "\" height=\"" + Px(canvas.padHeight) + "\" fill=\"" +
                       PadColour + "\" stroke=\"#333333\" stroke-width=\"2\"/>\n";
    body += ZoneElements(canvas, model, clips);
    body += Axes(canvas, model);
    if (touches) {
        body += TouchElements(canvas, model, *touches);
    }

    // The caption: which way is up, the legend, what is never hit and why, what is shaded.
    double y = PadY + canvas.padHeight + 34;
    const double left = PadX - 70;
    std::string caption;
    const auto paragraph = [&](const std::string& text, const std::string& attributes) {
        const std::string wrapped = Wrapped(text, CaptionWidth, "", "");
        for (size_t start = 0; start < wrapped.size();) {
            const size_t end = wrapped.find('\n', start);
            caption += Text(left, y, wrapped.substr(start, end - start), attributes);
            y += CaptionLine;
            start = end + 1;
        }
    };
    paragraph("Up is the pad's high device Y edge (" +
                  std::to_string(model.Turn(model.padArea.top)) +
                  "), where buttons 1 2 3 are. Buttons are tested with the Y turned over, the "
                  "volume strip with the device's own Y.",
              "");
    // The legend: the three zones, and the shades of the overlaps the picture has.
    std::vector<std::pair<std::string, std::string>> legend = {
        {GridColour, "grid button"}, {ExitColour, "exit button"}, {StripColour, "volume strip"}};
    const auto shaded = [&model](bool withStrip, ZoneKind winner) {
        return std::any_of(model.findings.begin(), model.findings.end(), [&](const Finding& f) {
            return f.kind == FindingKind::Overlap && f.withStrip == withStrip &&
                   (withStrip || model.zones[f.zones.front()].kind == winner);
        });
    };
    if (shaded(true, ZoneKind::Strip)) {
        legend.emplace_back(OverlapColour,
                            "strip and button: a tap goes to the button, a slide steps the volume");
    }
    if (shaded(false, ZoneKind::Grid)) {
        legend.emplace_back(GridOverGridColour, "two buttons: a tap goes to the one labelled");
    }
    if (shaded(false, ZoneKind::Exit)) {
        legend.emplace_back(ExitOverGridColour, "the exit button over a grid button");
    }
    const double width = std::max(PadX + canvas.padWidth + 70, 860.0);
    double x = left;
    for (const auto& [colour, text] : legend) {
        // About 7 pixels a character at this size.
        const double itemWidth = 20 + 7.0 * static_cast<double>(text.size()) + 24;
        if (x > left && x + itemWidth > width - 10) {
            x = left;
            y += CaptionLine;
        }
        caption += "  <rect x=\"" + Px(x) + "\" y=\"" + Px(y - 11) +
                   "\" width=\"14\" height=\"14\" fill=\"" + colour + "\" stroke=\"#333333\"/>\n";
        caption += Text(x + 20, y, text, "");
        x += itemWidth;
    }
    y += CaptionLine;
    y += 4;
    std::string dead;
    size_t deadCount = 0;
    for (const InspectedZone& zone : model.zones) {
        if (!zone.CanBeHit()) {
            dead += (dead.empty() ? "" : ", ") + ZoneLabel(zone);
            ++deadCount;
        }
    }
    if (deadCount == 0) {
        paragraph("All eleven zones can be hit.", "font-weight=\"bold\"");
    } else {
        paragraph("Never hit (" + std::to_string(deadCount) + " of 11): " + dead + ".",
                  "font-weight=\"bold\" fill=\"#d62728\"");
    }
    for (const Finding& finding : model.findings) {
        if (finding.kind == FindingKind::SizeTooSmall || finding.kind == FindingKind::SizeWrapped ||
            finding.kind == FindingKind::Overlap) {
            paragraph(finding.text, "");
        }
    }
    if (touches) {
        paragraph("Touches" + (touchesName.empty() ? "" : " in " + touchesName) +
                      ": dots are taps, lines are slides (a dot where the finger left), numbered "
                      "in order.",
                  "");
    }

    const RECT& r = model.pad;
    const std::string title = "Tapdeck pad layout: bounds " + std::to_string(r.left) + ", " +
                              std::to_string(r.top) + ", " + std::to_string(r.right) + ", " +
                              std::to_string(r.bottom) + " (" + SourceCaption(origin) + ")";
    const double height = y + 8;
    std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Px(width) + "\" height=\"" +
           Px(height) + "\" viewBox=\"0 0 " + Px(width) + " " + Px(height) +
           "\" font-family=\"DejaVu Sans, Verdana, Arial, sans-serif\" font-size=\"12\">\n";
    svg += "  <title>" + Escaped(title) + "</title>\n";
    svg += "  <defs>\n" + clips + "  </defs>\n";
    svg += "  <rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
    svg += Text(left, 24, title, "font-size=\"15\" font-weight=\"bold\"");
    return svg + body + caption + "</svg>\n";
}

} // namespace inspector
