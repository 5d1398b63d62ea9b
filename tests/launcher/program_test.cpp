// tapdeck-launcher.exe and tapdeck.exe on velptp.dll on a virtual clickpad, as a laptop user has
// them: a finger held in the top right corner starts Tapdeck, and that finger, still down when
// Tapdeck's claim starts, does nothing in it when it lifts, early or late: Tapdeck stays on and
// no key is pressed; the next tap on the same corner, the exit button, ends it.
#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>

#include <functional>
#include <string>
#include <string_view>

#include "clickpad.h"
#include "hold_settings.h"
#include "launcher.h"
#include "overlay_window.h"
#include "support/key_hook.h"
#include "support/process.h"
#include "support/sim_scenario.h"
#include "virtual_pads.h"

namespace {

using ServerCall = HRESULT(STDAPICALLTYPE*)();

ServerCall Export(HMODULE module, const char* name) {
    return reinterpret_cast<ServerCall>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

bool WaitFor(const std::function<bool()>& done, DWORD ms) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > ms) {
            return false;
        }
        Sleep(2);
    }
    return true;
}

// The running Tapdeck's process id, 0 for none.
DWORD TapdeckProcess() {
    DWORD id = 0;
    if (HWND window = FindWindowW(launcher::TapdeckClass, launcher::TapdeckTitle)) {
        GetWindowThreadProcessId(window, &id);
    }
    return id;
}

void EndProcesses(const wchar_t* exe) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        if (_wcsicmp(entry.szExeFile, exe) == 0) {
            if (HANDLE process =
                    OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID)) {
                TerminateProcess(process, 1);
                WaitForSingleObject(process, 5000);
                CloseHandle(process);
            }
        }
    }
    CloseHandle(snapshot);
}

// The launcher's ring window (made hidden with the launcher), found by its class's start.
struct RingSearch {
    DWORD process = 0;
    HWND found = nullptr;
};

