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

// Runs tapdeck.exe on a scenario with `directives` and a tap on the exit button, and checks that
// the start gave up after the first `callsMade` calls of WholeModeStart, with one beep or none,
// leaving nothing claimed or switched on, and that each of `missing` could not be made.
void ExpectFailedStart(const std::string& directives, size_t callsMade, bool beeps,
                       const std::vector<std::string>& missing) {
    RunFiles files(ScenarioText().Line(directives).Tap(ExitButton()));
    Tapdeck app(files.scenario.Path(), files.journal.Path(), /*countBeeps=*/true);
    ASSERT_TRUE(app.Started());
    ASSERT_TRUE(app.Wait(10000)) << "still running after a failed mode start";

    EXPECT_EQ(app.ExitCode(), FailedStartExitCode);
    EXPECT_EQ(app.Beeps(), beeps ? 1 : 0);

    const auto journal = app.Journal();
    const std::vector<std::string> expected(WholeModeStart.begin(),
                                            WholeModeStart.begin() + callsMade);
    EXPECT_EQ(DeviceCalls(journal), expected);
    EXPECT_FALSE(LeftClaimed(journal));
    EXPECT_TRUE(LedWrites(journal).empty());
    EXPECT_EQ(CountEvent(journal, "Packet"), 0);
    // Whatever was made is released again.
    EXPECT_EQ(CountEvent(journal, "Create"), CountEvent(journal, "Release"));
    for (const auto& object : missing) {
        bool reported = false;
        for (const auto& e : journal) {
            reported |= e.event == "CreateFailed" && e.Text("object") == object;
        }
        EXPECT_TRUE(reported) << object << " was made";
    }
    EXPECT_EQ(FindPadWindow(), nullptr);
}

struct StartFailure {
    const char* name;
    const char* directive;
    // How many of WholeModeStart's calls were made before the start gave up.
    size_t callsMade;
    bool beeps;
};

constexpr StartFailure StartFailures[] = {
    {"PrepareFails", "status Prepare -1", 1, true},
    {"LocateDeviceFails", "status LocateDevice 1", 2, true},
    {"NoTouchpadFound", "handle -1", 2, true},
    {"AttachFails", "status Attach 0x80004005", 3, true},
    {"WrongKind", "kind 7", 4, false},
    {"SetPacketSinkFails", "status SetPacketSink 2", 5, true},
    // All four edges are read before the zero one fails the bounds.
    {"ZeroEdge", "edges 1000 0 7000 5800", 9, true},
    {"ClaimFails", "status Claim -5", 10, true},
};

class FailedModeStart : public testing::TestWithParam<StartFailure> {};

TEST_P(FailedModeStart, EndsAtOnceAndLeavesTheTouchpadAsItWas) {
    const StartFailure& failure = GetParam();
    ExpectFailedStart(failure.directive, failure.callsMade, failure.beeps, {});
}

INSTANTIATE_TEST_SUITE_P(EveryStep, FailedModeStart, testing::ValuesIn(StartFailures), RowName());

// An object that could not be made fails the first step that needs it, quietly; the steps
// before it run, each with its own beep. Prepare and LocateDevice need only the api object,
// Attach is the first step that needs the device object.
struct MissingObjectStart {
    const char* name;
    bool noApi;
    bool noDevice;
    bool prepareFails;
    bool locateFails;
    size_t callsMade;
    bool beeps;
};

constexpr MissingObjectStart MissingObjectStarts[] = {
    {"NoApi", true, false, false, false, 0, false},
    {"NoApiPrepareFails", true, false, true, false, 0, false},
    {"NoApiLocateFails", true, false, false, true, 0, false},
    {"NoApiBothFail", true, false, true, true, 0, false},
    {"NoDevice", false, true, false, false, 2, false},
    {"NoDevicePrepareFails", false, true, true, false, 1, true},
    {"NoDeviceLocateFails", false, true, false, true, 2, true},
    {"NoDeviceBothFail", false, true, true, true, 1, true},
    {"NoApiNoDevice", true, true, false, false, 0, false},
    {"NoApiNoDevicePrepareFails", true, true, true, false, 0, false},
    {"NoApiNoDeviceLocateFails", true, true, false, true, 0, false},
    {"NoApiNoDeviceBothFail", true, true, true, true, 0, false},
};

class MissingObjectModeStart : public testing::TestWithParam<MissingObjectStart> {};

TEST_P(MissingObjectModeStart, RunsTheStepsBeforeTheFirstThatNeedsIt) {
    const MissingObjectStart& start = GetParam();
    std::string directives = "# objects and statuses";
    std::vector<std::string> missing;
    if (start.noApi) {
        directives += "\ncreate VelAPI fail";
        missing.emplace_back("VelAPI");
    }
    if (start.noDevice) {
        directives += "\ncreate PointingDevice fail";
        missing.emplace_back("PointingDevice");
    }
    if (start.prepareFails) {
        directives += "\nstatus Prepare -1";
    }
    if (start.locateFails) {
        directives += "\nstatus LocateDevice 1";
    }
    ExpectFailedStart(directives, start.callsMade, start.beeps, missing);
}

INSTANTIATE_TEST_SUITE_P(Objects, MissingObjectModeStart, testing::ValuesIn(MissingObjectStarts),
                         RowName());

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
// after the start has failed, so one run may see no packet at all: several runs together must
// (ten, and more on a busy machine until one does).
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
    for (int run = 0; run < 40 && (run < 10 || packets == 0); ++run) {
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
