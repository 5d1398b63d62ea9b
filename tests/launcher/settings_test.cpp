// The launcher's settings as read from the test prefix's real registry: each value good, of
// another type or size, out of range, missing.
#include <gtest/gtest.h>

#include <cstdint>

#include "hold_settings.h"

namespace {

using launcher::Corner;
using launcher::HoldSettings;

void ClearKey() {
    RegDeleteTreeW(HKEY_CURRENT_USER, launcher::LauncherKeyPath);
}

bool Store(const wchar_t* name, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, launcher::LauncherKeyPath, 0, nullptr, 0, KEY_SET_VALUE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const bool stored =
        RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
    RegCloseKey(key);
    return stored;
}

enum class Kind { Dword, ShortDword, LongDword, Qword, String, Binary4 };

struct SettingCase {
    const char* name;
    const wchar_t* value;
    Kind kind;
    uint32_t number;
    HoldSettings expected;
};

constexpr HoldSettings D{}; // on, top right, 10 %, 800 ms

constexpr HoldSettings With(bool enabled, Corner corner, uint32_t percent, uint32_t holdMs) {
    return {enabled, corner, percent, holdMs};
}

constexpr SettingCase SettingCases[] = {
    {"nothing stored", nullptr, Kind::Dword, 0, D},
    {"Enabled 0 switches the hold off", L"Enabled", Kind::Dword, 0,
     With(false, Corner::TopRight, 10, 800)},
    {"Enabled 2", L"Enabled", Kind::Dword, 2, D},
    {"Enabled 0 as a string", L"Enabled", Kind::String, 0, D},
    {"Enabled 0 as a QWORD", L"Enabled", Kind::Qword, 0, D},
    {"Enabled 0 as 4 binary bytes", L"Enabled", Kind::Binary4, 0, D},
    {"Enabled 0 as a REG_DWORD of 2 bytes", L"Enabled", Kind::ShortDword, 0, D},
    {"Enabled 0 as a REG_DWORD of 8 bytes", L"Enabled", Kind::LongDword, 0, D},
    {"corner 0: bottom right", L"Corner", Kind::Dword, 0, With(true, Corner::BottomRight, 10, 800)},
    {"corner 1: bottom left", L"Corner", Kind::Dword, 1, With(true, Corner::BottomLeft, 10, 800)},
    {"corner 3: top left", L"Corner", Kind::Dword, 3, With(true, Corner::TopLeft, 10, 800)},
    {"corner 4", L"Corner", Kind::Dword, 4, D},
    {"corner 3 as a REG_DWORD of 8 bytes", L"Corner", Kind::LongDword, 3, D},
    {"corner size 3 %", L"CornerPercent", Kind::Dword, 3, With(true, Corner::TopRight, 3, 800)},
    {"corner size 25 %", L"CornerPercent", Kind::Dword, 25, With(true, Corner::TopRight, 25, 800)},
    {"corner size 2 %", L"CornerPercent", Kind::Dword, 2, D},
    {"corner size 26 %", L"CornerPercent", Kind::Dword, 26, D},
    {"hold 300 ms", L"HoldMs", Kind::Dword, 300, With(true, Corner::TopRight, 10, 300)},
    {"hold 3000 ms", L"HoldMs", Kind::Dword, 3000, With(true, Corner::TopRight, 10, 3000)},
    {"hold 299 ms", L"HoldMs", Kind::Dword, 299, D},
    {"hold 3001 ms", L"HoldMs", Kind::Dword, 3001, D},
    {"hold 0xFFFFFFFF", L"HoldMs", Kind::Dword, 0xFFFFFFFFU, D},
    {"hold 500 as a string", L"HoldMs", Kind::String, 500, D},
};

TEST(LauncherSettings, EachValueIsTakenOnlyAsAFourByteDwordInItsRange) {
    for (const SettingCase& c : SettingCases) {
        SCOPED_TRACE(c.name);
        ClearKey();
        if (c.value != nullptr) {
            const uint64_t wide = c.number;
            const std::wstring text = std::to_wstring(c.number);
            bool stored = false;
            switch (c.kind) {
            case Kind::Dword:
                stored = Store(c.value, REG_DWORD, &c.number, 4);
                break;
            case Kind::ShortDword:
                stored = Store(c.value, REG_DWORD, &c.number, 2);
                break;
            case Kind::LongDword:
                stored = Store(c.value, REG_DWORD, &wide, 8);
                break;
            case Kind::Qword:
                stored = Store(c.value, REG_QWORD, &wide, 8);
                break;
            case Kind::String:
                stored = Store(c.value, REG_SZ, text.c_str(),
                               static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
                break;
            case Kind::Binary4:
                stored = Store(c.value, REG_BINARY, &c.number, 4);
                break;
            }
            ASSERT_TRUE(stored);
        }
        const HoldSettings got = launcher::ReadSettings();
        EXPECT_EQ(got.enabled, c.expected.enabled);
        EXPECT_EQ(got.corner, c.expected.corner);
        EXPECT_EQ(got.cornerPercent, c.expected.cornerPercent);
        EXPECT_EQ(got.holdMs, c.expected.holdMs);
    }
    ClearKey();
}

TEST(LauncherSettings, TheMenusSwitchIsWrittenAndReadBack) {
    ClearKey();
    ASSERT_TRUE(launcher::WriteEnabled(false));
    EXPECT_FALSE(launcher::ReadSettings().enabled);
    ASSERT_TRUE(launcher::WriteEnabled(true));
    EXPECT_TRUE(launcher::ReadSettings().enabled);
    ClearKey();
}

} // namespace
