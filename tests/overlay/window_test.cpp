// The panel's window under Wine: made on a thread of its own with the styles that keep it
// click-through, top-most and out of the taskbar; shown without taking the foreground; not what
// a point under it hits; answering its messages while the thread feeding it is held; drawn only
// when something changed; placed in the work area's corner; fading to its small form when idle
// and back at the next touch in one frame; following the app theme as it changes; with no
// level and no trouble where there is no audio device; gone once the Overlay is destroyed.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "overlay_window.h"

namespace overlay {
namespace {

constexpr RECT LibraryPad{1000, 1000, 7000, 5800};
constexpr uint32_t Finger = 0x2000;
// Long enough for any functional wait under a loaded machine; the tests never time speed.
constexpr DWORD PatienceMs = 10'000;

// Waits until `done` holds, or PatienceMs.
template <class Condition> bool WaitFor(Condition done) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > PatienceMs) {
            return false;
        }
        Sleep(5);
    }
    return true;
}

// A shown panel and its window.
struct ShownPanel {
    Overlay overlay;
    HWND window = nullptr;

    explicit ShownPanel(const OverlaySettings& settings = {}) : overlay(settings) {
        window = overlay.WaitForWindow(PatienceMs);
        overlay.Show(LayoutFor(LibraryPad));
    }
    bool Visible() const { return window != nullptr && IsWindowVisible(window) != FALSE; }
};

// An ordinary top-level window of the test's own, made the foreground one.
class ForegroundWindow {
public:
    ForegroundWindow() {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"OverlayTestForeground";
        RegisterClassW(&wc);
        handle = CreateWindowExW(0, wc.lpszClassName, L"foreground", WS_OVERLAPPEDWINDOW, 100, 100,
                                 300, 200, nullptr, nullptr, wc.hInstance, nullptr);
        ShowWindow(handle, SW_SHOW);
        SetForegroundWindow(handle);
        Pump();
    }
    ~ForegroundWindow() { DestroyWindow(handle); }
    ForegroundWindow(const ForegroundWindow&) = delete;
    ForegroundWindow& operator=(const ForegroundWindow&) = delete;
    ForegroundWindow(ForegroundWindow&&) = delete;
    ForegroundWindow& operator=(ForegroundWindow&&) = delete;

    HWND Get() const { return handle; }
    static void Pump() {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&message);
        }
    }

private:
    HWND handle = nullptr;
};

TEST(OverlayWindow, IsALayeredClickThroughTopMostToolPopUpOnItsOwnThread) {
    ShownPanel panel;
    ASSERT_NE(panel.window, nullptr);
    ASSERT_TRUE(WaitFor([&] { return panel.Visible(); }));
    const auto ex = static_cast<DWORD>(GetWindowLongPtrW(panel.window, GWL_EXSTYLE));
    for (const DWORD bit :
         {static_cast<DWORD>(WS_EX_LAYERED), static_cast<DWORD>(WS_EX_TRANSPARENT),
          static_cast<DWORD>(WS_EX_TOPMOST), static_cast<DWORD>(WS_EX_NOACTIVATE),
          static_cast<DWORD>(WS_EX_TOOLWINDOW)}) {
        EXPECT_EQ(ex & bit, bit) << std::hex << bit;
    }
    EXPECT_EQ(ex & WS_EX_APPWINDOW, 0U);
    const auto style = static_cast<DWORD>(GetWindowLongPtrW(panel.window, GWL_STYLE));
    EXPECT_NE(style & WS_POPUP, 0U);
    EXPECT_EQ(style & (WS_CAPTION | WS_CHILD | WS_THICKFRAME), 0U);
    const DWORD owner = GetWindowThreadProcessId(panel.window, nullptr);
    EXPECT_EQ(owner, panel.overlay.ThreadId());
    EXPECT_NE(owner, GetCurrentThreadId());
}

