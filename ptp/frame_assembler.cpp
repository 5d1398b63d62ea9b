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
        const auto drift = static_cast<int32_t>(time - arrivalUs);
        if (drift > static_cast<int32_t>(MaxDriftUs) || drift < -static_cast<int32_t>(MaxDriftUs)) {
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
            if (frame.count >= expected) {
                Finish(out);
            }
            return;
        }
        // A continuation of no scan that is under way: whatever was pending ends here, and the
        // report stands for the button alone (its slots cannot be told from empty ones
        // without a count).
        if (pending) {
            Finish(out);
        }
        if (report.button != lastButton) {
            frame = Frame{};
            frame.timeUs = clock.Time(report.scanTime, report.timeUs);
            frame.button = report.button;
            frame.buttonOnly = true;
            scanTime = report.scanTime;
            Emit(out);
        }
        return;
    }
    if (pending) {
        Finish(out);
    }
    pending = true;
    expected = std::min<size_t>(report.contactCount, MaxContacts);
    scanTime = report.scanTime;
    pendingSinceUs = report.timeUs;
    frame = Frame{};
    frame.timeUs = report.timeUs;
    Take(report);
    if (frame.count >= expected) {
        Finish(out);
    }
}

void FrameAssembler::Flush(uint32_t nowUs, FrameBatch& out) {
    out.count = 0;
    if (pending &&
        static_cast<int32_t>(nowUs - pendingSinceUs) >= static_cast<int32_t>(ScanWaitMicros)) {
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
    pending = false;
    Emit(out);
}

void FrameAssembler::Emit(FrameBatch& out) {
    lastButton = frame.button;
    if (out.count < FrameBatch::Capacity) {
        out.frames[out.count++] = frame;
    }
}

} // namespace ptp
