// One copy at a time: a copy started while another runs, or together with others, ends at once
// with exit code 0 and never touches the device library.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <vector>

#include "e2e/harness.h"

namespace e2e {
namespace {

// Ends a running copy the way the system would, and checks that it ended well.
void EndRunningCopy(Tapdeck& app) {
    ASSERT_TRUE(SendTo(FindPadWindow(), WM_ENDSESSION, TRUE, 0));
    ASSERT_TRUE(app.Wait(10000));
    EXPECT_EQ(app.ExitCode(), 0u);
}

TEST(SingleInstance, SecondCopyEndsAtOnceTouchingNothing) {
    RunFiles files(ScenarioText().Line("# an idle touchpad"));
    Tapdeck first(files.scenario.Path(), files.journal.Path());
    ASSERT_TRUE(first.Started());
    ASSERT_TRUE(first.WaitModeOn(10000));

    Tapdeck second(files.scenario.Path(), files.journal.Path(), /*countBeeps=*/true);
    ASSERT_TRUE(second.Started());
    ASSERT_TRUE(second.Wait(10000));
    EXPECT_EQ(second.ExitCode(), 0u);
    EXPECT_EQ(second.Beeps(), 0);
    // Not one library object was made: the library never wrote a line for that process.
    EXPECT_TRUE(second.Journal().empty());
    EXPECT_EQ(CountPadWindows(), 1);
    EXPECT_TRUE(first.Running());
    EndRunningCopy(first);
}

constexpr int CopiesTogether = 10;
constexpr int Rounds = 10;

// Copies started at the same moment race past the window check, which cannot tell them apart;
// exactly one must win, round after round.
TEST(SingleInstance, CopiesStartedTogetherLeaveExactlyOneRunning) {
    for (int round = 0; round < Rounds; ++round) {
        SCOPED_TRACE(round);
        RunFiles files(ScenarioText().Line("# an idle touchpad"));
        std::vector<std::unique_ptr<Tapdeck>> copies;
        for (int i = 0; i < CopiesTogether; ++i) {
            copies.push_back(
                std::make_unique<Tapdeck>(files.scenario.Path(), files.journal.Path()));
            ASSERT_TRUE(copies.back()->Started()) << "error " << copies.back()->StartError();
        }
        // Every loser ends at once; give them all time to, then count who is left.
        WaitUntil(
            [&] {
                int running = 0;
                for (const auto& c : copies) {
                    running += c->Running() ? 1 : 0;
                }
                return running <= 1;
            },
            5000);
        Sleep(200);

        Tapdeck* winner = nullptr;
        int running = 0;
        for (const auto& c : copies) {
            if (c->Running()) {
                ++running;
                winner = c.get();
            } else {
                EXPECT_EQ(c->ExitCode(), 0u);
            }
        }
        ASSERT_EQ(running, 1);
        ASSERT_TRUE(winner->WaitModeOn(10000));
        EXPECT_EQ(CountPadWindows(), 1);

        // Only the winner made library objects and claimed the touchpad.
        std::set<DWORD> creators;
        std::set<DWORD> claimers;
        for (const auto& e : ReadJournal(files.journal.Path())) {
            if (e.event == "Create" || e.event == "CreateFailed") {
                creators.insert(e.pid);
            }
            if (e.event == "Claim") {
                claimers.insert(e.pid);
            }
        }
        EXPECT_EQ(creators, std::set<DWORD>{winner->Pid()});
        EXPECT_EQ(claimers, std::set<DWORD>{winner->Pid()});
        EndRunningCopy(*winner);
    }
}

} // namespace
} // namespace e2e
