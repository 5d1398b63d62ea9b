// Leaving the mode, the mode indicator and device notifications, seen in the simulated
// touchpad's journal, on a window standing in for the program's own, and in the beeps.
#include <gtest/gtest.h>

#include <atomic>
#include <optional>

#include <algorithm>
#include <string>

#include "device/pad_app.h"
#include "support/close_recorder.h"
#include "support/process.h"
#include "support/sim_scenario.h"

namespace {

// The values written to the mode LED, in journal order.
std::vector<long long> LedWrites(const std::vector<JournalRecord>& journal) {
    std::vector<long long> values;
    for (const auto& record : FindEvents(journal, "WriteProperty")) {
        if (record.Num("id") == PropModeLed) {
            values.push_back(record.Num("value").value_or(-1));
        }
    }
    return values;
}

struct IndicatorCase {
    int on;
    long long written;
};

constexpr IndicatorCase indicatorCases[] = {
    {1, ModeLedOn}, {5, ModeLedOn}, {-1, ModeLedOn}, {0, ModeLedOff}};

TEST(SetModeIndicator, WritesOnForAnyNonZeroFlagAndOffForZero) {
    for (const IndicatorCase& c : indicatorCases) {
        SCOPED_TRACE(c.on);
        SimScenario scenario("");
        {
            PadApp app;
            EXPECT_EQ(app.SetModeIndicator(c.on), 0);
        }
        EXPECT_EQ(LedWrites(scenario.Journal()), std::vector<long long>{c.written});
    }
}

// A PadApp on the simulated touchpad whose hidden window is a recorder of the test's own.
class LeaveModeTest : public ::testing::Test {
protected:
    void SetUp() override { padWindow.store(window.Handle()); }
    void TearDown() override { padWindow.store(nullptr); }

    SimScenario scenario{""};
    CloseRecorder window;
};

TEST_F(LeaveModeTest, ClearsGestureUnclaimsSwitchesLedOffAndClosesTheWindow) {
    {
        PadApp app;
        app.motionSum = 17;
        app.tapFlag = 1;
        app.touching = 1;
        app.lastX = 1500;
        app.lastY = 1800;
        app.tapState = 0x2000;
        app.LeaveMode();
        EXPECT_EQ(window.Closes(), 1);
        EXPECT_TRUE(window.Destroyed());
        // Cleared: the gesture in progress. Kept: where the finger was and the tap word.
        EXPECT_EQ(app.motionSum, 0);
        EXPECT_EQ(app.tapFlag, 0);
        EXPECT_EQ(app.touching, 0);
        EXPECT_EQ(app.lastX, 1500);
        EXPECT_EQ(app.lastY, 1800);
        EXPECT_EQ(app.tapState, 0x2000u);
    }
    const auto journal = scenario.Journal();
    const long long unclaim = FindEvent(journal, "Unclaim");
    ASSERT_GE(unclaim, 0);
    EXPECT_EQ(LedWrites(journal), std::vector<long long>{ModeLedOff});
    EXPECT_GT(FindEvent(journal, "WriteProperty"), unclaim);
}

TEST_F(LeaveModeTest, ASecondCallDoesItAllAgainToAWindowAlreadyGone) {
    {
        PadApp app;
        app.LeaveMode();
        app.LeaveMode();
    }
    EXPECT_EQ(window.Closes(), 1);
    const auto journal = scenario.Journal();
    EXPECT_EQ(FindEvents(journal, "Unclaim").size(), 2u);
    EXPECT_EQ(LedWrites(journal), (std::vector<long long>{ModeLedOff, ModeLedOff}));
}

struct NotifyCase {
    LONG reason;
    int beeps;
    bool leaves;
};

constexpr NotifyCase notifyCases[] = {
    {-1, 0, false}, {0, 0, false}, {1, 1, true},
    {2, 1, true},   {3, 0, false}, {static_cast<LONG>(0x80000000), 0, false},
};

// The beep can only be seen from outside, so each case runs in a process of its own.
// The program's window on a thread of its own that handles nothing until told to, and then
// only after a while: a LeaveMode on the packet thread waits in SendMessage for it.
class LateWindow {
public:
    LateWindow() : thread(CreateThread(nullptr, 0, Main, this, 0, nullptr)) {
        WaitForSingleObject(ready, INFINITE);
    }
    ~LateWindow() {
        SetEvent(go);
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        CloseHandle(go);
        CloseHandle(ready);
    }
    LateWindow(const LateWindow&) = delete;
    LateWindow& operator=(const LateWindow&) = delete;

