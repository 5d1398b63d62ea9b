// Log-off and power messages sent to the running instance's hidden window end the mode and the
// process, whatever they carry.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/velcom.h"
#include "e2e/harness.h"

namespace e2e {
namespace {

// Found by argument lookup for the table rows below.
using e2e::PrintTo;

struct EndingMessage {
    const char* name;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

constexpr EndingMessage EndingMessages[] = {
    {"EndSessionCancelled", WM_ENDSESSION, FALSE, 0},
    {"EndSession", WM_ENDSESSION, TRUE, static_cast<LPARAM>(ENDSESSION_LOGOFF)},
    {"Suspend", WM_POWERBROADCAST, PBT_APMSUSPEND, 0},
    {"ResumeAutomatic", WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0},
    {"PowerSettingChange", WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE, 0},
    {"UnknownPowerEvent", WM_POWERBROADCAST, 0x4321, 0x1234},
};

class EndingWindowMessage : public testing::TestWithParam<EndingMessage> {};

TEST_P(EndingWindowMessage, LeavesTheModeAndEnds) {
    const EndingMessage& sent = GetParam();
    // Finger packets keep coming while the message arrives; they must not hold up the end.
    ScenarioText scenario;
    scenario.Line("repeat 0").Packet("a=0x2000 x=1500 y=5000 pause=10").Packet("a=0");
    RunFiles files(scenario);
    Tapdeck app(files.scenario.Path(), files.journal.Path());
    ASSERT_TRUE(app.Started());
    ASSERT_TRUE(app.WaitModeOn(10000));
    const HWND window = FindPadWindow();
    ASSERT_NE(window, nullptr);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    EXPECT_EQ(owner, app.Pid());

    EXPECT_TRUE(SendTo(window, sent.message, sent.wParam, sent.lParam));
    ASSERT_TRUE(app.Wait(10000)) << "still running after the message";
    EXPECT_EQ(app.ExitCode(), 0u);
    const auto calls = DeviceCalls(app.Journal());
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(calls.end() - 2, calls.end()),
              (std::vector<std::string>{"Unclaim", "WriteProperty 0x01000292=208"}));
    EXPECT_EQ(LedWrites(app.Journal()), (std::vector<LONG>{ModeLedOn, ModeLedOff}));
    EXPECT_FALSE(LeftClaimed(app.Journal()));
    EXPECT_EQ(FindPadWindow(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Messages, EndingWindowMessage, testing::ValuesIn(EndingMessages),
                         RowName());

} // namespace
} // namespace e2e
