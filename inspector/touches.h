// The finger's touches in a simulated-touchpad scenario (docs/simulated-touchpad.md), for the
// inspector's picture: each run of packets with the finger down is one touch, a tap when all
// its positions are one point, a slide when the finger moved.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace inspector {

struct Touch {
    // Device positions of the packets with the finger down, in order.
    std::vector<POINT> points;
    bool IsTap() const;
};

// The touches, or the scenario's error as "line N: message".
std::variant<std::vector<Touch>, std::string> TouchesFromScenario(std::string_view text);

} // namespace inspector
