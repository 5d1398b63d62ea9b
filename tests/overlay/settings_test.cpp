// The panel's settings as read from the test prefix's real registry (each value good, of
// another type or size, out of range, missing), and where the panel goes for each corner,
// size and display scale.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "placement.h"
#include "settings.h"
#include "theme.h"

namespace overlay {

void PrintTo(const OverlaySettings& s, std::ostream* os) {
    *os << "{enabled " << s.enabled << ", corner " << static_cast<int>(s.corner) << ", size "
        << s.size << ", opacity " << s.opacityPercent << ", idle " << s.idleSeconds << ", monitor "
        << static_cast<int>(s.monitor) << "}";
}

namespace {

constexpr const wchar_t* ValueNames[] = {L"Overlay",        L"OverlayCorner", L"OverlaySize",
                                         L"OverlayOpacity", L"OverlayIdle",   L"OverlayMonitor"};

// Removes the panel's values (the key holds the library's other settings too, which stay).
void ClearValues() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, SettingsKeyPath, 0, KEY_SET_VALUE, &key) ==
        ERROR_SUCCESS) {
        for (const wchar_t* name : ValueNames) {
            RegDeleteValueW(key, name);
        }
        RegCloseKey(key);
    }
}

bool Store(const wchar_t* name, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, SettingsKeyPath, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const bool stored =
        RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
    RegCloseKey(key);
    return stored;
}

class OverlaySettingsRegistry : public ::testing::Test {
protected:
    void SetUp() override { ClearValues(); }
    void TearDown() override { ClearValues(); }
};

// A REG_DWORD of 2 or 8 bytes holds the number in its first bytes: the size alone makes it
// wrong.
enum class Kind { Dword, Qword, String, Binary4, Dword2, Dword8 };

struct SettingCase {
    const char* name;
    const wchar_t* value;
    Kind kind;
    uint32_t number;
    OverlaySettings expected;
};

constexpr OverlaySettings D{}; // the defaults: on, bottom-right, 280, opaque, 5 s, primary

constexpr OverlaySettings With(bool enabled, Corner corner, int size, int opacity, int idle = 5,
                               MonitorChoice monitor = MonitorChoice::Primary) {
    return {enabled, corner, size, opacity, idle, monitor};
}

constexpr SettingCase SettingCases[] = {
    {"nothing stored", nullptr, Kind::Dword, 0, D},
    {"Overlay 0 turns it off", L"Overlay", Kind::Dword, 0, With(false, D.corner, 28, 100)},
    {"Overlay 1", L"Overlay", Kind::Dword, 1, D},
    {"Overlay 2 is out of range", L"Overlay", Kind::Dword, 2, D},
    {"Overlay 0 as a string", L"Overlay", Kind::String, 0, D},
    {"Overlay 0 as a QWORD", L"Overlay", Kind::Qword, 0, D},
    {"Overlay 0 as 4 binary bytes", L"Overlay", Kind::Binary4, 0, D},
    {"Overlay 0 as a 2-byte REG_DWORD", L"Overlay", Kind::Dword2, 0, D},
    {"Overlay 0 as an 8-byte REG_DWORD", L"Overlay", Kind::Dword8, 0, D},
    {"corner bottom-left", L"OverlayCorner", Kind::Dword, 1,
     With(true, Corner::BottomLeft, 28, 100)},
    {"corner top-right", L"OverlayCorner", Kind::Dword, 2, With(true, Corner::TopRight, 28, 100)},
    {"corner top-left", L"OverlayCorner", Kind::Dword, 3, With(true, Corner::TopLeft, 28, 100)},
    {"corner 4", L"OverlayCorner", Kind::Dword, 4, D},
    {"corner -1", L"OverlayCorner", Kind::Dword, 0xffffffffU, D},
    {"corner 3 as a 2-byte REG_DWORD", L"OverlayCorner", Kind::Dword2, 3, D},
    {"size 10", L"OverlaySize", Kind::Dword, 10, With(true, D.corner, 10, 100)},
    {"size 60", L"OverlaySize", Kind::Dword, 60, With(true, D.corner, 60, 100)},
    {"size 9", L"OverlaySize", Kind::Dword, 9, D},
    {"size 61", L"OverlaySize", Kind::Dword, 61, D},
    {"size 40 as a string", L"OverlaySize", Kind::String, 40, D},
    {"size 40 as an 8-byte REG_DWORD", L"OverlaySize", Kind::Dword8, 40, D},
    {"opacity 30", L"OverlayOpacity", Kind::Dword, 30, With(true, D.corner, 28, 30)},
    {"opacity 85", L"OverlayOpacity", Kind::Dword, 85, With(true, D.corner, 28, 85)},
    {"opacity 29", L"OverlayOpacity", Kind::Dword, 29, D},
    {"opacity 101", L"OverlayOpacity", Kind::Dword, 101, D},
    {"opacity 50 as a QWORD", L"OverlayOpacity", Kind::Qword, 50, D},
    {"idle 0: never", L"OverlayIdle", Kind::Dword, 0, With(true, D.corner, 28, 100, 0)},
    {"idle 3600 s", L"OverlayIdle", Kind::Dword, 3600, With(true, D.corner, 28, 100, 3600)},
    {"idle 3601 s", L"OverlayIdle", Kind::Dword, 3601, D},
    {"idle 2 as a 2-byte REG_DWORD", L"OverlayIdle", Kind::Dword2, 2, D},
    {"monitor under the pointer", L"OverlayMonitor", Kind::Dword, 1,
     With(true, D.corner, 28, 100, 5, MonitorChoice::UnderPointer)},
    {"monitor 2", L"OverlayMonitor", Kind::Dword, 2, D},
    {"monitor 1 as an 8-byte REG_DWORD", L"OverlayMonitor", Kind::Dword8, 1, D},
};

