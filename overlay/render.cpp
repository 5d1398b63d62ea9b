#include "render.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace overlay {

namespace {

// In effective pixels.
constexpr float TilePadEpx = 6; // a tile's edge to its icon and words
constexpr float SpacingEpx = 4; // between an icon and its word
constexpr float IconMaxEpx = 24;
constexpr float IconMinEpx = 14; // with a word; alone, an icon may be smaller
constexpr float IconAloneMaxEpx = 28;
constexpr float EndsEpx = 10;
constexpr float GlyphEpx = 18; // the strip's ends
constexpr float TrackEpx = 4;
constexpr float StepEpx = 3;
constexpr float ShadowBlurEpx = 9; // with the offset, within the margin
constexpr float ShadowOffsetEpx = 2;
constexpr float MarkerFill = 0.22F; // the opacity of the marker's inside

int Round(float v) {
    return static_cast<int>(std::lround(v));
}

Ink MakeInk(Mask mask, int x, int y, int rim) {
    Ink ink;
    ink.rim = Dilate(mask, rim);
    ink.mask = std::move(mask);
    ink.at = {x, y};
    ink.rimReach = rim;
    return ink;
}

bool Overlap(const RECT& a, const RECT& b) {
    RECT shared{};
    return IntersectRect(&shared, &a, &b) != FALSE;
}

// One ink's rim and another's shape share a pixel.
bool Touch(const Ink& a, const Ink& b) {
    RECT shared{};
    const RECT aBounds = a.Bounds();
    const RECT bBounds = b.Bounds();
    if (a.Empty() || b.Empty() || IntersectRect(&shared, &aBounds, &bBounds) == FALSE) {
        return false;
    }
    for (LONG y = shared.top; y < shared.bottom; ++y) {
        for (LONG x = shared.left; x < shared.right; ++x) {
            const uint8_t rim = a.rim.At(static_cast<int>(x - a.at.x + a.rimReach),
                                         static_cast<int>(y - a.at.y + a.rimReach));
            const uint8_t shape =
                b.mask.At(static_cast<int>(x - b.at.x), static_cast<int>(y - b.at.y));
            if (rim != 0 && shape != 0) {
                return true;
            }
        }
    }
    return false;
}

// The word in two lines at the space (or after the slash) that makes the longer line shortest.
bool Split(const std::wstring& word, std::wstring& first, std::wstring& second) {
    size_t bestEnd = std::wstring::npos;
    size_t bestStart = 0;
    size_t bestLonger = word.size() + 1;
    for (size_t i = 0; i + 1 < word.size(); ++i) {
        if (word[i] != L' ' && word[i] != L'/') {
            continue;
        }
        const size_t end = word[i] == L'/' ? i + 1 : i; // the slash stays on the first line
        const size_t start = i + 1;
        const size_t longer = std::max(end, word.size() - start);
        if (longer < bestLonger) {
            bestLonger = longer;
            bestEnd = end;
            bestStart = start;
        }
    }
    if (bestEnd == std::wstring::npos) {
        return false;
    }
    first = word.substr(0, bestEnd);
    second = word.substr(bestStart);
    return true;
}

} // namespace

RECT Ink::Bounds() const {
    return {at.x - rimReach, at.y - rimReach, at.x + mask.width + rimReach,
            at.y + mask.height + rimReach};
}

CaptionWords CaptionOf(const PanelLayout& layout, const PanelScene& scene) {
    CaptionWords words;
    if (scene.volume) {
        words.level = scene.volume->muted
                          ? std::wstring(L"Muted")
                          : std::to_wstring(std::lround(scene.volume->level * 100.0F)) + L"%";
    }
    const auto& caption = scene.state.caption;
    if (!caption) {
        words.text = L"Tapdeck";
        return words;
    }
    words.caption = true;
    if (caption->zone == StripIndex) {
        words.text = Widen(caption->direction > 0 ? LookOf(ZoneClass::Strip).panel.caption
                                                  : StripCaptionDown);
    } else if (caption->zone == ExitIndex) {
        words.text = Widen(LookOf(ZoneClass::Exit).panel.caption);
    } else if (caption->zone < ZoneCount) {
        const LONG action = layout.zones[caption->zone].action;
        const ActionWords* said = WordsOfAction(action);
        if (action == Mute && scene.volume) {
            // The system says which way the mute went.
            words.text = scene.volume->muted ? L"Muted" : L"Unmuted";
        } else {
            words.text = said != nullptr ? Widen(said->panel.caption) : std::wstring();
        }
    }
    return words;
}

