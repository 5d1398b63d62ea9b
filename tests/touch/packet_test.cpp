// Packets delivered by the simulated touchpad, on its own thread, through a PadApp whose mode
// is on: taps on buttons, motion on the strip, and what reaches the keyboard and the device.
#include <gtest/gtest.h>

#include <array>
#include <sstream>
#include <string>
#include <vector>

#include "device/pad_app.h"
#include "support/close_recorder.h"
#include "support/key_hook.h"
#include "support/sim_scenario.h"

namespace {

struct Packet {
    DWORD a;
    DWORD b;
    LONG x;
    LONG y;
    LONG motion;
};

// Device points on the pad (1000, 1000, 7000, 5800), the touchpad's default edges. Buttons are
// hit with the turned-over Y (6800 - y); the strip with the device's own.
constexpr LONG OnButton1X = 1500, OnButton1Y = 5000; // turned over: 1800
constexpr LONG OnButton8X = 3500, OnButton8Y = 2000; // turned over: 4800
constexpr LONG OnButton9X = 4800, OnButton9Y = 2000;
constexpr LONG NowhereX = 6500, NowhereY = 1500;         // turned over 5300: no button, no strip
constexpr LONG InStripX = 6500, InStripY = 4000;         // turned over 2800: no button
constexpr LONG StripOrExitX = 6500, StripOrExitY = 5000; // strip as is, exit turned over

constexpr DWORD Down = FlagsAFinger;
constexpr DWORD DownGesture = FlagsAFinger | FlagsAGesture;
constexpr DWORD UpGesture = FlagsAGesture;
constexpr DWORD Up = 0;

std::string ScenarioText(const Packet* packets, size_t count, const char* extra) {
    std::ostringstream text;
    text << "rate max\n" << extra << "\n";
    for (size_t i = 0; i < count; ++i) {
        const Packet& p = packets[i];
        text << "packet a=" << p.a << " b=" << p.b << " x=" << p.x << " y=" << p.y
             << " motion=" << p.motion << "\n";
    }
    return text.str();
}

struct Outcome {
    DWORD tapState;
    LONG tapFlag;
    LONG touching;
    LONG lastX;
    LONG lastY;
    LONG motionSum;
    std::vector<KeyRecord> keys;
    std::vector<JournalRecord> journal;
    int closes;
};

// The keystrokes of each virtual key, one press and one release each, all injected.
std::vector<KeyRecord> Keystrokes(std::initializer_list<WORD> vks) {
    std::vector<KeyRecord> events;
    for (WORD vk : vks) {
        events.push_back({vk, false, true});
        events.push_back({vk, true, true});
    }
    return events;
}

class PacketTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(hook.Installed()); }

    // Starts the mode on a scenario of these packets, lets all of them be delivered, and
    // reports the state they left behind.
    Outcome Run(const Packet* packets, size_t count, const char* extra = "") {
        SimScenario scenario(ScenarioText(packets, count, extra));
        CloseRecorder window;
        padWindow.store(window.Handle());
        hook.Clear();
        Outcome out{};
        {
            PadApp app;
            EXPECT_EQ(app.EnterMode(), 1);
            // The main thread keeps pumping: a button that leaves the mode sends it WM_CLOSE.
            EXPECT_TRUE(PumpUntil([] { return SimWaitDelivery(0) != FALSE; }, 10000));
            out = {app.tapState,  app.tapFlag, app.touching, app.lastX,      app.lastY,
                   app.motionSum, {},          {},           window.Closes()};
        }
        padWindow.store(nullptr);
        out.keys = hook.Events();
        out.journal = scenario.Journal();
        return out;
    }

    template <size_t N> Outcome Run(const std::array<Packet, N>& packets, const char* extra = "") {
        return Run(packets.data(), N, extra);
    }

    KeyHook hook;
};

bool LeftTheMode(const Outcome& out) {
    return FindEvent(out.journal, "Unclaim") >= 0 && out.closes == 1;
}

struct Step {
    Packet packet;
    DWORD tapState;
    LONG tapFlag;
    LONG lastX;
    LONG lastY;
    LONG motionSum;
};

