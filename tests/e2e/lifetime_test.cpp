// The end of a run while the library delivers packets as fast as it can: whether the mode is
// left from the packet thread (the exit button) or from the main thread (a log-off message),
// the process ends cleanly, every time, and no packet is delivered once the device is gone.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/velcom.h"
#include "e2e/harness.h"

namespace e2e {
namespace {

// Found by argument lookup for the table rows below.
using e2e::PrintTo;

constexpr int Runs = 20;
// Packets that do nothing: a few to get the stream to full speed before the tap, thousands
// after it to race the end of the run. The list repeats until delivery stops.
constexpr int LeadPackets = 200;
constexpr int TrailPackets = 2000;
// A run that has not ended by then counts as hung.
constexpr DWORD HangMs = 5000;

struct StreamEnd {
    const char* name;
    const char* delivery;
    // True: ended by WM_ENDSESSION on the main thread; false: by the exit button.
    bool byMessage;
};

constexpr StreamEnd StreamEnds[] = {
    {"ExitButton", "deliver after-claim", false},
    // Packets stream from the moment the sink is set, while the mode is still starting.
    {"ExitButtonStreamingFromSink", "deliver after-sink", false},
    {"EndSession", "deliver after-claim", true},
};

class EndDuringStream : public testing::TestWithParam<StreamEnd> {};

TEST_P(EndDuringStream, NeverCrashesHangsOrTakesALatePacket) {
    const StreamEnd& end = GetParam();
    ScenarioText scenario;
    scenario.Line("rate max").Line("repeat 0").Line(end.delivery).Idle(LeadPackets);
    if (!end.byMessage) {
        scenario.Tap(ExitButton());
    }
    scenario.Idle(TrailPackets);

    for (int run = 0; run < Runs; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        RunFiles files(scenario);
        Tapdeck app(files.scenario.Path(), files.journal.Path());
        ASSERT_TRUE(app.Started());
        if (end.byMessage) {
            ASSERT_TRUE(app.WaitModeOn(HangMs));
            ASSERT_TRUE(app.WaitForEvent("Packet", HangMs));
            // Vary where in the stream the message lands.
            Sleep(run % 5 * 3);
            ASSERT_TRUE(SendTo(FindPadWindow(), WM_ENDSESSION, TRUE, 0));
        }
        ASSERT_TRUE(app.Wait(HangMs)) << "hung";
        ASSERT_EQ(app.ExitCode(), 0u);

        const auto journal = app.Journal();
        EXPECT_GT(CountEvent(journal, "Packet"), 0);
        EXPECT_EQ(CountEvent(journal, "Unclaim"), 1);
        EXPECT_EQ(LedWrites(journal), (std::vector<LONG>{ModeLedOn, ModeLedOff}));
        long long deviceGone = -1;
        for (size_t i = 0; i < journal.size(); ++i) {
            const auto& e = journal[i];
            if (e.event == "Release" && e.Text("object") == "PointingDevice") {
                deviceGone = static_cast<long long>(i);
            }
        }
        ASSERT_GE(deviceGone, 0) << "the device object was never released";
        for (size_t i = static_cast<size_t>(deviceGone); i < journal.size(); ++i) {
            EXPECT_NE(journal[i].event, "Packet") << "a packet after the device was released";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Ends, EndDuringStream, testing::ValuesIn(StreamEnds), RowName());

} // namespace
} // namespace e2e