PanelPainter::PanelPainter(const PanelGeometry& panelGeometry, const Palette& colours)
    : geometry(panelGeometry), palette(colours) {
    Fit();
}

bool PanelPainter::Fits(int bodyWidth, int bodyHeight, float scale, const Palette& other) const {
    const RectF& body = geometry.Body();
    return Round(body.Width()) == bodyWidth && Round(body.Height()) == bodyHeight &&
           geometry.Scale() == scale && palette == other;
}

const PanelWords* PanelPainter::WordsOf(size_t zone, bool& ends) const {
    ends = false;
    if (zone == ExitIndex) {
        return &::LookOf(ZoneClass::Exit).panel;
    }
    const ActionWords* action = WordsOfAction(geometry.Layout().zones[zone].action);
    if (action == nullptr) {
        return nullptr; // a zone of no action shows nothing
    }
    ends = action->endsTapdeck;
    return &action->panel;
}

PanelPainter::Room PanelPainter::RoomIn(size_t zone) const {
    const RectF& tile = geometry.Tile(zone);
    // Six effective pixels in from the edges, less on a small tile.
    const int pad = std::max(
        1, std::min(geometry.Px(TilePadEpx), Round(0.1F * std::min(tile.Width(), tile.Height()))));
    Room room;
    room.width = Round(tile.Width()) - 2 * pad;
    room.height = Round(tile.Height()) - 2 * pad;
    room.iconMax = std::min({geometry.Px(IconMaxEpx), room.width, room.height});
    room.preferred =
        std::clamp(Round(tile.Height() * 0.17F), geometry.Px(MinWordEpx), geometry.Px(MaxWordEpx));
    return room;
}

std::optional<PanelPainter::WordFit> PanelPainter::FitWord(const std::wstring& word, int pixels,
                                                           const Room& room) {
    const int spacing = geometry.Px(SpacingEpx);
    const int iconMin = geometry.Px(IconMinEpx);
    const TextStyle style{pixels, false};
    const SIZE one = text.Measure(word, style);
    if (one.cx > 0 && one.cx <= room.width &&
        std::min(room.iconMax, room.height - spacing - static_cast<int>(one.cy)) >= iconMin) {
        const int height = static_cast<int>(one.cy);
        return WordFit{
            {word, L""}, 1, height, std::min(room.iconMax, room.height - spacing - height)};
    }
    if (std::wstring a, b; Split(word, a, b)) {
        const SIZE first = text.Measure(a, style);
        const SIZE second = text.Measure(b, style);
        const int height = static_cast<int>(first.cy);
        if (std::max(first.cx, second.cx) <= room.width &&
            std::min(room.iconMax, room.height - spacing - 2 * height) >= iconMin) {
            return WordFit{
                {a, b}, 2, height, std::min(room.iconMax, room.height - spacing - 2 * height)};
        }
    }
    return std::nullopt;
}

void PanelPainter::Fit() {
    // One size for every tile's words: the largest, down to the smallest allowed, at which
    // each word that fits at all fits.
    int common = 0;
    for (size_t zone = ExitIndex; zone < ZoneCount; ++zone) {
        bool ends = false;
        const PanelWords* words = WordsOf(zone, ends);
        if (!geometry.Shown(zone) || words == nullptr) {
            continue;
        }
        const Room room = RoomIn(zone);
        for (int pixels = room.preferred; pixels >= geometry.Px(MinWordEpx); --pixels) {
            if (FitWord(Widen(words->word), pixels, room)) {
                common = common == 0 ? pixels : std::min(common, pixels);
                break;
            }
        }
    }
    for (size_t zone = ExitIndex; zone < ZoneCount; ++zone) {
        FitTile(zone, common);
    }
    FitStrip();
}

