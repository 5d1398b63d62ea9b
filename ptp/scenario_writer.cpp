#include "scenario_writer.h"

#include <cstdio>

namespace ptp {

std::string ScenarioHeader(int32_t kind, const PadGeometry& pad) {
    char text[512];
    const int n = std::snprintf(
        text, sizeof text,
        "# A Precision Touchpad session recorded by velptp.dll. Replay it on the simulated\n"
        "# touchpad: VELSIM_SCENARIO=<this file> with velsim.dll registered.\n"
        "# Pad: logical X %ld..%ld over %.1f mm, Y %ld..%ld over %.1f mm.\n"
        "kind %ld\n"
        "edges %ld %ld %ld %ld\n"
        "rate max\n",
        static_cast<long>(pad.x.logicalMin), static_cast<long>(pad.x.logicalMax), pad.x.millimetres,
        static_cast<long>(pad.y.logicalMin), static_cast<long>(pad.y.logicalMax), pad.y.millimetres,
        static_cast<long>(kind), static_cast<long>(DeviceXLo), static_cast<long>(DeviceYLo),
        static_cast<long>(DeviceXHi), static_cast<long>(DeviceYHi));
    return n > 0 ? std::string(text, static_cast<size_t>(n) < sizeof text ? n : sizeof text - 1)
                 : std::string();
}

size_t FormatPacketLine(const Packet& packet, uint32_t pauseMs, char (&line)[PacketLineMax]) {
    int n = 0;
    if (pauseMs != 0) {
        n = std::snprintf(line, PacketLineMax, "packet a=0x%lX x=%ld y=%ld motion=%ld pause=%lu\n",
                          static_cast<unsigned long>(packet.flagsA), static_cast<long>(packet.x),
                          static_cast<long>(packet.y), static_cast<long>(packet.motion),
                          static_cast<unsigned long>(pauseMs));
    } else {
        n = std::snprintf(line, PacketLineMax, "packet a=0x%lX x=%ld y=%ld motion=%ld\n",
                          static_cast<unsigned long>(packet.flagsA), static_cast<long>(packet.x),
                          static_cast<long>(packet.y), static_cast<long>(packet.motion));
    }
    if (n < 0) {
        return 0;
    }
    return static_cast<size_t>(n) < PacketLineMax ? static_cast<size_t>(n) : PacketLineMax - 1;
}

uint32_t PauseClock::PauseBefore(int64_t nowUs) {
    const int64_t dueMs = (nowUs - start + 500) / 1000;
    if (dueMs <= playedMs) {
        return 0;
    }
    const int64_t pause = dueMs - playedMs;
    playedMs = dueMs;
    // The scenario's numbers are 32-bit; a pause longer than that is cut.
    return pause > 0x7FFFFFFF ? 0x7FFFFFFFu : static_cast<uint32_t>(pause);
}

} // namespace ptp