// Each row is the state after its packet and all the packets above it.
constexpr Step tapOnButton1[] = {
    {{Down, 0, OnButton1X, OnButton1Y, 0}, 0x2000, 0, 1500, 1800, 0},
    {{DownGesture, 0, OnButton1X, OnButton1Y, 0}, 0x12000, 0, 1500, 1800, 0},
    {{UpGesture, 0, 0, 0, 0}, 0x12000, 0, 1500, 1800, 0},
    // The gesture bit falls: a tap at (1500, 1800), button 1 runs, the gesture is reset.
    {{Up, 0, 0, 0, 0}, 0, 0, 1500, 1800, 0},
};

constexpr Step motionOnStrip[] = {
    // The first packet with the finger down after one without counts no motion.
    {{Down, 0, InStripX, InStripY, 99}, 0x2000, 0, InStripX, 2800, 0},
    {{Down, 0, InStripX, InStripY, 10}, 0x2000, 0, InStripX, 2800, 10},
    {{Down, 0, InStripX, InStripY, 10}, 0x2000, 0, InStripX, 2800, 20},
    // 26 is over the threshold: one step up, and the sum starts again.
    {{Down, 0, InStripX, InStripY, 6}, 0x2000, 0, InStripX, 2800, 0},
};

TEST_F(PacketTest, StateAfterEachPacket) {
    for (const auto* steps : {&tapOnButton1, &motionOnStrip}) {
        std::vector<Packet> packets;
        for (const Step& step : *steps) {
            packets.push_back(step.packet);
            SCOPED_TRACE(packets.size());
            const Outcome out = Run(packets.data(), packets.size());
            EXPECT_EQ(out.tapState, step.tapState);
            EXPECT_EQ(out.tapFlag, step.tapFlag);
            EXPECT_EQ(out.lastX, step.lastX);
            EXPECT_EQ(out.lastY, step.lastY);
            EXPECT_EQ(out.motionSum, step.motionSum);
        }
    }
}

struct SequenceCase {
    const char* name;
    std::array<Packet, 6> packets;
    size_t count;
    std::array<WORD, 3> keystrokes;
    size_t keystrokeCount;
    bool leaves;
    LONG tapFlag;
    DWORD tapState;
    LONG motionSum;
};

constexpr WORD Home = VK_BROWSER_HOME, PlayPauseKey = VK_MEDIA_PLAY_PAUSE,
               NextKey = VK_MEDIA_NEXT_TRACK, VolUp = VK_VOLUME_UP, VolDown = VK_VOLUME_DOWN;