void PanelPainter::FitTile(size_t zone, int wordPixels) {
    TilePlan& plan = plans[zone];
    bool ends = false;
    const PanelWords* words = WordsOf(zone, ends);
    if (!geometry.Shown(zone) || words == nullptr) {
        return;
    }
    const RectF& tile = geometry.Tile(zone);
    const Room room = RoomIn(zone);
    if (room.width <= 0 || room.height <= 0) {
        return;
    }
    const int spacing = geometry.Px(SpacingEpx);
    const int rim = geometry.Px(1);
    // The words at the common size, or smaller down to the smallest allowed; else the icon
    // alone.
    std::optional<WordFit> fit;
    for (int pixels = wordPixels; pixels >= geometry.Px(MinWordEpx) && !fit && pixels > 0;
         --pixels) {
        fit = FitWord(Widen(words->word), pixels, room);
        if (fit) {
            wordPixels = pixels;
        }
    }
    const size_t lineCount = fit ? fit->count : 0;
    const int lineHeight = fit ? fit->lineHeight : 0;
    const int icon =
        fit ? fit->icon : std::min({geometry.Px(IconAloneMaxEpx), room.width, room.height});
    const int total =
        icon + (lineCount > 0 ? spacing + static_cast<int>(lineCount) * lineHeight : 0);
    const int top = Round(tile.top + (tile.Height() - static_cast<float>(total)) / 2);
    const int centre = Round((tile.left + tile.right) / 2);
    if (icon >= 4) {
        plan.icon = MakeInk(DrawIcon(words->icon, icon), centre - icon / 2, top, rim);
    }
    plan.lineCount = lineCount;
    plan.wordPixels = lineCount > 0 ? wordPixels : 0;
    for (size_t i = 0; i < lineCount; ++i) {
        Mask line = text.Render(fit->lines[i], {wordPixels, false});
        const int x = centre - line.width / 2;
        const int y = top + icon + spacing + static_cast<int>(i) * lineHeight;
        plan.lines[i] = MakeInk(std::move(line), x, y, rim);
    }
    if (ends) {
        const int size = geometry.Px(EndsEpx);
        const int inset = std::max(1, std::min(geometry.Px(4), Round(0.06F * tile.Width())));
        Ink mark = MakeInk(DrawGlyph(Glyph::EndsTapdeck, size), Round(tile.right) - inset - size,
                           Round(tile.top) + inset, rim);
        // Only where it leaves the icon and the words clear, rims and all.
        bool clear = !Touch(mark, plan.icon);
        for (size_t i = 0; i < lineCount; ++i) {
            clear = clear && !Touch(mark, plan.lines[i]);
        }
        if (clear) {
            plan.ends = std::move(mark);
        }
    }
}

void PanelPainter::FitStrip() {
    TilePlan& plan = plans[StripIndex];
    if (!geometry.Shown(StripIndex)) {
        return;
    }
    RectF box = geometry.Tile(StripIndex);
    if (!geometry.Aligned()) {
        // Drawn to scale, buttons across the strip's whole width take its ends.
        for (size_t i = ExitIndex; i < ZoneCount; ++i) {
            const RectF& b = geometry.Tile(i);
            if (!geometry.Shown(i) || b.left > box.left || b.right < box.right) {
                continue;
            }
            if (b.top <= box.top && b.bottom > box.top) {
                box.top = b.bottom;
            } else if (b.bottom >= box.bottom && b.top < box.bottom) {
                box.bottom = b.top;
            }
        }
    }
    const int pad = geometry.Px(TilePadEpx);
    const int rim = geometry.Px(1);
    const float centre = (box.left + box.right) / 2;
    int glyph = std::min(geometry.Px(GlyphEpx), Round(box.Width()) - 2 * pad);
    if (Round(box.Height()) < 2 * glyph + 2 * pad + geometry.Px(8)) {
        glyph = 0; // no room for both ends and a track between them
    }
    float trackTop = box.top + static_cast<float>(pad);
    float trackBottom = box.bottom - static_cast<float>(pad);
    if (glyph >= 6) {
        const int x = Round(centre) - glyph / 2;
        plan.up = MakeInk(DrawGlyph(Glyph::VolumeUp, glyph), x, Round(box.top) + pad, rim);
        plan.down =
            MakeInk(DrawGlyph(Glyph::VolumeDown, glyph), x, Round(box.bottom) - pad - glyph, rim);
        trackTop = static_cast<float>(plan.up.at.y + glyph + geometry.Px(6));
        trackBottom = static_cast<float>(plan.down.at.y - geometry.Px(6));
    }
    const float half = static_cast<float>(geometry.Px(TrackEpx)) / 2;
    if (trackBottom - trackTop >= static_cast<float>(geometry.Px(8))) {
        plan.track = {std::round(centre - half), trackTop, std::round(centre - half) + 2 * half,
                      trackBottom};
    }
}

