// A whole session of the real tapdeck.exe under Wine on the simulated touchpad with
// VELSIM_OVERLAY=1, watched from outside the process: the panel appears when the mode starts,
// follows the finger, shows the tapped button pressed, and is gone when the exit button, a log-off
// or a suspend ends the session; without the variable the simulated pad shows no panel.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/harness.h"
#include "overlay_window.h"

namespace {

using namespace e2e;

HWND PanelOf(DWORD pid) {
    return overlay::FindPanelWindow(pid);
}

// Sets an environment variable of this process (which tapdeck.exe inherits) for a scope.
class ScopedOverlayVariable {
public:
    explicit ScopedOverlayVariable(const wchar_t* value) {
        SetEnvironmentVariableW(L"VELSIM_OVERLAY", value);
    }
    ~ScopedOverlayVariable() { SetEnvironmentVariableW(L"VELSIM_OVERLAY", nullptr); }
    ScopedOverlayVariable(const ScopedOverlayVariable&) = delete;
    ScopedOverlayVariable& operator=(const ScopedOverlayVariable&) = delete;
    ScopedOverlayVariable(ScopedOverlayVariable&&) = delete;
    ScopedOverlayVariable& operator=(ScopedOverlayVariable&&) = delete;
};

constexpr size_t Button4 = FirstGridIndex + 3;

// A quiet start, a finger resting on button 4 for about a second, a tap there, a pause, and
// the exit button.
ScenarioText TheSession() {
    const PadPoint four = GridButton(4);
    const std::string xy = " x=" + std::to_string(four.x) + " y=" + std::to_string(four.y);
    ScenarioText text;
    text.Packet("a=0 pause=1500");
    text.Packet("a=0x2000" + xy + " pause=500");
    for (int i = 0; i < 10; ++i) {
        text.Packet("a=0x2000" + xy + " pause=100");
    }
    text.Packet("a=0x12000" + xy);
    text.Packet("a=0x10000");
    text.Packet("a=0");
    text.Packet("a=0 pause=1500");
    return text.Tap(ExitButton(), 500);
}

// What the watcher saw of the panel while tapdeck.exe ran.
struct Seen {
    bool panel = false;
    bool shownWithoutFinger = false;
    bool fingerOnButton4 = false;
    bool button4Pressed = false;
    bool exited = false;
};

Seen Watch(Tapdeck& tapdeck) {
    Seen seen;
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < 30'000) {
        if (tapdeck.Wait(0)) {
            seen.exited = true;
            break;
        }
        HWND panel = PanelOf(tapdeck.Pid());
        DWORD_PTR answer = 0;
        if (panel != nullptr) {
            seen.panel = true;
            if (SendMessageTimeoutW(panel, overlay::QueryMessage, 0, 0, SMTO_ABORTIFHUNG, 1000,
                                    &answer) != 0) {
                const overlay::DrawnSummary d = overlay::UnpackDrawn(static_cast<uint32_t>(answer));
                seen.shownWithoutFinger |= d.shown && !d.touching;
                seen.fingerOnButton4 |= d.shown && d.touching && d.under == Button4;
                seen.button4Pressed |= d.shown && d.pressed == Button4;
            }
        }
        Sleep(10);
    }
    return seen;
}

TEST(OverlaySession, ThePanelFollowsTheSessionAndGoesWithIt) {
    const ScopedOverlayVariable on(L"1");
    const RunFiles files(TheSession());
    Tapdeck tapdeck(files.scenario.Path(), files.journal.Path());
    ASSERT_TRUE(tapdeck.Started());
    const Seen seen = Watch(tapdeck);
    EXPECT_TRUE(seen.panel);
    EXPECT_TRUE(seen.shownWithoutFinger);
    EXPECT_TRUE(seen.fingerOnButton4);
    EXPECT_TRUE(seen.button4Pressed);
    ASSERT_TRUE(seen.exited) << "the exit button did not end the session";
    EXPECT_EQ(tapdeck.ExitCode(), 0U);
    EXPECT_EQ(PanelOf(tapdeck.Pid()), nullptr);
    EXPECT_EQ(LedWrites(tapdeck.Journal()), (std::vector<LONG>{200, 208}));
}

// Sessions that end from outside, as the system ends them, while a finger rests on the pad.
struct Ending {
    const char* name;
    UINT message;
    WPARAM wParam;
};

constexpr Ending Endings[] = {
    {"log-off", WM_ENDSESSION, TRUE},
    {"suspend", WM_POWERBROADCAST, PBT_APMSUSPEND},
};

TEST(OverlaySession, ThePanelIsGoneWhenTheSystemEndsTheSession) {
    const ScopedOverlayVariable on(L"1");
    const PadPoint four = GridButton(4);
    ScenarioText text;
    for (int i = 0; i < 200; ++i) {
        text.Packet("a=0x2000 x=" + std::to_string(four.x) + " y=" + std::to_string(four.y) +
                    " pause=50");
    }
    for (const Ending& ending : Endings) {
        SCOPED_TRACE(ending.name);
        const RunFiles files(text);
        Tapdeck tapdeck(files.scenario.Path(), files.journal.Path());
        ASSERT_TRUE(tapdeck.Started());
        ASSERT_TRUE(WaitUntil(
            [&] {
                HWND panel = PanelOf(tapdeck.Pid());
                DWORD_PTR answer = 0;
                return panel != nullptr &&
                       SendMessageTimeoutW(panel, overlay::QueryMessage, 0, 0, SMTO_ABORTIFHUNG,
                                           1000, &answer) != 0 &&
                       overlay::UnpackDrawn(static_cast<uint32_t>(answer)).touching;
            },
            10'000))
            << "no panel with the finger on it";
        ASSERT_TRUE(SendTo(FindPadWindow(), ending.message, ending.wParam, 0));
        ASSERT_TRUE(tapdeck.Wait(10'000));
        EXPECT_EQ(tapdeck.ExitCode(), 0U);
        EXPECT_EQ(PanelOf(tapdeck.Pid()), nullptr);
        EXPECT_EQ(LedWrites(tapdeck.Journal()), (std::vector<LONG>{200, 208}));
    }
}

TEST(OverlaySession, TheSimulatedPadShowsNoPanelUnlessAskedTo) {
    const RunFiles files(TheSession());
    Tapdeck tapdeck(files.scenario.Path(), files.journal.Path());
    ASSERT_TRUE(tapdeck.Started());
    const Seen seen = Watch(tapdeck);
    EXPECT_TRUE(seen.exited);
    EXPECT_FALSE(seen.panel);
}

} // namespace