TEST(OverlayWindow, ShowingItLeavesTheForegroundWindowAlone) {
    const ForegroundWindow foreground;
    const HWND before = GetForegroundWindow();
    ASSERT_EQ(before, foreground.Get());
    ShownPanel panel;
    ASSERT_TRUE(WaitFor([&] { return panel.Visible(); }));
    panel.overlay.Update({Finger, 4000, 3000, 0});
    Sleep(100);
    ForegroundWindow::Pump();
    EXPECT_EQ(GetForegroundWindow(), before);
    EXPECT_NE(GetForegroundWindow(), panel.window);
}

TEST(OverlayWindow, APointOverItDoesNotHitIt) {
    ShownPanel panel;
    ASSERT_TRUE(WaitFor([&] { return panel.Visible(); }));
    RECT r{};
    ASSERT_TRUE(GetWindowRect(panel.window, &r));
    const POINT centre{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    EXPECT_NE(WindowFromPoint(centre), panel.window);
}

// Bottom-right in the primary monitor's work area (at 96 DPI here): a body 280 high with the
// pad's proportions (6000 by 4800), and a margin of 12 around it for its shadow, flush with the
// corner.
TEST(OverlayWindow, SitsInTheWorkAreasBottomRightCornerAtItsSize) {
    ShownPanel panel;
    ASSERT_TRUE(WaitFor([&] { return panel.Visible(); }));
    RECT work{};
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0));
    RECT r{};
    ASSERT_TRUE(GetWindowRect(panel.window, &r));
    EXPECT_EQ(r.bottom - r.top, 280 + 24);
    EXPECT_EQ(r.right - r.left, 350 + 24);
    EXPECT_EQ(r.right, work.right);
    EXPECT_EQ(r.bottom, work.bottom);
}

// The work area shrinks (a taller taskbar, say): the panel moves to stay in its corner. Windows
// tells every top-level window with WM_SETTINGCHANGE (SPI_SETWORKAREA); Wine 8's broadcast from
// SystemParametersInfo did not reach the panel here, so the test sends it as the system would.
TEST(OverlayWindow, MovesWhenTheWorkAreaChanges) {
    RECT work{};
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0));
    ShownPanel panel;
    ASSERT_TRUE(WaitFor([&] { return panel.Visible(); }));
    RECT smaller = work;
    smaller.bottom -= 120;
    smaller.right -= 80;
    ASSERT_TRUE(SystemParametersInfoW(SPI_SETWORKAREA, 0, &smaller, 0));
    DWORD_PTR result = 0;
    SendMessageTimeoutW(panel.window, WM_SETTINGCHANGE, SPI_SETWORKAREA, 0, SMTO_ABORTIFHUNG,
                        PatienceMs, &result);
    RECT r{};
    const bool moved = WaitFor([&] {
        GetWindowRect(panel.window, &r);
        return r.bottom <= smaller.bottom && r.right <= smaller.right;
    });
    SystemParametersInfoW(SPI_SETWORKAREA, 0, &work, 0);
    EXPECT_TRUE(moved) << "at " << r.left << "," << r.top << " " << r.right << "," << r.bottom;
    EXPECT_EQ(r.bottom, smaller.bottom);
    EXPECT_EQ(r.right, smaller.right);
}

TEST(OverlayWindow, HideAndShowAgain) {
    ShownPanel panel;
    ASSERT_TRUE(WaitFor([&] { return panel.Visible(); }));
    panel.overlay.Hide();
    EXPECT_TRUE(WaitFor([&] { return !panel.Visible(); }));
    panel.overlay.Show(LayoutFor(LibraryPad));
    EXPECT_TRUE(WaitFor([&] { return panel.Visible(); }));
}

