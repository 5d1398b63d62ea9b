// The mode start seen from outside: how tapdeck.exe ends when the touchpad cannot be taken,
// what it asked the library before giving up, and that it leaves nothing switched on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/velcom.h"
#include "e2e/harness.h"
#include "support/key_hook.h"

namespace e2e {
namespace {

// Found by argument lookup for the table rows below.
using e2e::PrintTo;

// A failed mode start ends with -1. EnterMode fails inside WM_CREATE and the window procedure
// destroys the window right there; CreateWindowExA then returns no window (Wine, like Windows,
// checks that the window survived its creation), so WinMain returns -1, which the process's
// 32-bit exit code carries as 0xFFFFFFFF.
constexpr DWORD FailedStartExitCode = 0xFFFFFFFF;

// The device calls of a whole mode start, in order; a failure stops after the first N.
const std::vector<std::string> WholeModeStart = {
    "Prepare",
    "LocateDevice",
    "Attach",
    "ReadProperty 0x10000107", // kind
    "SetPacketSink",
    "ReadProperty 0x10000115", // the four edges, as there is no registry override
    "ReadProperty 0x10000116",
    "ReadProperty 0x10000117",
    "ReadProperty 0x10000118",
    "Claim",
    "WriteProperty 0x01000292=200",
};

struct StartFailure {
    const char* name;
    const char* directive;
    // How many of WholeModeStart's calls were made before the start gave up.
    size_t callsMade;
    bool beeps;
    // The object that could not be created, if that is the failure.
    const char* missingObject;
};

constexpr StartFailure StartFailures[] = {
    {"NoApiObject", "create VelAPI fail", 0, false, "VelAPI"},
    {"NoDeviceObject", "create PointingDevice fail", 0, false, "PointingDevice"},
    {"PrepareFails", "status Prepare -1", 1, true, nullptr},
    {"LocateDeviceFails", "status LocateDevice 1", 2, true, nullptr},
    {"NoTouchpadFound", "handle -1", 2, true, nullptr},
    {"AttachFails", "status Attach 0x80004005", 3, true, nullptr},
    {"WrongKind", "kind 7", 4, false, nullptr},
    {"SetPacketSinkFails", "status SetPacketSink 2", 5, true, nullptr},
    // All four edges are read before the zero one fails the bounds.
    {"ZeroEdge", "edges 1000 0 7000 5800", 9, true, nullptr},
    {"ClaimFails", "status Claim -5", 10, true, nullptr},
};

class FailedModeStart : public testing::TestWithParam<StartFailure> {};

TEST_P(FailedModeStart, EndsAtOnceAndLeavesTheTouchpadAsItWas) {
    const StartFailure& failure = GetParam();
    RunFiles files(ScenarioText().Line(failure.directive).Tap(ExitButton()));
    Tapdeck app(files.scenario.Path(), files.journal.Path(), /*countBeeps=*/true);
    ASSERT_TRUE(app.Started());
    ASSERT_TRUE(app.Wait(10000)) << "still running after a failed mode start";

    EXPECT_EQ(app.ExitCode(), FailedStartExitCode);
    EXPECT_EQ(app.Beeps(), failure.beeps ? 1 : 0);

    const auto journal = app.Journal();
    const std::vector<std::string> expected(WholeModeStart.begin(),
                                            WholeModeStart.begin() + failure.callsMade);
    EXPECT_EQ(DeviceCalls(journal), expected);
    EXPECT_FALSE(LeftClaimed(journal));
    EXPECT_TRUE(LedWrites(journal).empty());
    EXPECT_EQ(CountEvent(journal, "Packet"), 0);
    // Whatever was made is released again.
    EXPECT_EQ(CountEvent(journal, "Create"), CountEvent(journal, "Release"));
    if (failure.missingObject) {
        bool reported = false;
        for (const auto& e : journal) {
            reported |= e.event == "CreateFailed" && e.Text("object") == failure.missingObject;
        }
        EXPECT_TRUE(reported);
    }
    EXPECT_EQ(FindPadWindow(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(EveryStep, FailedModeStart, testing::ValuesIn(StartFailures), RowName());

// Without a packet object the mode still starts (the start never uses one), but there is
// nothing to read packets into: a tap on the exit button does nothing, and the mode ends only
// by a window message.
TEST(ModeStart, WithoutPacketObjectsTheModeRunsButPacketsDoNothing) {
    RunFiles files(
        ScenarioText().Line("create VelPacket fail").Tap(ExitButton(), 200).Tap(GridButton(8)));
    KeyHook keys;
    ASSERT_TRUE(keys.Installed());
    Tapdeck app(files.scenario.Path(), files.journal.Path(), /*countBeeps=*/true);
    ASSERT_TRUE(app.Started());
    ASSERT_TRUE(app.WaitModeOn(10000));
    ASSERT_TRUE(WaitUntil([&] { return CountEvent(app.Journal(), "DeliveryEnd") == 1; }, 10000));

    EXPECT_TRUE(app.Running());
    EXPECT_EQ(CountEvent(app.Journal(), "Packet"), 8);
    EXPECT_TRUE(keys.Events().empty());
    ASSERT_TRUE(SendTo(FindPadWindow(), WM_ENDSESSION, TRUE, 0));
    ASSERT_TRUE(app.Wait(10000));
    EXPECT_EQ(app.ExitCode(), 0u);
    EXPECT_EQ(app.Beeps(), 0);
    EXPECT_EQ(LedWrites(app.Journal()), (std::vector<LONG>{ModeLedOn, ModeLedOff}));
    EXPECT_FALSE(LeftClaimed(app.Journal()));
}

// Packets that the library delivers around a mode start that fails are not acted upon: here
// they stream from the moment the sink is set, the claim then fails, and not one of the many
// taps on a media button among them may produce a key. The delivery thread often starts only
// after the start has failed, so one run may see no packet at all: several runs together must.
TEST(ModeStart, PacketsAroundAFailedStartAreIgnored) {
    ScenarioText scenario;
    scenario.Line("deliver after-sink").Line("status Claim 5").Line("rate max").Line("repeat 0");
    // The shortest tap: finger down with the gesture bit, then the gesture bit gone.
    const PadPoint play = GridButton(8);
    scenario.Packet("a=0x12000 x=" + std::to_string(play.x) + " y=" + std::to_string(play.y));
    scenario.Packet("a=0");
    RunFiles files(scenario);
    KeyHook keys;
    ASSERT_TRUE(keys.Installed());
    int packets = 0;
    for (int run = 0; run < 10; ++run) {
        Tapdeck app(files.scenario.Path(), files.journal.Path(), /*countBeeps=*/true);
        ASSERT_TRUE(app.Started());
        ASSERT_TRUE(app.Wait(10000));
        EXPECT_EQ(app.ExitCode(), FailedStartExitCode);
        EXPECT_EQ(app.Beeps(), 1);
        const auto journal = app.Journal();
        EXPECT_TRUE(LedWrites(journal).empty());
        packets += CountEvent(journal, "Packet");
    }
    ASSERT_GT(packets, 0) << "no packet came around the failed start in any run";
    Sleep(100);
    EXPECT_TRUE(keys.Events().empty());
}

} // namespace
} // namespace e2e
