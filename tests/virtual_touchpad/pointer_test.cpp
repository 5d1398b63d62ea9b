// Real pointer input and the claim's mouse hook: run in Wine's virtual desktop on an X server
// (pointer_test.sh), where xdotool's clicks reach the hook as input that is not injected, as a
// mouse's do. A window under the pointer gets no click while a virtual pad reports a finger and
// the claim is on, and gets it when the pad is silent, after Unclaim and once the pad is
// unplugged; a sink that holds the delivery thread for 2 s lets no click through, during the
// stall or after it; a drag of the mouse that ends while a finger touches the pad ends.
#include <gtest/gtest.h>

#include <objbase.h>

#include <atomic>
#include <thread>

#include "ptp/claim_settle.h"
#include "mouse_hook.h"
#include "pad_device.h"
#include "velptp_core.h"
#include "virtual_pads.h"

namespace {

// Where the target window is on the virtual desktop, and so on the X screen.
constexpr int TargetX = 200, TargetY = 150, TargetW = 400, TargetH = 300;

std::atomic<int> clicks{0};
std::atomic<int> releases{0};

LRESULT CALLBACK TargetProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_LBUTTONDOWN) {
        clicks.fetch_add(1);
    } else if (message == WM_LBUTTONUP) {
        releases.fetch_add(1);
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void Pump(DWORD ms) {
    const DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    } while (GetTickCount() - start < ms);
}

// The X server's pointer moved to the middle of the target and `action` done there ("click 1",
// "mousedown 1"...), through xdotool (Wine starts Unix programs too); then the window's
// messages are handled for a while.
void PointerAtTarget(const wchar_t* action) {
    wchar_t command[128];
    swprintf(command, std::size(command), L"/usr/bin/xdotool mousemove %d %d %ls",
             TargetX + TargetW / 2, TargetY + TargetH / 2, action);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    EXPECT_TRUE(CreateProcessW(L"/usr/bin/xdotool", command, nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &info));
    if (info.hProcess != nullptr) {
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
    }
    Pump(400);
}

// A click in the middle of the target; the clicks the window got for it.
int ClickTarget() {
    const int before = clicks.load();
    PointerAtTarget(L"click 1");
    return clicks.load() - before;
}

// Reports a resting finger on the pad every 8 ms, as a pad does, until stopped.
class Finger {
public:
    Finger() {
        std::string error;
        EXPECT_TRUE(feeder.Open(L"pad", error)) << error;
        thread = std::thread([this] {
            int scan = 0;
            while (!stop.load()) {
                std::string ignored; // fails once the pad is unplugged: that is all
                feeder.Send(vpadtest::OneFingerReport(true, 2000, 1024, scan), ignored);
                scan += 80;
                Sleep(8);
            }
        });
    }
    ~Finger() {
        stop.store(true);
        thread.join();
    }
    Finger(const Finger&) = delete;
    Finger& operator=(const Finger&) = delete;

private:
    vtp::PadFeeder feeder;
    std::atomic<bool> stop{false};
    std::thread thread;
};

class Pointer : public testing::Test {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        WNDCLASSW wc = {};
        wc.lpfnWndProc = TargetProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"TapdeckPointerTarget";
        RegisterClassW(&wc);
        target = CreateWindowExW(WS_EX_TOPMOST, wc.lpszClassName, L"target", WS_POPUP | WS_VISIBLE,
                                 TargetX, TargetY, TargetW, TargetH, nullptr, nullptr, wc.hInstance,
                                 nullptr);
        ASSERT_NE(target, nullptr);
        Pump(300);
        ASSERT_EQ(ClickTarget(), 1) << "no click reaches the window at all: no X pointer here";

        vpadtest::RemoveAll();
        vpadtest::Install(L"pad", L"hybrid-one-finger");
        ASSERT_FALSE(HasFatalFailure());
        ASSERT_NE(vpadtest::RawInputHandle(L"pad", 0), nullptr);
        pad = std::make_unique<vpadtest::PadDevice>();
        ASSERT_NO_FATAL_FAILURE(pad->Attach());
        device = pad->device.Get();
        sink = pad->sink.get();
    }
    void TearDown() override {
        pad.reset();
        vpadtest::RemoveAll();
        DestroyWindow(target);
    }

    HWND target = nullptr;
    std::unique_ptr<vpadtest::PadDevice> pad;
    // The pad's device and sink, owned by `pad`.
    PointingDevice* device = nullptr;
    RecordingSink* sink = nullptr;
};