BOOL CALLBACK FindRing(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<RingSearch*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    if (owner == search->process &&
        std::wstring_view(name).starts_with(L"VelTapdeckLauncherRing")) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND RingOfLauncher() {
    RingSearch search;
    GetWindowThreadProcessId(FindWindowW(launcher::LauncherClass, nullptr), &search.process);
    EnumWindows(FindRing, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

class FromThePad : public testing::Test {
protected:
    void SetUp() override {
        ptp = LoadLibraryW(EnvironmentValue(L"VELPTP_DLL").c_str());
        ASSERT_NE(ptp, nullptr) << "VELPTP_DLL cannot be loaded";
        ASSERT_NE(SimModule(), nullptr) << "VELSIM_DLL cannot be loaded";
        // Tapdeck finds velptp.dll by its ProgIDs.
        ASSERT_EQ(Export(ptp, "DllRegisterServer")(), S_OK);
        RegDeleteTreeW(HKEY_CURRENT_USER, launcher::LauncherKeyPath);
        vpadtest::RemoveAll();
        vpadtest::Install(L"pad", L"hybrid-one-finger");
        ASSERT_FALSE(HasFatalFailure());
        ASSERT_NE(vpadtest::RawInputHandle(L"pad", 0), nullptr);
        std::string error;
        ASSERT_TRUE(feeder.Open(L"pad", error)) << error;
    }
    void TearDown() override {
        // A launcher or a Tapdeck left by a failed step would hold the next test's pad and the
        // session's one launcher.
        for (const wchar_t* exe : {L"tapdeck-launcher.exe", L"tapdeck.exe"}) {
            EndProcesses(exe);
        }
        vpadtest::RemoveAll();
        RegDeleteTreeW(HKEY_CURRENT_USER, launcher::LauncherKeyPath);
        // The tests after these find the simulated touchpad.
        Export(ptp, "DllUnregisterServer")();
        EXPECT_EQ(Export(SimModule(), "DllRegisterServer")(), S_OK);
    }

    // One report of finger `id` at (x, y), and the pad's next scan 8 ms later.
    void Report(int id, int x, int y, bool tip = true) {
        std::string error;
        ASSERT_TRUE(feeder.Send(clickpad::Report({id, x, y, tip}, scan, 1, false), error)) << error;
        scan += 80;
        Sleep(8);
    }

    HMODULE ptp = nullptr;
    vtp::PadFeeder feeder;
    int scan = 0;
};

TEST_F(FromThePad, AHoldStartsTapdeckAndTheHoldingFingerDoesNothingInItWhenItLifts) {
    constexpr int X = clickpad::CornerX;
    constexpr int Y = clickpad::CornerY;
    for (const DWORD liftAfterMs : {50u, 300u, 1000u, 2000u}) {
        SCOPED_TRACE("lifted " + std::to_string(liftAfterMs) + " ms after the mode is on");
        KeyHook keys;
        ASSERT_TRUE(keys.Installed());
        ChildProcess started = ChildProcess::Start(
            EnvironmentValue(L"TAPDECK_BIN") + L"\\src\\tapdeck-launcher.exe", L"", {});
        ASSERT_TRUE(started.Started());
        ASSERT_TRUE(WaitFor([] { return FindWindowW(launcher::LauncherClass, nullptr); }, 10000));

        // Made a moment after the launcher's own window.
        HWND ring = nullptr;
        ASSERT_TRUE(WaitFor([&] { return (ring = RingOfLauncher()) != nullptr; }, 10000));
        // The finger rests in the corner, reported as a pad reports it, until Tapdeck's panel
        // shows that its mode is on. The ring shows the hold meanwhile.
        const DWORD held = GetTickCount();
        DWORD tapdeck = 0;
        bool ringSeen = false;
        while (GetTickCount() - held < 15000) {
            Report(1, X, Y);
            ringSeen = ringSeen || IsWindowVisible(ring) != FALSE;
            tapdeck = TapdeckProcess();
            if (tapdeck != 0 && overlay::FindPanelWindow(tapdeck) != nullptr) {
                break;
            }
        }
        ASSERT_NE(tapdeck, 0u) << "the hold did not start Tapdeck\n"
                               << vtp::DescribeDelivery(L"pad");
        ASSERT_NE(overlay::FindPanelWindow(tapdeck), nullptr) << "Tapdeck's mode did not come on";
        EXPECT_TRUE(ringSeen);
        // Tapdeck's panel takes the ring's place.
        EXPECT_TRUE(WaitFor([&] { return IsWindowVisible(ring) == FALSE; }, 2000));
        const DWORD on = GetTickCount();
        while (GetTickCount() - on < liftAfterMs) {
            Report(1, X, Y);
        }
        Report(1, X, Y, false);
        Sleep(600);
        EXPECT_EQ(TapdeckProcess(), tapdeck) << "the finger that started Tapdeck ended it";
        EXPECT_TRUE(keys.Events().empty());

        // A tap of its own on the exit button ends Tapdeck.
        HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, tapdeck);
        ASSERT_NE(process, nullptr);
        Report(2, X, Y);
        Report(2, X, Y);
        Report(2, X, Y, false);
        EXPECT_EQ(WaitForSingleObject(process, 10000), WAIT_OBJECT_0) << "the exit tap did nothing";
        CloseHandle(process);
        EXPECT_TRUE(keys.Events().empty());

        PostMessageW(FindWindowW(launcher::LauncherClass, nullptr), WM_CLOSE, 0, 0);
        ASSERT_TRUE(started.Wait(10000));
        EXPECT_EQ(started.ExitCode(), 0u);
    }
}

TEST_F(FromThePad, OneLauncherASession) {
    const std::wstring exe = EnvironmentValue(L"TAPDECK_BIN") + L"\\src\\tapdeck-launcher.exe";
    const auto window = [] { return FindWindowW(launcher::LauncherClass, nullptr); };
    ChildProcess first = ChildProcess::Start(exe, L"", {});
    ASSERT_TRUE(first.Started());
    ASSERT_TRUE(WaitFor([&] { return window() != nullptr; }, 10000));
    const HWND firstWindow = window();

    ChildProcess second = ChildProcess::Start(exe, L"", {});
    ASSERT_TRUE(second.Started());
    ASSERT_TRUE(second.Wait(10000)) << "a second launcher runs beside the first";
    EXPECT_EQ(second.ExitCode(), 0u);
    EXPECT_FALSE(first.Wait(0)) << "the first launcher ended";
    EXPECT_EQ(window(), firstWindow);

    // Once the first has quit, the next one runs.
    PostMessageW(firstWindow, WM_CLOSE, 0, 0);
    ASSERT_TRUE(first.Wait(10000));
    ChildProcess third = ChildProcess::Start(exe, L"", {});
    ASSERT_TRUE(third.Started());
    EXPECT_TRUE(WaitFor([&] { return window() != nullptr; }, 10000));
    EXPECT_FALSE(third.Wait(0));
    PostMessageW(window(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(third.Wait(10000));
}

} // namespace
