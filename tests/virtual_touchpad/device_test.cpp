// velptp.dll's device on a virtual touchpad, in this process: what a pad that comes and goes
// does to the packets and to the claim's mouse hook. The hook's counts are of real low-level
// hook calls, made by injected moves.
#include <gtest/gtest.h>

#include <objbase.h>

#include "mouse_hook.h"
#include "sim/sim_fixture.h"
#include "support/recording_sink.h"
#include "velptp_core.h"
#include "virtual_pads.h"

namespace {

void MoveMouse() {
    INPUT move = {};
    move.type = INPUT_MOUSE;
    move.mi.dx = 3;
    move.mi.dy = 2;
    move.mi.dwFlags = MOUSEEVENTF_MOVE;
    SendInput(1, &move, sizeof move);
}

// The hook's counts once it has seen one more call than `before`.
MouseHookCounts AfterAMove() {
    const long seen = MouseHookTotals().seen;
    MoveMouse();
    for (int i = 0; i < 2000 && MouseHookTotals().seen == seen; ++i) {
        Sleep(1);
    }
    return MouseHookTotals();
}

// The hybrid-mode pad's report of finger 1 (tests/virtual_touchpad/pads/hybrid-one-finger.hid).
std::string Report(bool tip, int x, int y, int scan) {
    char text[64];
    snprintf(text, sizeof text, "04 %02X %02X %02X %02X %02X %02X %02X 01 00", tip ? 7 : 5,
             x & 0xFF, x >> 8, y & 0xFF, y >> 8, scan & 0xFF, (scan >> 8) & 0xFF);
    return text;
}

class PadDevice : public testing::Test {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        vpadtest::RemoveAll();
        vpadtest::Install(L"pad", L"hybrid-one-finger");
        ASSERT_FALSE(HasFatalFailure());
        ASSERT_NE(vpadtest::RawInputHandle(L"pad", 0), nullptr);
        void* made = nullptr;
        ASSERT_EQ(PtpCreateObject(PtpObject::VelAPI, IID_DeviceApi, &made), S_OK);
        api = Owned<DeviceApi>(static_cast<DeviceApi*>(made));
        ASSERT_EQ(PtpCreateObject(PtpObject::PointingDevice, IID_PointingDevice, &made), S_OK);
        device = Owned<PointingDevice>(static_cast<PointingDevice*>(made));
        ASSERT_EQ(PtpCreateObject(PtpObject::VelPacket, IID_DevicePacket, &made), S_OK);
        packet = Owned<DevicePacket>(static_cast<DevicePacket*>(made));
        sink = std::make_unique<RecordingSink>(device.Get(), packet.Get());
        LONG handle = 0;
        ASSERT_EQ(api->LocateDevice(0, 0, &handle), S_OK);
        ASSERT_EQ(device->Attach(handle), S_OK);
        ASSERT_EQ(device->SetPacketSink(sink.get()), S_OK);
        ASSERT_EQ(device->Claim(0), S_OK);
        std::string error;
        ASSERT_TRUE(feeder.Open(L"pad", error)) << error;
    }
    void TearDown() override {
        if (device) {
            device->Unclaim();
            EXPECT_TRUE(PtpWaitDelivery(5000));
        }
        device.Reset();
        packet.Reset();
        api.Reset();
        vpadtest::RemoveAll();
    }
    void Feed(const std::string& report) {
        vpadtest::Feed(feeder, report.c_str());
        Sleep(8);
    }
    // A finger down at (x, y) that moves a little, `frames` reports.
    void Touch(int x, int y, int frames) {
        for (int i = 0; i < frames; ++i) {
            Feed(Report(true, x + i * 8, y, scan));
            scan += 80;
        }
    }

    Owned<DeviceApi> api;
    Owned<PointingDevice> device;
    Owned<DevicePacket> packet;
    std::unique_ptr<RecordingSink> sink;
    vtp::PadFeeder feeder;
    int scan = 0;
};

TEST_F(PadDevice, APadUnpluggedMidTouchLiftsTheFingerWithoutATapAndFreesTheMouseAtOnce) {
    Touch(2000, 1200, 5);
    ASSERT_TRUE(sink->WaitForCalls(5));
    MouseHookCounts before = MouseHookTotals();
    MouseHookCounts after = AfterAMove();
    EXPECT_EQ(after.inUse, before.inUse + 1) << "a finger on the pad holds the mouse";

    vpadtest::Unplug(L"pad");
    for (int i = 0; i < 2000 && (sink->Calls().empty() || sink->Calls().back().a != 0); ++i) {
        Sleep(1);
    }
    const std::vector<Call> calls = sink->Calls();
    ASSERT_EQ(calls.back().a, 0) << "the finger is lifted";
    for (const Call& c : calls) {
        EXPECT_EQ(c.a & 0x10000, 0) << "no tap";
    }
    // At once, not PadInUseMs later.
    before = MouseHookTotals();
    after = AfterAMove();
    EXPECT_EQ(after.seen, before.seen + 1);
    EXPECT_EQ(after.inUse, before.inUse) << "the pad is gone: every mouse works";

    // Plugged back in, the pad is read again and taps.
    vpadtest::Replug(L"pad");
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_NE(vpadtest::RawInputHandle(L"pad", 0), nullptr);
    std::string error;
    ASSERT_TRUE(feeder.Open(L"pad", error)) << error;
    const size_t done = sink->Count();
    Feed(Report(true, 3000, 1200, scan += 8000));
    Feed(Report(true, 3000, 1200, scan += 80));
    Feed(Report(false, 3000, 1200, scan += 80));
    ASSERT_TRUE(sink->WaitForCalls(done + 4));
    const std::vector<Call> tap = sink->Calls();
    EXPECT_EQ(tap[done + 2].a, 0x10000) << "the lift of a tap";
}

TEST_F(PadDevice, APadThatNeverReportsLeavesEveryMouseWorking) {
    const MouseHookCounts before = MouseHookTotals();
    const MouseHookCounts after = AfterAMove();
    ASSERT_EQ(after.seen, before.seen + 1) << "the claim's hook is in place";
    EXPECT_EQ(after.inUse, before.inUse);
    EXPECT_EQ(after.swallowed, before.swallowed);
}

} // namespace
