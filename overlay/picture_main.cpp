// tapdeck-overlay-picture.exe: writes the panel, as the overlay's own renderer draws it, to a
// PNG: the Precision Touchpad library's pad mid-session, a finger resting on button 5 (towards its
// top right). The README's picture is made with it (tools/overlay-picture.sh).
//   tapdeck-overlay-picture.exe OUT.png [WIDTH HEIGHT SCALE]
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "panel.h"
#include "png.h"
#include "render.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 2 && argc != 5) {
        std::fputs("usage: tapdeck-overlay-picture.exe OUT.png [WIDTH HEIGHT SCALE]\n", stderr);
        return 2;
    }
    const int width = argc == 5 ? static_cast<int>(std::wcstol(argv[2], nullptr, 10)) : 450;
    const int height = argc == 5 ? static_cast<int>(std::wcstol(argv[3], nullptr, 10)) : 360;
    const float scale = argc == 5 ? std::wcstof(argv[4], nullptr) : 1.5F;
    if (width < 16 || height < 16 || width > 4096 || height > 4096 || scale < 0.5F ||
        scale > 4.0F) {
        std::fputs("tapdeck-overlay-picture: size or scale out of range\n", stderr);
        return 2;
    }

    const overlay::PanelLayout layout = overlay::LayoutFor({1000, 1000, 7000, 5800});
    overlay::PanelTracker tracker(layout);
    const RECT button5 = layout.zones[FirstGridIndex + 4].rect; // turned-over Y
    // Towards the button's top right, clear of its number.
    const LONG x = button5.left + (button5.right - button5.left) * 4 / 5;
    const LONG y = overlay::TurnY(layout, button5.top + (button5.bottom - button5.top) * 3 / 10);
    tracker.OnPacket({0x2000, x, y, 0}, 0);

    overlay::PanelBitmap bitmap(width, height);
    if (!bitmap) {
        std::fputs("tapdeck-overlay-picture: no bitmap\n", stderr);
        return 1;
    }
    overlay::RenderPanel(layout, tracker.StateAt(0), {scale, true}, bitmap);
    const std::string png = overlay::EncodePng(bitmap.Bits(), width, height);

    FILE* out = _wfopen(argv[1], L"wb");
    if (out == nullptr) {
        std::fputs("tapdeck-overlay-picture: cannot write the file\n", stderr);
        return 1;
    }
    const bool written = std::fwrite(png.data(), 1, png.size(), out) == png.size();
    const bool closed = std::fclose(out) == 0;
    return written && closed ? 0 : 1;
}
