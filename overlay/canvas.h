// A canvas of premultiplied 32-bit pixels (a DIB section in a memory DC of its own, as
// UpdateLayeredWindow takes it) and the anti-aliased drawing the panel is made of: rounded
// rectangles, circles, lines, coverage masks (words, icons) and a soft shadow, each blended over
// what is there, all within the canvas's clip rectangle. Nothing here knows the panel: another
// small layered window draws with it too. One thread at a time.
#pragma once

#include <windows.h>

#include <cstdint>

#include "gdi_holders.h"
#include "layout/zone_words.h"
#include "shapes.h"

namespace overlay {

// A colour with its opacity (not premultiplied).
struct Colour {
    uint8_t r = 0;
    uint8_t g = 0;
    uint8_t b = 0;
    uint8_t a = 255;

    bool operator==(const Colour&) const = default;
};

constexpr Colour Solid(Rgb c) {
    return {c.r, c.g, c.b, 255};
}

// `c` at `opacity` (0..1) of its own.
Colour Faded(Colour c, float opacity);

class Canvas {
public:
    Canvas() = default;
    // Empty (false) when the DIB or its DC cannot be made, or the size is not positive. All
    // pixels start transparent.
    Canvas(int width, int height);
    ~Canvas();
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;
    Canvas(Canvas&& other) noexcept;
    Canvas& operator=(Canvas&& other) noexcept;

    explicit operator bool() const { return bits != nullptr; }
    HDC Dc() const { return dc.Get(); }
    int Width() const { return width; }
    int Height() const { return height; }
    // 0xAARRGGBB, premultiplied, rows top to bottom.
    const uint32_t* Bits() const { return bits; }
    // A pixel's colour as stored (premultiplied: what it shows over black) and its opacity.
    Rgb At(int x, int y) const;
    uint8_t AlphaAt(int x, int y) const;

    // Drawing touches only the pixels inside the clip (the whole canvas by default).
    void SetClip(const RECT& clip);
    void ClearClip();
    const RECT& Clip() const { return clip; }

    // Makes the pixels of `area` transparent.
    void Clear(const RECT& area);
    // Pixels whose centres are inside: no anti-aliasing, for rectangles on whole pixels.
    void FillRect(const RECT& area, Colour colour);
    void FillRoundedRect(const RectF& box, float radius, Colour colour);
    // A border `width` wide inside the box's edge.
    void StrokeRoundedRect(const RectF& box, float radius, float width, Colour colour);
    void FillCircle(PointF centre, float radius, Colour colour);
    // A ring `width` wide centred on the circle.
    void StrokeCircle(PointF centre, float radius, float width, Colour colour);
    // A line `width` wide with round ends.
    void FillSegment(PointF from, PointF to, float width, Colour colour);
    // The mask's coverage in `colour`, its top left at (x, y).
    void DrawMask(const Mask& mask, int x, int y, Colour colour);
    // A shadow of `box` (rounded by `radius`), `offsetY` lower, fading to nothing over `blur`
    // pixels outside it; painted only outside the box itself, which is drawn next.
    void Shadow(const RectF& box, float radius, float blur, float offsetY, uint8_t opacity);

    // Blends `colour` at each pixel of `bounds` by the coverage of the shape whose signed
    // distance `distanceAt` gives for the pixel's centre.
    template <class Distance>
    void FillShape(const RECT& bounds, Colour colour, const Distance& distanceAt);

private:
    void Release();
    RECT Clipped(const RECT& area) const;
    void Blend(int x, int y, Colour colour, float coverage);

    int width = 0;
    int height = 0;
    RECT clip{};
    MemoryDc dc;
    GdiObject<HBITMAP> bitmap;
    HGDIOBJ previous = nullptr;
    uint32_t* bits = nullptr;
};

// The pixel rectangle that holds every pixel a shape within `box` (and `reach` beyond it) can
// touch.
RECT PixelBounds(const RectF& box, float reach);

template <class Distance>
void Canvas::FillShape(const RECT& bounds, Colour colour, const Distance& distanceAt) {
    const RECT area = Clipped(bounds);
    for (LONG y = area.top; y < area.bottom; ++y) {
        for (LONG x = area.left; x < area.right; ++x) {
            const float cover = Coverage(
                distanceAt(PointF{static_cast<float>(x) + 0.5F, static_cast<float>(y) + 0.5F}));
            if (cover > 0) {
                Blend(static_cast<int>(x), static_cast<int>(y), colour, cover);
            }
        }
    }
}

} // namespace overlay
