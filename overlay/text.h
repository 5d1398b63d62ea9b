// Words as coverage masks: GDI draws them grey-scale anti-aliased (white on black in a scratch
// DIB), and the panel blends the coverage in any colour over its own pixels, which keeps the
// per-pixel alpha of a layered window right (GDI's own text would leave it 0). The face is
// Windows 11's "Segoe UI Variable Text" where the system has it, else "Segoe UI" (under Wine,
// the font it substitutes). One thread at a time.
#pragma once

#include <windows.h>

#include <array>
#include <string>

#include "gdi_holders.h"
#include "shapes.h"

namespace overlay {

struct TextStyle {
    int pixels = 12; // the em height
    bool semibold = false;

    bool operator==(const TextStyle&) const = default;
};

class TextMaker {
public:
    TextMaker();
    TextMaker(const TextMaker&) = delete;
    TextMaker& operator=(const TextMaker&) = delete;
    TextMaker(TextMaker&&) = delete;
    TextMaker& operator=(TextMaker&&) = delete;
    ~TextMaker() = default;

    // The line's advance width and height (ascent plus descent); 0 by 0 without a font.
    SIZE Measure(const std::wstring& text, TextStyle style);
    // The line as a mask of the measured size.
    Mask Render(const std::wstring& text, TextStyle style);

private:
    HFONT FontFor(TextStyle style);

    MemoryDc dc;
    const wchar_t* face = L"Segoe UI";
    // The few fonts a panel uses, made once each.
    struct Made {
        TextStyle style;
        GdiObject<HFONT> font;
    };
    std::array<Made, 6> fonts;
    size_t next = 0;
};

// ASCII words from the zone table as wide text.
std::wstring Widen(const char* text);

} // namespace overlay
