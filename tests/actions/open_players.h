// The stand-in players a test case opens, named by class and how they are shown.
#pragma once

#include <initializer_list>
#include <memory>
#include <ostream>
#include <vector>

#include <gtest/gtest.h>

#include "key_expect.h"
#include "support/key_hook.h"
#include "support/player_window.h"

struct OpenPlayer {
    const char* className; // null: no window
    PlayerShow show;
};

inline constexpr OpenPlayer None{nullptr, PlayerShow::Normal};
inline constexpr OpenPlayer Wmp{WmPlayerWindowClass, PlayerShow::Normal};
inline constexpr OpenPlayer WmpMin{WmPlayerWindowClass, PlayerShow::Minimized};
inline constexpr OpenPlayer WmpMax{WmPlayerWindowClass, PlayerShow::Maximized};
inline constexpr OpenPlayer Gemini{GeminiPlayerWindowClass, PlayerShow::Normal};
inline constexpr OpenPlayer GeminiMin{GeminiPlayerWindowClass, PlayerShow::Minimized};
inline constexpr OpenPlayer GeminiMax{GeminiPlayerWindowClass, PlayerShow::Maximized};

inline std::ostream& operator<<(std::ostream& out, const OpenPlayer& p) {
    if (p.className == nullptr) {
        return out << "none";
    }
    static constexpr const char* Shows[] = {"normal", "minimized", "maximized"};
    return out << p.className << "/" << Shows[static_cast<int>(p.show)];
}

// Opens the players that are not None, in order; a null entry in the result means the window
// could not be created.
inline std::vector<std::unique_ptr<StandInPlayer>>
OpenPlayers(std::initializer_list<OpenPlayer> wanted) {
    std::vector<std::unique_ptr<StandInPlayer>> players;
    for (const OpenPlayer& p : wanted) {
        if (p.className != nullptr) {
            players.push_back(std::make_unique<StandInPlayer>(p.className, p.show));
        }
    }
    return players;
}

// True when no stand-in of either class is left over from an earlier case.
inline bool NoPlayerOpen() {
    return FindWindowA(WmPlayerWindowClass, nullptr) == nullptr &&
           FindWindowA(GeminiPlayerWindowClass, nullptr) == nullptr;
}

// A case that opens stand-in players and watches the keyboard: no player may be left over from
// an earlier case, and no key may be left held down after this one.
class PlayersTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(hook.Installed());
        ASSERT_TRUE(NoPlayerOpen());
    }
    void TearDown() override { ExpectNothingHeld(hook); }

    void Open(std::initializer_list<OpenPlayer> wanted) {
        players = OpenPlayers(wanted);
        for (const auto& p : players) {
            ASSERT_NE(p->Handle(), nullptr);
        }
        // Something other than the players has the foreground, so bringing one forward shows.
        SetForegroundWindow(GetDesktopWindow());
    }

    // Waits until every player has handled what was posted to it so far.
    void FlushPlayers() {
        for (const auto& p : players) {
            ASSERT_TRUE(p->Flush(2000));
        }
    }

    KeyHook hook;
    std::vector<std::unique_ptr<StandInPlayer>> players;
};
