// Log-off and power messages sent to the running instance's hidden window: log-off, and the
// machine going to sleep or waking, end the mode and the process, whatever they carry; a change
// of the power status or of a power setting (which Windows sends every few minutes on battery)
// and anything else leave it on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/velcom.h"
#include "e2e/harness.h"

namespace e2e {
namespace {

// Found by argument lookup for the table rows below.
using e2e::PrintTo;

struct WindowMessage {
    const char* name;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    bool ends;
};

constexpr WindowMessage WindowMessages[] = {
    {"EndSessionCancelled", WM_ENDSESSION, FALSE, 0, true},
    {"EndSession", WM_ENDSESSION, TRUE, static_cast<LPARAM>(ENDSESSION_LOGOFF), true},
    {"QuerySuspend", WM_POWERBROADCAST, PBT_APMQUERYSUSPEND, 0, true},
    {"QueryStandby", WM_POWERBROADCAST, PBT_APMQUERYSTANDBY, 0, true},
    {"QuerySuspendFailed", WM_POWERBROADCAST, PBT_APMQUERYSUSPENDFAILED, 0, false},
    {"QueryStandbyFailed", WM_POWERBROADCAST, PBT_APMQUERYSTANDBYFAILED, 0, false},
    {"Suspend", WM_POWERBROADCAST, PBT_APMSUSPEND, 0, true},
    {"Standby", WM_POWERBROADCAST, PBT_APMSTANDBY, 0, true},
    {"ResumeCritical", WM_POWERBROADCAST, PBT_APMRESUMECRITICAL, 0, true},
    {"ResumeSuspend", WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 0, true},
    {"ResumeStandby", WM_POWERBROADCAST, PBT_APMRESUMESTANDBY, 0, true},
    {"ResumeAutomatic", WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0, true},
    {"BatteryLow", WM_POWERBROADCAST, PBT_APMBATTERYLOW, 0, false},
    {"PowerStatusChange", WM_POWERBROADCAST, PBT_APMPOWERSTATUSCHANGE, 0, false},
    {"OemEvent", WM_POWERBROADCAST, PBT_APMOEMEVENT, 0x10, false},
    {"PowerSettingChange", WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE, 0, false},
    {"UnknownPowerEvent", WM_POWERBROADCAST, 0x4321, 0x1234, false},
};

class WindowMessageTest : public testing::TestWithParam<WindowMessage> {};

// The mode was left as it is left for good: Unclaim, then the mode LED off, and nothing after.
void ExpectModeLeft(const Tapdeck& app) {
    const auto calls = DeviceCalls(app.Journal());
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(calls.end() - 2, calls.end()),
              (std::vector<std::string>{"Unclaim", "WriteProperty 0x01000292=208"}));
    EXPECT_EQ(LedWrites(app.Journal()), (std::vector<LONG>{ModeLedOn, ModeLedOff}));
    EXPECT_FALSE(LeftClaimed(app.Journal()));
    EXPECT_EQ(FindPadWindow(), nullptr);
}

TEST_P(WindowMessageTest, EndsTheModeOnlyForLogOffSleepAndWake) {
    const WindowMessage& sent = GetParam();
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

    // Handled when SendTo returns: a mode that ends has been left by then.
    ASSERT_TRUE(SendTo(window, sent.message, sent.wParam, sent.lParam));
    if (sent.ends) {
        ASSERT_TRUE(app.Wait(10000)) << "still running after the message";
        EXPECT_EQ(app.ExitCode(), 0u);
        ExpectModeLeft(app);
        return;
    }
    EXPECT_TRUE(app.Running()) << "ended by the message";
    EXPECT_EQ(CountEvent(app.Journal(), "Unclaim"), 0) << "the mode was left";
    EXPECT_TRUE(LeftClaimed(app.Journal()));
    EXPECT_EQ(FindPadWindow(), window);
    // Still on, and still left as it should be.
    ASSERT_TRUE(SendTo(window, WM_ENDSESSION, TRUE, static_cast<LPARAM>(ENDSESSION_LOGOFF)));
    ASSERT_TRUE(app.Wait(10000)) << "still running after the log-off";
    EXPECT_EQ(app.ExitCode(), 0u);
    ExpectModeLeft(app);
}

INSTANTIATE_TEST_SUITE_P(Messages, WindowMessageTest, testing::ValuesIn(WindowMessages), RowName());

} // namespace
} // namespace e2e
