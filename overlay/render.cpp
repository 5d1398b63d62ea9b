#include "render.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace overlay {

namespace {

COLORREF Ref(Rgb c) {
    return RGB(c.r, c.g, c.b);
}

uint8_t Mix(uint8_t from, uint8_t to, float amount) {
    return static_cast<uint8_t>(std::lround(from + (to - from) * amount));
}

int Scaled(float dpiScale, float pixels) {
    return std::max(1, static_cast<int>(std::lround(pixels * dpiScale)));
}

// The pixel of `value` on a span of `pixels` that maps [lo, hi] of the pad.
int MapSpan(LONG value, LONG lo, LONG hi, int first, int pixels) {
    const long long span = static_cast<long long>(hi) - lo;
    if (span <= 0) {
        return first;
    }
    const long long offset = static_cast<long long>(value) - lo;
    return first + static_cast<int>(std::llround(static_cast<double>(offset) * pixels /
                                                 static_cast<double>(span)));
}

// The DC's own brush, recoloured: no brush made and deleted for each rectangle.
void Fill(HDC dc, const RECT& r, Rgb colour) {
    SetDCBrushColor(dc, Ref(colour));
    FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
}

// A font of the face the panel uses, `pixels` high; `tenths` of a degree turned anticlockwise.
GdiObject<HFONT> MakeFont(int pixels, bool bold, int tenths = 0) {
    return GdiObject<HFONT>(CreateFontW(-pixels, 0, tenths, tenths, bold ? FW_BOLD : FW_SEMIBOLD,
                                        FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_TT_PRECIS,
                                        CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY,
                                        VARIABLE_PITCH | FF_SWISS, L"Segoe UI"));
}

SIZE Measure(HDC dc, HFONT font, const std::wstring& text) {
    const Selection selected(dc, font);
    RECT r{0, 0, 0, 0};
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r,
              DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    return {r.right - r.left, r.bottom - r.top};
}

// The largest font up to `pixels` high whose line of `text` fits `width` by `height`; empty when
// not even the smallest readable one fits.
GdiObject<HFONT> FitFont(HDC dc, const std::wstring& text, int pixels, int width, int height,
                         bool bold, SIZE& size) {
    constexpr int SmallestPixels = 7;
    for (int h = pixels; h >= SmallestPixels; h = std::min(h - 1, h * 9 / 10)) {
        GdiObject<HFONT> font = MakeFont(h, bold);
        if (!font) {
            return {};
        }
        size = Measure(dc, font.Get(), text);
        if (size.cx <= width && size.cy <= height) {
            return font;
        }
    }
    return {};
}

std::wstring Widen(const char* text) {
    std::wstring wide;
    for (const char* c = text; *c != '\0'; ++c) {
        wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*c)));
    }
    return wide;
}

struct Line {
    std::wstring text;
    float share; // of the box's height the font may take
    bool bold;
};

// The lines one under the other, centred in `box`, each as large as fits; nothing when they
// cannot all fit.
LabelPlan PlanLines(HDC dc, const RECT& box, const Line* lines, size_t count) {
    LabelPlan plan;
    const int width = box.right - box.left;
    const int height = box.bottom - box.top;
    if (width <= 0 || height <= 0) {
        return plan;
    }
    SIZE sizes[2] = {};
    int total = 0;
    for (size_t i = 0; i < count && i < 2; ++i) {
        const int pixels = static_cast<int>(static_cast<float>(height) * lines[i].share);
        plan.fonts[i] = FitFont(dc, lines[i].text, pixels, width, height, lines[i].bold, sizes[i]);
        if (!plan.fonts[i]) {
            return {};
        }
        total += sizes[i].cy;
    }
    if (total > height) {
        return {};
    }
    int y = box.top + (height - total) / 2;
    for (size_t i = 0; i < count && i < 2; ++i) {
        plan.texts[i] = lines[i].text;
        plan.rects[i] = {box.left, y, box.right, y + sizes[i].cy};
        y += sizes[i].cy;
    }
    plan.count = std::min<size_t>(count, 2);
    return plan;
}

