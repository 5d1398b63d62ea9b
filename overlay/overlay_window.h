// The panel on the screen: a layered, click-through, top-most pop-up that is never activated and
// is in neither the taskbar nor Alt+Tab, on a thread of its own with its own message loop.
//
// Threads: one owner thread makes, calls and destroys an Overlay. Show, Hide and Update never
// wait for the panel's thread: they change the shared state under a short lock and post one
// wake-up; the panel's thread then redraws at most once each RedrawMs on a timer that runs only
// while something changes (moves, a fading flash) and stops at the first tick with nothing new. The
// destructor ends the panel's thread and waits for it: the window is gone when it returns.
#pragma once

#include <windows.h>

#include <atomic>
#include <optional>

#include "device/unique_handle.h"
#include "panel.h"
#include "render.h"
#include "settings.h"

namespace overlay {

// The shortest time between two redraws: about 60 a second.
inline constexpr DWORD RedrawMs = 16;

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
    int across = 0; // 0 at the pad's left edge, 255 at its right
    int up = 0;     // 0 at the lowest device Y, 255 at the highest (the top edge)
    std::optional<size_t> under;
    std::optional<size_t> flashZone;
};

// The panel window of process `processId`, shown or not; null when there is none. From any
// thread or process (tests, tools).
HWND FindPanelWindow(DWORD processId);

// In 32 bits, so that a 32-bit process can read a 64-bit one's answer.
uint32_t PackDrawn(const PanelLayout& layout, const PanelState& state);
DrawnSummary UnpackDrawn(uint32_t packed);

class Overlay {
public:
    // Starts the panel's thread, which makes the window, hidden.
    explicit Overlay(const OverlaySettings& settings);
    ~Overlay();
    Overlay(const Overlay&) = delete;
    Overlay& operator=(const Overlay&) = delete;
    Overlay(Overlay&&) = delete;
    Overlay& operator=(Overlay&&) = delete;

    // Shows the panel of this pad, with no finger and no flash.
    void Show(const PanelLayout& layout);
    void Hide();
    // One packet as the program reads it, at the caller's tick count.
    void Update(const PacketView& packet);

    // The window once the panel's thread has made it (null if it could not), waiting at most
    // `timeoutMs` for it.
    HWND WaitForWindow(DWORD timeoutMs) const;
    DWORD ThreadId() const { return threadId; }
    // Times the panel has been drawn and put on the screen.
    long Redraws() const { return redraws.load(); }

private:
    struct Shared {
        bool visible = false;
        bool pending = false; // a wake-up is posted, or the redraw timer runs
        unsigned layoutGeneration = 0;
        PanelLayout layout;
        std::optional<PanelTracker> tracker;
    };

    static DWORD WINAPI ThreadMain(void* self);
    static LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void Run();
    void Wake();
    void Refresh();
    bool Draw(const PanelLayout& layout, const PanelState& state);
    void Place();
    void HideWindow();

    const OverlaySettings settings;

    SRWLOCK lock = SRWLOCK_INIT;
    Shared shared; // under `lock`

    std::atomic<HWND> window{nullptr};
    std::atomic<bool> stopping{false};
    std::atomic<long> redraws{0};
    std::atomic<uint32_t> drawnSummary{0};
    UniqueHandle ready;
    UniqueHandle thread;
    DWORD threadId = 0;

    // The panel's thread only.
    bool shown = false;
    bool timerOn = false;
    bool placed = false;
    RECT placement{};
    float dpiScale = 1.0F;
    unsigned drawnGeneration = 0;
    std::optional<PanelState> drawnState;
    DWORD lastDrawAt = 0;
    PanelBitmap bitmap;
    // Made again when the layout, the size or the scale changes.
    std::optional<PanelPainter> painter;
    unsigned painterGeneration = 0;
    unsigned drawingGeneration = 0;
    bool drawnOnce = false;
    RECT drawnAt{};
};

} // namespace overlay
