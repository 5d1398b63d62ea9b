#include "text.h"

#include <cwchar>

namespace overlay {

namespace {

constexpr wchar_t VariableFace[] = L"Segoe UI Variable Text";

GdiObject<HFONT> MakeFont(const wchar_t* face, TextStyle style) {
    return GdiObject<HFONT>(CreateFontW(-style.pixels, 0, 0, 0,
                                        style.semibold ? FW_SEMIBOLD : FW_NORMAL, FALSE, FALSE,
                                        FALSE, DEFAULT_CHARSET, OUT_TT_PRECIS, CLIP_DEFAULT_PRECIS,
                                        ANTIALIASED_QUALITY, VARIABLE_PITCH | FF_SWISS, face));
}

} // namespace

std::wstring Widen(const char* text) {
    std::wstring wide;
    for (const char* c = text; c != nullptr && *c != '\0'; ++c) {
        wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*c)));
    }
    return wide;
}

TextMaker::TextMaker() : dc(CreateCompatibleDC(nullptr)) {
    // Windows 11's face where the font mapper gives it as asked, not a substitute.
    if (!dc) {
        return;
    }
    const GdiObject<HFONT> probe = MakeFont(VariableFace, {});
    if (probe) {
        const Selection selected(dc.Get(), probe.Get());
        wchar_t got[LF_FACESIZE] = {};
        GetTextFaceW(dc.Get(), LF_FACESIZE, got);
        if (_wcsicmp(got, VariableFace) == 0) {
            face = VariableFace;
        }
    }
}

HFONT TextMaker::FontFor(TextStyle style) {
    for (const Made& made : fonts) {
        if (made.font && made.style == style) {
            return made.font.Get();
        }
    }
    Made& slot = fonts[next];
    next = (next + 1) % fonts.size();
    slot.style = style;
    slot.font = MakeFont(face, style);
    return slot.font.Get();
}

SIZE TextMaker::Measure(const std::wstring& text, TextStyle style) {
    HFONT font = dc ? FontFor(style) : nullptr;
    if (font == nullptr) {
        return {0, 0};
    }
    const Selection selected(dc.Get(), font);
    SIZE size{};
    TEXTMETRICW metrics = {};
    if (GetTextExtentPoint32W(dc.Get(), text.c_str(), static_cast<int>(text.size()), &size) ==
            FALSE ||
        GetTextMetricsW(dc.Get(), &metrics) == FALSE) {
        return {0, 0};
    }
    // Anti-aliased edges may reach a pixel past the advance.
    return {size.cx + 1, metrics.tmAscent + metrics.tmDescent};
}

Mask TextMaker::Render(const std::wstring& text, TextStyle style) {
    Mask mask;
    const SIZE size = Measure(text, style);
    if (size.cx <= 0 || size.cy <= 0) {
        return mask;
    }
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = size.cx;
    info.bmiHeader.biHeight = -size.cy;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* pixels = nullptr;
    const GdiObject<HBITMAP> scratch(
        CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0));
    if (!scratch || pixels == nullptr) {
        return mask;
    }
    {
        const Selection bitmapIn(dc.Get(), scratch.Get());
        const Selection fontIn(dc.Get(), FontFor(style));
        SetBkMode(dc.Get(), TRANSPARENT);
        SetTextColor(dc.Get(), RGB(255, 255, 255));
        SetTextAlign(dc.Get(), TA_LEFT | TA_TOP);
        TextOutW(dc.Get(), 0, 0, text.c_str(), static_cast<int>(text.size()));
        GdiFlush();
    }
    mask.width = size.cx;
    mask.height = size.cy;
    const auto* bits = static_cast<const uint32_t*>(pixels);
    mask.cover.resize(static_cast<size_t>(size.cx) * static_cast<size_t>(size.cy));
    for (size_t i = 0; i < mask.cover.size(); ++i) {
        // Grey-scale: the three channels agree; green is the one to read.
        mask.cover[i] = static_cast<uint8_t>(bits[i] >> 8);
    }
    return mask;
}

} // namespace overlay
