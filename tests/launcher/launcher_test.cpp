// The launcher in this process, on a virtual clickpad through Wine's raw input: the gestures
// that start Tapdeck (a stand-in that shows Tapdeck's window) and those that do not, each
// corner, a pad unplugged and plugged in again, a hold while Tapdeck runs, the menu's commands
// and the settings changed while it runs.
#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <initializer_list>
#include <thread>
#include <vector>

#include "hold_settings.h"
#include "launcher.h"
#include "settings.h"
#include "support/process.h"
#include "clickpad.h"
#include "virtual_pads.h"

namespace {

using clickpad::Finger;
using clickpad::Scan;
using launcher::Launcher;

// The launcher on a thread of its own, as in its program; closed and joined at the end.
class RunningLauncher {
public:
    RunningLauncher() {
        thread = std::thread([this] {
            launcher::LauncherOptions options;
            options.tray = false;
            options.tapdeckPath =
                EnvironmentValue(L"TAPDECK_BIN") + L"\\tests\\launcher\\tapdeck_stand_in.exe";
            Launcher made(options);
            const bool created = made.Create();
            {
                std::lock_guard guard(lock);
                self = created ? &made : nullptr;
                ready = true;
            }
            changed.notify_all();
            if (created) {
                made.Run();
            }
            std::lock_guard guard(lock);
            self = nullptr;
        });
        std::unique_lock guard(lock);
        changed.wait(guard, [this] { return ready; });
    }
    ~RunningLauncher() {
        if (self != nullptr) {
            PostMessageW(self->Window(), WM_CLOSE, 0, 0);
        }
        thread.join();
    }
    RunningLauncher(const RunningLauncher&) = delete;
    RunningLauncher& operator=(const RunningLauncher&) = delete;

    Launcher* operator->() const { return self; }
    bool Running() {
        std::lock_guard guard(lock);
        return self != nullptr;
    }
    void Join() { thread.join(); }

private:
    std::mutex lock;
    std::condition_variable changed;
    bool ready = false;
    Launcher* self = nullptr;
    std::thread thread;
};

// Waits up to `ms` for `done`; whether it came.
bool WaitFor(const std::function<bool()>& done, DWORD ms = 5000) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > ms) {
            return false;
        }
        Sleep(2);
    }
    return true;
}

class Launching : public testing::Test {
protected:
    static void SetUpTestSuite() {
        vpadtest::RemoveAll();
        vpadtest::Install(L"pad", L"hybrid-one-finger");
        ASSERT_NE(vpadtest::RawInputHandle(L"pad", 0), nullptr);
    }
    static void TearDownTestSuite() { vpadtest::RemoveAll(); }

    void SetUp() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, launcher::LauncherKeyPath);
        Set(launcher::ValueHoldMs, 300);
        std::string error;
        ASSERT_TRUE(feeder.Open(L"pad", error)) << error;
    }
    void TearDown() override {
        EndStandIns();
        RegDeleteTreeW(HKEY_CURRENT_USER, launcher::LauncherKeyPath);
    }

    static void Set(const wchar_t* name, DWORD value) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, launcher::LauncherKeyPath, 0, nullptr, 0,
                                  KEY_SET_VALUE, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                       sizeof value);
        RegCloseKey(key);
    }

    // Feeds the scans, each its time after the one before; how many frames they make.
    long Play(const std::vector<Scan>& scans) {
        for (const Scan& s : scans) {
            Sleep(static_cast<DWORD>(s.ms));
            scan += s.ms * 10;
            for (size_t i = 0; i < s.fingers.size(); ++i) {
                const int count = i == 0 ? static_cast<int>(s.fingers.size()) : 0;
                std::string error;
                EXPECT_TRUE(
                    feeder.Send(clickpad::Report(s.fingers[i], scan, count, s.button), error))
                    << error;
            }
        }
        return static_cast<long>(scans.size());
    }

    // Ends every stand-in Tapdeck, those still starting too.
    static void EndStandIns() {
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        PROCESSENTRY32W entry = {};
        entry.dwSize = sizeof entry;
        for (BOOL more = Process32FirstW(snapshot, &entry); more;
             more = Process32NextW(snapshot, &entry)) {
            if (_wcsicmp(entry.szExeFile, L"tapdeck_stand_in.exe") != 0) {
                continue;
            }
            HANDLE process =
                OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID);
            if (process != nullptr) {
                TerminateProcess(process, 0);
                WaitForSingleObject(process, 5000);
                CloseHandle(process);
            }
        }
        CloseHandle(snapshot);
    }

    // The launcher started Tapdeck once, and the stand-in is up.
    static void ExpectStarted(RunningLauncher& running) {
        EXPECT_TRUE(WaitFor([&] { return running->Starts() == 1; }))
            << vtp::DescribeDelivery(L"pad");
        EXPECT_TRUE(WaitFor([] {
            return FindWindowW(launcher::TapdeckClass, launcher::TapdeckTitle) != nullptr;
        })) << "the stand-in Tapdeck did not start";
    }

    vtp::PadFeeder feeder;
    int scan = 0;
};

