// Draws the panel with GDI into a 32-bit top-down DIB: a dark frame, the pad, the eleven zones
// in their colours with their words, the zone under the finger darker, a fading white flash on
// a tapped zone and on the strip at a volume step (with a mark where it stepped), and the finger
// as a dot. Any thread; one bitmap per thread at a time.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <string>

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
    // Sets the alpha byte of the pixels in `area` to 255: GDI leaves it 0, and Wine's X11
    // driver blends it into the window's pixels.
    void SetOpaque(const RECT& area);

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

// The dot's radius in pixels on a bitmap `height` pixels high.
int DotRadius(int height, float dpiScale);

struct RenderOptions {
    float dpiScale = 1.0F;
    bool labels = true;
};

// A zone's words as fitted to it: the fonts and where each line goes.
struct LabelPlan {
    std::array<GdiObject<HFONT>, 2> fonts;
    std::array<std::wstring, 2> texts;
    std::array<RECT, 2> rects{};
    size_t count = 0;
    bool upwards = false; // one word turned to read from the bottom up, its baseline through `at`
    POINT at{};
};

// Draws the panel of one layout at one size and scale, again and again: the words are fitted to
// their zones once, at the first Paint. One thread at a time.
class PanelPainter {
public:
    PanelPainter(const PanelLayout& layout, int width, int height, const RenderOptions& options);
    // Paints for a bitmap of this size at this scale.
    bool Fits(const PanelBitmap& target, float dpiScale) const;
    // Draws the whole panel over `target`, which must be of the painter's size. Painted again,
    // the same bitmap must hold what this painter drew last (only what changed is redrawn).
    void Paint(const PanelState& state, PanelBitmap& target);
    // The pixels that may differ from the previous Paint (all of them after the first).
    RECT Changed() const { return sincePrevious; }

private:
    // The strip first, then the buttons from last to first, so that where zones share points the
    // one that takes the tap is on top.
    static constexpr std::array<size_t, ZoneCount> DrawOrder = {StripIndex, 10, 9, 8, 7,        6,
                                                                5,          4,  3, 2, ExitIndex};

    static Rgb FillOf(size_t zone, const PanelState& state);
    void PaintZone(HDC dc, size_t zone, const PanelState& state);
    void PaintLabel(HDC dc, size_t zone, const PanelState& state);
    // The panel with no finger and no flash, and the words' fitting.
    void PaintNeutral();

    PanelLayout layout;
    PadMapping map;
    RenderOptions options;
    int width;
    int height;
    PanelBitmap neutral;
    std::array<LabelPlan, ZoneCount> labels;
    RECT lastChanged{};
    RECT sincePrevious{};
    // The bitmap of the last Paint, which still holds it (only compared, never used).
    const PanelBitmap* lastTarget = nullptr;
};

// Draws the whole panel over the bitmap once.
void RenderPanel(const PanelLayout& layout, const PanelState& state, const RenderOptions& options,
                 PanelBitmap& target);

} // namespace overlay