// A word along a tall narrow box, read from the bottom up, as large as fits.
LabelPlan PlanUpwards(HDC dc, const RECT& box, const std::wstring& word) {
    LabelPlan plan;
    const int width = box.right - box.left;
    const int height = box.bottom - box.top;
    SIZE size{};
    // Measured level: its length must fit the box's height and its height the box's width.
    const GdiObject<HFONT> level =
        FitFont(dc, word, std::min(width * 7 / 10, height / 3), height, width, true, size);
    if (!level) {
        return plan;
    }
    LOGFONTW font = {};
    GetObjectW(level.Get(), sizeof font, &font);
    plan.fonts[0] = MakeFont(-font.lfHeight, true, 900);
    if (!plan.fonts[0]) {
        return {};
    }
    TEXTMETRICW metrics = {};
    {
        const Selection selected(dc, plan.fonts[0].Get());
        GetTextMetricsW(dc, &metrics);
    }
    // The glyphs stand left of the turned baseline: from ascent left of it to descent right.
    plan.upwards = true;
    plan.at = {(box.left + box.right) / 2 + (metrics.tmAscent - metrics.tmDescent) / 2,
               (box.top + box.bottom) / 2};
    plan.texts[0] = word;
    plan.count = 1;
    return plan;
}

LabelPlan PlanLabel(HDC dc, const PanelLayout& layout, const PadMapping& map, size_t index,
                    float dpiScale) {
    RECT box = map.LabelBox(index);
    const int inset = Scaled(dpiScale, 2.0F);
    InflateRect(&box, -inset, -inset);
    const ZoneClass kind = ClassOf(index);
    if (kind == ZoneClass::Grid) {
        const Zone& zone = layout.zones[index];
        const ActionWords* words = WordsOfAction(zone.action);
        const Line lines[2] = {{std::to_wstring(zone.id), 0.5F, true},
                               {words != nullptr ? Widen(words->label) : L"", 0.3F, false}};
        return PlanLines(dc, box, lines, words != nullptr ? 2 : 1);
    }
    const std::wstring word = Widen(LookOf(kind).label);
    if (kind == ZoneClass::Strip && box.bottom - box.top > box.right - box.left) {
        return PlanUpwards(dc, box, word);
    }
    const Line line{word, 0.3F, true};
    return PlanLines(dc, box, &line, 1);
}

void DrawPlan(HDC dc, const LabelPlan& plan) {
    for (size_t i = 0; i < plan.count; ++i) {
        const Selection selected(dc, plan.fonts[i].Get());
        const std::wstring& text = plan.texts[i];
        if (plan.upwards) {
            const UINT align = SetTextAlign(dc, TA_CENTER | TA_BASELINE);
            TextOutW(dc, plan.at.x, plan.at.y, text.c_str(), static_cast<int>(text.size()));
            SetTextAlign(dc, align);
        } else {
            RECT line = plan.rects[i];
            DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &line,
                      DT_CENTER | DT_SINGLELINE | DT_NOPREFIX | DT_NOCLIP);
        }
    }
}

} // namespace

Rgb Highlighted(Rgb fill) {
    // Darker by a third: plain to see under a finger, still the zone's own hue.
    return {Mix(fill.r, 0, 0.35F), Mix(fill.g, 0, 0.35F), Mix(fill.b, 0, 0.35F)};
}

Rgb Flashed(Rgb fill, float strength) {
    const float s = std::clamp(strength, 0.0F, 1.0F);
    return {Mix(fill.r, 255, s), Mix(fill.g, 255, s), Mix(fill.b, 255, s)};
}

PanelBitmap::PanelBitmap(int w, int h) {
    if (w <= 0 || h <= 0) {
        return;
    }
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h; // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* pixels = nullptr;
    GdiObject<HBITMAP> made(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0));
    MemoryDc madeDc(CreateCompatibleDC(nullptr));
    if (!made || !madeDc || pixels == nullptr) {
        return;
    }
    previous = SelectObject(madeDc.Get(), made.Get());
    if (previous == nullptr || previous == HGDI_ERROR) {
        previous = nullptr;
        return;
    }
    width = w;
    height = h;
    dc = std::move(madeDc);
    bitmap = std::move(made);
    bits = static_cast<uint32_t*>(pixels);
}

PanelBitmap::~PanelBitmap() {
    Release();
}

PanelBitmap::PanelBitmap(PanelBitmap&& other) noexcept
    : width(std::exchange(other.width, 0)), height(std::exchange(other.height, 0)),
      dc(std::move(other.dc)), bitmap(std::move(other.bitmap)),
      previous(std::exchange(other.previous, nullptr)), bits(std::exchange(other.bits, nullptr)) {}

PanelBitmap& PanelBitmap::operator=(PanelBitmap&& other) noexcept {
    if (this != &other) {
        Release();
        width = std::exchange(other.width, 0);
        height = std::exchange(other.height, 0);
        dc = std::move(other.dc);
        bitmap = std::move(other.bitmap);
        previous = std::exchange(other.previous, nullptr);
        bits = std::exchange(other.bits, nullptr);
    }
    return *this;
}