constexpr int CX = clickpad::CornerX;
constexpr int CY = clickpad::CornerY;

struct GestureCase {
    const char* name;
    std::vector<Scan> scans;
    bool starts;
};

const GestureCase GestureCases[] = {
    {"a finger held still in the corner", {{0, {{1, CX, CY}}}, {8, {{1, CX, CY}}}}, true},
    {"jitter of a millimetre",
     {{0, {{1, CX, CY}}}, {8, {{1, CX - 30, CY + 20}}}, {8, {{1, CX, CY + 30}}}},
     true},
    {"a tap in the corner", {{0, {{1, CX, CY}}}, {80, {{1, CX, CY, false}}}}, false},
    {"a finger that moves 3 mm",
     {{0, {{1, CX, CY}}},
      {8, {{1, CX - 50, CY + 30}}},
      {8, {{1, CX - 105, CY + 30}}},
      {40, {{1, CX - 105, CY + 30, false}}}},
     false},
    {"a finger that leaves the corner",
     {{0, {{1, 3700, CY}}}, {8, {{1, 3680, CY}}}, {40, {{1, 3680, CY, false}}}},
     false},
    {"a second finger",
     {{0, {{1, CX, CY}}},
      {8, {{1, CX, CY}, {2, 1500, 1500}}},
      {40, {{1, CX, CY, false}, {2, 1500, 1500, false}}}},
     false},
    {"a palm elsewhere",
     {{0, {{1, CX, CY}}},
      {8, {{1, CX, CY}, {2, 1500, 1500, true, false}}},
      {40, {{1, CX, CY, false}, {2, 1500, 1500, false, false}}}},
     false},
    {"a palm in the corner",
     {{0, {{1, CX, CY, true, false}}}, {400, {{1, CX, CY, false, false}}}},
     false},
    {"the pad's button",
     {{0, {{1, CX, CY}}}, {8, {{1, CX, CY}}, true}, {40, {{1, CX, CY, false}}}},
     false},
    {"a touch that began outside the corner",
     {{0, {{1, 3000, CY}}}, {8, {{1, CX, CY}}}, {400, {{1, CX, CY, false}}}},
     false},
};

TEST_F(Launching, OnlyAFingerRestingInTheCornerStartsTapdeck) {
    for (const GestureCase& c : GestureCases) {
        SCOPED_TRACE(c.name);
        RunningLauncher running;
        ASSERT_TRUE(running.Running());
        const long frames = Play(c.scans);
        if (c.starts) {
            ExpectStarted(running);
            Play({{8, {{1, CX, CY, false}}}});
        } else {
            // Once the launcher has read every frame and counts no hold, none can start.
            ASSERT_TRUE(WaitFor([&] {
                return running->Frames() >= frames && !running->Counting();
            })) << vtp::DescribeDelivery(L"pad");
            EXPECT_EQ(running->Starts(), 0);
        }
        EndStandIns();
    }
}

