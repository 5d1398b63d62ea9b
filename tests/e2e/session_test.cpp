// Whole touch sessions: taps and slides from a scenario, and what the desktop received from
// tapdeck.exe: keys (through a low-level hook in this process), window commands to stand-in
// players owned by this process, the mode LED in the journal, and the exit code.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "device/velcom.h"
#include "e2e/harness.h"
#include "support/key_hook.h"
#include "support/player_window.h"

namespace e2e {
namespace {

// Found by argument lookup for the table rows below.
using e2e::PrintTo;

// Before the first packet: the mode is switched on right after the claim that starts delivery.
constexpr int SettleMs = 300;
// Between touches, so that a window command posted to a player has been carried out before the
// next touch looks at the player.
constexpr int GapMs = 100;

constexpr KeyRecord Press(DWORD vk) {
    return {vk, false, true};
}
constexpr KeyRecord Release(DWORD vk) {
    return {vk, true, true};
}

class KeyList {
public:
    KeyList& Stroke(DWORD vk, int times = 1) {
        for (int i = 0; i < times; ++i) {
            keys.push_back(Press(vk));
            keys.push_back(Release(vk));
        }
        return *this;
    }
    KeyList& Add(KeyRecord key) {
        keys.push_back(key);
        return *this;
    }
    std::vector<KeyRecord> keys;
};

std::string Describe(const std::vector<KeyRecord>& keys) {
    std::string text;
    char one[32];
    for (const auto& k : keys) {
        snprintf(one, sizeof one, "%02lX%s%s ", static_cast<unsigned long>(k.vk), k.up ? "^" : "v",
                 k.injected ? "" : "(real)");
        text += one;
    }
    return text;
}

// Waits for `expected.size()` events and a little longer for any extra one.
void ExpectKeys(const KeyHook& hook, const std::vector<KeyRecord>& expected) {
    hook.WaitFor(expected.size(), 3000);
    Sleep(50);
    const auto got = hook.Events();
    EXPECT_EQ(got, expected) << "got:      " << Describe(got)
                             << "\nexpected: " << Describe(expected);
}

// The run ended normally: exit 0 and the mode switched off and the touchpad given back.
void ExpectCleanEnd(Tapdeck& app) {
    ASSERT_TRUE(app.Wait(10000)) << "still running";
    EXPECT_EQ(app.ExitCode(), 0u);
    const auto journal = app.Journal();
    EXPECT_EQ(LedWrites(journal), (std::vector<LONG>{ModeLedOn, ModeLedOff}));
    EXPECT_EQ(CountEvent(journal, "Unclaim"), 1);
    EXPECT_FALSE(LeftClaimed(journal));
}

class Session : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(hook.Installed()); }
    KeyHook hook;
};

struct PlayerCase {
    const char* name;
    const char* windowClass; // null: no player window open
};

constexpr PlayerCase Players[] = {
    {"NoPlayer", nullptr},
    {"WindowsMediaPlayer", WmPlayerWindowClass},
    {"Gemini", GeminiPlayerWindowClass},
};

class WholeSession : public Session, public testing::WithParamInterface<PlayerCase> {};

// One volume step of the strip: through the player's shortcut when one is in front, else three
// strokes of the system's volume key.
void AddVolumeStep(KeyList& keys, const char* player, bool up) {
    if (player == nullptr) {
        keys.Stroke(up ? VK_VOLUME_UP : VK_VOLUME_DOWN, 3);
    } else if (std::string(player) == WmPlayerWindowClass) {
        keys.Stroke(up ? VK_F10 : VK_F9);
    } else {
        const DWORD arrow = up ? VK_UP : VK_DOWN;
        keys.Add(Press(VK_CONTROL)).Add(Press(arrow)).Add(Release(arrow)).Add(Release(VK_CONTROL));
    }
}

