// The pad the Precision Touchpad tests use, and frames on it. Both axes have 40 logical units
// per millimetre: X 0..4000 over 100 mm, Y 0..2600 over 65 mm (centimetres, exponent -2, as a
// pad's descriptor gives them). Device units: X = 1000 + 1.5 x, Y = 5800 - 48/26 y.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "pad_caps.h"
#include "pad_geometry.h"
#include "translator.h"

namespace ptptest {

inline constexpr int32_t UnitsPerMm = 40;

inline constexpr ptp::AxisCaps TestX = {0, 4000, 0, 1000, ptp::UnitCentimetre, 0xE, 16};
inline constexpr ptp::AxisCaps TestY = {0, 2600, 0, 650, ptp::UnitCentimetre, 0xE, 16};

inline ptp::PadGeometry TestPad() {
    return {ptp::MakeAxis(TestX, 0), ptp::MakeAxis(TestY, 0)};
}

// The logical point under a device point of the test pad (the inverse of the mapping).
inline int32_t LogicalX(int32_t deviceX) {
    return (deviceX - ptp::DeviceXLo) * 2 / 3;
}
inline int32_t LogicalY(int32_t deviceY) {
    return 2600 - (deviceY - ptp::DeviceYLo) * 26 / 48;
}

// A contact of a frame: confident and down unless said otherwise.
struct Touch {
    uint32_t id;
    int32_t x;
    int32_t y;
    bool tip = true;
    bool confident = true;
};

inline ptp::Frame MakeFrame(uint32_t ms, std::initializer_list<Touch> touches,
                            bool button = false) {
    ptp::Frame frame;
    frame.timeUs = ms * 1000;
    frame.button = button;
    for (const Touch& t : touches) {
        frame.contacts[frame.count++] = {t.id, t.tip, t.confident, t.x, t.y};
    }
    return frame;
}

// Every packet the translator makes for the frames, in order.
inline std::vector<ptp::Packet> Translate(const ptp::PadGeometry& pad,
                                          const std::vector<ptp::Frame>& frames) {
    ptp::Translator translator(pad);
    std::vector<ptp::Packet> packets;
    ptp::PacketBatch batch;
    for (const ptp::Frame& frame : frames) {
        batch.Clear();
        translator.OnFrame(frame, batch);
        packets.insert(packets.end(), batch.begin(), batch.end());
    }
    return packets;
}

} // namespace ptptest