TEST_F(Launching, EachCornerAsSet) {
    struct Place {
        DWORD corner;
        int x;
        int y;
    };
    for (const Place& p :
         {Place{0, 4000, 2500}, Place{1, 50, 2500}, Place{2, CX, CY}, Place{3, 50, 50}}) {
        SCOPED_TRACE(p.corner);
        Set(launcher::ValueCorner, p.corner);
        RunningLauncher running;
        // Another corner's hold first: nothing.
        const long frames =
            Play({{0, {{1, 2000, 1200}}}, {300, {{1, 2000, 1200}}}, {8, {{1, 2000, 1200, false}}}});
        ASSERT_TRUE(WaitFor([&] { return running->Frames() >= frames && !running->Counting(); }));
        EXPECT_EQ(running->Starts(), 0);
        Play({{0, {{1, p.x, p.y}}}});
        ExpectStarted(running);
        Play({{8, {{1, p.x, p.y, false}}}});
        EndStandIns();
    }
}

TEST_F(Launching, APadUnpluggedAndPluggedInAgainStillStartsTapdeck) {
    RunningLauncher running;
    Play({{0, {{1, CX, CY}}}});
    ASSERT_TRUE(WaitFor([&] { return running->Counting(); }));
    vpadtest::Unplug(L"pad");
    // Unplugged mid-hold: the hold is over.
    EXPECT_TRUE(WaitFor([&] { return !running->Counting(); }));
    EXPECT_EQ(running->Starts(), 0);
    vpadtest::Replug(L"pad");
    ASSERT_NE(vpadtest::RawInputHandle(L"pad", 0), nullptr);
    std::string error;
    ASSERT_TRUE(feeder.Open(L"pad", error)) << error;
    Play({{0, {{1, CX, CY}}}});
    ExpectStarted(running);
    Play({{8, {{1, CX, CY, false}}}});
}

TEST_F(Launching, AHoldWhileTapdeckRunsOrJustEndedDoesNothing) {
    RunningLauncher running;
    ChildProcess stand = ChildProcess::Start(
        EnvironmentValue(L"TAPDECK_BIN") + L"\\tests\\launcher\\tapdeck_stand_in.exe", L"", {});
    ASSERT_TRUE(WaitFor(
        [] { return FindWindowW(launcher::TapdeckClass, launcher::TapdeckTitle) != nullptr; }));
    const long holds = running->Holds();
    Play({{0, {{1, CX, CY}}}, {500, {{1, CX, CY}}}, {8, {{1, CX, CY, false}}}});
    ASSERT_TRUE(WaitFor([&] { return running->Frames() >= 3; }));
    EXPECT_EQ(running->Holds(), holds) << "no hold is counted while Tapdeck runs";
    EndStandIns();
    // Just ended: the tap that ended it came from this corner. A hold now does nothing.
    const long frames = running->Frames();
    Play({{0, {{1, CX, CY}}}});
    ASSERT_TRUE(WaitFor([&] { return running->Frames() > frames; }));
    EXPECT_FALSE(running->Counting());
    Play({{400, {{1, CX, CY, false}}}});
    EXPECT_EQ(running->Starts(), 0);
    // A second later it does.
    Sleep(launcher::RestAfterEndMs);
    Play({{0, {{1, CX, CY}}}});
    ExpectStarted(running);
    Play({{8, {{1, CX, CY, false}}}});
}

