// A tap that ends the mode on the packet thread, raced against a message that ends it on the main
// thread: a log-off or power message, or a quit message that ends the message loop with the
// window still there. Whichever comes first, the other must not leave the two threads waiting
// for each other: every run ends with 0, in time, with the touchpad let go and no packet taken
// after the device object's release.
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

struct RacingMessage {
    const char* name;
    UINT message;
    WPARAM wParam;
    // Posted to the window's thread rather than to the window.
    bool toThread;
};

constexpr RacingMessage RacingMessages[] = {
    {"EndSession", WM_ENDSESSION, TRUE, false},
    {"PowerSuspend", WM_POWERBROADCAST, PBT_APMSUSPEND, false},
    {"Quit", WM_QUIT, 0, true},
};

// The taps that leave the mode from the packet thread: the exit button and the launch buttons.
struct EndingTap {
    const char* name;
    int gridButton; // 0: the exit button
};

constexpr EndingTap EndingTaps[] = {
    {"Exit", 0},
    {"BrowserHome", 1},
    {"Search", 2},
    {"Mail", 3},
};

// The message is posted this many milliseconds before (negative) or after the packet that
// completes the tap is due: 21 offsets, 2 ms apart, a few packets either side of it.
constexpr int FirstOffsetMs = -20;
constexpr int OffsetStepMs = 2;
constexpr int Offsets = 21;

// The stream: one idle packet, the tap after a pause long enough for the mode to be on and the
// test to have read the clock, then idle packets that keep coming after the end.
constexpr int PacketMs = 8; // rate 125
constexpr int TapPauseMs = 100;
constexpr int TapCompletingPacket = 1 + 3; // the fourth packet of the tap, after the idle one
constexpr int TrailPackets = 50;
// A run that has not ended by then counts as hung.
constexpr DWORD HangMs = 5000;

long long MicrosNow() {
    LARGE_INTEGER now;
    LARGE_INTEGER frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return now.QuadPart / frequency.QuadPart * 1000000 +
           now.QuadPart % frequency.QuadPart * 1000000 / frequency.QuadPart;
}

// When the tap's last packet is due, on this machine's performance counter in microseconds:
// the library's session clock plus the first packet's start plus the schedule after it.
long long TapDueMicros(const std::vector<JournalRecord>& journal) {
    long long clock = -1;
    long long firstPacket = -1;
    for (const auto& e : journal) {
        if (e.event == "Scenario") {
            clock = e.Num("clock").value_or(-1);
        } else if (e.event == "Packet" && e.Num("index") == 0) {
            firstPacket = e.Num("begin").value_or(-1);
        }
    }
    if (clock < 0 || firstPacket < 0) {
        return -1;
    }
    return clock + firstPacket + (TapPauseMs + TapCompletingPacket * PacketMs) * 1000LL;
}

class ShutdownRace : public testing::TestWithParam<RacingMessage> {};

TEST_P(ShutdownRace, EveryRunEndsCleanly) {
    const RacingMessage& racing = GetParam();
    KeyHook keys; // keeps the launch keys from going further
    ASSERT_TRUE(keys.Installed());
    int tapsFirst = 0;
    for (int i = 0; i < Offsets; ++i) {
        const int offsetMs = FirstOffsetMs + i * OffsetStepMs;
        for (const EndingTap& tap : EndingTaps) {
            SCOPED_TRACE(std::string(tap.name) + " tap, message at " + std::to_string(offsetMs) +
                         " ms");
            ScenarioText scenario;
            scenario.Line("rate 125").Idle(1);
            scenario.Tap(tap.gridButton ? GridButton(tap.gridButton) : ExitButton(), TapPauseMs);
            scenario.Idle(TrailPackets);
            RunFiles files(scenario);
            Tapdeck app(files.scenario.Path(), files.journal.Path());
            ASSERT_TRUE(app.Started());
            ASSERT_TRUE(app.WaitModeOn(HangMs));
            ASSERT_TRUE(app.WaitForEvent("Packet", HangMs));
            const HWND window = FindPadWindow();
            ASSERT_NE(window, nullptr);
            const long long due = TapDueMicros(app.Journal());
            ASSERT_GT(due, 0);
            const long long at = due + offsetMs * 1000LL;
            while (MicrosNow() < at) {
                if (at - MicrosNow() > 3000) {
                    Sleep(1);
                }
            }
            if (racing.toThread) {
                PostThreadMessageA(GetWindowThreadProcessId(window, nullptr), racing.message,
                                   racing.wParam, 0);
            } else {
                PostMessageA(window, racing.message, racing.wParam, 0);
            }

            ASSERT_TRUE(app.Wait(HangMs)) << "hung";
            EXPECT_EQ(app.ExitCode(), 0u);
            const auto journal = app.Journal();
            EXPECT_FALSE(LeftClaimed(journal));
            long long deviceGone = -1;
            int packets = 0;
            for (size_t k = 0; k < journal.size(); ++k) {
                if (journal[k].event == "Release" &&
                    journal[k].Text("object") == "PointingDevice") {
                    deviceGone = static_cast<long long>(k);
                } else if (journal[k].event == "Packet") {
                    ++packets;
                    EXPECT_LT(deviceGone, 0) << "a packet after the device object's release";
                }
            }
            EXPECT_GE(deviceGone, 0) << "the device object was never released";
            // The tap's end and the message's may both run; the LED is off at the end either way.
            const auto led = LedWrites(journal);
            ASSERT_FALSE(led.empty());
            EXPECT_EQ(led.front(), ModeLedOn);
            EXPECT_EQ(led.back(), ModeLedOff);
            tapsFirst += packets > TapCompletingPacket ? 1 : 0;
        }
    }
    // Both orders must have been raced: some runs saw the whole tap before the message.
    EXPECT_GT(tapsFirst, 0);
    EXPECT_LT(tapsFirst, Offsets * static_cast<int>(std::size(EndingTaps)));
}

INSTANTIATE_TEST_SUITE_P(Messages, ShutdownRace, testing::ValuesIn(RacingMessages), RowName());

} // namespace
} // namespace e2e
