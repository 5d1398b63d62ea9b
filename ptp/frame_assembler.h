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
// so that a tap's length is what the finger did, not when the reports were read: reports that
// were held up a little and arrive together keep their spacing. The scan clock is believed
// only while it agrees with the arrivals: it is anchored to the arrival time, and taken back
// to it where the two cannot be reconciled: the first frame, a pause of half the scan clock's
// wrap or more (the wraps cannot be counted), and a scan clock that has drifted from the
// arrivals by more than MaxDriftUs either way (one that stands still, runs slow or fast, or
// was restarted). A clock that stands still is so taken back every MaxDriftUs, and a press
// is never shorter by it than by the arrivals by more than that.
class ScanClock {
public:
    // `range`: the Scan Time's logical maximum + 1; 0 for a pad without one (arrival times).
    explicit ScanClock(uint32_t scanRange = 0) : range(scanRange) {}
    uint32_t Time(uint32_t scanTime, uint32_t arrivalUs);

    // Far more than the arrivals' own jitter (a few milliseconds; under load tens), far less
    // than a tap: reports held up by less than this keep the pad's spacing.
    static constexpr uint32_t MaxDriftUs = 50'000;

private:
    uint32_t range;
    bool started = false;
    uint32_t lastScan = 0;
    uint32_t lastArrivalUs = 0;
    uint32_t lastUs = 0;
};

// The rest of a scan's reports come together (a pad sends them back to back): a frame still
// short of its announced contacts this long after its first report arrived is finished as it
// is, for its count was wrong or a report was lost.
inline constexpr uint32_t ScanWaitMicros = 50'000;

class FrameAssembler {
public:
    explicit FrameAssembler(uint32_t scanRange = 0) : clock(scanRange) {}

    // Adds one report; the frames it completes are put in `out` (which is cleared first). A
    // report of a contact count of 0 that continues no scan is the button alone: a frame of
    // the button (Frame::buttonOnly) when the button changed, else nothing, for it carries
    // nothing new (some hybrid-mode pads send such a surplus report after each scan).
    void Add(const Report& report, FrameBatch& out);
    // No report came: at `nowUs` (the arrivals' clock), a frame incomplete for ScanWaitMicros
    // or more is finished as it is and put in `out` (which is cleared first).
    void Flush(uint32_t nowUs, FrameBatch& out);
    // Whether a frame waits for more of its scan's reports.
    bool Pending() const { return pending; }

private:
    void Take(const Report& report);
    void Finish(FrameBatch& out);
    void Emit(FrameBatch& out);

    bool pending = false;
    size_t expected = 0;
    uint32_t scanTime = 0;
    // When the pending frame's first report arrived.
    uint32_t pendingSinceUs = 0;
    // The button of the last frame handed on.
    bool lastButton = false;
    Frame frame;
    ScanClock clock;
};

} // namespace ptp
