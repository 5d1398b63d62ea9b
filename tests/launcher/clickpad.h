// The launcher tests' pad: the clickpad of pads/hybrid-one-finger.hid (X 0..4095 over 116.8 mm,
// Y 0..2559 over 72 mm, its top edge Y 0; top right, 10 %: X above 3686, Y below 256; 2 mm is
// about 70 units), and its reports: one finger a report, the scan's contact count in the first.
#pragma once

#include <cstdint>
#include <vector>

#include "descriptor.h"

namespace clickpad {

struct Finger {
    int id;
    int x;
    int y;
    bool tip = true;
    bool confident = true;
};

// One scan of the pad: a report for each finger.
struct Scan {
    int ms; // after the previous scan
    std::vector<Finger> fingers;
    bool button = false;
};

// `scan`: the pad's scan time in 100 us units.
inline vtp::Bytes Report(const Finger& f, int scan, int count, bool button) {
    const auto low = [](int v) { return static_cast<uint8_t>(v & 0xFF); };
    const auto high = [](int v) { return static_cast<uint8_t>((v >> 8) & 0xFF); };
    return {0x04,
            static_cast<uint8_t>((f.confident ? 1 : 0) | (f.tip ? 2 : 0) | (f.id & 7) << 2),
            low(f.x),
            high(f.x),
            low(f.y),
            high(f.y),
            low(scan),
            high(scan),
            static_cast<uint8_t>(count),
            static_cast<uint8_t>(button ? 1 : 0)};
}

// The top right corner, where the exit button is too.
inline constexpr int CornerX = 3900;
inline constexpr int CornerY = 100;

} // namespace clickpad
