#include "touches.h"

#include <algorithm>

#include "device/velcom.h"
#include "velsim_core.h"

namespace inspector {

bool Touch::IsTap() const {
    return std::all_of(points.begin(), points.end(), [this](const POINT& p) {
        return p.x == points.front().x && p.y == points.front().y;
    });
}

std::variant<std::vector<Touch>, std::string> TouchesFromScenario(std::string_view text) {
    auto parsed = ParseScenario(text);
    if (const auto* error = std::get_if<ScenarioError>(&parsed)) {
        return "line " + std::to_string(error->line) + ": " + error->message;
    }
    std::vector<Touch> touches;
    bool down = false;
    for (const SimPacketData& packet : std::get<Scenario>(parsed).packets) {
        // The finger is down when either flags word says so, as packet handling reads them.
        const bool finger = (static_cast<DWORD>(packet.a) & FlagsAFinger) != 0 ||
                            (static_cast<DWORD>(packet.b) & FlagsBFinger) != 0;
        if (finger && !down) {
            touches.emplace_back();
        }
        if (finger) {
            touches.back().points.push_back({packet.x, packet.y});
        }
        down = finger;
    }
    return touches;
}

} // namespace inspector
