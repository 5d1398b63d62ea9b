#include "ring.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "placement.h"
#include "settings.h" // the panel's: its corner and monitor

namespace launcher {

namespace {

// In effective pixels, as Windows 11's flyouts measure.
constexpr float CardEpx = 48;
constexpr float MarginEpx = 12; // the shadow's room, as around the panel
constexpr float CardRadiusEpx = 8;
constexpr float RingRadiusEpx = 14;
constexpr float RingWidthEpx = 4;
constexpr float ShadowBlurEpx = 9;
constexpr float ShadowOffsetEpx = 2;

float Px(float epx, float scale) {
    return std::round(epx * scale);
}

} // namespace

int RingWindowPixels(float scale) {
    return static_cast<int>(Px(CardEpx, scale) + 2 * Px(MarginEpx, scale));
}

overlay::PointF RingCentre(float scale) {
    const float half = static_cast<float>(RingWindowPixels(scale)) / 2;
    return {half, half};
}

float RingRadius(float scale) {
    return Px(RingRadiusEpx, scale);
}

float RingWidth(float scale) {
    return std::max(2.0F, Px(RingWidthEpx, scale));
}

void DrawRing(overlay::Canvas& canvas, const overlay::Palette& palette, float scale,
              double progress) {
    const int side = RingWindowPixels(scale);
    canvas.Clear({0, 0, side, side});
    const float margin = Px(MarginEpx, scale);
    const overlay::RectF card{margin, margin, static_cast<float>(side) - margin,
                              static_cast<float>(side) - margin};
    const float radius = Px(CardRadiusEpx, scale);
    canvas.Shadow(card, radius, Px(ShadowBlurEpx, scale), Px(ShadowOffsetEpx, scale),
                  palette.shadowOpacity);
    canvas.FillRoundedRect(card, radius, overlay::Solid(palette.background));
    canvas.StrokeRoundedRect(card, radius, std::max(1.0F, Px(palette.borderWidth, scale)),
                             overlay::Solid(palette.border));

    const overlay::PointF centre = RingCentre(scale);
    const float ring = RingRadius(scale);
    const float width = RingWidth(scale);
    canvas.StrokeCircle(centre, ring, width, overlay::Solid(palette.track));
    const double swept = std::clamp(progress, 0.0, 1.0);
    if (swept <= 0) {
        return;
    }
    // ArcDistance's angles run clockwise from three o'clock; the ring starts at twelve.
    constexpr auto Quarter = static_cast<float>(std::numbers::pi / 2);
    const float from = -Quarter;
    const float to = from + static_cast<float>(swept * 2 * std::numbers::pi);
    const RECT bounds = overlay::PixelBounds(
        {centre.x - ring, centre.y - ring, centre.x + ring, centre.y + ring}, width);
    canvas.FillShape(bounds, overlay::Solid(palette.accent), [&](overlay::PointF p) {
        return overlay::ArcDistance(p, centre, ring, width, from, to);
    });
}

HoldRing::HoldRing() : window(L"VelTapdeckLauncherRing", L"", this) {}

void HoldRing::Show(double progress) {
    if (window.Handle() == nullptr) {
        return;
    }
    if (!window.Shown()) {
        const overlay::OverlaySettings settings = overlay::ReadOverlaySettings();
        const overlay::Screen screen = overlay::ScreenFor(settings.monitor);
        scale = screen.scale;
        palette = overlay::MakePalette(overlay::ReadSystemLook());
        const int side = RingWindowPixels(scale);
        const RECT place = overlay::PlaceInCorner(screen.work, {side, side}, settings.corner);
        at = {place.left, place.top};
        if (canvas.Width() != side) {
            canvas = overlay::Canvas(side, side);
        }
    }
    if (!canvas) {
        return;
    }
    DrawRing(canvas, palette, scale, progress);
    window.Present(canvas, at, 255, nullptr);
}

void HoldRing::Hide() {
    window.Hide();
}

LRESULT HoldRing::OnMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

} // namespace launcher
