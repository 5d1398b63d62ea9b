#include "theme.h"

#include <algorithm>
#include <cmath>

#include <optional>

namespace overlay {

namespace {

double Linear(uint8_t channel) {
    const double c = channel / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

Rgb FromColorref(COLORREF c) {
    return {GetRValue(c), GetGValue(c), GetBValue(c)};
}

// Black or white, whichever stands out more on `fill` (at least 4.58:1 on any colour).
Rgb TextFor(Rgb fill) {
    constexpr Rgb black{0, 0, 0};
    constexpr Rgb white{0xff, 0xff, 0xff};
    return ContrastRatio(black, fill) >= ContrastRatio(white, fill) ? black : white;
}

std::optional<DWORD> ReadDword(HKEY root, const wchar_t* path, const wchar_t* name) {
    DWORD value = 0;
    DWORD size = sizeof value;
    DWORD type = REG_NONE;
    if (RegGetValueW(root, path, name, RRF_RT_ANY, &type, &value, &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof value) {
        return std::nullopt;
    }
    return value;
}

} // namespace

double Luminance(Rgb c) {
    return 0.2126 * Linear(c.r) + 0.7152 * Linear(c.g) + 0.0722 * Linear(c.b);
}

double ContrastRatio(Rgb a, Rgb b) {
    const double la = Luminance(a);
    const double lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

Rgb Mix(Rgb from, Rgb to, float amount) {
    const auto mix = [amount](uint8_t f, uint8_t t) {
        return static_cast<uint8_t>(std::lround(f + (t - f) * std::clamp(amount, 0.F, 1.F)));
    };
    return {mix(from.r, to.r), mix(from.g, to.g), mix(from.b, to.b)};
}

Palette MakePalette(const SystemLook& look) {
    Palette p;
    p.kind = look.kind;
    switch (look.kind) {
    case ThemeKind::Light:
        // Windows 11's light flyout: a light grey surface, white-ish cards with a faint edge,
        // near-black words, the accent's darker shade for what is active.
        p.background = {0xf3, 0xf3, 0xf3};
        p.border = {0xd4, 0xd4, 0xd4};
        p.shadowOpacity = 60;
        p.tile = {0xfd, 0xfd, 0xfd};
        p.tileStroke = {0xe3, 0xe3, 0xe3};
        p.text = {0x1a, 0x1a, 0x1a};
        p.textSecondary = {0x5c, 0x5c, 0x5c};
        p.accent = look.accentDark;
        p.under = Mix(p.tile, p.accent, 0.16F);
        p.underStroke = Mix(p.tile, p.accent, 0.55F);
        p.track = {0x8a, 0x8a, 0x8a};
        break;
    case ThemeKind::Dark:
        p.background = {0x2c, 0x2c, 0x2c};
        p.border = {0x48, 0x48, 0x48};
        p.shadowOpacity = 110;
        p.tile = {0x38, 0x38, 0x38};
        p.tileStroke = {0x43, 0x43, 0x43};
        p.text = {0xff, 0xff, 0xff};
        p.textSecondary = {0xcf, 0xcf, 0xcf};
        p.accent = look.accentLight;
        p.under = Mix(p.tile, p.accent, 0.20F);
        p.underStroke = Mix(p.tile, p.accent, 0.6F);
        p.track = {0x9a, 0x9a, 0x9a};
        break;
    case ThemeKind::HighContrast:
        // The system's colours only, edges drawn in the text colour, nothing translucent.
        p.background = look.window;
        p.border = look.windowText;
        p.borderWidth = 2;
        p.tile = look.window;
        p.tileStroke = look.windowText;
        p.text = look.windowText;
        p.textSecondary = look.windowText;
        p.accent = look.highlight;
        p.under = look.window;
        p.underStroke = look.highlight;
        p.track = look.windowText;
        p.opaque = true;
        break;
    }
    p.textOnAccent = look.kind == ThemeKind::HighContrast ? look.highlightText : TextFor(p.accent);
    return p;
}

Rgb MarkerOn(const Palette& palette, Rgb fill) {
    if (ContrastRatio(palette.accent, fill) >= 3.0) {
        return palette.accent;
    }
    if (fill == palette.accent) {
        return palette.textOnAccent;
    }
    return ContrastRatio(palette.text, fill) >= ContrastRatio(palette.textOnAccent, fill)
               ? palette.text
               : palette.textOnAccent;
}

SystemLook ReadSystemLook() {
    SystemLook look;
    HIGHCONTRASTW contrast = {};
    contrast.cbSize = sizeof contrast;
    if (SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof contrast, &contrast, 0) != FALSE &&
        (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0) {
        look.kind = ThemeKind::HighContrast;
        look.window = FromColorref(GetSysColor(COLOR_WINDOW));
        look.windowText = FromColorref(GetSysColor(COLOR_WINDOWTEXT));
        look.highlight = FromColorref(GetSysColor(COLOR_HIGHLIGHT));
        look.highlightText = FromColorref(GetSysColor(COLOR_HIGHLIGHTTEXT));
        return look;
    }
    const auto light = ReadDword(
        HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize",
        L"AppsUseLightTheme");
    look.kind = light && *light == 0 ? ThemeKind::Dark : ThemeKind::Light;

    // Eight shades, 4 bytes each (red, green, blue, unused), lightest first: the fourth is the
    // accent itself, the second "light 2", the fifth "dark 1".
    BYTE shades[32] = {};
    DWORD size = sizeof shades;
    DWORD type = REG_NONE;
    if (RegGetValueW(HKEY_CURRENT_USER,
                     L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Accent",
                     L"AccentPalette", RRF_RT_REG_BINARY, &type, shades, &size) == ERROR_SUCCESS &&
        size == sizeof shades) {
        look.accentLight = {shades[4], shades[5], shades[6]};
        look.accentDark = {shades[16], shades[17], shades[18]};
        return look;
    }
    // DWM's colour of window frames, as 0xAARRGGBB: its shades made by mixing.
    using GetColorizationFn = HRESULT(WINAPI*)(DWORD*, BOOL*);
    if (HMODULE dwm = LoadLibraryW(L"dwmapi.dll")) {
        const auto get = reinterpret_cast<GetColorizationFn>(
            reinterpret_cast<void*>(GetProcAddress(dwm, "DwmGetColorizationColor")));
        DWORD colour = 0;
        BOOL opaque = FALSE;
        if (get != nullptr && SUCCEEDED(get(&colour, &opaque)) && (colour & 0xffffffU) != 0) {
            const Rgb accent{static_cast<uint8_t>(colour >> 16), static_cast<uint8_t>(colour >> 8),
                             static_cast<uint8_t>(colour)};
            look.accentDark = Mix(accent, {0, 0, 0}, 0.2F);
            look.accentLight = Mix(accent, {0xff, 0xff, 0xff}, 0.55F);
        }
        FreeLibrary(dwm);
    }
    return look;
}

} // namespace overlay
