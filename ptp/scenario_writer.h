// The text of a recorded session in the simulated touchpad's scenario format: a header with
// the device's kind and edges, then one `packet` line per delivered packet with the time since
// the previous one as its pause, played back at `rate max`. Plain C++ and allocation-free per
// packet; the recorder writes what this formats.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "pad_geometry.h"
#include "translator.h"

namespace ptp {

// The lines before the first packet.
std::string ScenarioHeader(int32_t kind, const PadGeometry& pad);

inline constexpr size_t PacketLineMax = 96;

// "packet a=0x2000 x=1500 y=5000 motion=0 pause=12\n" (no pause when it is 0) into `line`;
// returns the length.
size_t FormatPacketLine(const Packet& packet, uint32_t pauseMs, char (&line)[PacketLineMax]);

// Turns the times at which packets were delivered into whole-millisecond pauses whose sum
// stays within half a millisecond of the time that really passed.
class PauseClock {
public:
    explicit PauseClock(int64_t startUs) : start(startUs) {}
    // The pause before a packet delivered at `nowUs`; 0 for time that runs backwards.
    uint32_t PauseBefore(int64_t nowUs);

private:
    int64_t start;
    int64_t playedMs = 0;
};

} // namespace ptp