// The thread that feeds the panel is held for 2 s right after a burst of packets, as a sink that
// blocks would hold the delivery thread; the panel's thread still answers within 100 ms.
TEST(OverlayWindow, ItsThreadAnswersWhileTheFeedingThreadIsHeld) {
    ShownPanel panel;
    ASSERT_TRUE(WaitFor([&] { return panel.Visible(); }));
    std::atomic<bool> held{false};
    std::thread feeder([&] {
        for (LONG i = 0; i < 200; ++i) {
            panel.overlay.Update({Finger, 2000 + 10 * i, 3000, 0});
        }
        held.store(true);
        Sleep(2000);
    });
    while (!held.load()) {
        Sleep(1);
    }
    int answered = 0;
    for (int i = 0; i < 10; ++i) {
        DWORD_PTR result = 0;
        if (SendMessageTimeoutW(panel.window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 100, &result) != 0) {
            ++answered;
        }
        Sleep(100);
    }
    feeder.join();
    EXPECT_EQ(answered, 10);
}

TEST(OverlayWindow, IsNotDrawnAgainWhileNothingChanges) {
    ShownPanel panel;
    ASSERT_TRUE(WaitFor([&] { return panel.Visible(); }));
    panel.overlay.Update({Finger, 3000, 3000, 0});
    ASSERT_TRUE(WaitFor([&] { return panel.overlay.Redraws() >= 2; }));
    Sleep(200);
    const long before = panel.overlay.Redraws();
    for (int i = 0; i < 100; ++i) {
        panel.overlay.Update({Finger, 3000, 3000, 0}); // the same finger, the same place
    }
    Sleep(300);
    EXPECT_EQ(panel.overlay.Redraws(), before);
}

// A flood of moves is coalesced: at most one redraw per RedrawMs of the time it took, and the
// last position is the one drawn.
TEST(OverlayWindow, AFloodOfMovesIsCoalesced) {
    ShownPanel panel;
    ASSERT_TRUE(WaitFor([&] { return panel.Visible(); }));
    const long before = panel.overlay.Redraws();
    const DWORD start = GetTickCount();
    for (LONG i = 0; i < 2000; ++i) {
        panel.overlay.Update({Finger, 1500 + (i % 500) * 10, 3000, 0});
    }
    Sleep(100);
    const DWORD elapsed = GetTickCount() - start;
    const long drawn = panel.overlay.Redraws() - before;
    EXPECT_GE(drawn, 1);
    EXPECT_LE(drawn, static_cast<long>(elapsed / RedrawMs) + 2);
}

// What the panel drew last, as the window answers from outside.
DrawnSummary DrawnBy(HWND window) {
    DWORD_PTR answer = 0;
    if (SendMessageTimeoutW(window, QueryMessage, 0, 0, SMTO_ABORTIFHUNG, PatienceMs, &answer) ==
        0) {
        return {};
    }
    return UnpackDrawn(static_cast<uint32_t>(answer));
}

LONG WidthOf(HWND window) {
    RECT r{};
    GetWindowRect(window, &r);
    return r.right - r.left;
}

// A second without a touch: the panel fades and shrinks to its small form in the same corner,
// and stays so with nothing running; the next touch brings it back at full size in the very
// next frame, with the finger on it.
TEST(OverlayWindow, ShrinksWhenIdleAndComesBackInOneFrameAtTheNextTouch) {
    OverlaySettings settings;
    settings.idleSeconds = 1;
    ShownPanel panel(settings);
    ASSERT_TRUE(WaitFor([&] { return panel.Visible() && DrawnBy(panel.window).shown; }));
    const LONG full = WidthOf(panel.window);
    ASSERT_TRUE(WaitFor([&] { return DrawnBy(panel.window).idle; }));
    EXPECT_EQ(WidthOf(panel.window), IdleCanvasSize(1.0F));
    RECT work{};
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0));
    RECT r{};
    ASSERT_TRUE(GetWindowRect(panel.window, &r));
    EXPECT_EQ(r.right, work.right);
    EXPECT_EQ(r.bottom, work.bottom);
    const long idleFrames = panel.overlay.Redraws();
    Sleep(300);
    EXPECT_EQ(panel.overlay.Redraws(), idleFrames) << "frames while idle";

    panel.overlay.Update({Finger, 4000, 3000, 0});
    ASSERT_TRUE(WaitFor([&] { return DrawnBy(panel.window).touching; }));
    EXPECT_EQ(panel.overlay.Redraws(), idleFrames + 1) << "not the next frame";
    EXPECT_FALSE(DrawnBy(panel.window).idle);
    EXPECT_EQ(WidthOf(panel.window), full);
}