TEST_F(Pointer, AClickIsHeldBackOnlyWhileThePadReportsAndTheClaimIsOn) {
    ASSERT_EQ(device->Claim(0), S_OK);
    ptptest::WaitOutClaimSettle();
    EXPECT_EQ(ClickTarget(), 1) << "the pad is silent: the mouse works";
    {
        Finger finger;
        ASSERT_TRUE(sink->WaitForCalls(1)) << vtp::DescribeDelivery(L"pad");
        EXPECT_EQ(ClickTarget(), 0) << "a finger on the pad: the click is the pad's";
    }
    Pump(PadInUseMs + 100);
    EXPECT_EQ(ClickTarget(), 1) << "the pad fell silent";
    {
        Finger finger;
        ASSERT_TRUE(sink->WaitForCalls(sink->Count() + 1)) << vtp::DescribeDelivery(L"pad");
        EXPECT_EQ(device->Unclaim(), S_OK);
        ASSERT_TRUE(PtpWaitDelivery(5000));
        EXPECT_EQ(ClickTarget(), 1) << "unclaimed, with the finger still on the pad";
    }
}

TEST_F(Pointer, APadUnpluggedWhileTouchedLetsClicksThroughAtOnce) {
    ASSERT_EQ(device->Claim(0), S_OK);
    ptptest::WaitOutClaimSettle();
    Finger finger;
    ASSERT_TRUE(sink->WaitForCalls(1)) << vtp::DescribeDelivery(L"pad");
    EXPECT_EQ(ClickTarget(), 0);
    vpadtest::Unplug(L"pad");
    EXPECT_EQ(ClickTarget(), 1) << "the pad is gone";
}

TEST_F(Pointer, WhileASinkHoldsTheDeliveryThreadForTwoSecondsAndAfterClicksAreHeldBack) {
    // Windows skips, and may remove, a low-level hook that does not answer in time: the hook
    // lives on a thread of its own, so that a sink holding the delivery thread (as Tapdeck does
    // for up to 2 s while its mode starts) cannot cost the claim its hook. The pad's reports
    // are read on a thread that never waits for the sink, so the finger keeps the pad in use
    // during the stall too.
    Event entered;
    Event release;
    sink->HoldFirstCall(entered, release);
    ASSERT_EQ(device->Claim(0), S_OK);
    ptptest::WaitOutClaimSettle();
    Finger finger;
    ASSERT_TRUE(entered.Wait(5000)) << vtp::DescribeDelivery(L"pad");
    Pump(PadInUseMs + 200);
    EXPECT_EQ(ClickTarget(), 0) << "during the stall, with the finger on the pad";
    Pump(1000);
    release.Set();
    ASSERT_TRUE(sink->WaitForCalls(2)) << vtp::DescribeDelivery(L"pad");
    EXPECT_EQ(ClickTarget(), 0) << "after the stall, with the finger on the pad";
}

TEST_F(Pointer, ADragOfTheMouseThatEndsWhileAFingerTouchesThePadEnds) {
    ASSERT_EQ(device->Claim(0), S_OK);
    ptptest::WaitOutClaimSettle();
    // The button goes down while the pad is silent...
    const int pressed = clicks.load();
    PointerAtTarget(L"mousedown 1");
    ASSERT_EQ(clicks.load(), pressed + 1) << "the press of a silent pad's claim was held back";
    const int released = releases.load();
    {
        Finger finger;
        ASSERT_TRUE(sink->WaitForCalls(1)) << vtp::DescribeDelivery(L"pad");
        // ...and comes up while a finger touches the pad: Windows must see it go up.
        PointerAtTarget(L"mouseup 1");
        EXPECT_EQ(releases.load(), released + 1) << "the button stays down for Windows";
        // A press now is the pad's, held back with its release.
        EXPECT_EQ(ClickTarget(), 0);
    }
    Pump(PadInUseMs + 100);
    EXPECT_EQ(ClickTarget(), 1) << "the pad fell silent";
}

} // namespace
