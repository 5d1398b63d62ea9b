// Puts a Precision Touchpad's input reports together into whole frames. A pad in hybrid mode
// reports one scan in several reports: the first carries the scan's contact count, the others
// a count of 0 and the same scan time. Plain C++: the HID layer decodes each report into a
// Report, and the whole frames go to the Translator.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "translator.h"

namespace ptp {

// Contact slots of one report (the pad's logical collections of one contact each).
inline constexpr size_t MaxSlots = 16;

struct Report {
    // When the report arrived, on the frames' clock (Frame::timeUs).
    uint32_t timeUs = 0;
    // The pad's Scan Time, in 100 us units; reports of one scan share it.
    uint32_t scanTime = 0;
    // Contacts in the scan (0 in a hybrid mode report that continues a scan).
    uint32_t contactCount = 0;
    bool button = false;
    // Slots decoded; only the first of them that the count leaves room for are contacts.
    size_t slotCount = 0;
    std::array<Contact, MaxSlots> slots{};
};

// Whole frames ready, oldest first: a report that starts a scan while an earlier one is still
// incomplete hands that one on first.
struct FrameBatch {
    static constexpr size_t Capacity = 2;
    std::array<Frame, Capacity> frames{};
    size_t count = 0;
};

class FrameAssembler {
public:
    // Adds one report; the frames it completes are put in `out` (which is cleared first).
    void Add(const Report& report, FrameBatch& out);

private:
    void Take(const Report& report);
    void Finish(FrameBatch& out);

    bool pending = false;
    size_t expected = 0;
    uint32_t scanTime = 0;
    // The scan whose frame was finished last, once there is one: some hybrid-mode pads send a
    // surplus report of no contacts with its scan time, which is no frame.
    bool finished = false;
    Frame frame;
};

} // namespace ptp
