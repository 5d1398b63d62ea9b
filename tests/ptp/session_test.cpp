// Whole sessions on a Precision Touchpad as a person makes them, from frames to keys: the
// translation core's packets fed to the real PadApp in this process give the keys the person
// expects; and the same session, delivered by a velptp device with recording on, replays on
// the simulated touchpad with the real tapdeck.exe and gives the same keys.
#include <gtest/gtest.h>

#include <objbase.h>

#include <string>
#include <vector>

#include "device/pad_app.h"
#include "ptp/scripted_frames.h"
#include "ptp/test_pad.h"
#include "scenario_writer.h"
#include "sim/sim_fixture.h"
#include "support/close_recorder.h"
#include "support/key_hook.h"
#include "support/process.h"
#include "support/recording_sink.h"
#include "support/sim_scenario.h"
#include "velptp_core.h"

namespace {

using namespace ptptest;

// A frame of the session, `ms` after its start.
struct TimedFrame {
    uint32_t ms;
    ptp::Frame frame;
};

// Builds a session on the test pad, frame by frame, 8 ms apart as a pad reports.
class Session {
public:
    // A finger put down at the device point (x, y), held for three frames and lifted.
    Session& Tap(int32_t deviceX, int32_t deviceY) {
        const int32_t x = LogicalX(deviceX);
        const int32_t y = LogicalY(deviceY);
        Add({{id, x, y}});
        Add({{id, x, y}});
        Add({{id, x, y}});
        Add({{id, x, y, false}});
        return Next();
    }
    // A finger put down at (x, y) and slid `mm` up (negative: down), a millimetre a frame.
    Session& Slide(int32_t deviceX, int32_t deviceY, int mm) {
        const int32_t x = LogicalX(deviceX);
        int32_t y = LogicalY(deviceY);
        Add({{id, x, y}});
        for (int i = 0; i < (mm < 0 ? -mm : mm); ++i) {
            y += mm < 0 ? UnitsPerMm : -UnitsPerMm;
            Add({{id, x, y}});
        }
        Add({{id, x, y, false}});
        return Next();
    }
    const std::vector<TimedFrame>& Frames() const { return frames; }

private:
    void Add(std::initializer_list<Touch> touches) {
        frames.push_back({clock, MakeFrame(clock, touches)});
        clock += 8;
    }
    // A pause between touches, and a new contact id.
    Session& Next() {
        clock += 150;
        ++id;
        return *this;
    }

