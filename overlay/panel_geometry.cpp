#include "panel_geometry.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>

namespace overlay {

namespace {

// A map of one coordinate through breakpoints (source, drawn), the sources in order: linear
// between them, held at the ends.
struct Breakpoint {
    float source;
    float drawn;
};

float Through(std::initializer_list<Breakpoint> points, float v) {
    const Breakpoint* first = points.begin();
    const Breakpoint* last = points.end() - 1;
    if (v <= first->source) {
        return first->drawn;
    }
    for (const Breakpoint* p = first; p != last; ++p) {
        const Breakpoint* q = p + 1;
        if (v < q->source && q->source > p->source) {
            return p->drawn + (v - p->source) / (q->source - p->source) * (q->drawn - p->drawn);
        }
    }
    return last->drawn;
}

bool Empty(const RECT& r) {
    return r.right <= r.left || r.bottom <= r.top;
}

bool Inside(const RECT& inner, const RECT& outer) {
    return inner.left >= outer.left && inner.right <= outer.right && inner.top >= outer.top &&
           inner.bottom <= outer.bottom;
}

RectF Deflated(const RectF& r, float by) {
    const float x = std::min(by, r.Width() / 2);
    const float y = std::min(by, r.Height() / 2);
    return {r.left + x, r.top + y, r.right - x, r.bottom - y};
}

float F(LONG v) {
    return static_cast<float>(v);
}

} // namespace

SIZE BodySize(const RECT& pad, int bodyHeight, int maxWidth) {
    const long long padWidth = std::max<long long>(1, static_cast<long long>(pad.right) - pad.left);
    const long long padHeight =
        std::max<long long>(1, static_cast<long long>(pad.bottom) - pad.top);
    long long h = std::max(1, bodyHeight);
    long long w = h * padWidth / padHeight;
    if (w > maxWidth) {
        w = std::max(1, maxWidth);
        h = std::max<long long>(1, w * padHeight / padWidth);
    }
    return {static_cast<LONG>(w), static_cast<LONG>(h)};
}

PanelGeometry::PanelGeometry(const PanelLayout& panelLayout, int bodyWidth, int bodyHeight,
                             float pixelScale)
    : layout(panelLayout), scale(pixelScale > 0 ? pixelScale : 1.0F) {
    const int margin = Px(MarginEpx);
    width = bodyWidth + 2 * margin;
    height = bodyHeight + 2 * margin;
    body = {F(margin), F(margin), F(margin + bodyWidth), F(margin + bodyHeight)};
    bodyRadius =
        std::min(static_cast<float>(Px(BodyRadiusEpx)), std::min(body.Width(), body.Height()) / 4);
    // In effective pixels: at least 3, at most their shares of a small body.
    const float bodyEpx = static_cast<float>(bodyHeight) / scale;
    const auto share = [&](float epx, float part) {
        return static_cast<float>(Px(std::clamp(part * bodyEpx, 3.0F, epx)));
    };
    inset = share(InsetEpx, InsetShare);
    gap = share(GapEpx, GapShare);
    const float footerHeight = static_cast<float>(Px(FooterEpx));
    content = {body.left + inset, body.top + inset, body.right - inset,
               body.bottom - inset - footerHeight};
    footer = {content.left, content.bottom, content.right, body.bottom - inset};
    if (HasStructure()) {
        PlaceAligned();
    } else {
        PlaceToScale();
    }
    float smallest = 1e9F;
    for (size_t i = 0; i < ZoneCount; ++i) {
        if (Shown(i)) {
            smallest = std::min({smallest, tiles[i].Width(), tiles[i].Height()});
        }
    }
    if (smallest > 1e8F) {
        smallest = content.Height() / 3;
    }
    markerWidth = std::max(1.5F, 2.0F * scale);
    markerRadius = std::clamp(0.18F * smallest, 6.0F * scale, 13.0F * scale);
    if (aligned) {
        // The step mark spans the strip's tile but for 2 effective pixels each side: the marker
        // and its ring stay narrower than it.
        const float strip = tiles[StripIndex].Width();
        markerRadius = std::min(markerRadius, strip / 2 - 2 * scale - markerWidth - 2);
    }
    markerRadius = std::max(markerRadius, 3.0F);
}

int PanelGeometry::Px(float epx) const {
    return std::max(1, static_cast<int>(std::lround(epx * scale)));
}

bool PanelGeometry::Shown(size_t zone) const {
    return tiles[zone].Width() > 0 && tiles[zone].Height() > 0;
}

bool PanelGeometry::HasStructure() const {
    const RECT& pad = layout.pad;
    if (Empty(pad)) {
        return false;
    }
    const auto grid = [&](int row, int col) -> const RECT& {
        return layout.zones[FirstGridIndex + static_cast<size_t>(row * 3 + col)].rect;
    };
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            const RECT& r = grid(row, col);
            if (Empty(r) || !Inside(r, pad) || r.top != grid(row, 0).top ||
                r.bottom != grid(row, 0).bottom || r.left != grid(0, col).left ||
                r.right != grid(0, col).right) {
                return false;
            }
            if ((col > 0 && r.left < grid(row, col - 1).right) ||
                (row > 0 && r.top < grid(row - 1, col).bottom)) {
                return false;
            }
        }
    }
    const RECT& exit = layout.zones[ExitIndex].rect;
    const RECT strip = ViewRect(layout, StripIndex);
    // The right-hand column: the exit button right of the grid, the strip under it and no
    // wider, its top (if any) covered by the exit button across its whole width.
    return !Empty(exit) && !Empty(strip) && Inside(exit, pad) && Inside(strip, pad) &&
           exit.left >= grid(0, 2).right && strip.left >= exit.left && strip.right <= exit.right &&
           strip.top >= exit.top && std::max(strip.top, exit.bottom) < strip.bottom;
}

