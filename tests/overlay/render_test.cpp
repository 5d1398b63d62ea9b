// The panel's drawing, read back by its pixels: the renderer draws into a real DIB (words by
// Wine's GDI and fonts) and the tests look at the colours where the tiles, the words, the
// finger's marker, the slider and the caption must be, over a table of themes (light, dark,
// with the default and with other accent colours, and both high-contrast schemes), display
// scales (100, 150 and 200%) and states (idle, under the finger, pressed, pressed under the
// finger).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "panel.h"
#include "panel_geometry.h"
#include "render.h"
#include "theme.h"

namespace overlay {

void PrintTo(const Rgb& c, std::ostream* os) {
    *os << c.Hex().data();
}

namespace {

constexpr uint32_t Finger = 0x2000;
constexpr uint32_t Gesture = 0x10000;
constexpr RECT LibraryPad{1000, 1000, 7000, 5800};

struct Theme {
    const char* name;
    SystemLook look;
};

const Theme Themes[] = {
    {"light", {.kind = ThemeKind::Light}},
    {"dark", {.kind = ThemeKind::Dark}},
    {"light, yellow accent", {.kind = ThemeKind::Light, .accentDark = {0xff, 0xd8, 0x00}}},
    {"dark, dark red accent", {.kind = ThemeKind::Dark, .accentLight = {0x8b, 0x10, 0x10}}},
    {"high contrast black",
     {.kind = ThemeKind::HighContrast,
      .window = {0x00, 0x00, 0x00},
      .windowText = {0xff, 0xff, 0xff},
      .highlight = {0x1a, 0xeb, 0xff},
      .highlightText = {0x00, 0x00, 0x00}}},
    {"high contrast white",
     {.kind = ThemeKind::HighContrast,
      .window = {0xff, 0xff, 0xff},
      .windowText = {0x00, 0x00, 0x00},
      .highlight = {0x37, 0x00, 0x6e},
      .highlightText = {0xff, 0xff, 0xff}}},
};

constexpr float Scales[] = {1.0F, 1.5F, 2.0F};

PanelGeometry Geometry(float scale, int size = 28, const RECT& pad = LibraryPad) {
    const SIZE body =
        BodySize(pad, static_cast<int>(std::lround(static_cast<float>(size) * 10 * scale)), 4000);
    return PanelGeometry(LayoutFor(pad), body.cx, body.cy, scale);
}

// A painter and the canvas it paints, kept for a run of scenes.
struct Drawn {
    Palette palette;
    PanelPainter painter;
    overlay::Canvas canvas;

