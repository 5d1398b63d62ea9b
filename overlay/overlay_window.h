// The panel on the screen: a LayeredWindow (layered, click-through, top-most, never activated,
// in neither the taskbar nor Alt+Tab) on a thread of its own with its own message loop.
//
// Threads: one owner thread makes, calls and destroys an Overlay. Show, Hide and Update never
// wait for the panel's thread: they change the shared state under a short lock and set its
// wake-up event when no wake-up is outstanding. The destructor ends the panel's thread and waits
// for it: the window is gone when it returns.
//
// Pacing: a report that changes what the panel shows wakes the panel's thread only when the
// last frame is RedrawMs old, and is drawn at once; one that comes sooner wakes nothing and is
// drawn with the next report that finds the frame old enough. After each frame the panel's
// thread looks once more, LateMs after the frame could next be drawn, for a last report that
// no other follows (with the system's wait, not SetTimer: a 16 ms SetTimer ticks at the
// timer's 15.6 ms granularity and may come only after 31 ms). With a finger moving at 125
// reports a second every other report is drawn, each within about 8 ms of its arrival, and the
// panel's thread wakes once a frame. What fades (a caption, a step's mark, the idle fade) is
// drawn a frame each RedrawMs; when nothing changes and nothing fades nothing runs at all.
#pragma once

#include <windows.h>

#include <atomic>
#include <optional>

#include "device/unique_handle.h"
#include "layered_window.h"
#include "panel.h"
#include "panel_geometry.h"
#include "placement.h"
#include "render.h"
#include "settings.h"
#include "theme.h"
#include "volume.h"

namespace overlay {

// The shortest time between two frames.
inline constexpr DWORD RedrawMs = 12;
// How much longer than RedrawMs after a frame the panel's thread waits for a report that would
// draw what changed meanwhile, before it draws it itself.
inline constexpr DWORD LateMs = 10;
// The idle fade: the panel fades out over IdleFadeMs, then shows its small form at
// IdleOpacityPercent (or the setting's opacity, when that is lower).
inline constexpr DWORD IdleFadeMs = 240;
inline constexpr int IdleOpacityPercent = 45;

// The window class's name, for finding the panel from outside (tests, tools).
inline constexpr wchar_t WindowClassPrefix[] = L"TapdeckPanel";

// Sent to the panel's window (from any thread or process): it answers what it drew last, as
// PackDrawn packs it; 0 when it is hidden or has drawn nothing.
inline constexpr UINT QueryMessage = WM_APP + 3;

// What the panel drew last, coarsely: the finger's place in 255ths of the pad, zones by index.
struct DrawnSummary {
    bool shown = false;
    bool touching = false;
    bool stepping = false;
    bool idle = false;    // the small form
    bool caption = false; // a caption, not the panel's name
    bool level = false;   // the system's volume level
    ThemeKind theme = ThemeKind::Light;
    int across = 0; // 0 at the pad's left edge, 255 at its right
    int up = 0;     // 0 at the lowest device Y, 255 at the highest (the top edge)
    std::optional<size_t> under;
    std::optional<size_t> pressed;
};

// The panel window of process `processId`, shown or not; null when there is none. From any
// thread or process (tests, tools).
HWND FindPanelWindow(DWORD processId);

// In 32 bits, so that a 32-bit process can read a 64-bit one's answer.
uint32_t PackDrawn(const PanelLayout& layout, const PanelScene& scene, ThemeKind theme, bool idle);
DrawnSummary UnpackDrawn(uint32_t packed);

// Milliseconds on the performance counter, the clock of every time the panel hands its
// tracker: unlike GetTickCount it does not move in 15.6 ms steps.
DWORD PanelNowMs();

class Overlay {
public:
    // Starts the panel's thread, which makes the window, hidden.
    explicit Overlay(const OverlaySettings& settings);
    ~Overlay();
    Overlay(const Overlay&) = delete;
    Overlay& operator=(const Overlay&) = delete;
    Overlay(Overlay&&) = delete;
    Overlay& operator=(Overlay&&) = delete;

    // Shows the panel of this pad, with no finger and nothing pressed.
    void Show(const PanelLayout& layout);
    void Hide();
    // One packet as the program reads it.
    void Update(const PacketView& packet);

    // The window once the panel's thread has made it (null if it could not), waiting at most
    // `timeoutMs` for it.
    HWND WaitForWindow(DWORD timeoutMs) const;
    DWORD ThreadId() const { return threadId; }
    // Times the panel has been put on the screen.
    long Redraws() const { return redraws.load(); }

    // For a benchmark: called on the panel's thread after each frame is on the screen, with the
    // number of Update calls it shows (all made before it) and the performance counter then.
    // Set before Show.
    using FrameObserver = void (*)(void* context, unsigned long long updates, long long shownAt);
    void ObserveFrames(FrameObserver observer, void* context);

private:
    struct Shared {
        bool visible = false;
        bool wakePosted = false; // `wake` is set and the panel's thread has not looked yet
        bool framed = false;     // a frame was drawn, at lastFrameMs
        DWORD lastFrameMs = 0;   // on PanelNowMs's clock
        unsigned layoutGeneration = 0;
        unsigned long long updates = 0;
        PanelLayout layout;
        std::optional<PanelTracker> tracker;
    };

    // What a frame shows: the panel (or its fade, or its small form) of one scene.
    enum class Form { Full, Fading, Idle };
    struct Frame {
        Form form = Form::Full;
        float fade = 0; // 0..1 of the idle fade
        PanelScene scene;
        unsigned generation = 0;
        unsigned lookGeneration = 0;
        RECT place{};

        bool operator==(const Frame& other) const;
    };

    class Messages final : public LayeredWindow::Handler {
    public:
        explicit Messages(Overlay& owner) : overlay(owner) {}
        LRESULT OnMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

    private:
        Overlay& overlay;
    };

    static DWORD WINAPI ThreadMain(void* self);
    static void WakeFromVolume(void* self);
    void Run();
    void Wake();
    void Refresh();
    void ReadLook();
    void Place(const PanelLayout& layout);
    bool Present(const Frame& frame, const PanelLayout& layout);
    void HideWindow();
    void Loop();

    SRWLOCK lock = SRWLOCK_INIT;
    std::atomic<HWND> window{nullptr};
    FrameObserver observer = nullptr;
    void* observerContext = nullptr;
    UniqueHandle ready;
    UniqueHandle wake; // auto-reset: the shared state changed
    UniqueHandle thread;

    // The panel's thread only (the larger members first, the flags last, to pack them).
    LayeredWindow* layered = nullptr;
    long long lastFrameAt = 0;
    Messages messages{*this};
    std::optional<long long> deadline; // performance counter
    std::optional<EndpointVolume> volume;
    Canvas canvas;
    Canvas idleCanvas;
    std::optional<Frame> drawn;

    Shared shared; // under `lock`

    std::optional<PanelPainter> painter; // the panel's thread only
    std::atomic<long> redraws{0};
    std::atomic<uint32_t> drawnSummary{0};
    DWORD threadId = 0;

    // The panel's thread only.
    unsigned lookGeneration = 0;
    unsigned drawnGeneration = 0;
    float idleScale = 0;
    unsigned idleLook = 0;
    unsigned painterGeneration = 0;
    RECT place{};
    Screen screen;

    const OverlaySettings settings;
    Palette palette; // the panel's thread only

    std::atomic<bool> stopping{false};
    // The panel's thread only.
    bool placed = false;
    bool lookStale = true;
    BYTE drawnOpacity = 0;
    bool volumeAsked = false;
};

} // namespace overlay