constexpr SequenceCase sequences[] = {
    {"tap on button 1 runs browser home and leaves the mode",
     {{{Down, 0, OnButton1X, OnButton1Y, 0},
       {DownGesture, 0, OnButton1X, OnButton1Y, 0},
       {UpGesture, 0, 0, 0, 0},
       {Up, 0, 0, 0, 0}}},
     4,
     {Home},
     1,
     true,
     0,
     0,
     0},
    {"gesture without a finger since the last tap is no tap",
     {{{UpGesture, 0, 0, 0, 0}, {Up, 0, 0, 0, 0}}},
     2,
     {},
     0,
     false,
     0,
     0,
     0},
    // The finger came and went without a tap; a later gesture taps where it last was.
    {"stale position tap",
     {{{Down, 0, OnButton8X, OnButton8Y, 0},
       {Up, 0, 0, 0, 0},
       {UpGesture, 0, 0, 0, 0},
       {Up, 0, 0, 0, 0}}},
     4,
     {PlayPauseKey},
     1,
     false,
     0,
     0,
     0},
    {"a tap on a packet with the finger down takes that packet's position",
     {{{Down, 0, OnButton1X, OnButton1Y, 0},
       {DownGesture, 0, OnButton1X, OnButton1Y, 0},
       {Down, 0, OnButton8X, OnButton8Y, 0}}},
     3,
     {PlayPauseKey},
     1,
     false,
     0,
     0,
     0},
    // No button under the tap: it stays pending, and the next packet with the gesture bit set
    // finds button 9 under the finger.
    {"pending tap finds a button later",
     {{{Down, 0, NowhereX, NowhereY, 0},
       {DownGesture, 0, NowhereX, NowhereY, 0},
       {Up, 0, 0, 0, 0},
       {DownGesture, 0, OnButton9X, OnButton9Y, 0}}},
     4,
     {NextKey},
     1,
     false,
     0,
     0x12000,
     0},
    {"pending tap is dropped by the next packet without the gesture bit",
     {{{Down, 0, NowhereX, NowhereY, 0},
       {DownGesture, 0, NowhereX, NowhereY, 0},
       {Up, 0, 0, 0, 0},
       {Down, 0, OnButton9X, OnButton9Y, 0}}},
     4,
     {},
     0,
     false,
     0,
     0x2000,
     0},
    {"pending tap counts no strip motion",
     {{{Down, 0, NowhereX, NowhereY, 0},
       {DownGesture, 0, NowhereX, NowhereY, 0},
       {Up, 0, 0, 0, 0},
       {DownGesture, 0, InStripX, InStripY, 0},
       {DownGesture, 0, InStripX, InStripY, 40}}},
     5,
     {},
     0,
     false,
     1,
     0x12000,
     0},
    {"20 and 5 make 25: no step",
     {{{Down, 0, InStripX, InStripY, 0},
       {Down, 0, InStripX, InStripY, 20},
       {Down, 0, InStripX, InStripY, 5}}},
     3,
     {},
     0,
     false,
     0,
     0x2000,
     25},
    {"-30 steps down",
     {{{Down, 0, InStripX, InStripY, 0}, {Down, 0, InStripX, InStripY, -30}}},
     2,
     {VolDown, VolDown, VolDown},
     3,
     false,
     0,
     0x2000,
     0},
    {"flags B alone says the finger is down",
     {{{Up, FlagsBFinger, InStripX, InStripY, 0}, {Up, FlagsBFinger, InStripX, InStripY, 30}}},
     2,
     {VolUp, VolUp, VolUp},
     3,
     false,
     0,
     0x2000,
     0},
    {"sliding at the exit button's spot is strip motion",
     {{{Down, 0, StripOrExitX, StripOrExitY, 0}, {Down, 0, StripOrExitX, StripOrExitY, 30}}},
     2,
     {VolUp, VolUp, VolUp},
     3,
     false,
     0,
     0x2000,
     0},
    {"tapping the same spot is the exit button",
     {{{Down, 0, StripOrExitX, StripOrExitY, 0},
       {DownGesture, 0, StripOrExitX, StripOrExitY, 0},
       {Up, 0, 0, 0, 0}}},
     3,
     {},
     0,
     true,
     0,
     0,
     0},
    {"sliding out of the strip and back keeps the sum",
     {{{Down, 0, InStripX, InStripY, 0},
       {Down, 0, InStripX, InStripY, 10},
       {Down, 0, OnButton8X, OnButton8Y, 50},
       {Down, 0, InStripX, InStripY, 10}}},
     4,
     {},
     0,
     false,
     0,
     0x2000,
     20},
    {"lifting the finger clears the sum",
     {{{Down, 0, InStripX, InStripY, 0}, {Down, 0, InStripX, InStripY, 20}, {Up, 0, 0, 0, 0}}},
     3,
     {},
     0,
     false,
     0,
     0x2000,
     0},
};

TEST_F(PacketTest, Sequences) {
    for (const SequenceCase& c : sequences) {
        SCOPED_TRACE(c.name);
        const Outcome out = Run(c.packets.data(), c.count);
        std::vector<KeyRecord> expected;
        for (size_t i = 0; i < c.keystrokeCount; ++i) {
            const auto stroke = Keystrokes({c.keystrokes[i]});
            expected.insert(expected.end(), stroke.begin(), stroke.end());
        }
        EXPECT_EQ(out.keys, expected);
        EXPECT_EQ(LeftTheMode(out), c.leaves);
        EXPECT_EQ(out.tapFlag, c.tapFlag);
        EXPECT_EQ(out.tapState, c.tapState);
        EXPECT_EQ(out.motionSum, c.motionSum);
        // Every packet was handled and answered 0.
        const auto handled = FindEvents(out.journal, "Packet");
        EXPECT_EQ(handled.size(), c.count);
        for (const auto& record : handled) {
            EXPECT_EQ(record.Num("result"), 0);
        }
    }
}

// Which packet properties were read for the packet with this index.
std::vector<long long> ReadsOf(const std::vector<JournalRecord>& journal, long long index) {
    std::vector<long long> ids;
    for (const auto& record : FindEvents(journal, "PacketRead")) {
        if (record.Num("index") == index) {
            ids.push_back(record.Num("id").value_or(0));
        }
    }
    return ids;
}

