#include "canvas.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace overlay {

namespace {

// a * b / 255, rounded, for bytes.
uint32_t Times(uint32_t a, uint32_t b) {
    const uint32_t t = a * b + 128;
    return (t + (t >> 8)) >> 8;
}

} // namespace

Colour Faded(Colour c, float opacity) {
    c.a =
        static_cast<uint8_t>(std::lround(static_cast<float>(c.a) * std::clamp(opacity, 0.F, 1.F)));
    return c;
}

Canvas::Canvas(int w, int h) {
    if (w <= 0 || h <= 0) {
        return;
    }
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h; // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* pixels = nullptr;
    GdiObject<HBITMAP> made(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0));
    MemoryDc madeDc(CreateCompatibleDC(nullptr));
    if (!made || !madeDc || pixels == nullptr) {
        return;
    }
    previous = SelectObject(madeDc.Get(), made.Get());
    if (previous == nullptr || previous == HGDI_ERROR) {
        previous = nullptr;
        return;
    }
    width = w;
    height = h;
    clip = {0, 0, w, h};
    dc = std::move(madeDc);
    bitmap = std::move(made);
    bits = static_cast<uint32_t*>(pixels);
    // A new DIB section is zero-filled: transparent.
}

Canvas::~Canvas() {
    Release();
}

Canvas::Canvas(Canvas&& other) noexcept
    : width(std::exchange(other.width, 0)), height(std::exchange(other.height, 0)),
      clip(std::exchange(other.clip, RECT{})), dc(std::move(other.dc)),
      bitmap(std::move(other.bitmap)), previous(std::exchange(other.previous, nullptr)),
      bits(std::exchange(other.bits, nullptr)) {}

Canvas& Canvas::operator=(Canvas&& other) noexcept {
    if (this != &other) {
        Release();
        width = std::exchange(other.width, 0);
        height = std::exchange(other.height, 0);
        clip = std::exchange(other.clip, RECT{});
        dc = std::move(other.dc);
        bitmap = std::move(other.bitmap);
        previous = std::exchange(other.previous, nullptr);
        bits = std::exchange(other.bits, nullptr);
    }
    return *this;
}

void Canvas::Release() {
    // The bitmap leaves the DC before either is deleted.
    if (dc && previous != nullptr) {
        SelectObject(dc.Get(), previous);
    }
    previous = nullptr;
    dc.Reset();
    bitmap.Reset();
    bits = nullptr;
    width = 0;
    height = 0;
    clip = {};
}

Rgb Canvas::At(int x, int y) const {
    const uint32_t p = bits[static_cast<size_t>(y) * static_cast<size_t>(width) + x];
    return {static_cast<uint8_t>(p >> 16), static_cast<uint8_t>(p >> 8), static_cast<uint8_t>(p)};
}

uint8_t Canvas::AlphaAt(int x, int y) const {
    return static_cast<uint8_t>(bits[static_cast<size_t>(y) * static_cast<size_t>(width) + x] >>
                                24);
}

void Canvas::SetClip(const RECT& area) {
    const RECT all{0, 0, width, height};
    if (IntersectRect(&clip, &area, &all) == FALSE) {
        clip = {};
    }
}

void Canvas::ClearClip() {
    clip = {0, 0, width, height};
}

RECT Canvas::Clipped(const RECT& area) const {
    RECT out{};
    if (bits == nullptr || IntersectRect(&out, &area, &clip) == FALSE) {
        return {};
    }
    return out;
}

void Canvas::Blend(int x, int y, Colour colour, float coverage) {
    const auto alpha = static_cast<uint32_t>(std::lrint(static_cast<float>(colour.a) * coverage));
    if (alpha == 0) {
        return;
    }
    uint32_t& pixel = bits[static_cast<size_t>(y) * static_cast<size_t>(width) + x];
    const uint32_t sr = Times(colour.r, alpha);
    const uint32_t sg = Times(colour.g, alpha);
    const uint32_t sb = Times(colour.b, alpha);
    if (alpha == 255) {
        pixel = 0xff000000U | (sr << 16) | (sg << 8) | sb;
        return;
    }
    const uint32_t keep = 255 - alpha;
    const uint32_t a = alpha + Times(pixel >> 24, keep);
    const uint32_t r = sr + Times((pixel >> 16) & 0xffU, keep);
    const uint32_t g = sg + Times((pixel >> 8) & 0xffU, keep);
    const uint32_t b = sb + Times(pixel & 0xffU, keep);
    pixel = (a << 24) | (r << 16) | (g << 8) | b;
}

void Canvas::Clear(const RECT& area) {
    const RECT r = Clipped(area);
    for (LONG y = r.top; y < r.bottom; ++y) {
        std::fill_n(bits + static_cast<size_t>(y) * static_cast<size_t>(width) + r.left,
                    r.right - r.left, 0U);
    }
}

void Canvas::FillRect(const RECT& area, Colour colour) {
    const RECT r = Clipped(area);
    for (LONG y = r.top; y < r.bottom; ++y) {
        for (LONG x = r.left; x < r.right; ++x) {
            Blend(static_cast<int>(x), static_cast<int>(y), colour, 1.0F);
        }
    }
}

RECT PixelBounds(const RectF& box, float reach) {
    return {static_cast<LONG>(std::floor(box.left - reach)),
            static_cast<LONG>(std::floor(box.top - reach)),
            static_cast<LONG>(std::ceil(box.right + reach)),
            static_cast<LONG>(std::ceil(box.bottom + reach))};
}

