// A window for a small picture over everything else: a layered pop-up (WS_EX_LAYERED |
// WS_EX_TRANSPARENT | WS_EX_TOPMOST | WS_EX_NOACTIVATE | WS_EX_TOOLWINDOW) that is click-through
// (it also answers WM_NCHITTEST with HTTRANSPARENT), never activated, in neither the taskbar
// nor Alt+Tab, and shows a Canvas's premultiplied pixels with their per-pixel alpha through
// UpdateLayeredWindowIndirect. Nothing here knows the panel; any small overlay uses it.
//
// Threads: made, used and destroyed on one thread, whose message loop serves the window.
#pragma once

#include <windows.h>

#include "canvas.h"

namespace overlay {

class LayeredWindow {
public:
    // Gets the window's messages other than the ones the window answers itself (hit testing,
    // activation).
    class Handler {
    public:
        virtual LRESULT OnMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) = 0;

    protected:
        ~Handler() = default;
    };

    // Registers a class named `classPrefix` followed by the window procedure's address (a copy
    // of the code loaded again at another address registers its own) and makes the window,
    // hidden. Handle() is null when it could not be made.
    LayeredWindow(const wchar_t* classPrefix, const wchar_t* title, Handler* handler);
    ~LayeredWindow();
    LayeredWindow(const LayeredWindow&) = delete;
    LayeredWindow& operator=(const LayeredWindow&) = delete;
    LayeredWindow(LayeredWindow&&) = delete;
    LayeredWindow& operator=(LayeredWindow&&) = delete;

    HWND Handle() const { return window; }

    // Puts the canvas on the screen with its top left at `at`, at `opacity` (0..255) over its
    // own alpha, and shows the window (without activating it) if it was hidden. Only the
    // pixels of `dirty` are handed over when the window neither moved nor changed size since
    // the last Present (null: all of them).
    bool Present(const Canvas& canvas, POINT at, BYTE opacity, const RECT* dirty);
    void Hide();
    bool Shown() const { return shown; }

private:
    static LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    Handler* handler;
    HWND window = nullptr;
    bool shown = false;
    bool placed = false; // a Present put the window at `place` since it was last hidden
    RECT place{};
};

} // namespace overlay