TEST_F(Launching, TheMenusCommandsStartSwitchAndQuit) {
    RunningLauncher running;
    const long read = running->SettingsRead();
    PostMessageW(running->Window(), WM_COMMAND, launcher::CommandToggleHold, 0);
    ASSERT_TRUE(WaitFor([&] { return running->SettingsRead() > read; }));
    EXPECT_FALSE(launcher::ReadSettings().enabled);
    // Off: a hold does nothing.
    const long frames = Play({{0, {{1, CX, CY}}}, {400, {{1, CX, CY}}}, {8, {{1, CX, CY, false}}}});
    ASSERT_TRUE(WaitFor([&] { return running->Frames() >= frames; }));
    EXPECT_EQ(running->Starts(), 0);
    // Started from the menu all the same.
    PostMessageW(running->Window(), WM_COMMAND, launcher::CommandStartNow, 0);
    ExpectStarted(running);
    const long again = running->SettingsRead();
    PostMessageW(running->Window(), WM_COMMAND, launcher::CommandToggleHold, 0);
    ASSERT_TRUE(WaitFor([&] { return running->SettingsRead() > again; }));
    EXPECT_TRUE(launcher::ReadSettings().enabled);
    PostMessageW(running->Window(), WM_COMMAND, launcher::CommandQuit, 0);
    EXPECT_TRUE(WaitFor([&] { return !running.Running(); }));
}

TEST_F(Launching, ASettingChangedWhileItRunsIsTakenAtOnce) {
    RunningLauncher running;
    const long read = running->SettingsRead();
    Set(launcher::ValueCorner, 3); // top left
    ASSERT_TRUE(WaitFor([&] { return running->SettingsRead() > read; }));
    Play({{0, {{1, 50, 50}}}});
    ExpectStarted(running);
    Play({{8, {{1, 50, 50, false}}}});
}

TEST_F(Launching, TheRingCountsTheHoldInThePanelsCornerAndNeverTakesTheFocus) {
    Set(launcher::ValueHoldMs, launcher::MaxHoldMs);
    struct PanelCorner {
        DWORD corner; // the panel's setting: 0 bottom right, 1 bottom left, 2 top right, 3 top left
        bool right;
        bool bottom;
    };
    for (const PanelCorner& c : {PanelCorner{0, true, true}, PanelCorner{3, false, false}}) {
        SCOPED_TRACE(c.corner);
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, overlay::SettingsKeyPath, 0, nullptr, 0,
                                  KEY_SET_VALUE, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(key, L"OverlayCorner", 0, REG_DWORD,
                       reinterpret_cast<const BYTE*>(&c.corner), sizeof c.corner);
        RegCloseKey(key);

        RunningLauncher running;
        const HWND ring = running->RingWindow();
        ASSERT_NE(ring, nullptr);
        EXPECT_FALSE(IsWindowVisible(ring));
        const HWND before = GetForegroundWindow();
        Play({{0, {{1, CX, CY}}}});
        ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(ring) != FALSE; }))
            << vtp::DescribeDelivery(L"pad");
        const auto styles = static_cast<DWORD>(GetWindowLongPtrW(ring, GWL_EXSTYLE));
        for (const DWORD style :
             std::initializer_list<DWORD>{WS_EX_LAYERED, WS_EX_TRANSPARENT, WS_EX_TOPMOST,
                                          WS_EX_NOACTIVATE, WS_EX_TOOLWINDOW}) {
            EXPECT_EQ(styles & style, style) << std::hex << style;
        }
        EXPECT_EQ(GetForegroundWindow(), before);
        RECT work{};
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
        RECT place{};
        GetWindowRect(ring, &place);
        EXPECT_EQ(c.right ? place.right : place.left, c.right ? work.right : work.left);
        EXPECT_EQ(c.bottom ? place.bottom : place.top, c.bottom ? work.bottom : work.top);
        // The finger leaves before the time: the ring goes and nothing starts.
        Play({{100, {{1, CX, CY, false}}}});
        EXPECT_TRUE(WaitFor([&] { return IsWindowVisible(ring) == FALSE; }));
        EXPECT_EQ(running->Starts(), 0);
    }
    RegDeleteKeyValueW(HKEY_CURRENT_USER, overlay::SettingsKeyPath, L"OverlayCorner");
}

} // namespace
