#include "shapes.h"

#include <cmath>
#include <numbers>

namespace overlay {

namespace {

float Length(float x, float y) {
    return std::sqrt(x * x + y * y);
}

} // namespace

float RoundedBoxDistance(PointF p, const RectF& box, float radius) {
    const float halfW = box.Width() / 2;
    const float halfH = box.Height() / 2;
    const float r = std::clamp(radius, 0.0F, std::min(halfW, halfH));
    const float qx = std::fabs(p.x - (box.left + halfW)) - halfW + r;
    const float qy = std::fabs(p.y - (box.top + halfH)) - halfH + r;
    return Length(std::max(qx, 0.0F), std::max(qy, 0.0F)) + std::min(std::max(qx, qy), 0.0F) - r;
}

float CircleDistance(PointF p, PointF centre, float radius) {
    return Length(p.x - centre.x, p.y - centre.y) - radius;
}

float SegmentDistance(PointF p, PointF from, PointF to, float width) {
    const float ax = p.x - from.x;
    const float ay = p.y - from.y;
    const float bx = to.x - from.x;
    const float by = to.y - from.y;
    const float lengthSquared = bx * bx + by * by;
    const float h =
        lengthSquared > 0 ? std::clamp((ax * bx + ay * by) / lengthSquared, 0.0F, 1.0F) : 0.0F;
    return Length(ax - bx * h, ay - by * h) - width / 2;
}

float ConvexDistance(PointF p, const PointF* corners, size_t count) {
    if (count < 3) {
        return 1e9F;
    }
    // Twice the signed area says which way the corners turn, and so which side is outside.
    float area = 0;
    for (size_t i = 0; i < count; ++i) {
        const PointF& a = corners[i];
        const PointF& b = corners[(i + 1) % count];
        area += a.x * b.y - b.x * a.y;
    }
    const float side = area >= 0 ? 1.0F : -1.0F;
    float distance = -1e9F;
    for (size_t i = 0; i < count; ++i) {
        const PointF& a = corners[i];
        const PointF& b = corners[(i + 1) % count];
        const float ex = b.x - a.x;
        const float ey = b.y - a.y;
        const float length = Length(ex, ey);
        if (length <= 0) {
            continue;
        }
        // The outward normal of the edge.
        const float nx = side * ey / length;
        const float ny = -side * ex / length;
        distance = std::max(distance, (p.x - a.x) * nx + (p.y - a.y) * ny);
    }
    return distance;
}

float EllipseRingDistance(PointF p, PointF centre, float rx, float ry, float width) {
    const float qx = p.x - centre.x;
    const float qy = p.y - centre.y;
    const float k = Length(qx / rx, qy / ry);
    if (k <= 1e-6F) {
        return std::min(rx, ry) - width / 2;
    }
    // The implicit function's value over the length of its gradient.
    const float gradient = Length(qx / (rx * rx), qy / (ry * ry)) / k;
    return std::fabs((k - 1) / gradient) - width / 2;
}

float ArcDistance(PointF p, PointF centre, float radius, float width, float from, float to) {
    constexpr float Turn = 2 * std::numbers::pi_v<float>;
    const float qx = p.x - centre.x;
    const float qy = p.y - centre.y;
    float angle = std::atan2(qy, qx);
    while (angle < from) {
        angle += Turn;
    }
    while (angle >= from + Turn) {
        angle -= Turn;
    }
    if (angle <= to) {
        return std::fabs(Length(qx, qy) - radius) - width / 2;
    }
    const PointF start{centre.x + radius * std::cos(from), centre.y + radius * std::sin(from)};
    const PointF end{centre.x + radius * std::cos(to), centre.y + radius * std::sin(to)};
    return std::min(Length(p.x - start.x, p.y - start.y), Length(p.x - end.x, p.y - end.y)) -
           width / 2;
}

float ShapePart::Distance(PointF p) const {
    switch (kind) {
    case Kind::Box:
        return RoundedBoxDistance(p, {v[0], v[1], v[2], v[3]}, v[4]);
    case Kind::Frame:
        return std::fabs(RoundedBoxDistance(p, {v[0], v[1], v[2], v[3]}, v[4])) - v[5] / 2;
    case Kind::Circle:
        return CircleDistance(p, {v[0], v[1]}, v[2]);
    case Kind::Ring:
        return std::fabs(CircleDistance(p, {v[0], v[1]}, v[2])) - v[3] / 2;
    case Kind::Arc:
        return ArcDistance(p, {v[0], v[1]}, v[2], v[3], v[4], v[5]);
    case Kind::Segment:
        return SegmentDistance(p, {v[0], v[1]}, {v[2], v[3]}, v[4]);
    case Kind::Polygon:
        return ConvexDistance(p, corners.data(), cornerCount);
    case Kind::EllipseRing:
        return EllipseRingDistance(p, {v[0], v[1]}, v[2], v[3], v[4]);
    }
    return 1e9F;
}

Mask RenderParts(const ShapePart* parts, size_t count, float designSize, int pixels) {
    Mask mask;
    if (pixels <= 0 || designSize <= 0) {
        return mask;
    }
    mask.width = pixels;
    mask.height = pixels;
    mask.cover.assign(static_cast<size_t>(pixels) * static_cast<size_t>(pixels), 0);
    const float unit = designSize / static_cast<float>(pixels); // design units per pixel
    for (int y = 0; y < pixels; ++y) {
        for (int x = 0; x < pixels; ++x) {
            const PointF p{(static_cast<float>(x) + 0.5F) * unit,
                           (static_cast<float>(y) + 0.5F) * unit};
            float value = 0;
            for (size_t i = 0; i < count; ++i) {
                const float c = Coverage(parts[i].Distance(p) / unit);
                value = parts[i].cut ? std::min(value, 1.0F - c) : std::max(value, c);
            }
            mask.cover[static_cast<size_t>(y) * static_cast<size_t>(pixels) + x] =
                static_cast<uint8_t>(std::lround(value * 255.0F));
        }
    }
    return mask;
}

Mask Dilate(const Mask& mask, int radius) {
    if (radius <= 0 || mask.Empty()) {
        return mask;
    }
    Mask grown;
    grown.width = mask.width + 2 * radius;
    grown.height = mask.height + 2 * radius;
    grown.cover.assign(static_cast<size_t>(grown.width) * static_cast<size_t>(grown.height), 0);
    const int reach = radius * radius + radius; // a round pen, a little fuller than a circle
    for (int y = 0; y < grown.height; ++y) {
        for (int x = 0; x < grown.width; ++x) {
            uint8_t most = 0;
            for (int dy = -radius; dy <= radius && most < 255; ++dy) {
                for (int dx = -radius; dx <= radius; ++dx) {
                    if (dx * dx + dy * dy <= reach) {
                        most = std::max(most, mask.At(x - radius + dx, y - radius + dy));
                    }
                }
            }
            grown.cover[static_cast<size_t>(y) * static_cast<size_t>(grown.width) + x] = most;
        }
    }
    return grown;
}

} // namespace overlay