void Canvas::FillRoundedRect(const RectF& box, float radius, Colour colour) {
    const float r = std::clamp(radius, 0.0F, std::min(box.Width(), box.Height()) / 2);
    const RECT area = Clipped(PixelBounds(box, 1.0F));
    const uint32_t solid =
        0xff000000U | (uint32_t{colour.r} << 16) | (uint32_t{colour.g} << 8) | colour.b;
    for (LONG y = area.top; y < area.bottom; ++y) {
        const float cy = static_cast<float>(y) + 0.5F;
        // The pixels a whole pixel or more inside the box, clear of its corners, are covered
        // whole: on rows away from the corners, all but the two edges' pixels.
        const bool straight = cy >= box.top + r + 1 && cy <= box.bottom - r - 1;
        const bool inside = cy >= box.top + 1 && cy <= box.bottom - 1;
        const float from = straight ? box.left + 1 : box.left + r + 1;
        const float to = straight ? box.right - 1 : box.right - r - 1;
        uint32_t* row = bits + static_cast<size_t>(y) * static_cast<size_t>(width);
        for (LONG x = area.left; x < area.right; ++x) {
            const float cx = static_cast<float>(x) + 0.5F;
            if (inside && cx >= from && cx <= to) {
                if (colour.a == 255) {
                    row[x] = solid;
                } else {
                    Blend(static_cast<int>(x), static_cast<int>(y), colour, 1.0F);
                }
                continue;
            }
            const float cover = Coverage(RoundedBoxDistance({cx, cy}, box, r));
            if (cover > 0) {
                Blend(static_cast<int>(x), static_cast<int>(y), colour, cover);
            }
        }
    }
}

void Canvas::StrokeRoundedRect(const RectF& box, float radius, float strokeWidth, Colour colour) {
    const float half = strokeWidth / 2;
    const RectF middle{box.left + half, box.top + half, box.right - half, box.bottom - half};
    const float r = std::max(0.0F, radius - half);
    const RECT area = Clipped(PixelBounds(box, 1.0F));
    for (LONG y = area.top; y < area.bottom; ++y) {
        const float cy = static_cast<float>(y) + 0.5F;
        // Well inside the stroke's inner edge nothing is drawn: the row's middle is skipped.
        const bool clear =
            cy > box.top + strokeWidth + radius + 1 && cy < box.bottom - strokeWidth - radius - 1;
        const float from = box.left + strokeWidth + 1;
        const float to = box.right - strokeWidth - 1;
        for (LONG x = area.left; x < area.right; ++x) {
            const float cx = static_cast<float>(x) + 0.5F;
            if (clear && cx > from && cx < to) {
                x = std::max(x, static_cast<LONG>(std::floor(to - 0.5F)));
                continue;
            }
            const float cover = Coverage(std::fabs(RoundedBoxDistance({cx, cy}, middle, r)) - half);
            if (cover > 0) {
                Blend(static_cast<int>(x), static_cast<int>(y), colour, cover);
            }
        }
    }
}

void Canvas::FillCircle(PointF centre, float radius, Colour colour) {
    FillShape(PixelBounds({centre.x, centre.y, centre.x, centre.y}, radius + 1), colour,
              [&](PointF p) { return CircleDistance(p, centre, radius); });
}

void Canvas::StrokeCircle(PointF centre, float radius, float strokeWidth, Colour colour) {
    FillShape(
        PixelBounds({centre.x, centre.y, centre.x, centre.y}, radius + strokeWidth + 1), colour,
        [&](PointF p) { return std::fabs(CircleDistance(p, centre, radius)) - strokeWidth / 2; });
}

void Canvas::FillSegment(PointF from, PointF to, float strokeWidth, Colour colour) {
    const RectF box{std::min(from.x, to.x), std::min(from.y, to.y), std::max(from.x, to.x),
                    std::max(from.y, to.y)};
    FillShape(PixelBounds(box, strokeWidth / 2 + 1), colour,
              [&](PointF p) { return SegmentDistance(p, from, to, strokeWidth); });
}

void Canvas::DrawMask(const Mask& mask, int x, int y, Colour colour) {
    const RECT area = Clipped({x, y, x + mask.width, y + mask.height});
    for (LONG py = area.top; py < area.bottom; ++py) {
        const uint8_t* row =
            mask.cover.data() + static_cast<size_t>(py - y) * static_cast<size_t>(mask.width);
        for (LONG px = area.left; px < area.right; ++px) {
            const uint8_t c = row[px - x];
            if (c != 0) {
                Blend(static_cast<int>(px), static_cast<int>(py), colour,
                      static_cast<float>(c) / 255.0F);
            }
        }
    }
}

void Canvas::Shadow(const RectF& box, float radius, float blur, float offsetY, uint8_t opacity) {
    const RectF cast{box.left, box.top + offsetY, box.right, box.bottom + offsetY};
    const RECT area = Clipped(PixelBounds(cast, blur + 1));
    for (LONG y = area.top; y < area.bottom; ++y) {
        const float cy = static_cast<float>(y) + 0.5F;
        for (LONG x = area.left; x < area.right; ++x) {
            const float cx = static_cast<float>(x) + 0.5F;
            if (RoundedBoxDistance({cx, cy}, box, radius) < -1.0F) {
                continue; // under the box, which covers it
            }
            const float d = RoundedBoxDistance({cx, cy}, cast, radius);
            // Full at the edge, easing to nothing at `blur` pixels out.
            const float t = std::clamp(1.0F - (d + 1.0F) / (blur + 1.0F), 0.0F, 1.0F);
            const float strength = t * t * (3 - 2 * t);
            if (strength > 0) {
                Blend(static_cast<int>(x), static_cast<int>(y), {0, 0, 0, opacity}, strength);
            }
        }
    }
}

} // namespace overlay
