// velptp.dll's device on a virtual touchpad, in this process: what a pad that comes and goes
// does to the packets and to the claim's mouse hook. The hook's counts are of real low-level
// hook calls, made by injected moves.
#include <gtest/gtest.h>

#include <objbase.h>

#include "ptp/claim_settle.h"
#include "mouse_hook.h"
#include "pad_device.h"
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

class OnPad : public testing::Test {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        vpadtest::RemoveAll();
        vpadtest::Install(L"pad", L"hybrid-one-finger");
        ASSERT_FALSE(HasFatalFailure());
        ASSERT_NE(vpadtest::RawInputHandle(L"pad", 0), nullptr);
        pad = std::make_unique<vpadtest::PadDevice>();
        ASSERT_NO_FATAL_FAILURE(pad->Attach());
        ASSERT_EQ(pad->device->Claim(0), S_OK);
        ptptest::WaitOutClaimSettle();
        std::string error;
        ASSERT_TRUE(feeder.Open(L"pad", error)) << error;
    }
    void TearDown() override {
        pad.reset();
        vpadtest::RemoveAll();
    }
    void Feed(bool tip, int x, int y) {
        std::string error;
        EXPECT_TRUE(feeder.Send(vpadtest::OneFingerReport(tip, x, y, scan), error)) << error;
        scan += 80;
        Sleep(8);
    }
    // A finger down at (x, y) that moves a little, `frames` reports.
    void Touch(int x, int y, int frames) {
        for (int i = 0; i < frames; ++i) {
            Feed(true, x + i * 8, y);
        }
    }

    std::unique_ptr<vpadtest::PadDevice> pad;
    vtp::PadFeeder feeder;
    int scan = 0;
};

TEST_F(OnPad, APadUnpluggedMidTouchLiftsTheFingerWithoutATapAndFreesTheMouseAtOnce) {
    Touch(2000, 1200, 5);
    ASSERT_TRUE(pad->sink->WaitForCalls(5)) << vtp::DescribeDelivery(L"pad");
    MouseHookCounts before = MouseHookTotals();
    MouseHookCounts after = AfterAMove();
    EXPECT_EQ(after.inUse, before.inUse + 1) << "a finger on the pad holds the mouse";

    vpadtest::Unplug(L"pad");
    for (int i = 0; i < 2000 && (pad->sink->Calls().empty() || pad->sink->Calls().back().a != 0);
         ++i) {
        Sleep(1);
    }
    const std::vector<Call> calls = pad->sink->Calls();
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
    const size_t done = pad->sink->Count();
    scan += 8000;
    Feed(true, 3000, 1200);
    Feed(true, 3000, 1200);
    Feed(false, 3000, 1200);
    ASSERT_TRUE(pad->sink->WaitForCalls(done + 4)) << vtp::DescribeDelivery(L"pad");
    const std::vector<Call> tap = pad->sink->Calls();
    EXPECT_EQ(tap[done + 2].a, 0x10000) << "the lift of a tap";
}

TEST_F(OnPad, ALiftInAReportShortOfItsContactsIsTakenWithoutWaitingForAnotherReport) {
    Feed(true, 2000, 1200);
    Feed(true, 2000, 1200);
    // The lift comes in a report that announces two contacts and brings one, and nothing
    // follows: the frame is finished once its scan is over, and the tap comes.
    vtp::Bytes lift = vpadtest::OneFingerReport(false, 2000, 1200, scan);
    lift[8] = 2; // the contact count
    std::string error;
    ASSERT_TRUE(feeder.Send(lift, error)) << error;
    ASSERT_TRUE(pad->sink->WaitForCalls(4)) << vtp::DescribeDelivery(L"pad");
    const std::vector<Call> calls = pad->sink->Calls();
    EXPECT_EQ(calls[2].a, 0x10000) << "the lift of a tap";
    EXPECT_EQ(calls[3].a, 0);
}

TEST_F(OnPad, APadThatNeverReportsLeavesEveryMouseWorking) {
    const MouseHookCounts before = MouseHookTotals();
    const MouseHookCounts after = AfterAMove();
    ASSERT_EQ(after.seen, before.seen + 1) << "the claim's hook is in place";
    EXPECT_EQ(after.inUse, before.inUse);
    EXPECT_EQ(after.swallowed, before.swallowed);
}

} // namespace
