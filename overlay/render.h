// Draws the panel as a Windows 11 flyout: a rounded body with a thin border and a soft shadow
// (in the canvas's per-pixel alpha), a tile per zone with its icon and word, the volume strip as
// a slider (a speaker with + at its top end and - at its bottom, a track, the system's volume
// level where it is known, a mark at each step), the finger as a ring with a light fill drawn
// under the words, which keep a rim of their tile's colour and so stay readable, a pressed tile
// in the accent colour, and a caption line. Any thread; one painter per thread at a time.
#pragma once

#include <windows.h>

#include <array>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "canvas.h"
#include "icons.h"
#include "panel_geometry.h"
#include "text.h"
#include "theme.h"

namespace overlay {

// The words' sizes, in effective pixels: never smaller than MinWordEpx (Windows' caption
// size); a tile that cannot hold its word that large shows its icon alone.
inline constexpr float MinWordEpx = 12;
inline constexpr float MaxWordEpx = 14;

// The system's volume: the default output's level (0..1) and whether it is muted.
struct VolumeLevel {
    float level = 0;
    bool muted = false;

    bool operator==(const VolumeLevel&) const = default;
};

// Everything the panel shows at a moment.
struct PanelScene {
    PanelState state;
    std::optional<VolumeLevel> volume; // none where the system gives none

    bool operator==(const PanelScene&) const = default;
};

// A mask placed on the canvas, with the rim around it drawn first in the colour behind it.
struct Ink {
    Mask mask;
    Mask rim;
    POINT at{}; // the mask's top left; the rim's is `rimReach` pixels up and left of it
    int rimReach = 0;

    bool Empty() const { return mask.Empty(); }
    RECT Bounds() const;
};

// A tile's icon and words as fitted to it, once per size.
struct TilePlan {
    Ink icon;
    std::array<Ink, 2> lines; // one or two lines of the word; none when the icon shows alone
    size_t lineCount = 0;
    int wordPixels = 0; // the words' em height
    Ink ends;           // the mark of a button that ends Tapdeck
    // The strip: the glyphs at its ends and its track.
    Ink up;
    Ink down;
    RectF track{};
};

// The colours a tile is drawn in.
struct TileLook {
    Rgb fill{};
    Rgb stroke{};
    float strokeWidth = 1;
    Rgb ink{};

    bool operator==(const TileLook&) const = default;
};

// What the caption line says: the caption (or the panel's name), and the level at its right.
struct CaptionWords {
    std::wstring text;
    bool caption = false; // a caption, not the name
    std::wstring level;   // "45%", "Muted", or nothing

    bool operator==(const CaptionWords&) const = default;
};

CaptionWords CaptionOf(const PanelLayout& layout, const PanelScene& scene);

class PanelPainter {
public:
    PanelPainter(const PanelGeometry& geometry, const Palette& palette);

    const PanelGeometry& Geometry() const { return geometry; }
    const Palette& Colours() const { return palette; }
    // True when this painter draws a panel of this size, scale and palette.
    bool Fits(int bodyWidth, int bodyHeight, float scale, const Palette& other) const;
    const TilePlan& Plan(size_t zone) const { return plans[zone]; }
    TileLook LookOf(size_t zone, const PanelScene& scene) const;

    // Draws the scene over `target` (of the geometry's size). Painted again, the canvas must
    // hold what this painter drew last: only what looks otherwise is drawn again.
    void Paint(const PanelScene& scene, Canvas& target);
    // The pixels that may differ from the previous Paint (all of them after the first).
    RECT Changed() const { return changed; }

private:
    // What one part of the panel looks like: a part whose key changes is drawn again.
    struct PartKeys {
        std::array<TileLook, ZoneCount> tiles{};
        std::optional<VolumeLevel> volume;
        int stepRow = -1;
        float stepStrength = 0;
        bool marker = false;
        PointF markerAt{};
        Rgb markerColour{};
        CaptionWords words;
        float captionStrength = 0;
    };

    // The room for a tile's icon and words, and the words' preferred size.
    struct Room {
        int width = 0;
        int height = 0;
        int iconMax = 0;
        int preferred = 0;
    };
    // A word on one line or two, and the icon it leaves room for.
    struct WordFit {
        std::array<std::wstring, 2> lines;
        size_t count = 0;
        int lineHeight = 0;
        int icon = 0;
    };

    void Fit();
    const PanelWords* WordsOf(size_t zone, bool& ends) const;
    Room RoomIn(size_t zone) const;
    std::optional<WordFit> FitWord(const std::wstring& word, int pixels, const Room& room);
    void FitTile(size_t zone, int wordPixels);
    void FitStrip();
    PartKeys KeysOf(const PanelScene& scene) const;
    RECT MarkerBounds(PointF at) const;
    RECT TileBounds(size_t zone) const;
    void Draw(const PanelScene& scene, const PartKeys& keys, Canvas& target, const RECT& clip);
    // The ink in `colour` over its rim in `behind`, at its own place or at `at`.
    void DrawInk(Canvas& target, const Ink& ink, Rgb colour, Rgb behind, float opacity = 1,
                 std::optional<POINT> at = std::nullopt) const;
    const Ink& Words(const std::wstring& text, bool semibold);

    PanelGeometry geometry;
    Palette palette;
    TextMaker text;
    std::array<TilePlan, ZoneCount> plans;
    std::map<std::pair<std::wstring, bool>, Ink> captions;
    std::optional<PartKeys> last;
    const Canvas* lastTarget = nullptr; // only compared, never used
    RECT changed{};
};

// Draws the whole panel over the canvas once.
void RenderPanel(const PanelGeometry& geometry, const Palette& palette, const PanelScene& scene,
                 Canvas& target);

// The panel's small form while idle: a rounded square with a small picture of the panel, on a
// canvas `Px(IdleEpx)` plus the margin each way.
inline constexpr float IdleEpx = 40;
int IdleCanvasSize(float scale);
void PaintIdle(const Palette& palette, float scale, Canvas& target);

} // namespace overlay
