// The light that confirms a hold: a small ring in the screen corner where Tapdeck's panel
// appears, filling over the hold time. A layered, click-through, top-most window that is never
// activated, on the launcher's thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

namespace launcher {

// The ring's picture, `size` pixels square, premultiplied BGRA, top row first: a faint track
// and, clockwise from twelve o'clock, `progress` (0 to 1) of it in `fill` (0xRRGGBB).
void DrawRing(std::vector<uint32_t>& pixels, int size, double progress, uint32_t fill);

class HoldRing {
public:
    HoldRing();
    ~HoldRing();
    HoldRing(const HoldRing&) = delete;
    HoldRing& operator=(const HoldRing&) = delete;

    // Shows the ring at `progress`, in its corner of the monitor under the pointer's work area.
    void Show(double progress);
    void Hide();
    bool Visible() const { return visible; }
    HWND Window() const { return window; }

private:
    HWND window = nullptr;
    bool visible = false;
    std::vector<uint32_t> pixels;
};

} // namespace launcher
