// Finding the media player, telling whether it is minimized, and showing or hiding it, on real
// stand-in player windows; the PlayerWindow action does the same.
#include <memory>
#include <vector>

#include "device/pad_app.h"
#include "key_expect.h"
#include "open_players.h"

namespace {

using PlayerControlTest = PlayersTest;

struct FindCase {
    OpenPlayer first;
    OpenPlayer second;
    // Index into the opened players of the window FindPlayer must return; -1 for none.
    int found;
    PlayerKind kind;
};

constexpr FindCase FindCases[] = {
    {None, None, -1, NoPlayer},
    {Wmp, None, 0, WmPlayer},
    {WmpMin, None, 0, WmPlayer},
    {WmpMax, None, 0, WmPlayer},
    {Gemini, None, 0, GeminiPlayer},
    {GeminiMin, None, 0, GeminiPlayer},
    {GeminiMax, None, 0, GeminiPlayer},
    {Gemini, Wmp, 1, WmPlayer},
    {Wmp, Gemini, 0, WmPlayer},
    // A minimized WMPlayerApp window is still the one found.
    {Gemini, WmpMin, 1, WmPlayer},
};

TEST_F(PlayerControlTest, FindPlayerPrefersWmPlayerAndReportsTheKind) {
    for (const FindCase& c : FindCases) {
        SCOPED_TRACE(::testing::Message() << c.first << " + " << c.second);
        players.clear();
        Open({c.first, c.second});

        // Garbage in the out-parameter, so a kind left unwritten shows.
        PlayerKind kind = static_cast<PlayerKind>(7);
        HWND found = PadApp::FindPlayer(&kind);

        EXPECT_EQ(found, c.found < 0 ? nullptr : players[c.found]->Handle());
        EXPECT_EQ(kind, c.kind);
    }
}

TEST_F(PlayerControlTest, IsMinimizedOnlyForAMinimizedWindow) {
    Open({WmpMin, Gemini, GeminiMax});
    EXPECT_TRUE(PadApp::IsMinimized(players[0]->Handle()));
    EXPECT_FALSE(PadApp::IsMinimized(players[1]->Handle()));
    EXPECT_FALSE(PadApp::IsMinimized(players[2]->Handle()));
    // No placement to read.
    EXPECT_FALSE(PadApp::IsMinimized(nullptr));
    HWND gone = players[0]->Handle();
    players.erase(players.begin());
    EXPECT_FALSE(PadApp::IsMinimized(gone));
}

struct ToggleCase {
    OpenPlayer player;
    WPARAM command;
    bool minimizedAfter;
};

constexpr ToggleCase ToggleCases[] = {
    {Wmp, SC_MINIMIZE, true},    {WmpMin, SC_RESTORE, false},    {WmpMax, SC_MINIMIZE, true},
    {Gemini, SC_MINIMIZE, true}, {GeminiMin, SC_RESTORE, false}, {GeminiMax, SC_MINIMIZE, true},
};

// The command is posted, so it is seen only once the player's thread handled it.
void ExpectOneCommand(const StandInPlayer& player, const ToggleCase& c) {
    EXPECT_TRUE(player.WaitForCommands(1, 2000));
    ASSERT_TRUE(player.Flush(2000));
    EXPECT_EQ(player.Commands(), std::vector<WPARAM>{c.command});
    EXPECT_EQ(player.Minimized(), c.minimizedAfter);
}

TEST_F(PlayerControlTest, TogglePlayerWindowRestoresAMinimizedWindowAndMinimizesOthers) {
    for (const ToggleCase& c : ToggleCases) {
        SCOPED_TRACE(::testing::Message() << c.player);
        players.clear();
        Open({c.player});

        PadApp::TogglePlayerWindow(players[0]->Handle());

        ExpectOneCommand(*players[0], c);
    }
    ExpectKeys(hook, {});
}

TEST_F(PlayerControlTest, TogglePlayerWindowWithNoWindowPostsNothing) {
    Open({Wmp, GeminiMin});

    PadApp::TogglePlayerWindow(nullptr);

    FlushPlayers();
    for (const auto& p : players) {
        EXPECT_TRUE(p->Commands().empty());
    }
    // A post to a null window would land in this thread's own queue.
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_SYSCOMMAND, WM_SYSCOMMAND, PM_REMOVE));
}

class PlayerWindowActionTest : public PlayerControlTest {
protected:
    void Run() {
        const Zone zone = {PlayerWindow, {0, 0, 1, 1}, PlayerWindow};
        app.RunAction(&zone);
    }

    PadApp app;
};

TEST_F(PlayerWindowActionTest, TogglesTheOpenPlayer) {
    for (const ToggleCase& c : ToggleCases) {
        SCOPED_TRACE(::testing::Message() << c.player);
        players.clear();
        Open({c.player});

        Run();

        ExpectOneCommand(*players[0], c);
    }
    ExpectKeys(hook, {});
}

TEST_F(PlayerWindowActionTest, TogglesWmPlayerWhenBothAreOpen) {
    Open({Gemini, WmpMin});

    Run();

    ExpectOneCommand(*players[1], {WmpMin, SC_RESTORE, false});
    EXPECT_TRUE(players[0]->Commands().empty());
    EXPECT_FALSE(players[0]->Minimized());
    ExpectKeys(hook, {});
}

TEST_F(PlayerWindowActionTest, LaunchesTheMediaPlayerWhenNoneIsOpen) {
    Run();

    ExpectKeys(hook, Strokes(VK_LAUNCH_MEDIA_SELECT));
}

} // namespace
