// Anti-aliased shapes as signed distances: a point's distance to a shape's edge, negative
// inside, which a pixel turns into its coverage (half a pixel of ramp either side of the edge).
// The panel's tiles, its marker and its icons are made of these, so they look the same on every
// Windows and under Wine, whose GDI+ draws them without anti-aliasing. Pure.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

namespace overlay {

struct PointF {
    float x = 0;
    float y = 0;

    bool operator==(const PointF&) const = default;
};

struct RectF {
    float left = 0;
    float top = 0;
    float right = 0;
    float bottom = 0;

    float Width() const { return right - left; }
    float Height() const { return bottom - top; }
    bool operator==(const RectF&) const = default;
};

// The coverage, 0..1, of a pixel whose centre is `distance` pixels from an edge (negative
// inside): a ramp one pixel wide across the edge.
inline float Coverage(float distance) {
    return std::clamp(0.5F - distance, 0.0F, 1.0F);
}

// Distances to simple shapes, in the units of the point.
float RoundedBoxDistance(PointF p, const RectF& box, float radius);
float CircleDistance(PointF p, PointF centre, float radius);
// A line `width` wide with round ends.
float SegmentDistance(PointF p, PointF from, PointF to, float width);
// A convex polygon, its corners in either turning order.
float ConvexDistance(PointF p, const PointF* corners, size_t count);
// An ellipse's outline `width` wide (close to the true distance for the gentle ellipses of
// icons).
float EllipseRingDistance(PointF p, PointF centre, float rx, float ry, float width);
// A circle's outline `width` wide from angle `from` to `to` (radians, clockwise from the
// right on the screen, `from` < `to`), with round ends.
float ArcDistance(PointF p, PointF centre, float radius, float width, float from, float to);

// One part of a drawing in a square design box: its kind and numbers, and whether it adds to
// the drawing or cuts out of what the parts before it drew.
struct ShapePart {
    enum class Kind { Box, Frame, Circle, Ring, Arc, Segment, Polygon, EllipseRing };
    Kind kind = Kind::Box;
    bool cut = false;
    // Box/Frame: left, top, right, bottom, radius, (frame) width. Circle: x, y, r.
    // Ring: x, y, r, width. Arc: x, y, r, width, from, to. Segment: x0, y0, x1, y1, width.
    // EllipseRing: x, y, rx, ry, width. Polygon: up to 6 corners in `corners`.
    std::array<float, 6> v{};
    std::array<PointF, 6> corners{};
    size_t cornerCount = 0;

    float Distance(PointF p) const;
};

// An 8-bit coverage image (a word's or an icon's shape) that is drawn in any colour.
struct Mask {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> cover; // row by row, 255 fully covered

    uint8_t At(int x, int y) const {
        return x < 0 || y < 0 || x >= width || y >= height
                   ? 0
                   : cover[static_cast<size_t>(y) * static_cast<size_t>(width) + x];
    }
    bool Empty() const { return width <= 0 || height <= 0; }
};

// The parts of a drawing made in a `designSize` square box, drawn `pixels` wide and high.
Mask RenderParts(const ShapePart* parts, size_t count, float designSize, int pixels);

// The mask grown by `radius` pixels in every direction (the mask's size grows with it): the
// rim that keeps a word readable over the finger's marker.
Mask Dilate(const Mask& mask, int radius);

} // namespace overlay
