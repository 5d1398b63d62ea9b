// What a Precision Touchpad's HID descriptor offers, as the HID parser lists it, and whether
// the library can use the pad: the contact slots with their usages, the contact count, the
// scan time and the button. Plain C++: the HID layer lists the capabilities, this decides.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "frame_assembler.h"
#include "pad_geometry.h"

namespace ptp {

// HID usage pages and usages of a Precision Touchpad.
inline constexpr uint16_t PageGenericDesktop = 0x01;
inline constexpr uint16_t PageButton = 0x09;
inline constexpr uint16_t PageDigitizer = 0x0D;
inline constexpr uint16_t UsageX = 0x30;
inline constexpr uint16_t UsageY = 0x31;
inline constexpr uint16_t UsageTouchpad = 0x05;
inline constexpr uint16_t UsageTipSwitch = 0x42;
inline constexpr uint16_t UsageConfidence = 0x47;
inline constexpr uint16_t UsageContactId = 0x51;
inline constexpr uint16_t UsageContactCount = 0x54;
inline constexpr uint16_t UsageScanTime = 0x56;
// Button 1 is the button under the pad; Buttons 2 and 3 are external ones, for the primary
// (by default left) and the secondary (right) click.
inline constexpr uint16_t UsageButton1 = 0x01;
inline constexpr uint16_t UsageButton2 = 0x02;
inline constexpr uint16_t UsageButton3 = 0x03;

// One input usage of the descriptor: a value (with its ranges) or a one-bit button, in the
// logical collection `link`.
struct UsageCap {
    uint16_t page = 0;
    uint16_t usage = 0;
    uint16_t link = 0;
    bool isButton = false;
    AxisCaps value; // for values
};

// Where one contact's usages are: its logical collection.
struct SlotLayout {
    uint16_t link = 0;
    bool hasConfidence = false;
    // X and Y fields as the parser gives them, for sign extension.
    AxisCaps x;
    AxisCaps y;
};

struct PadLayout {
    PadGeometry geometry;
    size_t slotCount = 0;
    std::array<SlotLayout, MaxSlots> slots{};
    uint16_t contactCountLink = 0;
    bool hasScanTime = false;
    uint16_t scanTimeLink = 0;
    // Where the Scan Time wraps: its logical maximum + 1 (the field's whole range where the
    // descriptor gives no usable maximum).
    uint32_t scanTimeRange = 0;
    // The pad's button: Button 1 and Button 2, where the descriptor has them, each in its
    // collection; a press of either is a press of the pad's button. Button 3, the secondary
    // click, is none: on the panel a press means the zone under the finger.
    bool hasButton = false;
    size_t buttonCount = 0;
    std::array<uint16_t, 2> buttonUsages{};
    std::array<uint16_t, 2> buttonLinks{};
};

enum class PadProblem {
    None,
    NoContacts,  // no logical collection with X, Y, a contact id and a tip switch
    EmptyXRange, // X's logical range has no width
    EmptyYRange,
    NoContactCount, // frames cannot be told apart
};

const char* Describe(PadProblem problem);

// Reads the layout out of the input usages. A pad without confidence is taken as confident in
// every contact; one without Button 1 or 2 has no button. Slots beyond MaxSlots are not used.
PadProblem DescribePad(std::span<const UsageCap> caps, PadLayout& layout);

} // namespace ptp
