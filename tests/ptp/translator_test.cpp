// The translation core by tables: how a pad's axes map onto device units, and which packets
// sequences of frames make (taps, slides, several fingers, palms, the button, odd timing).
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <ostream>
#include <vector>

#include "ptp/test_pad.h"
#include "translator.h"

namespace ptp {
// Prints "F|G (2500, 3400) m=0", so a failed comparison reads as packets.
void PrintTo(const Packet& p, std::ostream* out) {
    *out << ((p.flagsA & PacketFinger) ? "F" : "-") << ((p.flagsA & PacketGesture) ? "|G" : "")
         << " (" << p.x << ", " << p.y << ") m=" << p.motion;
}
} // namespace ptp

namespace {

using namespace ptptest;
using ptp::Packet;

// ---- Axes and units ----

struct MappingCase {
    const char* name;
    ptp::AxisCaps caps;
    int32_t logical;
    int32_t deviceX; // as the X axis
    int32_t deviceY; // as the Y axis, turned so it grows toward the pad's top edge
};

constexpr ptp::AxisCaps Range(int32_t lo, int32_t hi, uint16_t bits = 16) {
    return {lo, hi, 0, 1000, ptp::UnitCentimetre, 0xE, bits};
}

constexpr MappingCase Mappings[] = {
    {"from 0: low edge", Range(0, 4000), 0, 1000, 5800},
    {"from 0: high edge", Range(0, 4000), 4000, 7000, 1000},
    {"from 0: middle", Range(0, 4000), 2000, 4000, 3400},
    {"from 0: a quarter", Range(0, 4000), 1000, 2500, 4600},
    {"below the range clamps", Range(0, 4000), -50, 1000, 5800},
    {"above the range clamps", Range(0, 4000), 5000, 7000, 1000},
    {"far outside clamps", Range(0, 4000), INT32_MIN, 1000, 5800},
    {"from 100: low edge", Range(100, 4100), 100, 1000, 5800},
    {"from 100: high edge", Range(100, 4100), 4100, 7000, 1000},
    {"signed range: zero is the middle", Range(-2000, 2000), 0, 4000, 3400},
    {"signed range: low edge", Range(-2000, 2000), -2000, 1000, 5800},
    {"unsigned maximum given as -1 in 16 bits", Range(0, -1), 65535, 7000, 1000},
    {"zero width maps to the middle", Range(500, 500), 500, 4000, 3400},
    {"zero width, any value", Range(500, 500), 90000, 4000, 3400},
    {"rounded to the nearest unit", Range(0, 3), 1, 3000, 4200},
};

TEST(PadGeometry, LogicalRangesMapOntoTheDeviceEdges) {
    for (const MappingCase& c : Mappings) {
        SCOPED_TRACE(c.name);
        const ptp::Axis axis = ptp::MakeAxis(c.caps, 100);
        EXPECT_EQ(ptp::DeviceX(axis, c.logical), c.deviceX);
        EXPECT_EQ(ptp::DeviceY(axis, c.logical), c.deviceY);
    }
}

struct UnitCase {
    const char* name;
    ptp::AxisCaps caps;
    double millimetres; // 0: no usable physical size
};

constexpr UnitCase Units[] = {
    {"centimetres, exponent -2", {0, 4000, 0, 1000, 0x11, 0xE, 16}, 100.0},
    {"centimetres, exponent 0", {0, 4000, 0, 10, 0x11, 0, 16}, 100.0},
    {"centimetres, physical range not from 0", {0, 4000, 100, 1100, 0x11, 0xE, 16}, 100.0},
    {"inches, exponent -3", {0, 4000, 0, 4000, 0x13, 0xD, 16}, 101.6},
    {"inches, exponent handed on sign-extended", {0, 4000, 0, 400, 0x13, 0xFFFFFFFE, 16}, 101.6},
    {"no unit", {0, 4000, 0, 1000, 0, 0xE, 16}, 0},
    {"a rotation unit", {0, 4000, 0, 1000, 0x12, 0xE, 16}, 0},
    {"no physical range", {0, 4000, 0, 0, 0x11, 0xE, 16}, 0},
    {"five metres", {0, 4000, 0, 500, 0x11, 0, 16}, 0},
    {"a millimetre", {0, 4000, 0, 1, 0x11, 0xF, 16}, 0},
};

TEST(PadGeometry, PhysicalSizeFromCentimetresAndInches) {
    for (const UnitCase& c : Units) {
        SCOPED_TRACE(c.name);
        const auto mm = ptp::PhysicalMillimetres(c.caps);
        if (c.millimetres == 0) {
            EXPECT_FALSE(mm.has_value());
            EXPECT_DOUBLE_EQ(ptp::MakeAxis(c.caps, 42.0).millimetres, 42.0);
        } else {
            ASSERT_TRUE(mm.has_value());
            EXPECT_NEAR(*mm, c.millimetres, 1e-9);
        }
    }
}

struct ExponentCase {
    uint32_t coded;
    int exponent;
};

constexpr ExponentCase Exponents[] = {
    {0, 0}, {1, 1}, {7, 7}, {8, -8}, {0xD, -3}, {0xE, -2}, {0xF, -1}, {0xFFFFFFFE, -2},
};

TEST(PadGeometry, UnitExponentsAreFourBitSigned) {
    for (const ExponentCase& c : Exponents) {
        EXPECT_EQ(ptp::UnitExponent(c.coded), c.exponent) << c.coded;
    }
}

struct SignCase {
    uint32_t raw;
    uint16_t bits;
    int32_t logicalMin;
    int32_t value;
};

constexpr SignCase Signs[] = {
    {0xFFFF, 16, 0, 0xFFFF}, // unsigned field: as is
    {0xFFFF, 16, -100, -1},  // signed field: sign-extended
    {0x7FFF, 16, -100, 32767},        {0x800, 12, -2048, -2048},
    {0x1FFF, 12, -2048, -1}, // bits above the field are dropped
    {0x80000000u, 32, -1, INT32_MIN},
};

TEST(PadGeometry, SignedFieldsAreSignExtended) {
    for (const SignCase& c : Signs) {
        EXPECT_EQ(ptp::SignedValue(c.raw, c.bits, c.logicalMin), c.value) << c.raw;
    }
}

// ---- Frame sequences ----

constexpr uint32_t F = ptp::PacketFinger;
constexpr uint32_t G = ptp::PacketGesture;

// Device units of the test pad, as the mapping table above checks them.
constexpr int32_t DX(int32_t x) {
    return 1000 + (x * 6000 + 2000) / 4000;
}
constexpr int32_t DY(int32_t y) {
    return 1000 + ((2600 - y) * 4800 + 1300) / 2600;
}

constexpr int32_t Ax = 1000, Ay = 1300;
constexpr int32_t Bx = 2000, By = 650;

// A frame of the pad at `ms`, a frame of its button alone, an idle check at `ms` with no frame
// since the one before, or the claim starting at `ms`.
enum class StepKind { Frame, ButtonAlone, Idle, Claim };

struct Step {
    uint32_t ms;
    std::array<Touch, 3> touches;
    size_t count;
    bool button;
    StepKind kind = StepKind::Frame;
};

constexpr Step At(uint32_t ms, Touch t, bool button = false) {
    return {ms, {t}, 1, button};
}
constexpr Step At(uint32_t ms, Touch a, Touch b) {
    return {ms, {a, b}, 2, false};
}
constexpr Step NoContact(uint32_t ms, bool button = false) {
    return {ms, {}, 0, button};
}
constexpr Step ButtonAlone(uint32_t ms, bool button) {
    return {ms, {}, 0, button, StepKind::ButtonAlone};
}
constexpr Step IdleAt(uint32_t ms) {
    return {ms, {}, 0, false, StepKind::Idle};
}
constexpr Step ClaimAt(uint32_t ms) {
    return {ms, {}, 0, false, StepKind::Claim};
}
constexpr Touch Up(uint32_t id, int32_t x, int32_t y) {
    return {id, x, y, false, true};
}
constexpr Touch Palm(uint32_t id, int32_t x, int32_t y) {
    return {id, x, y, true, false};
}

constexpr Packet P(uint32_t flags, int32_t x, int32_t y, int32_t motion = 0) {
    return {flags, DX(x), DY(y), motion};
}

struct SequenceCase {
    const char* name;
    std::array<Step, 12> steps;
    size_t stepCount;
    std::array<Packet, 12> packets;
    size_t packetCount;
};

constexpr SequenceCase Sequences[] = {
    // The finger that held the pad's corner to start Tapdeck is still down when its claim starts.
    {"a finger down when the claim starts, lifted 50 ms later: no tap",
     {ClaimAt(0), At(8, {1, Ax, Ay}), At(16, {1, Ax, Ay}), At(58, Up(1, Ax, Ay))},
     4,
     {},
     0},
    {"a finger down when the claim starts that slides: no slide",
     {ClaimAt(0), At(8, {1, Ax, Ay}), At(16, {1, Ax, Ay - 200}), At(24, {1, Ax, Ay - 400}),
      At(400, Up(1, Ax, Ay - 400))},
     5,
     {},
     0},
    {"a touch once the claim has settled taps as ever",
     {ClaimAt(0), At(150, {1, Ax, Ay}), At(200, Up(1, Ax, Ay))},
     3,
     {P(F, Ax, Ay), P(G, Ax, Ay), P(0, Ax, Ay)},
     3},
    {"a second finger beside the one held over is taken",
     {ClaimAt(0), At(8, {1, Ax, Ay}), At(200, {1, Ax, Ay}, {2, Bx, By}),
      At(250, {1, Ax, Ay}, Up(2, Bx, By))},
     4,
     {P(F, Bx, By), P(G, Bx, By), P(0, Bx, By)},
     3},
    {"the finger held over, lifted and put down again, is a new touch",
     {ClaimAt(0), At(8, {1, Ax, Ay}), At(500, Up(1, Ax, Ay)), At(600, {1, Ax, Ay}),
      At(650, Up(1, Ax, Ay))},
     5,
     {P(F, Ax, Ay), P(G, Ax, Ay), P(0, Ax, Ay)},
     3},
    {"a clean tap: the lift carries the gesture bit, then both bits fall",
     {At(0, {1, Ax, Ay}), At(8, {1, Ax, Ay}), At(16, {1, Ax + 10, Ay}), At(24, Up(1, Ax + 10, Ay))},
     4,
     {P(F, Ax, Ay), P(F, Ax, Ay), P(F, Ax + 10, Ay), P(G, Ax + 10, Ay), P(0, Ax + 10, Ay)},
     5},
    {"lifted 250 ms after touching down: still a tap",
     {At(0, {1, Ax, Ay}), At(100, {1, Ax, Ay}), At(200, {1, Ax, Ay}), At(250, Up(1, Ax, Ay))},
     4,
     {P(F, Ax, Ay), P(F, Ax, Ay), P(F, Ax, Ay), P(G, Ax, Ay), P(0, Ax, Ay)},
     5},
    {"lifted 251 ms after touching down: too long",
     {At(0, {1, Ax, Ay}), At(100, {1, Ax, Ay}), At(200, {1, Ax, Ay}), At(251, Up(1, Ax, Ay))},
     4,
     {P(F, Ax, Ay), P(F, Ax, Ay), P(F, Ax, Ay), P(0, Ax, Ay)},
     4},
    {"moved 1.475 mm: a tap",
     {At(0, {1, Ax, Ay}), At(8, {1, Ax + 59, Ay}), At(16, Up(1, Ax + 59, Ay))},
     3,
     {P(F, Ax, Ay), P(F, Ax + 59, Ay), P(G, Ax + 59, Ay), P(0, Ax + 59, Ay)},
     4},
    {"moved 1.5 mm: too far",
     {At(0, {1, Ax, Ay}), At(8, {1, Ax + 60, Ay}), At(16, Up(1, Ax + 60, Ay))},
     3,
     {P(F, Ax, Ay), P(F, Ax + 60, Ay), P(0, Ax + 60, Ay)},
     3},
    {"moved away and back: too far",
     {At(0, {1, Ax, Ay}), At(8, {1, Ax + 80, Ay}), At(16, {1, Ax, Ay}), At(24, Up(1, Ax, Ay))},
     4,
     {P(F, Ax, Ay), P(F, Ax + 80, Ay), P(F, Ax, Ay), P(0, Ax, Ay)},
     4},
    {"1.1 mm each way is 1.56 mm: too far",
     {At(0, {1, Ax, Ay}), At(8, {1, Ax + 44, Ay + 44}), At(16, Up(1, Ax + 44, Ay + 44))},
     3,
     {P(F, Ax, Ay), P(F, Ax + 44, Ay + 44, -7), P(0, Ax + 44, Ay + 44)},
     3},
    {"two fingers: the second one's tap does nothing, the first one's taps",
     {At(0, {1, Ax, Ay}), At(8, {1, Ax, Ay}, {2, Bx, By}), At(16, {1, Ax, Ay}, Up(2, Bx, By)),
      At(24, Up(1, Ax, Ay))},
     4,
     {P(F, Ax, Ay), P(F, Ax, Ay), P(F, Ax, Ay), P(G, Ax, Ay), P(0, Ax, Ay)},
     5},
    {"two fingers: the second stays ignored until it lifts, then a new touch counts",
     {At(0, {1, Ax, Ay}, {2, Bx, By}), At(8, Up(1, Ax, Ay), {2, Bx, By}), At(16, {2, Bx + 300, By}),
      At(24, Up(2, Bx + 300, By)), At(32, {3, Bx, By}), At(40, Up(3, Bx, By))},
     6,
     {P(F, Ax, Ay), P(G, Ax, Ay), P(0, Ax, Ay), P(F, Bx, By), P(G, Bx, By), P(0, Bx, By)},
     6},
    {"a palm (no confidence) makes nothing",
     {At(0, Palm(1, Ax, Ay)), At(8, Palm(1, Ax, Ay)), At(16, Up(1, Ax, Ay))},
     3,
     {},
     0},
    {"a finger beside a palm is the primary contact",
     {At(0, Palm(1, Bx, By), {2, Ax, Ay}), At(8, Palm(1, Bx, By), Up(2, Ax, Ay))},
     2,
     {P(F, Ax, Ay), P(G, Ax, Ay), P(0, Ax, Ay)},
     3},
    {"a contact that turns out a palm ends without a tap and stays ignored",
     {At(0, {1, Ax, Ay}), At(8, Palm(1, Ax, Ay)), At(16, {1, Ax, Ay}), At(24, Up(1, Ax, Ay))},
     4,
     {P(F, Ax, Ay), P(0, Ax, Ay)},
     2},
    {"a palm whose report drops tip and confidence together ends without a tap",
     {At(0, {1, Ax, Ay}), At(8, {1, Ax, Ay}), At(16, {1, Ax, Ay, false, false})},
     3,
     {P(F, Ax, Ay), P(F, Ax, Ay), P(0, Ax, Ay)},
     3},
    {"a contact that vanishes from the frames ends without a tap",
     {At(0, {1, Ax, Ay}), NoContact(8)},
     2,
     {P(F, Ax, Ay), P(0, Ax, Ay)},
     2},
    {"the button under a finger taps there, once",
     {At(0, {1, Ax, Ay}), At(8, {1, Ax, Ay}, true), At(16, {1, Ax, Ay}), At(24, Up(1, Ax, Ay))},
     4,
     {P(F, Ax, Ay), P(F, Ax, Ay), P(F | G, Ax, Ay), P(F, Ax, Ay), P(F, Ax, Ay), P(0, Ax, Ay)},
     6},
    {"a held button taps once",
     {At(0, {1, Ax, Ay}), At(8, {1, Ax, Ay}, true), At(16, {1, Ax, Ay}, true)},
     3,
     {P(F, Ax, Ay), P(F, Ax, Ay), P(F | G, Ax, Ay), P(F, Ax, Ay), P(F, Ax, Ay)},
     5},
    {"the button in the frame that lifts a long touch is its tap",
     {At(0, {1, Ax, Ay}), At(200, {1, Ax, Ay}), At(400, Up(1, Ax, Ay), true)},
     3,
     {P(F, Ax, Ay), P(F, Ax, Ay), P(G, Ax, Ay), P(0, Ax, Ay)},
     4},
    {"the button with no finger down taps where the last one was",
     {At(0, {1, Ax, Ay}), At(8, {1, Bx, By}), At(16, Up(1, Bx, By)), NoContact(500, true)},
     4,
     {P(F, Ax, Ay), P(F, Bx, By, 105), P(0, Bx, By), P(F | G, Bx, By), P(0, Bx, By)},
     5},
    {"a button already held at the first frame does not tap",
     {At(0, {1, Ax, Ay}, true), At(8, {1, Ax, Ay}, true), At(16, Up(1, Ax, Ay))},
     3,
     {P(F, Ax, Ay), P(F, Ax, Ay), P(G, Ax, Ay), P(0, Ax, Ay)},
     4},
    {"the button before any touch does nothing",
     {NoContact(0, true), NoContact(8), NoContact(16, true)},
     3,
     {},
     0},
    {"time that runs backwards makes no tap",
     {At(1000, {1, Ax, Ay}), At(990, Up(1, Ax, Ay))},
     2,
     {P(F, Ax, Ay), P(0, Ax, Ay)},
     2},
    {"a gap of over 250 ms between frames makes no tap",
     {At(0, {1, Ax, Ay}), At(8, {1, Ax, Ay}), At(300, Up(1, Ax, Ay))},
     3,
     {P(F, Ax, Ay), P(F, Ax, Ay), P(0, Ax, Ay)},
     3},
    // 4294967 ms is just under 2^32 us: the clock wraps between the two frames.
    {"a clock that wraps keeps a tap",
     {At(4294967, {1, Ax, Ay}), At(4294975, Up(1, Ax, Ay))},
     2,
     {P(F, Ax, Ay), P(G, Ax, Ay), P(0, Ax, Ay)},
     3},
    {"a repeated id counts as its first report",
     {At(0, {1, Ax, Ay}, {1, Bx, By}), At(8, Up(1, Ax, Ay), {1, Bx, By})},
     2,
     {P(F, Ax, Ay), P(G, Ax, Ay), P(0, Ax, Ay)},
     3},
    {"a finger already down when the library starts is the primary",
     {At(0, {7, Bx, By}), At(8, {7, Bx, By})},
     2,
     {P(F, Bx, By), P(F, Bx, By)},
     2},
    // The button alone: a report of a contact count of 0 says nothing of the contacts.
    {"the button alone while a finger rests taps once, and the finger stays down",
     {At(0, {1, Ax, Ay}), At(8, {1, Ax, Ay}), ButtonAlone(16, true), ButtonAlone(24, false),
      At(32, {1, Ax, Ay}), At(300, Up(1, Ax, Ay))},
     6,
     {P(F, Ax, Ay), P(F, Ax, Ay), P(F | G, Ax, Ay), P(F, Ax, Ay), P(F, Ax, Ay), P(0, Ax, Ay)},
     6},
    {"the button alone with no finger down taps where the last one was",
     {At(0, {1, Ax, Ay}), At(8, Up(1, Ax, Ay)), ButtonAlone(500, true), ButtonAlone(508, false)},
     4,
     {P(F, Ax, Ay), P(G, Ax, Ay), P(0, Ax, Ay), P(F | G, Ax, Ay), P(0, Ax, Ay)},
     5},
    // Contacts whose reports stop.
    {"a moving contact whose lift never came is lifted after the silence, without a tap",
     {At(0, {1, Ax, Ay}), At(8, {1, Ax, Ay - 40}), IdleAt(258), IdleAt(259)},
     4,
     {P(F, Ax, Ay), P(F, Ax, Ay - 40, 6), P(0, Ax, Ay - 40)},
     3},
    {"a contact lost so is over: the next touch with its id taps",
     {At(0, {1, Ax, Ay}), At(8, {1, Ax, Ay - 40}), IdleAt(300), At(2000, {1, Bx, By}),
      At(2008, {1, Bx, By}), At(2016, Up(1, Bx, By))},
     6,
     {P(F, Ax, Ay), P(F, Ax, Ay - 40, 6), P(0, Ax, Ay - 40), P(F, Bx, By), P(F, Bx, By),
      P(G, Bx, By), P(0, Bx, By)},
     7},
    {"a pad that goes quiet at lift: each slide is a touch of its own",
     {At(0, {0, Ax, Ay}), At(8, {0, Ax, Ay - 160}), IdleAt(400), At(1000, {0, Ax, Ay}),
      At(1008, {0, Ax, Ay - 160}), IdleAt(1400), At(2000, {0, Ax, Ay}), At(2008, {0, Ax, Ay - 160}),
      IdleAt(2400)},
     9,
     {P(F, Ax, Ay), P(F, Ax, Ay - 160, 26), P(0, Ax, Ay - 160), P(F, Ax, Ay),
      P(F, Ax, Ay - 160, 26), P(0, Ax, Ay - 160), P(F, Ax, Ay), P(F, Ax, Ay - 160, 26),
      P(0, Ax, Ay - 160)},
     9},
    {"a lost contact reported again within 250 ms on the pad's clock was late, not gone: "
     "ignored until it lifts",
     {At(0, {1, Ax, Ay}), At(8, {1, Ax, Ay - 40}), IdleAt(300), At(16, {1, Ax, Ay - 80}),
      At(24, Up(1, Ax, Ay - 80)), At(600, {1, Bx, By})},
     6,
     {P(F, Ax, Ay), P(F, Ax, Ay - 40, 6), P(0, Ax, Ay - 40), P(F, Bx, By)},
     4},
    {"a slide paused after a last small move goes on after the silence",
     {At(0, {1, 3900, 1300}), At(8, {1, 3900, 1260}), At(16, {1, 3900, 1220}),
      At(24, {1, 3900, 1219}), IdleAt(1000), IdleAt(1500), At(1500, {1, 3900, 1180}),
      At(1508, {1, 3900, 1140})},
     8,
     {P(F, 3900, 1300), P(F, 3900, 1260, 6), P(F, 3900, 1220, 7), P(F, 3900, 1219, 0),
      P(F, 3900, 1180, 6), P(F, 3900, 1140, 7)},
     6},
    // A finger held still jitters by a unit or two of 0.025 mm, each way, from report to report.
    {"a resting finger whose reports jitter is kept through the silence",
     {At(0, {1, Ax, Ay}), At(8, {1, Ax + 2, Ay - 1}), At(16, {1, Ax - 1, Ay + 2}),
      At(24, {1, Ax + 2, Ay - 2}), At(32, {1, Ax - 2, Ay + 1}), IdleAt(1000), IdleAt(5000),
      At(5000, {1, Ax, Ay - 40})},
     8,
     {P(F, Ax, Ay), P(F, Ax + 2, Ay - 1), P(F, Ax - 1, Ay + 2), P(F, Ax + 2, Ay - 2),
      P(F, Ax - 2, Ay + 1), P(F, Ax, Ay - 40, 6)},
     6},
    {"a finger sliding 0.3 mm a report is moving: lost when its reports stop",
     {At(0, {1, Ax, Ay}), At(8, {1, Ax, Ay - 12}), At(16, {1, Ax, Ay - 24}), IdleAt(300)},
     4,
     {P(F, Ax, Ay), P(F, Ax, Ay - 12, 1), P(F, Ax, Ay - 24, 2), P(0, Ax, Ay - 24)},
     4},
    {"a resting contact reported again after the pad's silence is the same touch, too long for "
     "a tap",
     {At(0, {1, Ax, Ay}), At(8, {1, Ax, Ay}), At(2000, {1, Ax + 10, Ay}),
      At(2008, Up(1, Ax + 10, Ay))},
     4,
     {P(F, Ax, Ay), P(F, Ax, Ay), P(F, Ax + 10, Ay), P(0, Ax + 10, Ay)},
     4},
};

// Every packet the translator makes for the steps, in order.
std::vector<Packet> TranslateSteps(const Step* steps, size_t count) {
    ptp::Translator translator(TestPad());
    std::vector<Packet> packets;
    ptp::PacketBatch batch;
    for (size_t i = 0; i < count; ++i) {
        const Step& s = steps[i];
        batch.Clear();
        if (s.kind == StepKind::Idle) {
            translator.Idle(s.ms * 1000, batch);
        } else if (s.kind == StepKind::Claim) {
            translator.ClaimStarts(s.ms * 1000);
        } else {
            ptp::Frame frame = MakeFrame(s.ms, {}, s.button);
            frame.buttonOnly = s.kind == StepKind::ButtonAlone;
            for (size_t t = 0; t < s.count; ++t) {
                const Touch& touch = s.touches[t];
                frame.contacts[frame.count++] = {touch.id, touch.tip, touch.confident, touch.x,
                                                 touch.y};
            }
            translator.OnFrame(frame, batch);
        }
        packets.insert(packets.end(), batch.begin(), batch.end());
    }
    return packets;
}

TEST(Translator, FrameSequencesMakeTheirPackets) {
    for (const SequenceCase& c : Sequences) {
        SCOPED_TRACE(c.name);
        const auto packets = TranslateSteps(c.steps.data(), c.stepCount);
        const std::vector<Packet> expected(c.packets.begin(), c.packets.begin() + c.packetCount);
        EXPECT_EQ(packets, expected);
    }
}

// ---- Slides ----

struct SlideCase {
    const char* name;
    int32_t stepX; // logical units per frame
    int32_t stepY; // logical units per frame; negative is upward
    int frames;    // after the first
    std::array<int32_t, 8> firstMotions;
    int32_t total; // motion over the whole slide
};

// 40 units are a millimetre; 4 mm make 26 motion units, one volume step.
constexpr SlideCase Slides[] = {
    {"up 1 mm a frame", 0, -40, 8, {6, 7, 6, 7, 6, 7, 6, 7}, 52},
    {"down 1 mm a frame", 0, 40, 8, {-6, -7, -6, -7, -6, -7, -6, -7}, -52},
    {"up 0.1 mm a frame adds up alike", 0, -4, 40, {0, 1, 0, 1, 1, 0, 1, 1}, 26},
    {"across the pad: no motion", 40, 0, 8, {0, 0, 0, 0, 0, 0, 0, 0}, 0},
    {"up 4 mm at once", 0, -160, 1, {26}, 26},
};

TEST(Translator, SlidesMoveAboutFourMillimetresPerVolumeStep) {
    for (const SlideCase& c : Slides) {
        SCOPED_TRACE(c.name);
        int32_t x = 3900;
        int32_t y = 1300;
        std::vector<ptp::Frame> frames = {MakeFrame(0, {{1, x, y}})};
        for (int i = 1; i <= c.frames; ++i) {
            x += c.stepX;
            y += c.stepY;
            frames.push_back(MakeFrame(static_cast<uint32_t>(i) * 8, {{1, x, y}}));
        }
        const auto packets = Translate(TestPad(), frames);
        ASSERT_EQ(packets.size(), static_cast<size_t>(c.frames) + 1);
        EXPECT_EQ(packets[0].motion, 0) << "the first frame of a contact has no motion";
        int32_t total = 0;
        for (size_t i = 1; i < packets.size(); ++i) {
            if (i - 1 < c.firstMotions.size() && i <= static_cast<size_t>(c.frames)) {
                EXPECT_EQ(packets[i].motion, c.firstMotions[i - 1]) << "frame " << i;
            }
            total += packets[i].motion;
        }
        EXPECT_EQ(total, c.total);
    }
}

// ---- A contact that stops being reported ----

TEST(Translator, AMovingContactNoLongerReportedIsLiftedWithoutATap) {
    ptp::Translator translator(TestPad());
    ptp::PacketBatch batch;
    translator.OnFrame(MakeFrame(992, {{1, Ax, Ay - 40}}), batch);
    translator.OnFrame(MakeFrame(1000, {{1, Ax, Ay}}), batch);
    ASSERT_EQ(batch.count, 2u);

    batch.Clear();
    translator.Idle(1000 * 1000 + ptp::ContactLostMicros, batch);
    EXPECT_EQ(batch.count, 0u) << "not yet";
    translator.Idle(900 * 1000, batch);
    EXPECT_EQ(batch.count, 0u) << "a clock behind the frame's is no reason";
    translator.Idle(1000 * 1000 + ptp::ContactLostMicros + 1, batch);
    ASSERT_EQ(batch.count, 1u);
    EXPECT_EQ(batch.packets[0], P(0, Ax, Ay));
    EXPECT_FALSE(translator.Touching());

    // Its contact id is free: the pad reporting it after its silence is a new touch.
    batch.Clear();
    translator.OnFrame(MakeFrame(1300, {{1, Bx, By}}), batch);
    ASSERT_EQ(batch.count, 1u);
    EXPECT_EQ(batch.packets[0], P(F, Bx, By));
}

TEST(Translator, ARestingContactIsKeptThroughSilenceAndItsSlideGoesOn) {
    // A pad need not report a contact that does not move: a finger resting mid-slide for a
    // second or ten is still down, and the slide's motion goes on from where it was.
    ptp::Translator translator(TestPad());
    ptp::PacketBatch batch;
    translator.OnFrame(MakeFrame(1000, {{1, Ax, Ay}}), batch);
    translator.OnFrame(MakeFrame(1008, {{1, Ax, Ay - 160}}), batch); // 4 mm up
    translator.OnFrame(MakeFrame(1016, {{1, Ax, Ay - 160}}), batch); // and resting
    ASSERT_EQ(batch.count, 3u);
    EXPECT_EQ(batch.packets[1].motion, ptp::MotionPerStep);
    batch.Clear();
    for (uint32_t ms : {1300u, 2100u, 11100u}) {
        translator.Idle(ms * 1000, batch);
    }
    EXPECT_EQ(batch.count, 0u);
    EXPECT_TRUE(translator.Touching());
    translator.OnFrame(MakeFrame(11108, {{1, Ax, Ay - 320}}), batch);
    ASSERT_EQ(batch.count, 1u);
    EXPECT_EQ(batch.packets[0].flagsA, ptp::PacketFinger);
    EXPECT_EQ(batch.packets[0].motion, ptp::MotionPerStep);
}

TEST(Translator, APadThatGoesAwayLiftsItsContactWithoutATap) {
    ptp::Translator translator(TestPad());
    ptp::PacketBatch batch;
    translator.OnFrame(MakeFrame(1000, {{1, Ax, Ay}}, /*button=*/true), batch);
    translator.OnFrame(MakeFrame(1008, {{1, Ax, Ay}}, /*button=*/true), batch);
    batch.Clear();
    translator.Lose(batch);
    ASSERT_EQ(batch.count, 1u);
    EXPECT_EQ(batch.packets[0], P(0, Ax, Ay)) << "lifted, no gesture";
    EXPECT_FALSE(translator.Touching());
    // Nothing of the old pad is remembered: its contact id is a new touch, and a button held
    // in the first frame after is no press.
    batch.Clear();
    translator.OnFrame(MakeFrame(1100, {{1, Bx, By}}, /*button=*/true), batch);
    translator.OnFrame(MakeFrame(1108, {{1, Bx, By}}, /*button=*/true), batch);
    ASSERT_EQ(batch.count, 2u);
    EXPECT_EQ(batch.packets[0], P(F, Bx, By));
    EXPECT_EQ(batch.packets[1], P(F, Bx, By));
}

TEST(Translator, AnotherPadsFramesAreMappedWithItsOwnGeometry) {
    ptp::Translator translator(TestPad());
    ptp::PacketBatch batch;
    translator.OnFrame(MakeFrame(1000, {{1, Ax, Ay}}), batch);
    batch.Clear();
    // A pad half the size in logical units over the same millimetres.
    const ptp::PadGeometry half = {
        ptp::MakeAxis({0, 2000, 0, 1000, ptp::UnitCentimetre, 0xE, 16}, 0),
        ptp::MakeAxis({0, 1300, 0, 650, ptp::UnitCentimetre, 0xE, 16}, 0)};
    translator.ChangePad(half, batch);
    ASSERT_EQ(batch.count, 1u);
    EXPECT_EQ(batch.packets[0], P(0, Ax, Ay));
    batch.Clear();
    translator.OnFrame(MakeFrame(1100, {{1, Bx / 2, By / 2}}), batch);
    translator.OnFrame(MakeFrame(1108, {{1, Bx / 2, By / 2 - 80}}), batch); // 4 mm up
    ASSERT_EQ(batch.count, 2u);
    EXPECT_EQ(batch.packets[0], P(F, Bx, By));
    EXPECT_EQ(batch.packets[1].motion, ptp::MotionPerStep);
}

} // namespace
