// The virtual touchpad's script: what a test or a person plays to its pads. One step a line:
//   NAME HEX...    an input report to the pad NAME, as the device sends it
//   wait MS        a pause of MS milliseconds
//   remove NAME    the pad unplugged
//   add NAME       the pad plugged in again
// with comments from '#' to the end of the line. Plain text in, steps out.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "descriptor.h"

namespace vtp {

struct Step {
    enum class Kind { Report, Wait, Remove, Add };
    Kind kind = Kind::Report;
    std::string pad;
    Bytes report;
    uint32_t ms = 0;
    int line = 0;
};

// False, with the line and what is wrong in `error`, for a line that is none of the above.
bool ParseScript(std::string_view text, std::vector<Step>& steps, std::string& error);

// The arguments of a vtpctl command kept in a file (`vtpctl install @FILE`, as a recording
// writes them): words between white space, "a quoted word" as one word with its spaces, and
// lines whose first word starts with '#' left out. False, with the line, for a quote left open.
bool SplitArguments(std::string_view text, std::vector<std::string>& words, std::string& error);

} // namespace vtp
