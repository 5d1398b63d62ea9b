// The inspector's command line.
#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "layout/pad_bounds.h"

namespace inspector {

struct Options {
    std::optional<BoundValues> bounds; // --bounds L,T,R,B
    bool json = false;                 // --json
    std::wstring svgPath;              // --svg FILE
    std::wstring touchesPath;          // --touches SCENARIO
    bool help = false;                 // --help
};

// What is wrong with the command line, in a sentence that names it.
struct UsageError {
    std::string message;
};

// The arguments after the program's name.
std::variant<Options, UsageError> ParseOptions(const std::vector<std::wstring>& args);

inline constexpr char Usage[] =
    "usage: tapdeck-layout [--bounds L,T,R,B] [--json] [--svg FILE] [--touches SCENARIO]\n"
    "\n"
    "Shows where Tapdeck's buttons and volume strip lie on the touchpad, and why one does\n"
    "nothing.\n"
    "  (default)            the bounds tapdeck.exe would use now: the registry override, else\n"
    "                       the touchpad's edges through the device library (read only: the\n"
    "                       touchpad is not claimed, so Tapdeck may be running)\n"
    "  --bounds L,T,R,B     these bounds instead (left, top, right, bottom in device units):\n"
    "                       no device and no registry\n"
    "  --json               the report as a JSON object, for scripts\n"
    "  --svg FILE           also write a picture of the pad as you see it\n"
    "  --touches SCENARIO   draw the touches of a simulated-touchpad scenario on the picture\n"
    "                       and say where each one lands\n"
    "Exit code: 0 all eleven zones can be hit, 1 some cannot, 2 no bounds or a bad command\n"
    "line.\n";

} // namespace inspector
