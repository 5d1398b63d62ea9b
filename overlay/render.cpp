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

void Fill(HDC dc, const RECT& r, Rgb colour) {
    const GdiObject<HBRUSH> brush(CreateSolidBrush(Ref(colour)));
    if (brush) {
        FillRect(dc, &r, brush.Get());
    }
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

// Draws the lines one under the other, centred in `box`, each as large as fits; nothing when
// they cannot all fit.
void DrawLines(HDC dc, const RECT& box, const Line* lines, size_t count) {
    const int width = box.right - box.left;
    const int height = box.bottom - box.top;
    if (width <= 0 || height <= 0) {
        return;
    }
    GdiObject<HFONT> fonts[2];
    SIZE sizes[2] = {};
    int total = 0;
    for (size_t i = 0; i < count && i < 2; ++i) {
        const int pixels = static_cast<int>(static_cast<float>(height) * lines[i].share);
        fonts[i] = FitFont(dc, lines[i].text, pixels, width, height, lines[i].bold, sizes[i]);
        if (!fonts[i]) {
            return;
        }
        total += sizes[i].cy;
    }
    if (total > height) {
        return;
    }
    int y = box.top + (height - total) / 2;
    for (size_t i = 0; i < count && i < 2; ++i) {
        const Selection selected(dc, fonts[i].Get());
        RECT line{box.left, y, box.right, y + sizes[i].cy};
        DrawTextW(dc, lines[i].text.c_str(), static_cast<int>(lines[i].text.size()), &line,
                  DT_CENTER | DT_SINGLELINE | DT_NOPREFIX | DT_NOCLIP);
        y += sizes[i].cy;
    }
}

// A word along a tall narrow box, read from the bottom up, as large as fits.
void DrawUpwards(HDC dc, const RECT& box, const std::wstring& word) {
    const int width = box.right - box.left;
    const int height = box.bottom - box.top;
    SIZE size{};
    // Measured level: its length must fit the box's height and its height the box's width.
    const GdiObject<HFONT> level =
        FitFont(dc, word, std::min(width * 7 / 10, height / 3), height, width, true, size);
    if (!level) {
        return;
    }
    LOGFONTW font = {};
    GetObjectW(level.Get(), sizeof font, &font);
    const GdiObject<HFONT> turned = MakeFont(-font.lfHeight, true, 900);
    if (!turned) {
        return;
    }
    const Selection selected(dc, turned.Get());
    TEXTMETRICW metrics = {};
    GetTextMetricsW(dc, &metrics);
    const UINT align = SetTextAlign(dc, TA_CENTER | TA_BASELINE);
    // The glyphs stand left of the turned baseline: from ascent left of it to descent right.
    const int baseline = (box.left + box.right) / 2 + (metrics.tmAscent - metrics.tmDescent) / 2;
    TextOutW(dc, baseline, (box.top + box.bottom) / 2, word.c_str(), static_cast<int>(word.size()));
    SetTextAlign(dc, align);
}

void DrawLabel(HDC dc, const PanelLayout& layout, const PadMapping& map, size_t index,
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
        DrawLines(dc, box, lines, words != nullptr ? 2 : 1);
        return;
    }
    const std::wstring word = Widen(LookOf(kind).label);
    if (kind == ZoneClass::Strip && box.bottom - box.top > box.right - box.left) {
        DrawUpwards(dc, box, word);
        return;
    }
    const Line line{word, 0.3F, true};
    DrawLines(dc, box, &line, 1);
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

void PanelBitmap::SetOpaque() {
    GdiFlush(); // GDI may still be drawing into the bits
    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    for (size_t i = 0; i < count; ++i) {
        bits[i] |= 0xff000000U;
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

void RenderPanel(const PanelLayout& layout, const PanelState& state, const RenderOptions& options,
                 PanelBitmap& target) {
    if (!target) {
        return;
    }
    HDC dc = target.Dc();
    const PadMapping map(layout, target.Width(), target.Height(), options.dpiScale);
    const RECT all{0, 0, target.Width(), target.Height()};
    Fill(dc, all, FrameColour);
    RECT pad = all;
    InflateRect(&pad, -map.Border(), -map.Border());
    Fill(dc, pad, PadFill);

    // The strip first, then the buttons from last to first, so that where zones share points the
    // one that takes the tap is on top.
    const auto fillOf = [&](size_t i) {
        const Rgb own = LookOf(ClassOf(i)).fill;
        if (state.flashZone == i && state.flash > 0) {
            return Flashed(own, state.flash);
        }
        if (i == StripIndex && state.stepFlash > 0) {
            return Flashed(own, 0.6F * state.stepFlash);
        }
        return state.under == i ? Highlighted(own) : own;
    };
    Fill(dc, map.ZonePixels(StripIndex), fillOf(StripIndex));
    if (state.stepFlash > 0) {
        const RECT strip = map.ZonePixels(StripIndex);
        const int row = map.Row(TurnY(layout, state.stepY));
        const int half = std::max(1, Scaled(options.dpiScale, 3.0F) / 2);
        Fill(dc, {strip.left, row - half, strip.right, row + half + 1}, StepMarkColour);
    }
    for (size_t i = ZoneCount; i-- > ExitIndex;) {
        Fill(dc, map.ZonePixels(i), fillOf(i));
    }

    if (options.labels) {
        SetBkMode(dc, TRANSPARENT);
        for (size_t i = 0; i < ZoneCount; ++i) {
            // Light words on the darker zone under the finger.
            SetTextColor(dc, Ref(state.under == i ? HighlightLabelColour : LabelColour));
            DrawLabel(dc, layout, map, i, options.dpiScale);
        }
    }

    if (state.touching) {
        const POINT at = map.Finger(state.x, state.y);
        const int r = DotRadius(target.Height(), options.dpiScale);
        const GdiObject<HBRUSH> brush(CreateSolidBrush(Ref(DotColour)));
        const GdiObject<HPEN> pen(
            CreatePen(PS_SOLID, Scaled(options.dpiScale, 2.0F), Ref(DotRing)));
        if (brush && pen) {
            const Selection brushIn(dc, brush.Get());
            const Selection penIn(dc, pen.Get());
            Ellipse(dc, at.x - r, at.y - r, at.x + r + 1, at.y + r + 1);
        }
    }
    target.SetOpaque();
}

} // namespace overlay