    HWND Handle() const { return window; }
    // From now on, and 500 ms later, messages are handled until the window is gone.
    void Go() { SetEvent(go); }
    // When the window began to handle messages, in microseconds of QueryPerformanceCounter (as
    // the journal's clock): no SendMessage to it returned earlier. Read once the window is gone.
    long long HandlingFromMicros() const { return handlingFrom.load(); }

private:
    static DWORD WINAPI Main(void* param) {
        auto* self = static_cast<LateWindow*>(param);
        CloseRecorder recorder;
        self->window = recorder.Handle();
        SetEvent(self->ready);
        WaitForSingleObject(self->go, INFINITE);
        Sleep(500);
        self->handlingFrom.store(QpcMicros());
        PumpUntil([&] { return recorder.Destroyed(); }, 10000);
        return 0;
    }

    static long long QpcMicros() {
        LARGE_INTEGER now{};
        LARGE_INTEGER frequency{};
        QueryPerformanceCounter(&now);
        QueryPerformanceFrequency(&frequency);
        return now.QuadPart / frequency.QuadPart * 1000000 +
               now.QuadPart % frequency.QuadPart * 1000000 / frequency.QuadPart;
    }

    std::atomic<long long> handlingFrom{0};

    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HWND window = nullptr;
    HANDLE thread;
};

// The exit button's packet ends the mode on the packet thread and waits there in
// SendMessage(WM_CLOSE); the application object destroyed meanwhile must wait for that packet
// before it releases anything the packet still uses.
TEST(PadAppDestruction, WaitsForTheRunningPacketBeforeReleasingAnything) {
    SimScenario scenario("packet a=0x2000 x=6000 y=5100\n"
                         "packet a=0x2000 x=6000 y=5100 pause=8\n"
                         "packet a=0x10000 x=6000 y=5100 pause=8\n"
                         "packet a=0x0 x=6000 y=5100 pause=8\n");
    LateWindow window;
    padWindow.store(window.Handle());
    const DWORD mainThread = GetCurrentThreadId();
    {
        PadApp app;
        ASSERT_EQ(app.EnterMode(), 1);
        // The exit tap's LeaveMode has begun on the packet thread.
        bool left = false;
        for (int i = 0; i < 1000 && !left; ++i) {
            left = !FindEvents(scenario.Journal(), "Unclaim").empty();
            Sleep(5);
        }
        ASSERT_TRUE(left) << "the exit tap did not end the mode";
        window.Go();
    }
    padWindow.store(nullptr);

    const std::vector<JournalRecord> journal = scenario.Journal();
    // The journal's times count from the session's start, which its Scenario line gives.
    std::optional<long long> start;
    bool exitPacket = false;
    std::optional<long long> firstRelease;
    for (const JournalRecord& record : journal) {
        if (record.event == "Scenario") {
            start = record.Num("clock");
        }
        exitPacket = exitPacket || record.event == "Packet";
        if (record.event == "Release" && record.tid == mainThread && !firstRelease) {
            firstRelease = record.usec;
        }
    }
    ASSERT_TRUE(start.has_value());
    ASSERT_TRUE(exitPacket) << "the exit tap's packet never returned";
    ASSERT_TRUE(firstRelease.has_value());
    // The exit tap's packet waits in SendMessage until the window handles messages: the
    // destructor's first release (the journal writes a packet's line only after it returned, so
    // the lines' order cannot tell) must come later. Two microseconds are rounding.
    EXPECT_GE(*start + *firstRelease + 2, window.HandlingFromMicros())
        << "the destructor released an object while the exit tap's packet was still running";
}

TEST(OnDeviceNotify, ReasonsOneAndTwoBeepOnceAndLeaveTheModeOthersDoNothing) {
    const std::wstring probe = EnvironmentValue(L"TAPDECK_BIN") + L"/tests/device/device_probe.exe";
    for (const NotifyCase& c : notifyCases) {
        SCOPED_TRACE(c.reason);
        SimScenario scenario("");
        ChildProcess::Options options;
        options.traceBeeps = true;
        auto child = ChildProcess::Start(probe, L"notify " + std::to_wstring(c.reason), options);
        ASSERT_TRUE(child.Started());
        ASSERT_TRUE(child.Wait(30000));
        EXPECT_EQ(child.ExitCode(), 0u);
        const std::string output = child.Output();
        EXPECT_NE(output.find("result=0 "), std::string::npos);
        EXPECT_NE(output.find(c.leaves ? "closes=1" : "closes=0"), std::string::npos);
        EXPECT_EQ(child.BeepCount(), c.beeps);
        const auto journal = scenario.Journal();
        EXPECT_EQ(FindEvents(journal, "Unclaim").size(), c.leaves ? 1u : 0u);
        EXPECT_EQ(LedWrites(journal),
                  c.leaves ? std::vector<long long>{ModeLedOff} : std::vector<long long>{});
    }
}

} // namespace
