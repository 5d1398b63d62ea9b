// The panel's settings as read from the test prefix's real registry (each value good, of
// another type, out of range, missing), and where the panel goes for each corner.
#include <gtest/gtest.h>

#include <string>

#include "settings.h"

namespace overlay {

void PrintTo(const OverlaySettings& s, std::ostream* os) {
    *os << "{enabled " << s.enabled << ", corner " << static_cast<int>(s.corner) << ", size "
        << s.sizePercent << ", opacity " << s.opacityPercent << "}";
}

namespace {

constexpr const wchar_t* ValueNames[] = {L"Overlay", L"OverlayCorner", L"OverlaySize",
                                         L"OverlayOpacity"};

// Removes the four values (the key holds the library's other settings too, which stay).
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

enum class Kind { Dword, Qword, String, Binary4 };

struct SettingCase {
    const char* name;
    const wchar_t* value;
    Kind kind;
    uint32_t number;
    OverlaySettings expected;
};

constexpr OverlaySettings D{}; // the defaults: on, bottom-right, 28%, 85%

constexpr OverlaySettings With(bool enabled, Corner corner, int size, int opacity) {
    return {enabled, corner, size, opacity};
}

constexpr SettingCase SettingCases[] = {
    {"nothing stored", nullptr, Kind::Dword, 0, D},
    {"Overlay 0 turns it off", L"Overlay", Kind::Dword, 0, With(false, D.corner, 28, 85)},
    {"Overlay 1", L"Overlay", Kind::Dword, 1, D},
    {"Overlay 2 is out of range", L"Overlay", Kind::Dword, 2, D},
    {"Overlay 0 as a string", L"Overlay", Kind::String, 0, D},
    {"Overlay 0 as a QWORD", L"Overlay", Kind::Qword, 0, D},
    {"Overlay 0 as 4 binary bytes", L"Overlay", Kind::Binary4, 0, D},
    {"corner bottom-left", L"OverlayCorner", Kind::Dword, 1,
     With(true, Corner::BottomLeft, 28, 85)},
    {"corner top-right", L"OverlayCorner", Kind::Dword, 2, With(true, Corner::TopRight, 28, 85)},
    {"corner top-left", L"OverlayCorner", Kind::Dword, 3, With(true, Corner::TopLeft, 28, 85)},
    {"corner 4", L"OverlayCorner", Kind::Dword, 4, D},
    {"corner -1", L"OverlayCorner", Kind::Dword, 0xffffffffU, D},
    {"size 10", L"OverlaySize", Kind::Dword, 10, With(true, D.corner, 10, 85)},
    {"size 60", L"OverlaySize", Kind::Dword, 60, With(true, D.corner, 60, 85)},
    {"size 9", L"OverlaySize", Kind::Dword, 9, D},
    {"size 61", L"OverlaySize", Kind::Dword, 61, D},
    {"size 40 as a string", L"OverlaySize", Kind::String, 40, D},
    {"opacity 30", L"OverlayOpacity", Kind::Dword, 30, With(true, D.corner, 28, 30)},
    {"opacity 100", L"OverlayOpacity", Kind::Dword, 100, With(true, D.corner, 28, 100)},
    {"opacity 29", L"OverlayOpacity", Kind::Dword, 29, D},
    {"opacity 101", L"OverlayOpacity", Kind::Dword, 101, D},
    {"opacity 50 as a QWORD", L"OverlayOpacity", Kind::Qword, 50, D},
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
            }
            ASSERT_TRUE(stored);
        }
        EXPECT_EQ(ReadOverlaySettings(), c.expected);
    }
}

TEST_F(OverlaySettingsRegistry, AllFourTogether) {
    const DWORD values[] = {1, 3, 45, 60};
    for (size_t i = 0; i < 4; ++i) {
        ASSERT_TRUE(Store(ValueNames[i], REG_DWORD, &values[i], sizeof(DWORD)));
    }
    EXPECT_EQ(ReadOverlaySettings(), With(true, Corner::TopLeft, 45, 60));
}

// ---- Placement: a 1920 by 1040 work area (a 40-pixel taskbar below), the library's pad.

struct PlaceCase {
    const char* name;
    Corner corner;
    int sizePercent;
    RECT expected;
};

constexpr RECT Work{0, 0, 1920, 1040};
constexpr RECT Pad{1000, 1000, 7000, 5800};

constexpr PlaceCase PlaceCases[] = {
    // 28% of 1040 is 291 high, 363 wide (6000 by 4800).
    {"bottom-right", Corner::BottomRight, 28, {1920 - 12 - 363, 1040 - 12 - 291, 1908, 1028}},
    {"bottom-left", Corner::BottomLeft, 28, {12, 1040 - 12 - 291, 12 + 363, 1028}},
    {"top-right", Corner::TopRight, 28, {1920 - 12 - 363, 12, 1908, 12 + 291}},
    {"top-left", Corner::TopLeft, 28, {12, 12, 12 + 363, 12 + 291}},
    {"60%", Corner::BottomRight, 60, {1920 - 12 - 780, 1040 - 12 - 624, 1908, 1028}},
};

TEST(OverlayPlacement, EachCornerAndSize) {
    for (const PlaceCase& c : PlaceCases) {
        SCOPED_TRACE(c.name);
        OverlaySettings settings;
        settings.corner = c.corner;
        settings.sizePercent = c.sizePercent;
        const RECT r = PlacePanel(Work, Pad, settings, 12);
        EXPECT_EQ(r.left, c.expected.left);
        EXPECT_EQ(r.top, c.expected.top);
        EXPECT_EQ(r.right, c.expected.right);
        EXPECT_EQ(r.bottom, c.expected.bottom);
    }
}

// A work area too narrow for the pad's proportions: the panel narrows and keeps them.
TEST(OverlayPlacement, ANarrowWorkAreaKeepsThePadsProportions) {
    OverlaySettings settings;
    settings.sizePercent = 60;
    const RECT r = PlacePanel({100, 0, 400, 1000}, Pad, settings, 10);
    EXPECT_EQ(r.right, 390);
    EXPECT_EQ(r.left, 110);
    EXPECT_EQ(r.bottom - r.top, 280 * 4800 / 6000);
}

} // namespace
} // namespace overlay
