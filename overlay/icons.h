// The panel's icons, drawn by our own code from vector shapes in a 20 by 20 design box, so that
// they look the same on every Windows and in the tests (no icon font). Pure.
#pragma once

#include "layout/zone_words.h"
#include "shapes.h"

namespace overlay {

// Icons beyond the zones': the strip's two ends, the mark of a button that ends Tapdeck, and
// the panel's own small form when it is idle.
enum class Glyph { VolumeUp, VolumeDown, EndsTapdeck, Idle };

// The icon `pixels` wide and high.
Mask DrawIcon(ZoneIcon icon, int pixels);
Mask DrawGlyph(Glyph glyph, int pixels);

} // namespace overlay
