// The light that confirms a hold: a small flyout in the screen corner where Tapdeck's panel
// appears, its ring filling over the hold time, drawn with the panel's means (canvas, palette,
// layered window, placement). DrawRing is the picture alone; HoldRing is its window, made, used
// and destroyed on the launcher's thread, whose message loop serves it.
#pragma once

#include <windows.h>

#include "canvas.h"
#include "layered_window.h"
#include "theme.h"

namespace launcher {

// The window's side in pixels at `scale` (pixels per effective pixel): the card and the
// transparent margin its shadow falls in.
int RingWindowPixels(float scale);

// The ring's centre and radius in a window of RingWindowPixels(scale), for the picture's tests.
overlay::PointF RingCentre(float scale);
float RingRadius(float scale);
float RingWidth(float scale);

// Draws the flyout on the whole canvas (RingWindowPixels(scale) square): a card in the
// palette's background with its border and shadow, a track in the palette's track colour and,
// clockwise from twelve o'clock, `progress` (0 to 1) of it in the accent.
void DrawRing(overlay::Canvas& canvas, const overlay::Palette& palette, float scale,
              double progress);

class HoldRing final : private overlay::LayeredWindow::Handler {
public:
    HoldRing();
    ~HoldRing() = default;
    HoldRing(const HoldRing&) = delete;
    HoldRing& operator=(const HoldRing&) = delete;

    // Shows the ring at `progress`. Where it goes (the panel's corner and monitor), its scale and
    // its colours are read when it appears, as the panel reads them when it does.
    void Show(double progress);
    void Hide();
    bool Visible() const { return window.Shown(); }
    HWND Window() const { return window.Handle(); }

private:
    LRESULT OnMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;

    overlay::LayeredWindow window;
    overlay::Canvas canvas;
    overlay::Palette palette;
    float scale = 1.0F;
    POINT at{};
};

} // namespace launcher
