#include "frame_assembler.h"

#include <algorithm>

namespace ptp {

uint32_t ScanClock::Time(uint32_t scanTime, uint32_t arrivalUs) {
    if (range == 0) {
        return arrivalUs;
    }
    const uint64_t wrapUs = uint64_t{range} * 100;
    const uint32_t sinceArrival = arrivalUs - lastArrivalUs;
    uint32_t time = arrivalUs;
    if (started && sinceArrival < wrapUs / 2) {
        const uint32_t ticks = (scanTime + range - lastScan % range) % range;
        time = lastUs + ticks * 100;
        const auto ahead = static_cast<int32_t>(time - arrivalUs);
        if (ahead > static_cast<int32_t>(MaxAheadUs) ||
            -static_cast<int64_t>(ahead) > static_cast<int64_t>(MaxBehindUs)) {
            time = arrivalUs;
        }
    }
    started = true;
    lastScan = scanTime % range;
    lastArrivalUs = arrivalUs;
    lastUs = time;
    return time;
}

void FrameAssembler::Add(const Report& report, FrameBatch& out) {
    out.count = 0;
    if (report.contactCount == 0) {
        if (pending && report.scanTime == scanTime) {
            Take(report);
        } else if (!pending && finished && report.scanTime == scanTime) {
            return; // a surplus report of the scan just finished
        } else {
            // A continuation of no scan that is under way, or of another one: whatever was
            // pending ends here, and the report stands alone with the button but no contacts
            // (its slots cannot be told from empty ones without a count).
            if (pending) {
                Finish(out);
            }
            frame = Frame{};
            frame.timeUs = clock.Time(report.scanTime, report.timeUs);
            frame.button = report.button;
            out.frames[out.count++] = frame;
            scanTime = report.scanTime;
            finished = true;
            return;
        }
    } else {
        if (pending) {
            Finish(out);
        }
        pending = true;
        expected = std::min<size_t>(report.contactCount, MaxContacts);
        scanTime = report.scanTime;
        frame = Frame{};
        frame.timeUs = report.timeUs;
        Take(report);
    }
    if (frame.count >= expected) {
        Finish(out);
    }
}

void FrameAssembler::Take(const Report& report) {
    frame.button = frame.button || report.button;
    const size_t slots = std::min(report.slotCount, MaxSlots);
    for (size_t i = 0; i < slots && frame.count < expected; ++i) {
        frame.contacts[frame.count++] = report.slots[i];
    }
}

void FrameAssembler::Finish(FrameBatch& out) {
    frame.timeUs = clock.Time(scanTime, frame.timeUs);
    if (out.count < FrameBatch::Capacity) {
        out.frames[out.count++] = frame;
    }
    pending = false;
    finished = true;
}

} // namespace ptp