void PanelGeometry::PlaceAligned() {
    aligned = true;
    tileRadius = static_cast<float>(Px(TileRadiusEpx));
    // Whole pixels, so that straight edges are crisp.
    const float across = content.Width() - 3 * gap;
    const float button = std::floor(across / (3 + ColumnShare));
    const float down = content.Height() - 2 * gap;
    const float row = std::floor(down / 3);
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            const float left = content.left + static_cast<float>(c) * (button + gap);
            const float top = content.top + static_cast<float>(r) * (row + gap);
            tiles[FirstGridIndex + static_cast<size_t>(r * 3 + c)] = {left, top, left + button,
                                                                      top + row};
        }
    }
    const float columnLeft = content.left + 3 * (button + gap);
    const RectF& first = tiles[FirstGridIndex];
    const RectF& last = tiles[FirstGridIndex + 8];
    tiles[ExitIndex] = {columnLeft, first.top, content.right, first.bottom};
    tiles[StripIndex] = {columnLeft, tiles[FirstGridIndex + 3].top, content.right, last.bottom};
    visibleStripTop =
        std::max(F(ViewRect(layout, StripIndex).top), F(layout.zones[ExitIndex].rect.bottom));
}

void PanelGeometry::PlaceToScale() {
    aligned = false;
    tileRadius = 0;
    for (size_t i = 0; i < ZoneCount; ++i) {
        const RECT r = ViewRect(layout, i);
        if (Empty(r)) {
            tiles[i] = {};
            continue;
        }
        const PointF a = MapDead(F(r.left), F(r.top));
        const PointF b = MapDead(F(r.right), F(r.bottom));
        tiles[i] = {a.x, a.y, b.x, b.y};
    }
}

RectF PanelGeometry::Source(size_t zone) const {
    const RECT r = ViewRect(layout, zone);
    RectF source{F(r.left), F(r.top), F(r.right), F(r.bottom)};
    if (zone == StripIndex && aligned) {
        source.top = visibleStripTop;
    }
    return source;
}