TEST_P(WholeSession, EveryButtonAndTheStripThenExit) {
    const char* player = GetParam().windowClass;
    std::unique_ptr<StandInPlayer> window;
    if (player) {
        window = std::make_unique<StandInPlayer>(player, PlayerShow::Normal);
        ASSERT_NE(window->Handle(), nullptr);
    }

    ScenarioText scenario;
    scenario.Packet("a=0 pause=" + std::to_string(SettleMs));
    scenario.Tap(GridButton(4), GapMs); // media stop
    scenario.Tap(GridButton(5), GapMs); // player: hidden
    scenario.Tap(GridButton(6), GapMs); // mute: to the system, the player being hidden
    scenario.Slide(1, true, GapMs);     // one step up, to the system
    scenario.Tap(GridButton(5), GapMs); // player: shown again
    scenario.Tap(GridButton(6), GapMs); // mute: now to the player
    scenario.Slide(2, true, GapMs);     // two steps up
    scenario.Slide(1, false, GapMs);    // one step down
    scenario.Tap(GridButton(7), GapMs); // previous track
    scenario.Tap(GridButton(8), GapMs); // play or pause
    scenario.Tap(GridButton(9), GapMs); // next track
    scenario.Tap(ExitButton(), GapMs);  // the end
    scenario.Tap(GridButton(8), GapMs); // too late: the touchpad is no longer ours
    RunFiles files(scenario);
    Tapdeck app(files.scenario.Path(), files.journal.Path());
    ASSERT_TRUE(app.Started());
    ExpectCleanEnd(app);

    KeyList keys;
    keys.Stroke(VK_MEDIA_STOP);
    if (!player) {
        keys.Stroke(VK_LAUNCH_MEDIA_SELECT);
    }
    keys.Stroke(VK_VOLUME_MUTE);
    AddVolumeStep(keys, nullptr, true);
    if (!player) {
        keys.Stroke(VK_LAUNCH_MEDIA_SELECT);
    }
    keys.Stroke(!player                                      ? VK_VOLUME_MUTE
                : std::string(player) == WmPlayerWindowClass ? VK_F8
                                                             : VK_F11);
    AddVolumeStep(keys, player, true);
    AddVolumeStep(keys, player, true);
    AddVolumeStep(keys, player, false);
    keys.Stroke(VK_MEDIA_PREV_TRACK).Stroke(VK_MEDIA_PLAY_PAUSE).Stroke(VK_MEDIA_NEXT_TRACK);
    ExpectKeys(hook, keys.keys);

    if (window) {
        ASSERT_TRUE(window->Flush(2000));
        EXPECT_EQ(window->Commands(), (std::vector<WPARAM>{SC_MINIMIZE, SC_RESTORE}));
        EXPECT_FALSE(window->Minimized());
    }
}

INSTANTIATE_TEST_SUITE_P(Players, WholeSession, testing::ValuesIn(Players), RowName());

struct LaunchCase {
    const char* name;
    int button;
    KeyRecord keys[4];
    size_t keyCount;
};

constexpr LaunchCase Launches[] = {
    {"BrowserHome", 1, {Press(VK_BROWSER_HOME), Release(VK_BROWSER_HOME)}, 2},
    {"Search", 2, {Press(VK_LWIN), Press('F'), Release('F'), Release(VK_LWIN)}, 4},
    {"Mail", 3, {Press(VK_LAUNCH_MAIL), Release(VK_LAUNCH_MAIL)}, 2},
};

class LaunchButton : public Session, public testing::WithParamInterface<LaunchCase> {};

TEST_P(LaunchButton, SendsItsKeysThenEnds) {
    const LaunchCase& launch = GetParam();
    ScenarioText scenario;
    scenario.Packet("a=0 pause=" + std::to_string(SettleMs));
    scenario.Tap(GridButton(launch.button));
    scenario.Tap(GridButton(8), GapMs); // never performed: the mode is over
    RunFiles files(scenario);
    Tapdeck app(files.scenario.Path(), files.journal.Path());
    ASSERT_TRUE(app.Started());
    ExpectCleanEnd(app);
    ExpectKeys(hook, std::vector<KeyRecord>(launch.keys, launch.keys + launch.keyCount));
}

INSTANTIATE_TEST_SUITE_P(Buttons, LaunchButton, testing::ValuesIn(Launches), RowName());

// The registry view that the other build reads: a 32-bit program sees HKLM\Software through
// WOW6432Node, a 64-bit one without it.
constexpr REGSAM OtherBuildsView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;

