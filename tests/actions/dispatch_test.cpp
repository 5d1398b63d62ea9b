// The button actions: the key events each one injects, and whether it then leaves the mode,
// seen as WM_CLOSE at the program's window and as Unclaim and the indicator switched off in
// the simulated touchpad library's journal.
#include <climits>
#include <memory>
#include <optional>
#include <vector>

#include "device/pad_app.h"
#include "key_expect.h"
#include "open_players.h"
#include "support/sim_scenario.h"

namespace {

// Stands in for the program's hidden window: a window of the test thread, so LeaveMode's
// SendMessageA reaches it directly. It records what the key hook had seen when WM_CLOSE came,
// and stays open.
class PadWindowStandIn {
public:
    explicit PadWindowStandIn(const KeyHook& keyHook) : hook(keyHook) {
        WNDCLASSEXA wc = {};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "TapdeckTestPadWindow";
        RegisterClassExA(&wc);
        window = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, nullptr, nullptr,
                                 wc.hInstance, nullptr);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WndProc));
        padWindow.store(window);
    }
    ~PadWindowStandIn() {
        padWindow.store(nullptr);
        DestroyWindow(window);
    }
    PadWindowStandIn(const PadWindowStandIn&) = delete;
    PadWindowStandIn& operator=(const PadWindowStandIn&) = delete;

    HWND Handle() const { return window; }
    int closes = 0;
    // The hook's record when the first WM_CLOSE arrived.
    std::optional<std::vector<KeyRecord>> keysAtClose;

private:
    static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<PadWindowStandIn*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
        if (msg == WM_CLOSE) {
            if (self->closes++ == 0) {
                self->keysAtClose = self->hook.Events();
            }
            return 0;
        }
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    }

    const KeyHook& hook;
    HWND window = nullptr;
};

bool SimRegistered() {
    CLSID clsid;
    return SUCCEEDED(CLSIDFromProgID(ProgIdPointingDevice, &clsid));
}

struct ActionCase {
    LONG action;
    KeySeq keys;
    bool leavesMode;
};

// With no player open, so PlayerWindow launches the media player and Mute is the system's.
constexpr ActionCase ActionCases[] = {
    {ExitMode, {}, true},
    {BrowserHome, Strokes(VK_BROWSER_HOME), true},
    {Search, {Press(VK_LWIN), Press('F'), Release('F'), Release(VK_LWIN)}, true},
    {Mail, Strokes(VK_LAUNCH_MAIL), true},
    {MediaStop, Strokes(VK_MEDIA_STOP), false},
    {PlayerWindow, Strokes(VK_LAUNCH_MEDIA_SELECT), false},
    {Mute, Strokes(VK_VOLUME_MUTE), false},
    {PrevTrack, Strokes(VK_MEDIA_PREV_TRACK), false},
    {PlayPause, Strokes(VK_MEDIA_PLAY_PAUSE), false},
    {NextTrack, Strokes(VK_MEDIA_NEXT_TRACK), false},
    {-1, {}, false},
    {10, {}, false},
    {LONG_MIN, {}, false},
    {LONG_MAX, {}, false},
};

class DispatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(hook.Installed());
        ASSERT_TRUE(NoPlayerOpen());
    }
    void TearDown() override { ExpectNothingHeld(hook); }

    KeyHook hook;
};

TEST_F(DispatchTest, EachActionInjectsItsKeysAndOnlyExitAndLaunchActionsCloseTheWindow) {
    for (const ActionCase& c : ActionCases) {
        SCOPED_TRACE(::testing::Message() << "action " << c.action);
        hook.Clear();
        PadWindowStandIn window(hook);
        PadApp app;
        const Zone zone = {1, {0, 0, 1, 1}, c.action};

        app.RunAction(&zone);

        ExpectKeys(hook, c.keys);
        EXPECT_EQ(window.closes, c.leavesMode ? 1 : 0);
        if (c.leavesMode && window.keysAtClose) {
            // The keys were in the input stream before the window was asked to close.
            EXPECT_EQ(*window.keysAtClose, c.keys.ToVector());
        }
    }
}

TEST_F(DispatchTest, ANullZoneDoesNothing) {
    PadWindowStandIn window(hook);
    PadApp app;

    app.RunAction(nullptr);

    ExpectKeys(hook, {});
    EXPECT_EQ(window.closes, 0);
}

TEST_F(DispatchTest, ExitAndLaunchActionsUnclaimTheDeviceAndSwitchTheIndicatorOff) {
    if (!SimRegistered()) {
        GTEST_SKIP() << "the simulated touchpad library is not registered";
    }
    for (const ActionCase& c : ActionCases) {
        SCOPED_TRACE(::testing::Message() << "action " << c.action);
        hook.Clear();
        // Declared first so the library's objects are all released before it goes.
        SimScenario sim = SimScenario::Default();
        PadWindowStandIn window(hook);
        auto app = std::make_unique<PadApp>();
        ASSERT_TRUE(app->device);
        const Zone zone = {1, {0, 0, 1, 1}, c.action};

        app->RunAction(&zone);
        ExpectKeys(hook, c.keys);
        app.reset();

        const std::vector<JournalRecord> journal = sim.Journal();
        const std::vector<JournalRecord> unclaims = FindEvents(journal, "Unclaim");
        std::vector<JournalRecord> indicatorOff;
        for (const JournalRecord& r : FindEvents(journal, "WriteProperty")) {
            if (r.Num("id") == PropModeLed && r.Num("value") == ModeLedOff) {
                indicatorOff.push_back(r);
            }
        }
        EXPECT_EQ(unclaims.size(), c.leavesMode ? 1u : 0u);
        EXPECT_EQ(indicatorOff.size(), c.leavesMode ? 1u : 0u);
        if (c.leavesMode) {
            EXPECT_LT(FindEvent(journal, "Unclaim"), FindEvent(journal, "WriteProperty"));
            EXPECT_EQ(window.closes, 1);
        }
    }
}

} // namespace
