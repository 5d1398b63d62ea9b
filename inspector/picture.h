// The picture of the pad as the user sees it (up is the pad's high device Y edge), as SVG: the
// pad outline, the zones with their actions, overlaps shaded, dead zones named in a caption,
// coordinates at the edges, and optionally the touches of a scenario. Pure: text out.
#pragma once

#include <string>
#include <vector>

#include "model.h"
#include "source.h"
#include "touches.h"

namespace inspector {

// Fill colours, which the picture's test looks for at the zones' centres: the zones' own, from
// the table the on-screen panel draws with too.
inline constexpr auto GridHex = LookOf(ZoneClass::Grid).fill.Hex();
inline constexpr auto ExitHex = LookOf(ZoneClass::Exit).fill.Hex();
inline constexpr auto StripHex = LookOf(ZoneClass::Strip).fill.Hex();
inline constexpr const char* GridColour = GridHex.data();
inline constexpr const char* ExitColour = ExitHex.data();
inline constexpr const char* StripColour = StripHex.data();
// Where the strip and a button share points (a tap goes to the button, a slide steps the
// volume), and where two buttons do, in a darker shade of the button that takes the tap.
inline constexpr char OverlapColour[] = "#bc80bd";
inline constexpr char GridOverGridColour[] = "#4292c6";
inline constexpr char ExitOverGridColour[] = "#e6550d";
inline constexpr char PadColour[] = "#eeeeee";
inline constexpr char TouchColour[] = "#202020";

// `touchesName` names the scenario in the caption; `touches` may be null.
std::string PictureSvg(const BoundsOrigin& origin, const LayoutModel& model,
                       const std::vector<Touch>* touches, const std::string& touchesName);

} // namespace inspector