// The registry override of the pad's edges, set in the prefix for as long as it lives, in the
// view this build reads (the default) or in another one. It removes what it created, so the
// prefix is left as it was found.
class PadBoundsOverride {
public:
    PadBoundsOverride(DWORD loX, DWORD loY, DWORD hiX, DWORD hiY, REGSAM registryView = 0)
        : view(registryView) {
        HKEY parent = nullptr;
        hadParent = RegOpenKeyExA(HKEY_LOCAL_MACHINE, ParentPath, 0, KEY_READ | view, &parent) ==
                    ERROR_SUCCESS;
        if (parent) {
            RegCloseKey(parent);
        }
        HKEY key = nullptr;
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, KeyPath, 0, nullptr, 0, KEY_WRITE | view, nullptr,
                            &key, nullptr) != ERROR_SUCCESS) {
            return;
        }
        const std::pair<const char*, DWORD> values[] = {
            {"UseUserConfig", 1}, {"LoX", loX}, {"LoY", loY}, {"HiX", hiX}, {"HiY", hiY}};
        written = true;
        for (const auto& [name, value] : values) {
            written &=
                RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                               sizeof value) == ERROR_SUCCESS;
        }
        RegCloseKey(key);
    }
    ~PadBoundsOverride() {
        RegDeleteKeyExA(HKEY_LOCAL_MACHINE, KeyPath, view, 0);
        if (!hadParent) {
            RegDeleteKeyExA(HKEY_LOCAL_MACHINE, ParentPath, view, 0);
        }
    }
    PadBoundsOverride(const PadBoundsOverride&) = delete;
    PadBoundsOverride& operator=(const PadBoundsOverride&) = delete;

    bool Written() const { return written; }
    static bool Present(REGSAM view = 0) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, KeyPath, 0, KEY_READ | view, &key) != ERROR_SUCCESS) {
            return false;
        }
        RegCloseKey(key);
        return true;
    }

private:
    static constexpr char ParentPath[] = "Software\\Velmora";
    static constexpr char KeyPath[] = "Software\\Velmora\\TwinpadApp";
    REGSAM view;
    bool hadParent = false;
    bool written = false;
};

// Edges moved by 1000 each way from the device's own. The stop button (4) then lies at x [2300,
// 3366), turned-over y [3900, 4900) with turned-over y = 8800 - device y; device point
// (2500, 4400) is on it, while with the device's edges the same point falls between buttons.
// Device point (6800, 5500) is on the exit button under both.
constexpr PadPoint StopUnderOverride = {2500, 4400};
constexpr PadPoint ExitUnderBoth = {6800, 5500};

class RegistryOverride : public Session {
protected:
    // Runs a tap at StopUnderOverride and one on the exit button; returns the journal.
    std::vector<JournalRecord> Run() {
        ScenarioText scenario;
        scenario.Packet("a=0 pause=" + std::to_string(SettleMs));
        scenario.Tap(StopUnderOverride, GapMs).Tap(ExitUnderBoth, GapMs);
        RunFiles files(scenario);
        Tapdeck app(files.scenario.Path(), files.journal.Path());
        EXPECT_TRUE(app.Started());
        ExpectCleanEnd(app);
        return app.Journal();
    }
};

TEST_F(RegistryOverride, MovesTheButtons) {
    ASSERT_FALSE(PadBoundsOverride::Present()) << "the prefix already has an override";
    {
        PadBoundsOverride bounds(2000, 2000, 8000, 6800);
        ASSERT_TRUE(bounds.Written());
        const auto journal = Run();
        ExpectKeys(hook, KeyList().Stroke(VK_MEDIA_STOP).keys);
        // The edges came from the registry, not from the touchpad.
        for (const auto& call : DeviceCalls(journal)) {
            EXPECT_NE(call, "ReadProperty 0x10000115");
        }
    }
    ASSERT_FALSE(PadBoundsOverride::Present());
    hook.Clear();
    Run();
    ExpectKeys(hook, {});
}

// The x64 and the x86 build each read the override in their own registry view: one written for
// the other build is not seen, and the edges come from the touchpad.
TEST_F(RegistryOverride, InTheOtherBuildsViewIsNotRead) {
    ASSERT_FALSE(PadBoundsOverride::Present(OtherBuildsView)) << "the prefix has an override";
    PadBoundsOverride bounds(2000, 2000, 8000, 6800, OtherBuildsView);
    ASSERT_TRUE(bounds.Written());
    ASSERT_FALSE(PadBoundsOverride::Present()) << "the views are not separate";
    const auto journal = Run();
    ExpectKeys(hook, {});
    const auto calls = DeviceCalls(journal);
    EXPECT_NE(std::find(calls.begin(), calls.end(), "ReadProperty 0x10000115"), calls.end());
}

} // namespace
} // namespace e2e