void PanelBitmap::Release() {
    // The bitmap leaves the DC before either is deleted.
    if (dc && previous != nullptr) {
        SelectObject(dc.Get(), previous);
    }
    previous = nullptr;
    dc.Reset();
    bitmap.Reset();
    bits = nullptr;
    width = 0;
    height = 0;
}

Rgb PanelBitmap::At(int x, int y) const {
    const uint32_t p = bits[static_cast<size_t>(y) * static_cast<size_t>(width) + x];
    return {static_cast<uint8_t>(p >> 16), static_cast<uint8_t>(p >> 8), static_cast<uint8_t>(p)};
}

void PanelBitmap::SetOpaque(const RECT& area) {
    const int left = std::max(0, static_cast<int>(area.left));
    const int right = std::min(width, static_cast<int>(area.right));
    for (int y = std::max(0, static_cast<int>(area.top));
         y < std::min(height, static_cast<int>(area.bottom)); ++y) {
        uint32_t* row = bits + static_cast<size_t>(y) * static_cast<size_t>(width);
        for (int x = left; x < right; ++x) {
            row[x] |= 0xff000000U;
        }
    }
}

PadMapping::PadMapping(const PanelLayout& panelLayout, int w, int h, float dpiScale)
    : layout(panelLayout), width(w), height(h),
      border(std::max(2, std::min(Scaled(dpiScale, 5.0F), std::min(w, h) / 12))) {}

int PadMapping::Column(LONG x) const {
    return MapSpan(x, layout.pad.left, layout.pad.right, border, width - 2 * border);
}

int PadMapping::Row(LONG viewY) const {
    return MapSpan(viewY, layout.pad.top, layout.pad.bottom, border, height - 2 * border);
}

RECT PadMapping::Pixels(const RECT& view) const {
    return {Column(view.left), Row(view.top), Column(view.right), Row(view.bottom)};
}

POINT PadMapping::Finger(LONG x, LONG y) const {
    return {Column(x), Row(TurnY(layout, y))};
}

RECT PadMapping::LabelBox(size_t zoneIndex) const {
    RECT box = ZonePixels(zoneIndex);
    if (zoneIndex != StripIndex) {
        return box;
    }
    // A button across the strip's whole width at its top or bottom takes those rows.
    for (size_t i = ExitIndex; i < ZoneCount; ++i) {
        const RECT button = ZonePixels(i);
        if (button.left > box.left || button.right < box.right) {
            continue;
        }
        if (button.top <= box.top && button.bottom > box.top) {
            box.top = button.bottom;
        } else if (button.bottom >= box.bottom && button.top < box.bottom) {
            box.bottom = button.top;
        }
    }
    return box;
}

int DotRadius(int height, float dpiScale) {
    return std::max(Scaled(dpiScale, 4.0F), height / 22);
}

PanelPainter::PanelPainter(const PanelLayout& panelLayout, int w, int h,
                           const RenderOptions& renderOptions)
    : layout(panelLayout), map(panelLayout, w, h, renderOptions.dpiScale), options(renderOptions),
      width(w), height(h) {}

bool PanelPainter::Fits(const PanelBitmap& target, float dpiScale) const {
    return target.Width() == width && target.Height() == height && dpiScale == options.dpiScale;
}

Rgb PanelPainter::FillOf(size_t i, const PanelState& state) {
    const Rgb own = LookOf(ClassOf(i)).fill;
    if (state.flashZone == i && state.flash > 0) {
        return Flashed(own, state.flash);
    }
    if (i == StripIndex && state.stepFlash > 0) {
        return Flashed(own, 0.6F * state.stepFlash);
    }
    return state.under == i ? Highlighted(own) : own;
}

void PanelPainter::PaintZone(HDC dc, size_t i, const PanelState& state) {
    Fill(dc, map.ZonePixels(i), FillOf(i, state));
    if (i == StripIndex && state.stepFlash > 0) {
        const RECT strip = map.ZonePixels(StripIndex);
        const int row = map.Row(TurnY(layout, state.stepY));
        const int half = std::max(1, Scaled(options.dpiScale, 3.0F) / 2);
        Fill(dc, {strip.left, row - half, strip.right, row + half + 1}, StepMarkColour);
    }
}

void PanelPainter::PaintLabel(HDC dc, size_t i, const PanelState& state) {
    if (!options.labels) {
        return;
    }
    SetBkMode(dc, TRANSPARENT);
    // Light words on the darker zone under the finger.
    SetTextColor(dc, Ref(state.under == i ? HighlightLabelColour : LabelColour));
    DrawPlan(dc, labels[i]);
}