TileLook PanelPainter::LookOf(size_t zone, const PanelScene& scene) const {
    const PanelState& s = scene.state;
    TileLook look{palette.tile, palette.tileStroke, static_cast<float>(geometry.Px(1)),
                  palette.text};
    if (s.under == zone) {
        look.fill = palette.under;
        look.stroke = palette.underStroke;
        if (palette.kind == ThemeKind::HighContrast) {
            look.strokeWidth = static_cast<float>(geometry.Px(2));
        }
    }
    if (s.pressed == zone && s.pressedStrength > 0) {
        look.fill = Mix(look.fill, palette.accent, s.pressedStrength);
        look.stroke = Mix(look.stroke, palette.accent, s.pressedStrength);
        look.ink = s.pressedStrength >= 0.5F ? palette.textOnAccent : palette.text;
    }
    return look;
}

PanelPainter::PartKeys PanelPainter::KeysOf(const PanelScene& scene) const {
    PartKeys keys;
    for (size_t i = 0; i < ZoneCount; ++i) {
        keys.tiles[i] = LookOf(i, scene);
    }
    keys.volume = scene.volume;
    const PanelState& s = scene.state;
    if (s.stepStrength > 0 && geometry.Shown(StripIndex)) {
        const RectF& strip = geometry.Tile(StripIndex);
        const RECT& stripZone = geometry.Layout().zones[StripIndex].rect;
        const PointF at = geometry.Map((stripZone.left + stripZone.right) / 2, s.stepY);
        keys.stepRow = std::clamp(Round(at.y), Round(strip.top), Round(strip.bottom) - 1);
        keys.stepStrength = s.stepStrength;
    }
    if (s.touching) {
        keys.marker = true;
        keys.markerAt = geometry.Map(s.x, s.y);
        const auto tile = geometry.DrawnAt(keys.markerAt);
        keys.markerColour = MarkerOn(palette, tile ? keys.tiles[*tile].fill : palette.background);
    }
    keys.words = CaptionOf(geometry.Layout(), scene);
    keys.captionStrength = s.caption ? s.captionStrength : 0;
    return keys;
}

RECT PanelPainter::MarkerBounds(PointF at) const {
    const float reach = geometry.MarkerRadius() + geometry.MarkerWidth() + 2;
    return PixelBounds({at.x, at.y, at.x, at.y}, reach);
}

RECT PanelPainter::TileBounds(size_t zone) const {
    return PixelBounds(geometry.Tile(zone), 1);
}

void PanelPainter::Paint(const PanelScene& scene, Canvas& target) {
    if (!target || target.Width() != geometry.Width() || target.Height() != geometry.Height()) {
        return;
    }
    const PartKeys keys = KeysOf(scene);
    std::vector<RECT> dirty;
    if (!last || &target != lastTarget) {
        dirty.push_back({0, 0, target.Width(), target.Height()});
    } else {
        for (size_t i = 0; i < ZoneCount; ++i) {
            if (!(keys.tiles[i] == last->tiles[i])) {
                dirty.push_back(TileBounds(i));
            }
        }
        if (keys.volume != last->volume || keys.stepRow != last->stepRow ||
            keys.stepStrength != last->stepStrength) {
            dirty.push_back(TileBounds(StripIndex));
        }
        if (keys.marker != last->marker || !(keys.markerAt == last->markerAt) ||
            !(keys.markerColour == last->markerColour)) {
            if (last->marker) {
                dirty.push_back(MarkerBounds(last->markerAt));
            }
            if (keys.marker) {
                dirty.push_back(MarkerBounds(keys.markerAt));
            }
        }
        if (!(keys.words == last->words) || keys.captionStrength != last->captionStrength) {
            dirty.push_back(PixelBounds(geometry.Footer(), 1));
        }
    }
    // Overlapping areas drawn once, as one.
    for (bool merged = true; merged;) {
        merged = false;
        for (size_t i = 0; i < dirty.size() && !merged; ++i) {
            for (size_t j = i + 1; j < dirty.size() && !merged; ++j) {
                if (Overlap(dirty[i], dirty[j])) {
                    UnionRect(&dirty[i], &dirty[i], &dirty[j]);
                    dirty.erase(dirty.begin() + static_cast<std::ptrdiff_t>(j));
                    merged = true;
                }
            }
        }
    }
    changed = {};
    const RECT all{0, 0, target.Width(), target.Height()};
    for (RECT& area : dirty) {
        IntersectRect(&area, &area, &all);
        Draw(scene, keys, target, area);
        UnionRect(&changed, &changed, &area);
    }
    target.ClearClip();
    GdiFlush(); // the bits are read next, by the window or a test
    last = keys;
    lastTarget = &target;
}

