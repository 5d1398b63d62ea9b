// Volume steps and mute, observed as the keyboard events that reach the input stream and as
// the commands that the stand-in player windows receive.
#include <memory>
#include <vector>

#include "device/pad_app.h"
#include "key_expect.h"
#include "open_players.h"

namespace {

constexpr KeySeq CtrlArrow(DWORD arrow) {
    return {Press(VK_CONTROL), Press(arrow), Release(arrow), Release(VK_CONTROL)};
}

class VolumeMuteTest : public PlayersTest {
protected:
    // Players driven by the system keys are left alone: no command, not brought forward, and
    // still minimized if they were.
    void ExpectPlayersUntouched(const std::vector<bool>& wasMinimized) {
        for (std::size_t i = 0; i < players.size(); ++i) {
            ASSERT_TRUE(players[i]->Flush(2000));
            EXPECT_TRUE(players[i]->Commands().empty()) << "player " << i;
            EXPECT_EQ(players[i]->Minimized(), wasMinimized[i]) << "player " << i;
        }
    }

    // The player at `forward` has the foreground; with -1, none has it and all were left alone.
    void ExpectBroughtForward(int forward, const std::vector<bool>& wasMinimized) {
        if (forward >= 0) {
            EXPECT_EQ(GetForegroundWindow(), players[forward]->Handle());
            return;
        }
        for (const auto& p : players) {
            EXPECT_NE(GetForegroundWindow(), p->Handle());
        }
        ExpectPlayersUntouched(wasMinimized);
    }

    std::vector<bool> MinimizedNow() const {
        std::vector<bool> states;
        for (const auto& p : players) {
            states.push_back(p->Minimized());
        }
        return states;
    }
};

struct StepCase {
    OpenPlayer first;
    OpenPlayer second;
    LONG sum;
    KeySeq keys;
    // Index into the opened players of the one that must be brought forward; -1 for none.
    int forward;
};

constexpr StepCase StepCases[] = {
    {None, None, 26, Strokes(VK_VOLUME_UP, 3), -1},
    {None, None, -26, Strokes(VK_VOLUME_DOWN, 3), -1},
    {None, None, 0, Strokes(VK_VOLUME_DOWN, 3), -1},
    {None, None, 30, Strokes(VK_VOLUME_UP, 3), -1},
    {None, None, -30, Strokes(VK_VOLUME_DOWN, 3), -1},
    {Wmp, None, 26, Strokes(VK_F10), 0},
    {Wmp, None, -26, Strokes(VK_F9), 0},
    {Wmp, None, 0, Strokes(VK_F9), 0},
    {Wmp, None, 30, Strokes(VK_F10), 0},
    {Wmp, None, -30, Strokes(VK_F9), 0},
    {WmpMax, None, 30, Strokes(VK_F10), 0},
    {Gemini, None, 26, CtrlArrow(VK_UP), 0},
    {Gemini, None, -26, CtrlArrow(VK_DOWN), 0},
    {Gemini, None, 0, CtrlArrow(VK_DOWN), 0},
    {Gemini, None, 30, CtrlArrow(VK_UP), 0},
    {Gemini, None, -30, CtrlArrow(VK_DOWN), 0},
    {GeminiMax, None, -30, CtrlArrow(VK_DOWN), 0},
    {WmpMin, None, 30, Strokes(VK_VOLUME_UP, 3), -1},
    {WmpMin, None, -30, Strokes(VK_VOLUME_DOWN, 3), -1},
    {GeminiMin, None, 26, Strokes(VK_VOLUME_UP, 3), -1},
    {GeminiMin, None, 0, Strokes(VK_VOLUME_DOWN, 3), -1},
    {Gemini, Wmp, 30, Strokes(VK_F10), 1},
    {Gemini, Wmp, -30, Strokes(VK_F9), 1},
    // The minimized WMPlayerApp window is the player; the Gemini window is not tried instead.
    {Gemini, WmpMin, 30, Strokes(VK_VOLUME_UP, 3), -1},
};

TEST_F(VolumeMuteTest, VolumeStepSendsOneShortcutToAUsablePlayerOrThreeSystemStrokes) {
    for (const StepCase& c : StepCases) {
        SCOPED_TRACE(::testing::Message() << c.first << " + " << c.second << ", sum " << c.sum);
        players.clear();
        hook.Clear();
        Open({c.first, c.second});
        const std::vector<bool> wasMinimized = MinimizedNow();

        PadApp::VolumeStep(c.sum);

        ExpectKeys(hook, c.keys);
        ExpectBroughtForward(c.forward, wasMinimized);
    }
}

struct MuteCase {
    OpenPlayer first;
    OpenPlayer second;
    KeySeq keys;
    int forward;
};

constexpr MuteCase MuteCases[] = {
    {None, None, Strokes(VK_VOLUME_MUTE), -1},
    {Wmp, None, Strokes(VK_F8), 0},
    {WmpMax, None, Strokes(VK_F8), 0},
    {Gemini, None, Strokes(VK_F11), 0},
    {GeminiMax, None, Strokes(VK_F11), 0},
    {WmpMin, None, Strokes(VK_VOLUME_MUTE), -1},
    {GeminiMin, None, Strokes(VK_VOLUME_MUTE), -1},
    {Gemini, Wmp, Strokes(VK_F8), 1},
    {Gemini, WmpMin, Strokes(VK_VOLUME_MUTE), -1},
};

TEST_F(VolumeMuteTest, ToggleMuteSendsThePlayersShortcutOrTheSystemMuteKey) {
    for (const MuteCase& c : MuteCases) {
        SCOPED_TRACE(::testing::Message() << c.first << " + " << c.second);
        players.clear();
        hook.Clear();
        Open({c.first, c.second});
        const std::vector<bool> wasMinimized = MinimizedNow();

        PadApp::ToggleMute();

        ExpectKeys(hook, c.keys);
        ExpectBroughtForward(c.forward, wasMinimized);
    }
}

// Every call looks the player up afresh: a player opened, minimized or closed between two
// steps is seen at the next one.
TEST_F(VolumeMuteTest, EachStepFindsThePlayerAnew) {
    PadApp::VolumeStep(1);
    ExpectKeys(hook, Strokes(VK_VOLUME_UP, 3));

    hook.Clear();
    Open({Wmp});
    PadApp::VolumeStep(1);
    ExpectKeys(hook, Strokes(VK_F10));

    hook.Clear();
    ShowWindow(players[0]->Handle(), SW_MINIMIZE);
    PadApp::VolumeStep(1);
    ExpectKeys(hook, Strokes(VK_VOLUME_UP, 3));

    hook.Clear();
    players.clear();
    PadApp::ToggleMute();
    ExpectKeys(hook, Strokes(VK_VOLUME_MUTE));
}

} // namespace