TEST_F(OverlaySettingsRegistry, EachValueGoodOrBad) {
    for (const SettingCase& c : SettingCases) {
        SCOPED_TRACE(c.name);
        ClearValues();
        if (c.value != nullptr) {
            bool stored = false;
            const uint64_t wide = c.number;
            const std::wstring text = std::to_wstring(c.number);
            switch (c.kind) {
            case Kind::Dword:
                stored = Store(c.value, REG_DWORD, &c.number, sizeof c.number);
                break;
            case Kind::Qword:
                stored = Store(c.value, REG_QWORD, &wide, sizeof wide);
                break;
            case Kind::String:
                stored = Store(c.value, REG_SZ, text.c_str(),
                               static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
                break;
            case Kind::Binary4:
                stored = Store(c.value, REG_BINARY, &c.number, sizeof c.number);
                break;
            case Kind::Dword2:
                stored = Store(c.value, REG_DWORD, &c.number, 2);
                break;
            case Kind::Dword8:
                stored = Store(c.value, REG_DWORD, &wide, sizeof wide);
                break;
            }
            ASSERT_TRUE(stored);
        }
        EXPECT_EQ(ReadOverlaySettings(), c.expected);
    }
}

TEST_F(OverlaySettingsRegistry, AllTogether) {
    const DWORD values[] = {1, 3, 45, 60, 12, 1};
    for (size_t i = 0; i < std::size(values); ++i) {
        ASSERT_TRUE(Store(ValueNames[i], REG_DWORD, &values[i], sizeof(DWORD)));
    }
    EXPECT_EQ(ReadOverlaySettings(),
              With(true, Corner::TopLeft, 45, 60, 12, MonitorChoice::UnderPointer));
}

// ---- Placement: a 1920 by 1040 work area (a 40-pixel taskbar below), the library's pad
// (6000 by 4800). The window is the panel's body and a margin of 12 effective pixels around
// it, flush with the corner: the body is 12 effective pixels from the work area's edges.

struct PlaceCase {
    const char* name;
    Corner corner;
    int size;
    float scale;
    RECT expected;
};

constexpr RECT Work{0, 0, 1920, 1040};
constexpr RECT Pad{1000, 1000, 7000, 5800};

constexpr PlaceCase PlaceCases[] = {
    // 280 high, 350 wide, and 24 more each way.
    {"bottom-right", Corner::BottomRight, 28, 1.0F, {1920 - 374, 1040 - 304, 1920, 1040}},
    {"bottom-left", Corner::BottomLeft, 28, 1.0F, {0, 1040 - 304, 374, 1040}},
    {"top-right", Corner::TopRight, 28, 1.0F, {1920 - 374, 0, 1920, 304}},
    {"top-left", Corner::TopLeft, 28, 1.0F, {0, 0, 374, 304}},
    // At 150%: 420 by 525 and a margin of 18.
    {"at 150%", Corner::BottomRight, 28, 1.5F, {1920 - 561, 1040 - 456, 1920, 1040}},
    {"at 200%", Corner::BottomRight, 20, 2.0F, {1920 - 548, 1040 - 448, 1920, 1040}},
    // 600 high would not fit at 200%: as high as the work area allows, less the margins.
    {"60 at 200%", Corner::TopLeft, 60, 2.0F, {0, 0, 1240 + 48, 992 + 48}},
};

TEST(OverlayPlacement, EachCornerSizeAndScale) {
    for (const PlaceCase& c : PlaceCases) {
        SCOPED_TRACE(c.name);
        OverlaySettings settings;
        settings.corner = c.corner;
        settings.size = c.size;
        const RECT r = PlacePanel(Work, Pad, settings, c.scale);
        EXPECT_EQ(r.left, c.expected.left);
        EXPECT_EQ(r.top, c.expected.top);
        EXPECT_EQ(r.right, c.expected.right);
        EXPECT_EQ(r.bottom, c.expected.bottom);
    }
}

// A work area too narrow for the pad's proportions: the panel narrows and keeps them.
TEST(OverlayPlacement, ANarrowWorkAreaKeepsThePadsProportions) {
    OverlaySettings settings;
    settings.size = 60;
    const RECT r = PlacePanel({100, 0, 400, 1000}, Pad, settings, 1.0F);
    EXPECT_EQ(r.right, 400);
    EXPECT_EQ(r.left, 100);
    EXPECT_EQ(r.bottom - r.top, 276 * 4800 / 6000 + 24);
}

} // namespace
} // namespace overlay

