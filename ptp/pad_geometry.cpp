#include "pad_geometry.h"

#include <cmath>

namespace ptp {

namespace {

// `value` (already clamped) in [lo, hi], rounded to the nearest unit; the middle for an empty
// axis. `turned` maps the logical minimum to `hi`.
int32_t Map(const Axis& axis, int32_t value, int32_t lo, int32_t hi, bool turned) {
    if (axis.Empty()) {
        return lo + (hi - lo) / 2;
    }
    const int64_t span = int64_t{axis.logicalMax} - axis.logicalMin;
    const int64_t offset =
        turned ? int64_t{axis.logicalMax} - value : int64_t{value} - axis.logicalMin;
    return lo + static_cast<int32_t>((offset * (hi - lo) + span / 2) / span);
}

} // namespace

int32_t Axis::Clamp(int32_t value) const {
    if (Empty()) {
        return logicalMin;
    }
    return value < logicalMin ? logicalMin : value > logicalMax ? logicalMax : value;
}

double Axis::MmPerUnit() const {
    if (Empty()) {
        return 0;
    }
    return millimetres / static_cast<double>(int64_t{logicalMax} - logicalMin);
}

int UnitExponent(uint32_t unitsExp) {
    if (unitsExp > 0xF) {
        return static_cast<int32_t>(unitsExp); // handed on sign-extended already
    }
    return unitsExp < 8 ? static_cast<int>(unitsExp) : static_cast<int>(unitsExp) - 16;
}

std::optional<double> PhysicalMillimetres(const AxisCaps& caps) {
    double mmPerUnit = 0;
    if (caps.units == UnitCentimetre) {
        mmPerUnit = 10.0;
    } else if (caps.units == UnitInch) {
        mmPerUnit = 25.4;
    } else {
        return std::nullopt;
    }
    const int exponent = UnitExponent(caps.unitsExp);
    if (exponent < -8 || exponent > 7) {
        return std::nullopt;
    }
    const double extent = static_cast<double>(int64_t{caps.physicalMax} - caps.physicalMin);
    const double mm = extent * std::pow(10.0, exponent) * mmPerUnit;
    if (!(mm >= MinAxisMm && mm <= MaxAxisMm)) {
        return std::nullopt;
    }
    return mm;
}

Axis MakeAxis(const AxisCaps& caps, double fallbackMm) {
    Axis axis;
    axis.logicalMin = caps.logicalMin;
    axis.logicalMax = caps.logicalMax;
    if (axis.logicalMax < axis.logicalMin && caps.bitSize > 0 && caps.bitSize < 32) {
        const uint32_t mask = (uint32_t{1} << caps.bitSize) - 1;
        axis.logicalMax = static_cast<int32_t>(static_cast<uint32_t>(caps.logicalMax) & mask);
    }
    axis.millimetres = PhysicalMillimetres(caps).value_or(fallbackMm);
    return axis;
}

int32_t SignedValue(uint32_t raw, uint16_t bitSize, int32_t logicalMin) {
    if (logicalMin >= 0 || bitSize == 0 || bitSize >= 32) {
        return static_cast<int32_t>(raw);
    }
    const uint32_t sign = uint32_t{1} << (bitSize - 1);
    const uint32_t mask = (uint32_t{1} << bitSize) - 1;
    const uint32_t bits = raw & mask;
    return (bits & sign) != 0 ? static_cast<int32_t>(bits | ~mask) : static_cast<int32_t>(bits);
}

int32_t DeviceX(const Axis& x, int32_t logicalX) {
    return Map(x, x.Clamp(logicalX), DeviceXLo, DeviceXHi, false);
}

int32_t DeviceY(const Axis& y, int32_t logicalY) {
    return Map(y, y.Clamp(logicalY), DeviceYLo, DeviceYHi, true);
}

} // namespace ptp
