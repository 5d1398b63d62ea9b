// A script played through vtpctl's player while this thread takes the touchpad reports raw
// input hands it, each timed against when the script said it was due: what the player's test
// and its benchmark measure.
#pragma once

#include <string>
#include <vector>

namespace vpadtest {

struct PlayTiming {
    bool played = false;
    std::string error;  // the player's, where it failed
    size_t reports = 0; // report steps in the script
    // For each report that arrived, in order: how long after it was due, in milliseconds.
    std::vector<double> lateMs;
    // Where the clock started again (after each add), as indices into lateMs.
    std::vector<size_t> restarts;
};

// Plays the script (vtp::PlayScript, the driver from VTP_DRIVER_DIR) on a thread of its own.
PlayTiming PlayAndTime(const std::string& script);

// A finger sliding on pad NAME (report 4 of the one-finger pad): `reports` reports 8 ms apart,
// the scan time from `scan` on.
std::string SlideSteps(const std::string& pad, int reports, int scan);

} // namespace vpadtest
