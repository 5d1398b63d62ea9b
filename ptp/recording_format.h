// The text of a recording of a touchpad's raw reports (report_recorder.h): the names a pad gets
// in it, the script of the session in the virtual touchpad's format (docs/virtual-touchpad.md,
// "The script"), and the arguments that install the pad for a replay. Plain C++.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ptp::recording {

// The longest name made: room for "-NN" within the 32 characters a virtual pad's name has.
inline constexpr size_t PadNameMax = 28;

// A pad's name in the script, which its files are named after too: the product string's letters
// and digits, each run of anything else one '-', at most PadNameMax characters; "touchpad"
// for a product string with none; never a name Windows keeps for a device (CON, NUL, COM1...),
// and none of `taken` (a number added).
std::string PadName(const std::string& productUtf8, const std::vector<std::string>& taken);

// Script lines, each with its newline; a wait longer than a step takes is several steps.
inline constexpr uint32_t MaxWaitMs = 9999999;
std::string ReportLine(const std::string& pad, const uint8_t* report, size_t length);
std::string WaitLine(uint32_t ms);
std::string RemoveLine(const std::string& pad);
std::string AddLine(const std::string& pad);
// A comment line: "# " and the text, its control characters made '?'.
std::string CommentLine(const std::string& text);

// The arguments of `vtpctl install` for the pad, on one line: its name, its descriptor file and
// its identity, then a --feature for each answer (the report as read, its id first). Double
// quotes in the product string become single ones, so the line splits as it was made.
std::string InstallArguments(const std::string& pad, const std::string& descriptorFile,
                             uint16_t vendorId, uint16_t productId, const std::string& productUtf8,
                             const std::vector<std::vector<uint8_t>>& features);

} // namespace ptp::recording