namespace overlay {
namespace {

// ---- The system's look as the test prefix's registry says it: the app theme setting and the
// accent palette (Wine has neither by itself, nor high contrast, nor DWM's colour).

constexpr wchar_t PersonalizeKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";
constexpr wchar_t AccentKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Accent";

struct LookCase {
    const char* name;
    std::optional<DWORD> light; // AppsUseLightTheme as a REG_DWORD
    bool lightAsString;         // ... or as "0", a REG_SZ
    bool palette;               // an AccentPalette of eight shades
    ThemeKind kind;
    Rgb accentDark;
    Rgb accentLight;
};

constexpr Rgb DefaultDark{0x00, 0x5f, 0xb8};
constexpr Rgb DefaultLight{0x60, 0xcd, 0xff};
// The palette stored: shade i is (i * 16, 100, 200 - i * 10).
constexpr Rgb Shade1{16, 100, 190};
constexpr Rgb Shade4{64, 100, 160};

const LookCase LookCases[] = {
    {"nothing stored: light, Windows' blue", std::nullopt, false, false, ThemeKind::Light,
     DefaultDark, DefaultLight},
    {"apps in the dark theme", 0, false, false, ThemeKind::Dark, DefaultDark, DefaultLight},
    {"apps in the light theme", 1, false, false, ThemeKind::Light, DefaultDark, DefaultLight},
    {"the theme as a string", std::nullopt, true, false, ThemeKind::Light, DefaultDark,
     DefaultLight},
    {"an accent palette: dark 1 and light 2", 0, false, true, ThemeKind::Dark, Shade4, Shade1},
};

void ClearLook() {
    RegDeleteKeyValueW(HKEY_CURRENT_USER, PersonalizeKey, L"AppsUseLightTheme");
    RegDeleteKeyValueW(HKEY_CURRENT_USER, AccentKey, L"AccentPalette");
}

TEST(OverlaySystemLook, TheAppThemeAndTheAccentPalette) {
    for (const LookCase& c : LookCases) {
        SCOPED_TRACE(c.name);
        ClearLook();
        if (c.light) {
            const DWORD v = *c.light;
            ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, PersonalizeKey, L"AppsUseLightTheme",
                                      REG_DWORD, &v, sizeof v),
                      ERROR_SUCCESS);
        }
        if (c.lightAsString) {
            ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, PersonalizeKey, L"AppsUseLightTheme",
                                      REG_SZ, L"0", 4),
                      ERROR_SUCCESS);
        }
        if (c.palette) {
            BYTE shades[32] = {};
            for (int i = 0; i < 8; ++i) {
                shades[4 * i] = static_cast<BYTE>(i * 16);
                shades[4 * i + 1] = 100;
                shades[4 * i + 2] = static_cast<BYTE>(200 - i * 10);
            }
            ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, AccentKey, L"AccentPalette", REG_BINARY,
                                      shades, sizeof shades),
                      ERROR_SUCCESS);
        }
        const SystemLook look = ReadSystemLook();
        EXPECT_EQ(look.kind, c.kind);
        EXPECT_EQ(look.accentDark, c.accentDark);
        EXPECT_EQ(look.accentLight, c.accentLight);
    }
    ClearLook();
}

} // namespace
} // namespace overlay
