// A Precision Touchpad's axes as its HID descriptor describes them, and how a contact's
// logical coordinates become Tapdeck's fixed device units. Plain C++: no Windows input.
//
// Device units: X runs from DeviceXLo at the pad's left edge to DeviceXHi at its right edge;
// Y runs from DeviceYLo at the pad's bottom edge (nearest the user) to DeviceYHi at its top
// edge. The pad reports Y growing toward the user, so Y is turned over here.
#pragma once

#include <cstdint>
#include <optional>

namespace ptp {

inline constexpr int32_t DeviceXLo = 1000;
inline constexpr int32_t DeviceXHi = 7000;
inline constexpr int32_t DeviceYLo = 1000;
inline constexpr int32_t DeviceYHi = 5800;

// HID unit codes (the Unit item): the low nibble is the system, the next one the length
// exponent. Only centimetres and inches describe a length.
inline constexpr uint32_t UnitCentimetre = 0x11;
inline constexpr uint32_t UnitInch = 0x13;

// Assumed when a pad gives no usable physical size for an axis (no unit, no physical range):
// about the size of a common laptop touchpad.
inline constexpr double FallbackWidthMm = 100.0;
inline constexpr double FallbackHeightMm = 65.0;
// A physical size outside this range is taken as a descriptor mistake, and the fallback is
// used instead.
inline constexpr double MinAxisMm = 10.0;
inline constexpr double MaxAxisMm = 1000.0;

// One value's description from the HID parser (HIDP_VALUE_CAPS), as plain numbers.
struct AxisCaps {
    int32_t logicalMin = 0;
    int32_t logicalMax = 0;
    int32_t physicalMin = 0;
    int32_t physicalMax = 0;
    uint32_t units = 0;
    // The Unit Exponent item: 0..7 and 8..15 standing for -8..-1, as the descriptor codes it;
    // a parser that hands it on sign-extended (0xFFFFFFFE for -2) is understood too.
    uint32_t unitsExp = 0;
    uint16_t bitSize = 0;
};

// An axis ready for mapping. A logical range of zero width is kept (every value maps to the
// middle), so that nothing divides by zero; DescribePad refuses such a pad.
struct Axis {
    int32_t logicalMin = 0;
    int32_t logicalMax = 0;
    // The physical length of the whole logical range.
    double millimetres = 0;

    bool Empty() const { return logicalMax <= logicalMin; }
    int32_t Clamp(int32_t value) const;
    // Millimetres per logical unit; 0 for an empty range.
    double MmPerUnit() const;
};

// The unit exponent as a signed power of ten.
int UnitExponent(uint32_t unitsExp);

// Millimetres of the physical range, when the caps give a length unit and a plausible size.
std::optional<double> PhysicalMillimetres(const AxisCaps& caps);

// The axis of these caps. A logical maximum below the minimum, as a descriptor that gives an
// unsigned maximum in too few bytes produces, is read as the unsigned number of `bitSize` bits.
Axis MakeAxis(const AxisCaps& caps, double fallbackMm);

// A field's raw bits as the signed value the descriptor means: sign-extended from `bitSize`
// bits when the logical minimum is negative, as is.
int32_t SignedValue(uint32_t raw, uint16_t bitSize, int32_t logicalMin);

struct PadGeometry {
    Axis x;
    Axis y;
};

// A logical position in device units, clamped to the pad: X left to right, Y bottom to top.
int32_t DeviceX(const Axis& x, int32_t logicalX);
int32_t DeviceY(const Axis& y, int32_t logicalY);

} // namespace ptp