// The app theme setting, changed while the panel shows: Windows tells every top-level window
// with WM_SETTINGCHANGE ("ImmersiveColorSet"), which the test sends as the system would.
TEST(OverlayWindow, FollowsTheAppThemeAsItChanges) {
    constexpr wchar_t Personalize[] =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";
    const auto setTheme = [&](DWORD light) {
        return RegSetKeyValueW(HKEY_CURRENT_USER, Personalize, L"AppsUseLightTheme", REG_DWORD,
                               &light, sizeof light) == ERROR_SUCCESS;
    };
    ShownPanel panel;
    ASSERT_TRUE(WaitFor([&] { return DrawnBy(panel.window).shown; }));
    EXPECT_EQ(DrawnBy(panel.window).theme, ThemeKind::Light);
    for (const DWORD light : {0U, 1U}) {
        SCOPED_TRACE(light);
        ASSERT_TRUE(setTheme(light));
        DWORD_PTR result = 0;
        SendMessageTimeoutW(panel.window, WM_SETTINGCHANGE, 0,
                            reinterpret_cast<LPARAM>(L"ImmersiveColorSet"), SMTO_ABORTIFHUNG,
                            PatienceMs, &result);
        const ThemeKind wanted = light == 0 ? ThemeKind::Dark : ThemeKind::Light;
        EXPECT_TRUE(WaitFor([&] { return DrawnBy(panel.window).theme == wanted; }));
    }
    RegDeleteKeyValueW(HKEY_CURRENT_USER, Personalize, L"AppsUseLightTheme");
}

// The test prefix has no audio device: the panel asks for the system's volume, gets none, and
// shows the strip without a level, and goes on answering.
TEST(OverlayWindow, WithoutAnAudioDeviceTheStripHasNoLevel) {
    ShownPanel panel;
    ASSERT_TRUE(WaitFor([&] { return DrawnBy(panel.window).shown; }));
    panel.overlay.Update({Finger, 6500, 4000, 0}); // on the strip
    ASSERT_TRUE(WaitFor([&] { return DrawnBy(panel.window).touching; }));
    const DrawnSummary drawn = DrawnBy(panel.window);
    EXPECT_EQ(drawn.under, StripIndex);
    EXPECT_FALSE(drawn.level);
}

TEST(OverlayWindow, IsGoneOnceTheOverlayIsDestroyed) {
    HWND window = nullptr;
    DWORD threadId = 0;
    {
        ShownPanel panel;
        ASSERT_TRUE(WaitFor([&] { return panel.Visible(); }));
        window = panel.window;
        threadId = panel.overlay.ThreadId();
        panel.overlay.Update({Finger, 3000, 3000, 0});
    }
    EXPECT_FALSE(IsWindow(window));
    HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, threadId);
    if (thread != nullptr) {
        EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
        CloseHandle(thread);
    }
}

// Destroyed at once after it is made, before its window may exist, and while shown: never left.
TEST(OverlayWindow, DestroyedStraightAfterItIsMadeLeavesNoWindow) {
    for (int i = 0; i < 20; ++i) {
        DWORD threadId = 0;
        {
            Overlay overlay{OverlaySettings{}};
            if (i % 2 == 0) {
                overlay.Show(LayoutFor(LibraryPad));
            }
            threadId = overlay.ThreadId();
        }
        HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, threadId);
        if (thread != nullptr) {
            EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
            CloseHandle(thread);
        }
    }
    EXPECT_EQ(FindWindowW(nullptr, L"Tapdeck panel"), nullptr);
}

} // namespace
} // namespace overlay
