// Where the panel's shapes go on its canvas, and where a finger on the pad is drawn. Pure.
//
// The pad's zones do not line up (the exit button starts at the pad's top edge, above the first
// row, and ends 2 units from button 3; the strip begins where the exit button ends, and nothing
// lies below it), so the panel does not draw them to scale. It draws aligned tiles: three rows
// of three buttons with equal gaps and insets, and a right-hand column with the exit button
// beside the first row and the volume strip beside the other two; a caption line below. A
// finger is drawn through a map that takes each zone's rectangle onto its tile, and the points
// of no zone onto the gaps and margins between them: the tile drawn under the finger is always
// the zone that takes it (tested over a grid of points against the program's own hit tests).
// A layout without that structure (a simulated pad's odd edges) is drawn to scale instead.
//
// Sizes are in effective pixels (96 DPI) times the scale, so the panel grows with the display.
#pragma once

#include <windows.h>

#include <array>
#include <optional>

#include "panel.h"
#include "shapes.h"

namespace overlay {

// The fixed sizes, in effective pixels.
inline constexpr float MarginEpx = 12;      // around the body: the shadow's room
inline constexpr float BodyRadiusEpx = 8;   // Windows 11's flyout corners
inline constexpr float InsetEpx = 8;        // the body's edge to the tiles, at most
inline constexpr float GapEpx = 6;          // between tiles, at most
inline constexpr float TileRadiusEpx = 4;   // Windows 11's control corners
inline constexpr float FooterEpx = 22;      // the caption line
inline constexpr float ColumnShare = 0.75F; // the right-hand column's width, of a button's
// A small panel keeps its inset and gaps in proportion: at most these shares of its height,
// and at least 3 effective pixels.
inline constexpr float InsetShare = 0.035F;
inline constexpr float GapShare = 0.025F;

// A body `height` pixels high as wide as the pad's proportions make it, and no wider than
// `maxWidth`, keeping them.
SIZE BodySize(const RECT& pad, int height, int maxWidth);

class PanelGeometry {
public:
    // The panel of `layout` with a body of `bodyWidth` by `bodyHeight` pixels, at `scale`
    // pixels per effective pixel.
    PanelGeometry(const PanelLayout& layout, int bodyWidth, int bodyHeight, float scale);

    const PanelLayout& Layout() const { return layout; }
    float Scale() const { return scale; }
    // Effective pixels in whole pixels, at least one.
    int Px(float epx) const;
    // The canvas: the body and the margin around it.
    int Width() const { return width; }
    int Height() const { return height; }
    const RectF& Body() const { return body; }
    float BodyRadius() const { return bodyRadius; }
    // True for the aligned tiles, false for a layout drawn to scale.
    bool Aligned() const { return aligned; }
    // A zone's tile (empty when the zone holds no point), and the corners' radius.
    const RectF& Tile(size_t zone) const { return tiles[zone]; }
    bool Shown(size_t zone) const;
    float TileRadius() const { return tileRadius; }
    const RectF& Footer() const { return footer; }
    // The body's edge to the tiles, and the gap between tiles, in pixels.
    float Inset() const { return inset; }
    float Gap() const { return gap; }
    // The finger's marker: its radius and its ring's width.
    float MarkerRadius() const { return markerRadius; }
    float MarkerWidth() const { return markerWidth; }

    // Where a finger at device point (x, y) is drawn.
    PointF Map(LONG x, LONG y) const;
    // The zone whose tile is drawn under a canvas point (the exit button over the strip, as a
    // tap goes), or none.
    std::optional<size_t> DrawnAt(PointF p) const;

private:
    // A zone's points in the view frame, as the program hits them (the strip without the part
    // the exit button takes).
    RectF Source(size_t zone) const;
    PointF MapDead(float x, float viewY) const;
    void PlaceAligned();
    void PlaceToScale();
    bool HasStructure() const;

    PanelLayout layout;
    float scale;
    int width;
    int height;
    RectF body;
    float bodyRadius;
    float inset = 0;
    float gap = 0;
    RectF content; // inside the inset, above the footer
    RectF footer;
    bool aligned = false;
    std::array<RectF, ZoneCount> tiles{};
    float tileRadius = 0;
    float markerRadius = 0;
    float markerWidth = 0;
    float visibleStripTop = 0; // view frame
};

} // namespace overlay
