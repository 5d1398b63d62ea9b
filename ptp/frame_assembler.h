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

// A frame's time from the pad's own Scan Time (100 us units, wrapping at the field's range),
// so that reports that queued up during a stall and arrive together keep their spacing: a
// tap's length and a contact's silence are the pad's. Anchored to the arrival time, and taken
// back to it where the two cannot be reconciled: the first frame, a pause of half the scan
// clock's wrap or more (the wraps cannot be counted), a scan clock ahead of the arrivals (it
// runs fast, or the pad restarted it), or one that fell far behind them.
class ScanClock {
public:
    // `range`: the Scan Time's logical maximum + 1; 0 for a pad without one (arrival times).
    explicit ScanClock(uint32_t scanRange = 0) : range(scanRange) {}
    uint32_t Time(uint32_t scanTime, uint32_t arrivalUs);

    // Ahead of the arrivals by more than this, the scan clock is not believed. Reports that
    // queued up arrive together, so their times run ahead of their arrivals by up to the span
    // of the queue; a scan clock that runs fast or was restarted goes further.
    static constexpr uint32_t MaxAheadUs = 1'000'000;
    // Behind them by more than this (a stall that long), neither.
    static constexpr uint32_t MaxBehindUs = 10'000'000;

private:
    uint32_t range;
    bool started = false;
    uint32_t lastScan = 0;
    uint32_t lastArrivalUs = 0;
    uint32_t lastUs = 0;
};

class FrameAssembler {
public:
    explicit FrameAssembler(uint32_t scanRange = 0) : clock(scanRange) {}

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
    ScanClock clock;
};

} // namespace ptp