void PanelPainter::DrawInk(Canvas& target, const Ink& ink, Rgb colour, Rgb behind, float opacity,
                           std::optional<POINT> at) const {
    if (ink.Empty()) {
        return;
    }
    const POINT to = at.value_or(ink.at);
    RECT bounds{to.x - ink.rimReach, to.y - ink.rimReach, to.x + ink.mask.width + ink.rimReach,
                to.y + ink.mask.height + ink.rimReach};
    if (IntersectRect(&bounds, &bounds, &target.Clip()) == FALSE) {
        return;
    }
    target.DrawMask(ink.rim, to.x - ink.rimReach, to.y - ink.rimReach,
                    Faded(Solid(behind), opacity));
    target.DrawMask(ink.mask, to.x, to.y, Faded(Solid(colour), opacity));
}

const Ink& PanelPainter::Words(const std::wstring& words, bool semibold) {
    auto found = captions.find(std::make_pair(words, semibold));
    if (found == captions.end()) {
        if (captions.size() > 24) {
            captions.clear();
        }
        Ink ink =
            MakeInk(text.Render(words, {geometry.Px(MinWordEpx), semibold}), 0, 0, geometry.Px(1));
        found = captions.emplace(std::make_pair(words, semibold), std::move(ink)).first;
    }
    return found->second;
}

void PanelPainter::Draw(const PanelScene& scene, const PartKeys& keys, Canvas& target,
                        const RECT& clip) {
    target.SetClip(clip);
    target.Clear(clip);
    const RectF& body = geometry.Body();
    const float radius = geometry.BodyRadius();
    // Inside the body clear of its corners no shadow shows.
    const RECT inner{static_cast<LONG>(body.left + radius), static_cast<LONG>(body.top + radius),
                     static_cast<LONG>(body.right - radius),
                     static_cast<LONG>(body.bottom - radius)};
    RECT within{};
    const bool shadowed =
        IntersectRect(&within, &clip, &inner) == FALSE || EqualRect(&within, &clip) == FALSE;
    if (palette.shadowOpacity > 0 && shadowed) {
        target.Shadow(body, radius, static_cast<float>(geometry.Px(ShadowBlurEpx)),
                      static_cast<float>(geometry.Px(ShadowOffsetEpx)), palette.shadowOpacity);
    }
    target.FillRoundedRect(body, radius, Solid(palette.background));
    target.StrokeRoundedRect(body, radius, static_cast<float>(geometry.Px(palette.borderWidth)),
                             Solid(palette.border));

    // The strip first, then the buttons from last to first: where zones drawn to scale share
    // points, the one that takes a tap is on top.
    constexpr std::array<size_t, ZoneCount> order = {StripIndex, 10, 9, 8, 7,        6,
                                                     5,          4,  3, 2, ExitIndex};
    for (const size_t i : order) {
        if (!geometry.Shown(i)) {
            continue;
        }
        const TileLook& look = keys.tiles[i];
        target.FillRoundedRect(geometry.Tile(i), geometry.TileRadius(), Solid(look.fill));
        target.StrokeRoundedRect(geometry.Tile(i), geometry.TileRadius(), look.strokeWidth,
                                 Solid(look.stroke));
    }

    // The finger, under everything that says what a tile does.
    if (keys.marker) {
        target.FillCircle(keys.markerAt, geometry.MarkerRadius(),
                          Faded(Solid(keys.markerColour), MarkerFill));
        target.StrokeCircle(keys.markerAt, geometry.MarkerRadius(), geometry.MarkerWidth(),
                            Solid(keys.markerColour));
    }

    const TilePlan& strip = plans[StripIndex];
    if (geometry.Shown(StripIndex)) {
        const TileLook& look = keys.tiles[StripIndex];
        if (strip.track.Width() > 0) {
            const float round = strip.track.Width() / 2;
            target.FillRoundedRect(strip.track, round, Solid(palette.track));
            if (scene.volume) {
                RectF level = strip.track;
                level.top = level.bottom -
                            strip.track.Height() * std::clamp(scene.volume->level, 0.0F, 1.0F);
                target.FillRoundedRect(
                    level, round, Faded(Solid(palette.accent), scene.volume->muted ? 0.35F : 1.0F));
            }
        }
        DrawInk(target, strip.up, look.ink, look.fill);
        DrawInk(target, strip.down, look.ink, look.fill);
        if (keys.stepRow >= 0) {
            const RectF& tile = geometry.Tile(StripIndex);
            const auto thick = static_cast<float>(geometry.Px(StepEpx));
            const auto side = static_cast<float>(geometry.Px(2));
            const float top = static_cast<float>(keys.stepRow) - std::floor(thick / 2);
            target.FillRoundedRect({tile.left + side, top, tile.right - side, top + thick},
                                   thick / 2, Faded(Solid(palette.accent), keys.stepStrength));
        }
    }

    for (size_t i = ExitIndex; i < ZoneCount; ++i) {
        if (!geometry.Shown(i)) {
            continue;
        }
        const TilePlan& plan = plans[i];
        const TileLook& look = keys.tiles[i];
        DrawInk(target, plan.icon, look.ink, look.fill);
        for (size_t line = 0; line < plan.lineCount; ++line) {
            DrawInk(target, plan.lines[line], look.ink, look.fill);
        }
        DrawInk(target, plan.ends, look.ink, look.fill);
    }

    // The caption line: what was done (or the panel's name), and the volume at its right.
    const RectF& footer = geometry.Footer();
    RECT shared{};
    const RECT footerBounds = PixelBounds(footer, 1);
    if (IntersectRect(&shared, &clip, &footerBounds) != FALSE) {
        const auto fits = [&](const Ink& ink) {
            return static_cast<float>(ink.mask.height) <= footer.Height() + 2 &&
                   static_cast<float>(ink.mask.width) <= footer.Width();
        };
        const auto middle = [&](const Ink& ink) {
            return Round(footer.top + (footer.Height() - static_cast<float>(ink.mask.height)) / 2);
        };
        int levelLeft = Round(footer.right);
        if (!keys.words.level.empty()) {
            const Ink& level = Words(keys.words.level, false);
            if (fits(level)) {
                levelLeft = Round(footer.right) - geometry.Px(2) - level.mask.width;
                DrawInk(target, level, palette.textSecondary, palette.background, 1.0F,
                        POINT{levelLeft, middle(level)});
            }
        }
        if (!keys.words.text.empty()) {
            const Ink& words = Words(keys.words.text, keys.words.caption);
            const int left = Round(footer.left) + geometry.Px(2);
            if (fits(words) && left + words.mask.width < levelLeft - geometry.Px(6)) {
                DrawInk(target, words, keys.words.caption ? palette.text : palette.textSecondary,
                        palette.background, keys.words.caption ? keys.captionStrength : 1.0F,
                        POINT{left, middle(words)});
            }
        }
    }
    target.ClearClip();
}

