// Draws the panel with GDI into a 32-bit top-down DIB: a dark frame, the pad, the eleven zones
// in their colours with their words, the zone under the finger darker, a fading white flash on
// a tapped zone and on the strip at a volume step (with a mark where it stepped), and the finger
// as a dot. Any thread; one bitmap per thread at a time.
#pragma once

#include <windows.h>

#include <cstdint>

#include "gdi_holders.h"
#include "panel.h"

namespace overlay {

inline constexpr Rgb FrameColour{0x1c, 0x1c, 0x1c};
inline constexpr Rgb PadFill{0x3c, 0x3c, 0x3c};
inline constexpr Rgb LabelColour{0x10, 0x10, 0x10};
inline constexpr Rgb HighlightLabelColour{0xff, 0xff, 0xff};
inline constexpr Rgb DotColour{0xe3, 0x1a, 0x1c};
inline constexpr Rgb DotRing{0xff, 0xff, 0xff};
inline constexpr Rgb StepMarkColour{0xff, 0xff, 0xff};

// The fill of a zone under the finger.
Rgb Highlighted(Rgb fill);
// A fill flashed white with `strength` 0..1.
Rgb Flashed(Rgb fill, float strength);

// A 32-bit top-down DIB section selected into its own memory DC. Move-only.
class PanelBitmap {
public:
    PanelBitmap() = default;
    // Empty (false) when the DIB or the DC cannot be made, or the size is not positive.
    PanelBitmap(int width, int height);
    ~PanelBitmap();
    PanelBitmap(const PanelBitmap&) = delete;
    PanelBitmap& operator=(const PanelBitmap&) = delete;
    PanelBitmap(PanelBitmap&& other) noexcept;
    PanelBitmap& operator=(PanelBitmap&& other) noexcept;

    explicit operator bool() const { return bits != nullptr; }
    HDC Dc() const { return dc.Get(); }
    int Width() const { return width; }
    int Height() const { return height; }
    // 0xAARRGGBB per pixel, rows top to bottom.
    const uint32_t* Bits() const { return bits; }
    Rgb At(int x, int y) const;
    void SetOpaque();

private:
    void Release();

    int width = 0;
    int height = 0;
    MemoryDc dc;
    GdiObject<HBITMAP> bitmap;
    HGDIOBJ previous = nullptr;
    uint32_t* bits = nullptr;
};

// Where the pad's view-frame points land on a bitmap: inside a frame of `border` pixels.
class PadMapping {
public:
    PadMapping(const PanelLayout& layout, int width, int height, float dpiScale);
    int Border() const { return border; }
    // Pixel column of pad X, pixel row of view-frame Y.
    int Column(LONG x) const;
    int Row(LONG viewY) const;
    // The pixels of a view-frame rectangle: left/top included, right/bottom excluded.
    RECT Pixels(const RECT& view) const;
    RECT ZonePixels(size_t zoneIndex) const { return Pixels(ViewRect(layout, zoneIndex)); }
    // The finger at device (x, y).
    POINT Finger(LONG x, LONG y) const;
    // Where a zone's words go: its pixels, for the strip without the part a button covers.
    RECT LabelBox(size_t zoneIndex) const;

private:
    PanelLayout layout;
    int width;
    int height;
    int border;
};

struct RenderOptions {
    float dpiScale = 1.0F;
    bool labels = true;
};

// The dot's radius in pixels on a bitmap `height` pixels high.
int DotRadius(int height, float dpiScale);

// Draws the whole panel over the bitmap; the pixels end opaque.
void RenderPanel(const PanelLayout& layout, const PanelState& state, const RenderOptions& options,
                 PanelBitmap& target);

} // namespace overlay