    Drawn(const PanelGeometry& geometry, const SystemLook& look)
        : palette(MakePalette(look)), painter(geometry, palette),
          canvas(geometry.Width(), geometry.Height()) {}
    const PanelGeometry& G() const { return painter.Geometry(); }
    void Paint(const PanelScene& scene) { painter.Paint(scene, canvas); }
    Rgb At(PointF p) const {
        return canvas.At(static_cast<int>(std::floor(p.x)), static_cast<int>(std::floor(p.y)));
    }
};

// A device point in the middle of a zone's points (the strip's: below the exit button).
POINT DeviceCentre(const PanelLayout& layout, size_t zone) {
    RECT r = ViewRect(layout, zone);
    if (zone == StripIndex) {
        r.top = ViewRect(layout, ExitIndex).bottom;
    }
    return {(r.left + r.right) / 2, TurnY(layout, (r.top + r.bottom) / 2)};
}

// ---- The states a tile is in.

enum class State { Idle, Under, Pressed, PressedUnder };

struct StateCase {
    const char* name;
    State state;
};

constexpr StateCase States[] = {{"idle", State::Idle},
                                {"under the finger", State::Under},
                                {"pressed", State::Pressed},
                                {"pressed, the finger on it again", State::PressedUnder}};

// The scene with `zone` in `state`: a finger on its middle, a tap there, or both.
PanelScene SceneOf(const PanelLayout& layout, size_t zone, State state) {
    PanelTracker tracker(layout);
    const POINT at = DeviceCentre(layout, zone);
    if (state == State::Pressed || state == State::PressedUnder) {
        tracker.OnPacket({Finger, at.x, at.y, 0}, 0);
        tracker.OnPacket({Gesture, at.x, at.y, 0}, 8);
        tracker.OnPacket({0, at.x, at.y, 0}, 16);
    }
    if (state == State::Under || state == State::PressedUnder) {
        tracker.OnPacket({Finger, at.x, at.y, 0}, 50);
    }
    return {tracker.StateAt(100), std::nullopt};
}

// A pixel of the tile's own fill: at its left edge's middle, clear of its edge, its words and
// a marker on its middle.
PointF FillPoint(const PanelGeometry& g, size_t zone) {
    const RectF& t = g.Tile(zone);
    return {t.left + static_cast<float>(g.Px(4)) + 0.5F, (t.top + t.bottom) / 2};
}

// The pixels a mask covers fully.
std::vector<POINT> Solid(const Ink& ink) {
    std::vector<POINT> points;
    for (int y = 0; y < ink.mask.height; ++y) {
        for (int x = 0; x < ink.mask.width; ++x) {
            if (ink.mask.At(x, y) == 255) {
                points.push_back({ink.at.x + x, ink.at.y + y});
            }
        }
    }
    return points;
}

// Every word and icon of every tile, in every state, theme and scale, is at least 4.5:1
// against its tile, and is drawn whole in its colour with the finger's marker on it (the
// marker is under it); the marker itself stands out at least 3:1 from every tile's fill.
TEST(OverlayRender, WordsAndIconsReadAndTheMarkerShowsInEveryStateThemeAndScale) {
    for (const Theme& theme : Themes) {
        for (const float scale : Scales) {
            Drawn d(Geometry(scale), theme.look);
            const PanelGeometry& g = d.G();
            for (const StateCase& state : States) {
                for (size_t zone = 0; zone < ZoneCount; ++zone) {
                    if (zone == StripIndex &&
                        (state.state == State::Pressed || state.state == State::PressedUnder)) {
                        continue; // a tap on the strip presses nothing
                    }
                    SCOPED_TRACE(std::string(theme.name) + " at " + std::to_string(scale) +
                                 ", zone " + std::to_string(zone) + " " + state.name);
                    const PanelScene scene = SceneOf(g.Layout(), zone, state.state);
                    d.Paint(scene);
                    const TileLook look = d.painter.LookOf(zone, scene);
                    const Rgb fill = d.At(FillPoint(g, zone));
                    ASSERT_EQ(fill, look.fill);
                    const TilePlan& plan = d.painter.Plan(zone);
                    std::vector<const Ink*> inks = {&plan.icon, &plan.ends, &plan.up, &plan.down};
                    for (size_t i = 0; i < plan.lineCount; ++i) {
                        inks.push_back(&plan.lines[i]);
                    }
                    int solid = 0;
                    for (const Ink* ink : inks) {
                        for (const POINT p : Solid(*ink)) {
                            const Rgb c = d.canvas.At(p.x, p.y);
                            ++solid;
                            if (c != look.ink || ContrastRatio(c, fill) < 4.5) {
                                ADD_FAILURE() << "at " << p.x << "," << p.y << ": "
                                              << c.Hex().data() << " on " << fill.Hex().data();
                                break;
                            }
                        }
                    }
                    EXPECT_GT(solid, 20) << "no words and no icon";
                    EXPECT_GE(ContrastRatio(look.ink, look.fill), 4.5);
                    if (scene.state.touching) {
                        // The marker's ring, where it is not under a word or an icon.
                        const PointF at = g.Map(scene.state.x, scene.state.y);
                        double best = 0;
                        for (int step = 0; step < 48; ++step) {
                            const double angle = step * 3.14159265 / 24;
                            const PointF p{
                                at.x + g.MarkerRadius() * static_cast<float>(std::cos(angle)),
                                at.y + g.MarkerRadius() * static_cast<float>(std::sin(angle))};
                            best = std::max(best, ContrastRatio(d.At(p), fill));
                        }
                        EXPECT_GE(best, 3.0) << "the marker does not show on " << fill.Hex().data();
                    }
                }
            }
        }
    }
}

// The caption line: the panel's name at rest, a caption after a tap, the level at its right;
// each at least 4.5:1 against the panel's background.
TEST(OverlayRender, TheCaptionLineReads) {
    for (const Theme& theme : Themes) {
        for (const float scale : Scales) {
            SCOPED_TRACE(std::string(theme.name) + " at " + std::to_string(scale));
            Drawn d(Geometry(scale), theme.look);
            const PanelGeometry& g = d.G();
            const RectF& footer = g.Footer();
            const auto colours = [&] {
                std::vector<Rgb> found;
                for (int y = static_cast<int>(footer.top); y < static_cast<int>(footer.bottom);
                     ++y) {
                    for (int x = static_cast<int>(footer.left); x < static_cast<int>(footer.right);
                         ++x) {
                        found.push_back(d.canvas.At(x, y));
                    }
                }
                return found;
            };
            const auto has = [](const std::vector<Rgb>& found, Rgb c) {
                return std::find(found.begin(), found.end(), c) != found.end();
            };
            d.Paint({});
            std::vector<Rgb> found = colours();
            EXPECT_TRUE(has(found, d.palette.textSecondary)) << "no name";
            EXPECT_GE(ContrastRatio(d.palette.textSecondary, d.palette.background), 4.5);
            PanelScene pressed = SceneOf(g.Layout(), FirstGridIndex + 8, State::Pressed);
            pressed.volume = VolumeLevel{0.5F, false};
            d.Paint(pressed);
            found = colours();
            EXPECT_TRUE(has(found, d.palette.text)) << "no caption";
            EXPECT_TRUE(has(found, d.palette.textSecondary)) << "no level";
            EXPECT_GE(ContrastRatio(d.palette.text, d.palette.background), 4.5);
            EXPECT_EQ(CaptionOf(g.Layout(), pressed).text, L"Next track");
            EXPECT_EQ(CaptionOf(g.Layout(), pressed).level, L"50%");
        }
    }
}

// What a caption says for each zone, and for mute where the system says which way it went.
TEST(OverlayRender, CaptionsSayWhatWasDone) {
    const PanelLayout layout = LayoutFor(LibraryPad);
    struct CaptionCase {
        size_t zone;
        int direction;
        std::optional<VolumeLevel> volume;
        const wchar_t* text;
        const wchar_t* level;
    };
    const CaptionCase cases[] = {
        {FirstGridIndex + 5, 0, std::nullopt, L"Mute on/off", L""},
        {FirstGridIndex + 5, 0, VolumeLevel{0.3F, true}, L"Muted", L"Muted"},
        {FirstGridIndex + 5, 0, VolumeLevel{0.3F, false}, L"Unmuted", L"30%"},
        {FirstGridIndex + 6, 0, std::nullopt, L"Previous track", L""},
        {FirstGridIndex + 0, 0, std::nullopt, L"Browser home", L""},
        {StripIndex, 1, VolumeLevel{0.62F, false}, L"Volume up", L"62%"},
        {StripIndex, -1, std::nullopt, L"Volume down", L""},
    };
    for (const CaptionCase& c : cases) {
        PanelScene scene;
        scene.state.caption = Caption{c.zone, c.direction};
        scene.volume = c.volume;
        const CaptionWords words = CaptionOf(layout, scene);
        EXPECT_EQ(words.text, c.text);
        EXPECT_EQ(words.level, c.level);
        EXPECT_TRUE(words.caption);
    }
    EXPECT_EQ(CaptionOf(layout, {}).text, L"Tapdeck");
}

// ---- Sizes: everything 1.5 and 2 times larger at 150 and 200%; words never below their
// smallest size, the icon alone where they do not fit.

TEST(OverlayRender, EverythingGrowsWithTheDisplayScale) {
    const PanelGeometry base = Geometry(1.0F);
    const Drawn at100(base, {});
    for (const float scale : {1.5F, 2.0F}) {
        SCOPED_TRACE(scale);
        const Drawn d(Geometry(scale), {});
        const PanelGeometry& g = d.G();
        const auto grows = [scale](float big, float small) {
            EXPECT_NEAR(big / small, scale, 0.12F * scale) << big << " against " << small;
        };
        grows(g.Body().Height(), base.Body().Height());
        grows(g.Body().Width(), base.Body().Width());
        grows(g.Tile(FirstGridIndex).Width(), base.Tile(FirstGridIndex).Width());
        grows(g.MarkerRadius(), base.MarkerRadius());
        grows(g.MarkerWidth(), base.MarkerWidth());
        grows(g.TileRadius(), base.TileRadius());
        for (size_t zone = ExitIndex; zone < ZoneCount; ++zone) {
            grows(static_cast<float>(d.painter.Plan(zone).wordPixels),
                  static_cast<float>(at100.painter.Plan(zone).wordPixels));
            grows(static_cast<float>(d.painter.Plan(zone).icon.mask.width),
                  static_cast<float>(at100.painter.Plan(zone).icon.mask.width));
        }
    }
}

struct SizeCase {
    int size; // tens of effective pixels
    float scale;
    bool words; // every tile shows its word
};

constexpr SizeCase SizeCases[] = {{10, 1.0F, false}, {10, 2.0F, false}, {16, 1.0F, false},
                                  {20, 1.0F, false}, {24, 1.0F, true},  {28, 1.0F, true},
                                  {28, 1.5F, true},  {40, 2.0F, true},  {60, 1.0F, true}};

TEST(OverlayRender, WordsAreNeverSmallerThanTheirSmallestSizeElseTheIconShowsAlone) {
    for (const SizeCase& c : SizeCases) {
        SCOPED_TRACE(std::to_string(c.size) + " at " + std::to_string(c.scale));
        const Drawn d(Geometry(c.scale, c.size), {});
        const int smallest = static_cast<int>(std::lround(MinWordEpx * c.scale));
        int withWords = 0;
        for (size_t zone = ExitIndex; zone < ZoneCount; ++zone) {
            const TilePlan& plan = d.painter.Plan(zone);
            EXPECT_FALSE(plan.icon.Empty()) << "zone " << zone << " has no icon";
            if (plan.lineCount > 0) {
                ++withWords;
                EXPECT_GE(plan.wordPixels, smallest) << "zone " << zone;
            }
        }
        if (c.words) {
            EXPECT_EQ(withWords, 10);
        } else if (c.size == 10) {
            EXPECT_EQ(withWords, 0);
        }
    }
}

// ---- The strip: a slider with + and - at its ends, the system's level, a mark at each step.

TEST(OverlayRender, TheStripIsASliderWithTheSystemsLevel) {
    for (const float scale : Scales) {
        SCOPED_TRACE(scale);
        Drawn d(Geometry(scale), {});
        const TilePlan& plan = d.painter.Plan(StripIndex);
        const RectF& tile = d.G().Tile(StripIndex);
        ASSERT_FALSE(plan.up.Empty());
        ASSERT_FALSE(plan.down.Empty());
        ASSERT_GT(plan.track.Height(), 0);
        EXPECT_LT(plan.up.at.y, plan.track.top);
        EXPECT_GT(plan.down.at.y, plan.track.bottom);
        EXPECT_GE(static_cast<float>(plan.up.at.y), tile.top);
        EXPECT_LE(static_cast<float>(plan.down.at.y + plan.down.mask.height), tile.bottom);
        const float x = (plan.track.left + plan.track.right) / 2;
        const auto at = [&](float share) {
            return d.At({x, plan.track.bottom - plan.track.Height() * share});
        };
        const Rgb accent = d.palette.accent;
        d.Paint({});
        EXPECT_EQ(at(0.1F), d.palette.track) << "a level where none is known";
        d.Paint({{}, VolumeLevel{0.25F, false}});
        EXPECT_EQ(at(0.1F), accent);
        EXPECT_EQ(at(0.5F), d.palette.track);
        d.Paint({{}, VolumeLevel{0.75F, false}});
        EXPECT_EQ(at(0.5F), accent);
        EXPECT_EQ(at(0.9F), d.palette.track);
        d.Paint({{}, VolumeLevel{0.75F, true}});
        EXPECT_NE(at(0.5F), accent) << "muted looks the same";
    }
}

// A step's mark spans the strip beyond the marker on both sides: the finger does not hide it.
TEST(OverlayRender, AStepsMarkIsWiderThanTheMarker) {
    for (const float scale : Scales) {
        SCOPED_TRACE(scale);
        Drawn d(Geometry(scale), {});
        const PanelGeometry& g = d.G();
        PanelTracker tracker(g.Layout());
        const POINT at = DeviceCentre(g.Layout(), StripIndex);
        tracker.OnPacket({Finger, at.x, at.y, 0}, 0);
        tracker.OnPacket({Finger, at.x, at.y, 30}, 8);
        const PanelScene scene{tracker.StateAt(8), std::nullopt};
        ASSERT_GT(scene.state.stepStrength, 0);
        d.Paint(scene);
        const PointF finger = g.Map(at.x, at.y);
        const float reach = g.MarkerRadius() + g.MarkerWidth();
        for (const float side : {-1.0F, 1.0F}) {
            const PointF beyond{finger.x + side * (reach + 1.5F), finger.y};
            EXPECT_EQ(d.At(beyond), d.palette.accent) << "side " << side;
        }
    }
}

// ---- The body: rounded corners, a border, a shadow in the alpha (none in high contrast).

TEST(OverlayRender, TheBodyIsRoundedAndCastsASoftShadow) {
    for (const Theme& theme : Themes) {
        for (const float scale : Scales) {
            SCOPED_TRACE(std::string(theme.name) + " at " + std::to_string(scale));
            Drawn d(Geometry(scale), theme.look);
            d.Paint({});
            const RectF& body = d.G().Body();
            const auto alpha = [&](float x, float y) {
                return d.canvas.AlphaAt(static_cast<int>(x), static_cast<int>(y));
            };
            const float middle = (body.left + body.right) / 2;
            EXPECT_EQ(alpha(0, 0), 0);
            EXPECT_EQ(alpha(middle, (body.top + body.bottom) / 2), 255);
            // The corner is cut: at most the shadow shows there.
            EXPECT_LT(alpha(body.left, body.top), d.palette.shadowOpacity > 0 ? 128 : 1);
            EXPECT_EQ(alpha(body.left + d.G().BodyRadius(), body.top), 255);
            EXPECT_EQ(d.At({middle, body.top}), d.palette.border);
            const uint8_t below = alpha(middle, body.bottom + 1);
            if (d.palette.shadowOpacity > 0) {
                EXPECT_GT(below, 0) << "no shadow";
                EXPECT_LT(below, 128) << "a hard shadow";
                EXPECT_EQ(alpha(middle, static_cast<float>(d.canvas.Height() - 1)), 0);
            } else {
                EXPECT_EQ(below, 0);
            }
        }
    }
}

TEST(OverlayRender, TheIdleFormIsASmallRoundedSquare) {
    for (const float scale : Scales) {
        SCOPED_TRACE(scale);
        const int size = IdleCanvasSize(scale);
        overlay::Canvas canvas(size, size);
        PaintIdle(MakePalette({}), scale, canvas);
        EXPECT_EQ(canvas.AlphaAt(size / 2, size / 2), 255);
        EXPECT_EQ(canvas.AlphaAt(0, 0), 0);
        EXPECT_NEAR(size, (IdleEpx + 2 * MarginEpx) * scale, 1.0F);
    }
}

// ---- Painting again on the same canvas draws only what changed: after any scene, the canvas
// is exactly a fresh drawing of it, alpha and all.

struct RepaintCase {
    const char* name;
    // Packets fed one group at a time (with the level then); the panel is painted after each.
    std::vector<std::vector<PacketView>> groups;
    std::vector<std::optional<VolumeLevel>> levels;
};

std::vector<RepaintCase> RepaintCases() {
    const PanelLayout layout = LayoutFor(LibraryPad);
    const auto at = [&](size_t zone) { return DeviceCentre(layout, zone); };
    const POINT one = at(FirstGridIndex);
    const POINT three = at(FirstGridIndex + 2);
    const POINT seven = at(FirstGridIndex + 6);
    const POINT strip = at(StripIndex);
    const POINT exit = at(ExitIndex);
    return {
        {"a finger from zone to zone, then lifted",
         {{{Finger, one.x + 800, one.y, 0}},
          {{Finger, one.x, one.y, 0}},
          {{Finger, three.x, three.y, 0}},
          {{Finger, strip.x, strip.y, 0}},
          {{Finger, exit.x, exit.y, 0}},
          {{0, exit.x, exit.y, 0}}},
         {}},
        {"a tap, then a finger elsewhere",
         {{{Finger, three.x, three.y, 0}, {Gesture, three.x, three.y, 0}, {0, three.x, three.y, 0}},
          {{Finger, seven.x, seven.y, 0}}},
         {}},
        {"volume steps while the level changes, then lifted",
         {{{Finger, strip.x, strip.y, 0}, {Finger, strip.x, strip.y, 30}},
          {{Finger, strip.x, strip.y + 300, 30}},
          {{0, strip.x, strip.y, 0}},
          {{Finger, strip.x - 100, strip.y - 400, 0}}},
         {VolumeLevel{0.3F, false}, VolumeLevel{0.4F, false}, std::nullopt,
          VolumeLevel{0.4F, true}}},
    };
}

TEST(OverlayRender, PaintingAgainLooksAsAFreshDrawing) {
    for (const RepaintCase& c : RepaintCases()) {
        for (const float scale : Scales) {
            SCOPED_TRACE(std::string(c.name) + " at " + std::to_string(scale));
            const PanelGeometry g = Geometry(scale);
            Drawn again(g, {.kind = ThemeKind::Dark});
            PanelTracker tracker(g.Layout());
            DWORD now = 1000;
            for (size_t i = 0; i < c.groups.size(); ++i) {
                for (const PacketView& p : c.groups[i]) {
                    tracker.OnPacket(p, now);
                }
                now += 100; // fades half done
                const PanelScene scene{tracker.StateAt(now),
                                       i < c.levels.size() ? c.levels[i] : std::nullopt};
                again.Paint(scene);
                overlay::Canvas fresh(g.Width(), g.Height());
                RenderPanel(g, again.palette, scene, fresh);
                int differing = 0;
                for (size_t at = 0; at < static_cast<size_t>(g.Width() * g.Height()); ++at) {
                    differing += again.canvas.Bits()[at] == fresh.Bits()[at] ? 0 : 1;
                }
                EXPECT_EQ(differing, 0) << "after group " << i;
            }
        }
    }
}

} // namespace
} // namespace overlay