void PanelPainter::PaintNeutral() {
    HDC dc = neutral.Dc();
    if (options.labels) {
        // Fitting the words measures fonts: once, not at each redraw.
        for (size_t i = 0; i < ZoneCount; ++i) {
            labels[i] = PlanLabel(dc, layout, map, i, options.dpiScale);
        }
    }
    const RECT all{0, 0, width, height};
    Fill(dc, all, FrameColour);
    RECT pad = all;
    InflateRect(&pad, -map.Border(), -map.Border());
    Fill(dc, pad, PadFill);
    const PanelState none;
    for (const size_t i : DrawOrder) {
        PaintZone(dc, i, none);
    }
    for (size_t i = 0; i < ZoneCount; ++i) {
        PaintLabel(dc, i, none);
    }
}

void PanelPainter::Paint(const PanelState& state, PanelBitmap& target) {
    if (!target || target.Width() != width || target.Height() != height) {
        return;
    }
    if (!neutral) {
        neutral = PanelBitmap(width, height);
        if (!neutral) {
            return;
        }
        PaintNeutral();
        GdiFlush();
        neutral.SetOpaque({0, 0, width, height});
        lastChanged = {0, 0, width, height};
    }
    HDC dc = target.Dc();
    // The panel with nothing happening (on the bitmap painted last time, only where it looked
    // otherwise), then only the zones that look otherwise now: those and the zones drawn over
    // them.
    const RECT restore = &target == lastTarget ? lastChanged : RECT{0, 0, width, height};
    BitBlt(dc, restore.left, restore.top, restore.right - restore.left,
           restore.bottom - restore.top, neutral.Dc(), restore.left, restore.top, SRCCOPY);
    lastTarget = &target;
    const PanelState none;
    std::array<bool, ZoneCount> repaint{};
    std::array<RECT, ZoneCount> pixels{};
    for (size_t i = 0; i < ZoneCount; ++i) {
        pixels[i] = map.ZonePixels(i);
    }
    for (size_t at = 0; at < ZoneCount; ++at) {
        const size_t i = DrawOrder[at];
        bool again = !(FillOf(i, state) == FillOf(i, none)) || state.under == i ||
                     (i == StripIndex && state.stepFlash > 0);
        for (size_t before = 0; before < at && !again; ++before) {
            RECT shared{};
            again = repaint[DrawOrder[before]] &&
                    IntersectRect(&shared, &pixels[DrawOrder[before]], &pixels[i]) != FALSE;
        }
        repaint[i] = again;
        if (again) {
            PaintZone(dc, i, state);
        }
    }
    RECT changed{};
    for (size_t i = 0; i < ZoneCount; ++i) {
        if (repaint[i]) {
            PaintLabel(dc, i, state);
            UnionRect(&changed, &changed, &pixels[i]);
        }
    }

    if (state.touching) {
        const POINT at = map.Finger(state.x, state.y);
        const int r = DotRadius(height, options.dpiScale);
        // With the ring's pen, which reaches a little past the radius.
        const int reach = r + Scaled(options.dpiScale, 2.0F);
        const RECT dot{at.x - reach, at.y - reach, at.x + reach + 1, at.y + reach + 1};
        UnionRect(&changed, &changed, &dot);
        const GdiObject<HBRUSH> brush(CreateSolidBrush(Ref(DotColour)));
        const GdiObject<HPEN> pen(
            CreatePen(PS_SOLID, Scaled(options.dpiScale, 2.0F), Ref(DotRing)));
        if (brush && pen) {
            const Selection brushIn(dc, brush.Get());
            const Selection penIn(dc, pen.Get());
            Ellipse(dc, at.x - r, at.y - r, at.x + r + 1, at.y + r + 1);
        }
    }
    GdiFlush(); // the bits are read next, by the window or a test
    // What differs from the previous paint: what differed from the neutral panel then, and now.
    UnionRect(&sincePrevious, &changed, &lastChanged);
    const RECT all{0, 0, width, height};
    IntersectRect(&sincePrevious, &sincePrevious, &all);
    lastChanged = changed;
    target.SetOpaque(sincePrevious);
}

void RenderPanel(const PanelLayout& layout, const PanelState& state, const RenderOptions& options,
                 PanelBitmap& target) {
    PanelPainter painter(layout, target.Width(), target.Height(), options);
    painter.Paint(state, target);
}

} // namespace overlay