void RenderPanel(const PanelGeometry& geometry, const Palette& palette, const PanelScene& scene,
                 Canvas& target) {
    PanelPainter painter(geometry, palette);
    painter.Paint(scene, target);
}

int IdleCanvasSize(float scale) {
    const auto px = [scale](float epx) { return std::max(1, Round(epx * scale)); };
    return px(IdleEpx) + 2 * px(MarginEpx);
}

void PaintIdle(const Palette& palette, float scale, Canvas& target) {
    const auto px = [scale](float epx) { return std::max(1, Round(epx * scale)); };
    const auto margin = static_cast<float>(px(MarginEpx));
    const auto size = static_cast<float>(px(IdleEpx));
    const RectF body{margin, margin, margin + size, margin + size};
    const float radius = static_cast<float>(px(BodyRadiusEpx));
    target.ClearClip();
    target.Clear({0, 0, target.Width(), target.Height()});
    if (palette.shadowOpacity > 0) {
        target.Shadow(body, radius, static_cast<float>(px(ShadowBlurEpx)),
                      static_cast<float>(px(ShadowOffsetEpx)), palette.shadowOpacity);
    }
    target.FillRoundedRect(body, radius, Solid(palette.background));
    target.StrokeRoundedRect(body, radius, static_cast<float>(px(palette.borderWidth)),
                             Solid(palette.border));
    const int glyph = px(24);
    const int at = Round(margin + (size - static_cast<float>(glyph)) / 2);
    target.DrawMask(DrawGlyph(Glyph::Idle, glyph), at, at, Solid(palette.textSecondary));
    GdiFlush();
}

} // namespace overlay