    std::vector<TimedFrame> frames;
    uint32_t clock = 0;
    uint32_t id = 1;
};

// Device points of Tapdeck's layout on the edges 1000 1000 7000 5800 (Y grows toward the top
// edge): play/pause is the middle button of the row nearest the bottom edge, the exit button
// is at the top right, the volume strip along the right edge.
constexpr int32_t PlayPauseX = 3500, PlayPauseY = 1800;
constexpr int32_t ExitX = 6000, ExitY = 5100;
constexpr int32_t StripX = 6600, StripLowY = 3000, StripHighY = 5000;

// Play/pause, 24 mm up the strip, 8 mm down it, then the exit button.
Session TheSession() {
    Session s;
    s.Tap(PlayPauseX, PlayPauseY)
        .Slide(StripX, StripLowY, 24)
        .Slide(StripX, StripHighY, -8)
        .Tap(ExitX, ExitY);
    return s;
}

std::vector<ptp::Frame> SessionFrames() {
    const Session session = TheSession();
    std::vector<ptp::Frame> frames;
    for (const TimedFrame& f : session.Frames()) {
        frames.push_back(f.frame);
    }
    return frames;
}

// What a person expects of it: the play/pause key; a volume step up for every 4 mm up (three
// volume-key strokes a step, as no player is open), a step down for every 4 mm down.
std::vector<KeyRecord> ExpectedKeys() {
    std::vector<KeyRecord> keys;
    const auto stroke = [&keys](DWORD vk, int times) {
        for (int i = 0; i < times; ++i) {
            keys.push_back({vk, false, true});
            keys.push_back({vk, true, true});
        }
    };
    stroke(VK_MEDIA_PLAY_PAUSE, 1);
    stroke(VK_VOLUME_UP, 6 * 3);
    stroke(VK_VOLUME_DOWN, 2 * 3);
    return keys;
}

std::vector<KeyRecord> WaitForKeys(const KeyHook& hook, size_t count) {
    hook.WaitFor(count, 5000);
    Sleep(100); // and a little longer for any extra one
    return hook.Events();
}

TEST(PtpSession, TheCoresPacketsGiveThePadAppTheKeysAPersonExpects) {
    // The core's packets, as the recorder writes them, played by the simulated touchpad as
    // fast as PadApp takes them.
    const std::vector<ptp::Packet> packets = Translate(TestPad(), SessionFrames());
    std::string text = ptp::ScenarioHeader(DeviceKindTouchpad, TestPad());
    char line[ptp::PacketLineMax];
    for (const ptp::Packet& p : packets) {
        text.append(line, ptp::FormatPacketLine(p, 0, line));
    }

    KeyHook hook;
    ASSERT_TRUE(hook.Installed());
    SimScenario scenario(text);
    CloseRecorder window;
    padWindow.store(window.Handle());
    {
        PadApp app;
        ASSERT_EQ(app.EnterMode(), 1);
        // The main thread pumps: the exit button sends the window WM_CLOSE.
        EXPECT_TRUE(PumpUntil([] { return SimWaitDelivery(0) != FALSE; }, 10000));
    }
    padWindow.store(nullptr);
    EXPECT_EQ(WaitForKeys(hook, ExpectedKeys().size()), ExpectedKeys());
    EXPECT_EQ(window.Closes(), 1) << "the exit button ends the mode";
}

// Delivers the session through a velptp device with recording on, in real time, and returns
// the packets its sink received.
std::vector<Call> RecordSession(const std::wstring& path) {
    ScopedVariable record(RecordVariable, path);
    auto script = ScriptedFrames::Make();
    void* made = nullptr;
    EXPECT_EQ(PtpCreateObject(PtpObject::PointingDevice, IID_PointingDevice, &made), S_OK);
    Owned<PointingDevice> device(static_cast<PointingDevice*>(made));
    EXPECT_EQ(PtpCreateObject(PtpObject::VelPacket, IID_DevicePacket, &made), S_OK);
    Owned<DevicePacket> packet(static_cast<DevicePacket*>(made));
    RecordingSink sink(device.Get(), packet.Get());
    EXPECT_EQ(PtpAttachSource(device.Get(), TestPad(), script->Maker()), S_OK);
    EXPECT_EQ(device->SetPacketSink(&sink), S_OK);
    EXPECT_EQ(device->Claim(0), S_OK);
    // As a pad does: each frame at its time, on the frames' clock.
    Sleep(200);
    const uint32_t startMs = FrameClock() / 1000;
    const Session session = TheSession();
    for (const TimedFrame& f : session.Frames()) {
        ptp::Frame frame = f.frame;
        frame.timeUs = (startMs + f.ms) * 1000;
        while (FrameClock() / 1000 < startMs + f.ms) {
            Sleep(1);
        }
        script->Push(frame);
    }
    Sleep(100);
    EXPECT_EQ(device->Unclaim(), S_OK);
    EXPECT_TRUE(PtpWaitDelivery(5000));
    device.Reset();
    return sink.Calls();
}

TEST(PtpSession, ARecordedSessionReplaysOnTheSimulatorWithTapdeckAndGivesTheSameKeys) {
    CoInitialize(nullptr);
    const std::wstring path = TempFilePath(L"ses");
    const std::vector<Call> delivered = RecordSession(path);
    // The device delivered what the core makes of the session's frames.
    const std::vector<ptp::Packet> packets = Translate(TestPad(), SessionFrames());
    ASSERT_EQ(delivered.size(), packets.size());
    for (size_t i = 0; i < packets.size(); ++i) {
        EXPECT_EQ(static_cast<DWORD>(delivered[i].a), packets[i].flagsA) << i;
        EXPECT_EQ(delivered[i].x, packets[i].x) << i;
        EXPECT_EQ(delivered[i].y, packets[i].y) << i;
        EXPECT_EQ(delivered[i].motion, packets[i].motion) << i;
    }
    const std::string recorded = ReadWholeFile(path);
    ASSERT_NE(recorded.find("kind 13\n"), std::string::npos) << recorded;

    KeyHook hook;
    ASSERT_TRUE(hook.Installed());
    const std::wstring tapdeck = EnvironmentValue(L"TAPDECK_EXE");
    ASSERT_FALSE(tapdeck.empty());
    ChildProcess::Options options;
    options.environment = {{L"VELSIM_SCENARIO", path}, {L"VELSIM_JOURNAL", L""}};
    ChildProcess app = ChildProcess::Start(tapdeck, L"", options);
    ASSERT_TRUE(app.Started()) << app.StartError();
    // The session's last touch is the exit button: Tapdeck ends by itself.
    ASSERT_TRUE(app.Wait(20000)) << "still running after the recorded session";
    EXPECT_EQ(app.ExitCode(), 0u);
    EXPECT_EQ(WaitForKeys(hook, ExpectedKeys().size()), ExpectedKeys());
    if (!HasFailure()) {
        DeleteFileW(path.c_str());
    }
}

} // namespace