bool Contains(const std::vector<long long>& ids, LONG id) {
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

TEST_F(PacketTest, ReadsOnlyWhatItNeeds) {
    const std::array<Packet, 3> packets = {{
        {Down, FlagsBFinger, InStripX, InStripY, 7},
        {Up, FlagsBFinger, InStripX, InStripY, 7},
        {Down, 0, InStripX, InStripY, 7},
    }};
    const Outcome out = Run(packets, "journal packet-reads");
    // Packet 0: flags A says the finger is down, so flags B is not read; nor is the motion of
    // the first finger-down packet.
    EXPECT_FALSE(Contains(ReadsOf(out.journal, 0), PropFlagsB));
    EXPECT_FALSE(Contains(ReadsOf(out.journal, 0), PropMotion));
    // Packet 1: flags A is clear, so flags B decides; the finger stayed down, so motion counts.
    EXPECT_TRUE(Contains(ReadsOf(out.journal, 1), PropFlagsB));
    EXPECT_TRUE(Contains(ReadsOf(out.journal, 1), PropMotion));
    EXPECT_EQ(out.motionSum, 14);
}

// A tap on button 8, for the cases where nothing may come of it.
constexpr std::array<Packet, 4> tapOnButton8 = {{
    {Down, 0, OnButton8X, OnButton8Y, 0},
    {DownGesture, 0, OnButton8X, OnButton8Y, 0},
    {UpGesture, 0, 0, 0, 0},
    {Up, 0, 0, 0, 0},
}};

TEST_F(PacketTest, APacketThatCannotBeMadeIsSkipped) {
    // The first packet object is PadApp's own copy of the previous packet; every later one fails.
    const Outcome out = Run(tapOnButton8, "create VelPacket fail after 1");
    EXPECT_TRUE(out.keys.empty());
    EXPECT_EQ(out.tapState, 0u);
    EXPECT_EQ(out.lastX, 0);
    EXPECT_EQ(out.lastY, 0);
    const auto handled = FindEvents(out.journal, "Packet");
    EXPECT_EQ(handled.size(), tapOnButton8.size());
    for (const auto& record : handled) {
        EXPECT_EQ(record.Num("result"), 0);
    }
}

TEST_F(PacketTest, PacketsAroundAFailedStartAreIgnored) {
    SimScenario scenario(ScenarioText(tapOnButton8.data(), tapOnButton8.size(),
                                      "deliver after-sink\nstatus Claim 5"));
    hook.Clear();
    {
        PadApp app;
        EXPECT_EQ(app.EnterMode(), 0);
        EXPECT_TRUE(SimWaitDelivery(10000));
        EXPECT_EQ(app.tapState, 0u);
    }
    EXPECT_TRUE(hook.Events().empty());
    EXPECT_EQ(FindEvents(scenario.Journal(), "Packet").size(), tapOnButton8.size());
}

TEST_F(PacketTest, PacketsDuringASuccessfulStartWaitForItAndAreHandled) {
    // Delivered from SetPacketSink on, all while the mode start is still going on.
    const Outcome out = Run(tapOnButton8, "deliver after-sink\ndelay Claim 100");
    EXPECT_EQ(out.keys, Keystrokes({VK_MEDIA_PLAY_PAUSE}));
    EXPECT_EQ(out.lastX, OnButton8X);
}

TEST_F(PacketTest, LeavingFromTheMainThreadDuringAStreamEndsCleanly) {
    // Finger down on no button and off the strip, as fast as the library can deliver, forever.
    SimScenario scenario("rate max\nrepeat 0\npacket a=0x2000 x=6500 y=1500\n");
    CloseRecorder window;
    padWindow.store(window.Handle());
    {
        PadApp app;
        ASSERT_EQ(app.EnterMode(), 1);
        PumpUntil([&] { return FindEvents(scenario.Journal(), "Packet").size() > 100; }, 10000);
        app.LeaveMode();
        EXPECT_EQ(window.Closes(), 1);
    }
    padWindow.store(nullptr);
    EXPECT_TRUE(SimWaitDelivery(5000));
    const auto journal = scenario.Journal();
    const auto ends = FindEvents(journal, "DeliveryEnd");
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(ends[0].Text("reason"), "unclaim");
    EXPECT_EQ(SimLiveObjects(), 0);
}

} // namespace
