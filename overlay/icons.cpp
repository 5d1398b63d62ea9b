#include "icons.h"

#include <initializer_list>
#include <numbers>
#include <vector>

namespace overlay {

namespace {

using Kind = ShapePart::Kind;

constexpr float Design = 20.0F;
constexpr float Pi = std::numbers::pi_v<float>;
constexpr float Line = 1.5F; // the icons' stroke

ShapePart Box(float l, float t, float r, float b, float radius) {
    return {Kind::Box, false, {l, t, r, b, radius, 0}, {}, 0};
}

ShapePart Frame(float l, float t, float r, float b, float radius) {
    return {Kind::Frame, false, {l, t, r, b, radius, Line}, {}, 0};
}

ShapePart Ring(float x, float y, float r, float width = Line) {
    return {Kind::Ring, false, {x, y, r, width, 0, 0}, {}, 0};
}

ShapePart Arc(float x, float y, float r, float from, float to, float width = Line) {
    return {Kind::Arc, false, {x, y, r, width, from, to}, {}, 0};
}

ShapePart Segment(float x0, float y0, float x1, float y1, float width = Line) {
    return {Kind::Segment, false, {x0, y0, x1, y1, width, 0}, {}, 0};
}

ShapePart Ellipse(float x, float y, float rx, float ry) {
    return {Kind::EllipseRing, false, {x, y, rx, ry, Line, 0}, {}, 0};
}

ShapePart Polygon(std::initializer_list<PointF> points) {
    ShapePart part{Kind::Polygon, false, {}, {}, 0};
    for (const PointF& p : points) {
        if (part.cornerCount < part.corners.size()) {
            part.corners[part.cornerCount++] = p;
        }
    }
    return part;
}

// A speaker facing right, its mouth at x = 9.5 (shifted by `dx`).
void Speaker(std::vector<ShapePart>& parts, float dx) {
    parts.push_back(Box(2.5F + dx, 7.5F, 6.5F + dx, 12.5F, 0.8F));
    parts.push_back(
        Polygon({{5.5F + dx, 7.5F}, {9.5F + dx, 4.0F}, {9.5F + dx, 16.0F}, {5.5F + dx, 12.5F}}));
}

void Power(std::vector<ShapePart>& parts, float width) {
    constexpr float Gap = 0.8F; // radians either side of straight up
    parts.push_back(Arc(10, 10.8F, 6.6F, -Pi / 2 + Gap, 3 * Pi / 2 - Gap, width));
    parts.push_back(Segment(10, 2.8F, 10, 9.6F, width));
}

std::vector<ShapePart> PartsOf(ZoneIcon icon) {
    std::vector<ShapePart> parts;
    switch (icon) {
    case ZoneIcon::Browser: // a globe
        parts = {Ring(10, 10, 7.5F), Ellipse(10, 10, 3.2F, 7.5F), Segment(2.5F, 10, 17.5F, 10),
                 Segment(4.0F, 6.2F, 16.0F, 6.2F, 1.2F), Segment(4.0F, 13.8F, 16.0F, 13.8F, 1.2F)};
        break;
    case ZoneIcon::Search: // a magnifying glass
        parts = {Ring(8.3F, 8.3F, 5.6F, 1.7F), Segment(12.5F, 12.5F, 17.3F, 17.3F, 2.0F)};
        break;
    case ZoneIcon::Mail: // an envelope
        parts = {Frame(2.5F, 4.5F, 17.5F, 15.5F, 2.0F), Segment(4.0F, 6.6F, 10.0F, 10.8F),
                 Segment(10.0F, 10.8F, 16.0F, 6.6F)};
        break;
    case ZoneIcon::Stop:
        parts = {Box(4.5F, 4.5F, 15.5F, 15.5F, 2.0F)};
        break;
    case ZoneIcon::Player: // a window with a play mark
        parts = {Frame(2.5F, 3.5F, 17.5F, 16.5F, 2.0F),
                 Polygon({{8.0F, 7.3F}, {8.0F, 13.7F}, {13.4F, 10.5F}})};
        break;
    case ZoneIcon::Mute: // a speaker and a cross
        Speaker(parts, 0);
        parts.push_back(Segment(12.5F, 7.5F, 17.5F, 12.5F));
        parts.push_back(Segment(17.5F, 7.5F, 12.5F, 12.5F));
        break;
    case ZoneIcon::Volume: // a speaker and its sound
        Speaker(parts, 0);
        parts.push_back(Arc(9.5F, 10, 3.4F, -0.9F, 0.9F));
        parts.push_back(Arc(9.5F, 10, 6.6F, -0.9F, 0.9F));
        break;
    case ZoneIcon::Previous:
        parts = {Box(2.5F, 5, 4.7F, 15, 0.7F), Polygon({{10.5F, 5}, {10.5F, 15}, {5.0F, 10}}),
                 Polygon({{17.0F, 5}, {17.0F, 15}, {11.5F, 10}})};
        break;
    case ZoneIcon::PlayPause:
        parts = {Polygon({{2.5F, 5}, {2.5F, 15}, {10.0F, 10}}), Box(12.3F, 5, 14.5F, 15, 0.7F),
                 Box(15.8F, 5, 18.0F, 15, 0.7F)};
        break;
    case ZoneIcon::Next:
        parts = {Polygon({{3.0F, 5}, {3.0F, 15}, {8.5F, 10}}),
                 Polygon({{9.5F, 5}, {9.5F, 15}, {15.0F, 10}}), Box(15.3F, 5, 17.5F, 15, 0.7F)};
        break;
    case ZoneIcon::Exit: // the power symbol
        Power(parts, 1.8F);
        break;
    }
    return parts;
}

std::vector<ShapePart> PartsOf(Glyph glyph) {
    std::vector<ShapePart> parts;
    switch (glyph) {
    case Glyph::VolumeUp:
        Speaker(parts, -1.0F);
        parts.push_back(Segment(12.0F, 10, 18.0F, 10, 1.7F));
        parts.push_back(Segment(15.0F, 7, 15.0F, 13, 1.7F));
        break;
    case Glyph::VolumeDown:
        Speaker(parts, -1.0F);
        parts.push_back(Segment(12.0F, 10, 18.0F, 10, 1.7F));
        break;
    case Glyph::EndsTapdeck:
        Power(parts, 2.4F);
        break;
    case Glyph::Idle: // the panel in small: three rows of three and the right-hand column
        for (int row = 0; row < 3; ++row) {
            for (int col = 0; col < 3; ++col) {
                const float l = 1.5F + 4.6F * static_cast<float>(col);
                const float t = 3.0F + 4.6F * static_cast<float>(row);
                parts.push_back(Box(l, t, l + 3.6F, t + 3.6F, 0.8F));
            }
        }
        parts.push_back(Box(15.3F, 3.0F, 18.5F, 6.6F, 0.8F));
        parts.push_back(Box(15.3F, 7.6F, 18.5F, 15.8F, 0.8F));
        break;
    }
    return parts;
}

} // namespace

Mask DrawIcon(ZoneIcon icon, int pixels) {
    const std::vector<ShapePart> parts = PartsOf(icon);
    return RenderParts(parts.data(), parts.size(), Design, pixels);
}

Mask DrawGlyph(Glyph glyph, int pixels) {
    const std::vector<ShapePart> parts = PartsOf(glyph);
    return RenderParts(parts.data(), parts.size(), Design, pixels);
}

} // namespace overlay