PointF PanelGeometry::MapDead(float x, float viewY) const {
    const RECT& pad = layout.pad;
    const float half = inset / 2;
    const float left = body.left + half;
    const float top = body.top + half;
    const float right = body.right - half;
    const float bottom = body.bottom - half;
    if (!aligned) {
        return {Through({{F(pad.left), content.left}, {F(pad.right), content.right}}, x),
                Through({{F(pad.top), content.top}, {F(pad.bottom), content.bottom}}, viewY)};
    }
    const auto grid = [&](size_t k) -> const RECT& {
        return layout.zones[FirstGridIndex + k].rect;
    };
    const auto tile = [&](size_t k) -> const RectF& { return tiles[FirstGridIndex + k]; };
    const float gridRight = F(grid(2).right);
    if (x < gridRight) {
        return {Through({{F(pad.left), left},
                         {F(grid(0).left), tile(0).left},
                         {F(grid(0).right), tile(0).right},
                         {F(grid(1).left), tile(1).left},
                         {F(grid(1).right), tile(1).right},
                         {F(grid(2).left), tile(2).left},
                         {F(grid(2).right), tile(2).right}},
                        x),
                Through({{F(pad.top), top},
                         {F(grid(0).top), tile(0).top},
                         {F(grid(0).bottom), tile(0).bottom},
                         {F(grid(3).top), tile(3).top},
                         {F(grid(3).bottom), tile(3).bottom},
                         {F(grid(6).top), tile(6).top},
                         {F(grid(6).bottom), tile(6).bottom},
                         {F(pad.bottom), bottom}},
                        viewY)};
    }
    // The right-hand column: the exit button's rows, then the strip's.
    const RECT& exit = layout.zones[ExitIndex].rect;
    const RectF& exitTile = tiles[ExitIndex];
    const RectF& stripTile = tiles[StripIndex];
    const RectF strip = Source(StripIndex);
    const bool exitRows = viewY < F(exit.bottom);
    const float fromLeft = exitRows ? F(exit.left) : strip.left;
    const float toRight = exitRows ? F(exit.right) : strip.right;
    const float drawnX = Through({{gridRight, tile(2).right},
                                  {fromLeft, exitTile.left},
                                  {toRight, exitTile.right},
                                  {F(pad.right), right}},
                                 x);
    const float drawnY = exitRows ? Through({{F(pad.top), top},
                                             {F(exit.top), exitTile.top},
                                             {F(exit.bottom), exitTile.bottom}},
                                            viewY)
                                  : Through({{F(exit.bottom), exitTile.bottom},
                                             {strip.top, stripTile.top},
                                             {strip.bottom, stripTile.bottom},
                                             {F(pad.bottom), bottom}},
                                            viewY);
    return {drawnX, drawnY};
}

PointF PanelGeometry::Map(LONG x, LONG y) const {
    const float viewY = F(TurnY(layout, y));
    const auto zone = ZoneUnder(layout, x, y);
    if (!zone || !Shown(*zone)) {
        return MapDead(F(x), viewY);
    }
    // Within the zone's own tile, clear of its rounded corners: the drawn shape holds it.
    const RectF target = Deflated(tiles[*zone], 0.3F * tileRadius + 0.5F);
    if (!aligned) {
        const PointF scaled = MapDead(F(x), viewY);
        const PointF p{std::clamp(scaled.x, target.left, target.right),
                       std::clamp(scaled.y, target.top, target.bottom)};
        if (DrawnAt(p) == zone) {
            return p;
        }
        // Drawn to scale, zones may reach past the pad, where a tile drawn over them (one that
        // takes taps first) covers what is left of them: the nearest point of the zone's own
        // tile that shows.
        std::optional<PointF> best;
        float bestDistance = 0;
        constexpr int Steps = 16;
        for (int i = 0; i <= Steps; ++i) {
            for (int j = 0; j <= Steps; ++j) {
                const PointF q{target.left + target.Width() * static_cast<float>(i) / Steps,
                               target.top + target.Height() * static_cast<float>(j) / Steps};
                const float distance = std::hypot(q.x - p.x, q.y - p.y);
                if (DrawnAt(q) == zone && (!best || distance < bestDistance)) {
                    best = q;
                    bestDistance = distance;
                }
            }
        }
        return best.value_or(p);
    }
    const RectF source = Source(*zone);
    const auto along = [](float v, float lo, float hi, float drawnLo, float drawnHi) {
        const float t = hi > lo ? std::clamp((v - lo) / (hi - lo), 0.0F, 1.0F) : 0.5F;
        return drawnLo + t * (drawnHi - drawnLo);
    };
    return {along(F(x), source.left, source.right, target.left, target.right),
            along(viewY, source.top, source.bottom, target.top, target.bottom)};
}

std::optional<size_t> PanelGeometry::DrawnAt(PointF p) const {
    // In the program's order: the exit button and the grid, then the strip.
    for (size_t i = ExitIndex; i <= ZoneCount; ++i) {
        const size_t zone = i == ZoneCount ? StripIndex : i;
        if (Shown(zone) && RoundedBoxDistance(p, tiles[zone], tileRadius) < -0.01F) {
            return zone;
        }
    }
    return std::nullopt;
}

} // namespace overlay
