// The hold's ring as drawn: which part of the ring is in the accent at each moment of the hold,
// in each theme and at each display scale, and the card behind it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <numbers>

#include "ring.h"

namespace {

using overlay::Palette;
using overlay::ThemeKind;

struct RingCase {
    double progress;
    double degrees; // clockwise from twelve o'clock, on the ring's middle
    bool accent;    // else the track
};

// Each point 20 degrees or more from where the filled part ends (its round end reaches about
// 8 degrees past it).
static constexpr RingCase RingCases[] = {
    {0.0, 10, false},   {0.0, 180, false},  {0.05, 350, false}, {0.25, 45, true},
    {0.25, 135, false}, {0.25, 330, false}, {0.5, 170, true},   {0.5, 200, false},
    {0.75, 250, true},  {0.75, 300, false}, {1.0, 10, true},    {1.0, 350, true},
    {1.5, 180, true},   {-0.5, 90, false},
};

static constexpr float Scales[] = {1.0F, 1.5F, 2.0F};
static constexpr ThemeKind Themes[] = {ThemeKind::Light, ThemeKind::Dark, ThemeKind::HighContrast};

bool Near(Rgb a, Rgb b) {
    return std::abs(a.r - b.r) <= 6 && std::abs(a.g - b.g) <= 6 && std::abs(a.b - b.b) <= 6;
}

TEST(HoldRing, FillsClockwiseFromTwelveInTheAccent) {
    for (const ThemeKind theme : Themes) {
        overlay::SystemLook look;
        look.kind = theme;
        const Palette palette = overlay::MakePalette(look);
        ASSERT_FALSE(Near(palette.accent, palette.track));
        for (const float scale : Scales) {
            const int side = launcher::RingWindowPixels(scale);
            overlay::Canvas canvas(side, side);
            ASSERT_TRUE(canvas);
            const overlay::PointF centre = launcher::RingCentre(scale);
            const float radius = launcher::RingRadius(scale);
            for (const RingCase& c : RingCases) {
                SCOPED_TRACE(testing::Message()
                             << "theme " << static_cast<int>(theme) << ", scale " << scale
                             << ", progress " << c.progress << ", at " << c.degrees << " degrees");
                launcher::DrawRing(canvas, palette, scale, c.progress);
                const double a = c.degrees * std::numbers::pi / 180;
                const int x = static_cast<int>(std::floor(centre.x + radius * std::sin(a)));
                const int y = static_cast<int>(std::floor(centre.y - radius * std::cos(a)));
                EXPECT_EQ(canvas.AlphaAt(x, y), 255);
                const Rgb seen = canvas.At(x, y);
                const Rgb wanted = c.accent ? palette.accent : palette.track;
                EXPECT_TRUE(Near(seen, wanted))
                    << "saw " << int{seen.r} << "," << int{seen.g} << "," << int{seen.b}
                    << ", wanted " << int{wanted.r} << "," << int{wanted.g} << "," << int{wanted.b};
            }
        }
    }
}

TEST(HoldRing, SitsOnACardInTheThemesBackgroundWithRoomForItsShadow) {
    for (const ThemeKind theme : Themes) {
        overlay::SystemLook look;
        look.kind = theme;
        const Palette palette = overlay::MakePalette(look);
        for (const float scale : Scales) {
            SCOPED_TRACE(testing::Message()
                         << "theme " << static_cast<int>(theme) << ", scale " << scale);
            const int side = launcher::RingWindowPixels(scale);
            overlay::Canvas canvas(side, side);
            ASSERT_TRUE(canvas);
            launcher::DrawRing(canvas, palette, scale, 0.6);
            const overlay::PointF centre = launcher::RingCentre(scale);
            const int cx = static_cast<int>(centre.x);
            const int cy = static_cast<int>(centre.y);
            EXPECT_TRUE(Near(canvas.At(cx, cy), palette.background));
            EXPECT_EQ(canvas.AlphaAt(cx, cy), 255);
            // The window's corner is outside the card: the screen shows through there.
            EXPECT_EQ(canvas.AlphaAt(0, 0), 0);
            // The ring fits the card with the card's padding around it.
            const float reach = launcher::RingRadius(scale) + launcher::RingWidth(scale) / 2;
            EXPECT_LT(reach, static_cast<float>(side) / 2 - 12 * scale - 4 * scale);
        }
    }
}

} // namespace
