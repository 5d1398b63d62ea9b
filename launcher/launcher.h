// The resident launcher: it reads every Precision Touchpad through raw input, as an input sink
// that claims, hooks and holds nothing, and starts Tapdeck when a finger rests in the
// activation corner (hold.h). It shows the hold being counted as a ring in the screen corner
// where Tapdeck's panel appears, and has a place in the notification area.
//
// Threads: one thread makes a Launcher, runs its loop and destroys it; everything it does
// happens on that thread, from window messages and the handles its loop waits for (the
// settings key's change, a started Tapdeck's end). Nothing runs while the pad is untouched:
// no timer, no polling. The counters are atomics for tests on other threads.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "frame_source.h"
#include "hold.h"
#include "layout/reg_key.h"
#include "ring.h"
#include "tapdeck_process.h"
#include "tray.h"

namespace launcher {

// The launcher's window: hidden, top-level (the notification area's messages and the
// taskbar's restart reach it), found by its class.
inline constexpr wchar_t LauncherClass[] = L"VelTapdeckLauncher";

// The menu's commands, also sent as WM_COMMAND by tests and by the uninstaller's WM_CLOSE.
inline constexpr UINT CommandStartNow = 1;
inline constexpr UINT CommandToggleHold = 2;
inline constexpr UINT CommandQuit = 3;

struct LauncherOptions {
    std::wstring tapdeckPath = TapdeckBesideMe();
    // Whether the icon goes into the notification area (tests of the hold leave it out).
    bool tray = true;
};

class Launcher final : private FrameReceiver {
public:
    explicit Launcher(LauncherOptions options);
    ~Launcher();
    Launcher(const Launcher&) = delete;
    Launcher& operator=(const Launcher&) = delete;

    // Makes the window and registers for the touchpads' raw input; false when it cannot.
    bool Create();
    // Runs until the launcher is told to quit (its menu, WM_CLOSE, the end of the session).
    void Run();

    HWND Window() const { return window; }
    // For tests: frames read, holds begun, times Tapdeck was started, settings read.
    long Frames() const { return frames.load(); }
    long Holds() const { return holds.load(); }
    long Starts() const { return starts.load(); }
    long SettingsRead() const { return settingsRead.load(); }
    bool Counting() const { return counting.load(); }
    // The ring's window, made with the launcher's; for tests to look at.
    HWND RingWindow() const { return ring ? ring->Window() : nullptr; }

private:
    static LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);

    void OnFrame(const ptp::Frame& frame) override;
    void OnPadChanged(const ptp::PadGeometry& geometry) override;
    void OnPadRemoved() override;
    void Apply(HoldChange change);
    void StartTapdeck();
    void ReadSettingsAgain();
    void WatchSettings();
    void UpdateTray();
    void Command(UINT id);

    LauncherOptions options;
    HWND window = nullptr;
    UINT taskbarCreated = 0;
    std::unique_ptr<FrameSource> source;
    HoldSettings settings;
    HoldDetector detector;
    TapdeckWatch tapdeck;
    std::optional<Tray> tray;
    std::optional<HoldRing> ring;
    bool padPresent = false;
    DWORD startError = 0;
    DWORD lastStartMs = 0;
    // Signalled when the settings key changes; watched again after each change.
    RegKeyHandle settingsKey;
    UniqueHandle settingsChanged;

    std::atomic<long> frames{0};
    std::atomic<long> holds{0};
    std::atomic<long> starts{0};
    std::atomic<long> settingsRead{0};
    std::atomic<bool> counting{false};
};

} // namespace launcher
