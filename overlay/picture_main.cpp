// tapdeck-overlay-picture.exe: writes the panel, as the overlay's own renderer draws it, to a
// PNG with its shadow in the alpha: the Precision Touchpad library's pad mid-session, "Next"
// just tapped (pressed, its caption below), a finger resting on button 5, the volume at 40%.
// The README's pictures are made with it (tools/overlay-picture.sh).
//   tapdeck-overlay-picture.exe OUT.png [light|dark|contrast] [SIZE SCALE]
// SIZE is the panel's height in tens of effective pixels (as the OverlaySize setting), SCALE
// the display's scale (1.5 for 150%); "contrast" is Windows' "High Contrast Black" scheme.
#include <windows.h>

#include <cmath>
#include <cstdio>
#include <cwchar>
#include <string>

#include "device/velcom.h"
#include "panel.h"
#include "panel_geometry.h"
#include "png.h"
#include "render.h"
#include "theme.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 2 && argc != 3 && argc != 5) {
        std::fputs(
            "usage: tapdeck-overlay-picture.exe OUT.png [light|dark|contrast] [SIZE SCALE]\n",
            stderr);
        return 2;
    }
    const std::wstring theme = argc >= 3 ? argv[2] : L"light";
    const int size = argc == 5 ? static_cast<int>(std::wcstol(argv[3], nullptr, 10)) : 28;
    const float scale = argc == 5 ? std::wcstof(argv[4], nullptr) : 1.5F;
    if ((theme != L"light" && theme != L"dark" && theme != L"contrast") || size < 10 || size > 60 ||
        scale < 0.5F || scale > 4.0F) {
        std::fputs("tapdeck-overlay-picture: theme, size or scale out of range\n", stderr);
        return 2;
    }

    const overlay::PanelLayout layout = overlay::LayoutFor({1000, 1000, 7000, 5800});
    overlay::PanelTracker tracker(layout);
    const auto centre = [&](size_t zone) {
        const RECT r = layout.zones[zone].rect; // turned-over Y
        return POINT{(r.left + r.right) / 2, overlay::TurnY(layout, (r.top + r.bottom) / 2)};
    };
    const POINT next = centre(FirstGridIndex + 8);
    tracker.OnPacket({FlagsAFinger, next.x, next.y, 0}, 0);
    tracker.OnPacket({FlagsAGesture, next.x, next.y, 0}, 60);
    tracker.OnPacket({0, next.x, next.y, 0}, 70);
    // On button 5, right of its middle and a little up.
    const RECT five = layout.zones[FirstGridIndex + 4].rect;
    const LONG x = five.left + (five.right - five.left) * 7 / 10;
    const LONG y = overlay::TurnY(layout, five.top + (five.bottom - five.top) * 4 / 10);
    tracker.OnPacket({FlagsAFinger, x, y, 0}, 400);

    overlay::SystemLook look;
    look.kind = theme == L"dark"       ? overlay::ThemeKind::Dark
                : theme == L"contrast" ? overlay::ThemeKind::HighContrast
                                       : overlay::ThemeKind::Light;
    const auto height = static_cast<int>(std::lround(static_cast<float>(size) * 10.0F * scale));
    const SIZE body = overlay::BodySize(layout.pad, height, 4096);
    const overlay::PanelGeometry geometry(layout, body.cx, body.cy, scale);
    overlay::Canvas canvas(geometry.Width(), geometry.Height());
    if (!canvas) {
        std::fputs("tapdeck-overlay-picture: no bitmap\n", stderr);
        return 1;
    }
    const overlay::PanelScene scene{tracker.StateAt(500), overlay::VolumeLevel{0.4F, false}};
    overlay::RenderPanel(geometry, overlay::MakePalette(look), scene, canvas);
    const std::string png = overlay::EncodePng(canvas.Bits(), canvas.Width(), canvas.Height());

    FILE* out = _wfopen(argv[1], L"wb");
    if (out == nullptr) {
        std::fputs("tapdeck-overlay-picture: cannot write the file\n", stderr);
        return 1;
    }
    const bool written = std::fwrite(png.data(), 1, png.size(), out) == png.size();
    const bool closed = std::fclose(out) == 0;
    return written && closed ? 0 : 1;
}
