// The panel's colours: Windows 11's light and dark flyout colours with the person's accent
// colour, or the system's own colours in high-contrast mode. MakePalette is pure (tested over
// every theme); ReadSystemLook reads what the system says now (the app theme setting, the
// accent palette, the high-contrast flag and colours). Any thread.
#pragma once

#include <windows.h>

#include "layout/zone_words.h"

namespace overlay {

enum class ThemeKind { Light = 0, Dark = 1, HighContrast = 2 };

// What the system says: the theme, the accent colour's shades and the high-contrast colours.
struct SystemLook {
    ThemeKind kind = ThemeKind::Light;
    Rgb accentDark{0x00, 0x5f, 0xb8};  // the accent for a light theme (Windows' "dark 1" shade)
    Rgb accentLight{0x60, 0xcd, 0xff}; // for a dark theme ("light 2")
    // High contrast: COLOR_WINDOW, COLOR_WINDOWTEXT, COLOR_HIGHLIGHT, COLOR_HIGHLIGHTTEXT.
    Rgb window{0x00, 0x00, 0x00};
    Rgb windowText{0xff, 0xff, 0xff};
    Rgb highlight{0x1a, 0xeb, 0xff};
    Rgb highlightText{0x00, 0x00, 0x00};

    bool operator==(const SystemLook&) const = default;
};

// Every colour the panel draws with. Tiles are drawn on `background`; each tile state has a
// fill and the colour of its words and icons.
struct Palette {
    ThemeKind kind = ThemeKind::Light;
    Rgb background{};
    Rgb border{};
    float borderWidth = 1; // in effective pixels
    uint8_t shadowOpacity = 0;
    Rgb tile{};
    Rgb tileStroke{};
    Rgb text{};
    Rgb textSecondary{};
    Rgb under{}; // a tile under the finger
    Rgb underStroke{};
    Rgb accent{}; // a pressed tile, the volume level, a volume step's mark
    Rgb textOnAccent{};
    Rgb track{};         // the volume strip's track
    bool opaque = false; // no translucency at all (high contrast)

    bool operator==(const Palette&) const = default;
};

Palette MakePalette(const SystemLook& look);

// WCAG's relative luminance and contrast ratio (1 to 21).
double Luminance(Rgb c);
double ContrastRatio(Rgb a, Rgb b);
// `from` moved towards `to` by `amount` (0..1).
Rgb Mix(Rgb from, Rgb to, float amount);

// The finger's marker on a fill: the accent where it stands out (3:1, as for any control's
// edge), else the colour of the words on that fill.
Rgb MarkerOn(const Palette& palette, Rgb fill);

// Reads the app theme setting (HKCU ...\Themes\Personalize, AppsUseLightTheme), the accent
// palette (HKCU ...\Explorer\Accent, AccentPalette; else the window colour DWM reports, else
// Windows' default blue) and high contrast (SPI_GETHIGHCONTRAST, GetSysColor).
SystemLook ReadSystemLook();

} // namespace overlay
