#include "translator.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace ptp {

namespace {

// True when no contact before index `i` of the frame has the same id: a repeated id counts
// once, as its first occurrence.
bool FirstOfItsId(const Frame& frame, size_t i) {
    for (size_t j = 0; j < i; ++j) {
        if (frame.contacts[j].id == frame.contacts[i].id) {
            return false;
        }
    }
    return true;
}

} // namespace

void PacketBatch::Add(const Packet& packet) {
    if (count < Capacity) {
        packets[count++] = packet;
    }
}

Translator::Translator(const PadGeometry& pad)
    : geometry(pad), travelLimitSq(TapMaxTravelMm * TapMaxTravelMm) {}

bool Translator::WasDown(uint32_t id) const {
    return std::find(downIds.begin(), downIds.begin() + downCount, id) !=
           downIds.begin() + downCount;
}

void Translator::ForgetDown(uint32_t id) {
    const auto end = std::remove(downIds.begin(), downIds.begin() + downCount, id);
    downCount = static_cast<size_t>(end - downIds.begin());
}

double Translator::DistanceMm(int32_t x0, int32_t y0, int32_t x1, int32_t y1) const {
    const double dx = static_cast<double>(int64_t{x1} - x0) * geometry.x.MmPerUnit();
    const double dy = static_cast<double>(int64_t{y1} - y0) * geometry.y.MmPerUnit();
    return std::sqrt(dx * dx + dy * dy);
}

// The first frame after Idle ended a contact decides what its id is now. Reported again
// within ContactLostMicros of its last frame on the frames' clock, the pad never fell silent
// (the reports were late, not missing): it is the same finger, and it stays ignored until it
// lifts. Later, or not at all, the contact is over and its id free for the next touch.
void Translator::HoldOverLost(const Frame& frame) {
    if (!lost.active) {
        return;
    }
    lost.active = false;
    const size_t n = std::min(frame.count, MaxContacts);
    const auto since = static_cast<int32_t>(frame.timeUs - lost.lastUs);
    for (size_t i = 0; i < n; ++i) {
        const Contact& c = frame.contacts[i];
        if (c.id == lost.id && c.tip && since >= 0 &&
            since <= static_cast<int32_t>(ContactLostMicros) && downCount < MaxContacts) {
            downIds[downCount++] = c.id;
            return;
        }
    }
}

void Translator::OnFrame(const Frame& frame, PacketBatch& out) {
    const bool pressed = frame.button && !buttonDown && !firstFrame;
    firstFrame = false;
    buttonDown = frame.button;
    if (frame.buttonOnly) {
        // The contacts are as they were: only the button changed.
        if (pressed) {
            Press(out);
        }
        return;
    }

    const size_t n = std::min(frame.count, MaxContacts);
    const uint32_t now = frame.timeUs;
    bool pressUsed = false;
    HoldOverLost(frame);
    if (settling && static_cast<int32_t>(now - settleUntilUs) > 0) {
        settling = false;
    }
    for (size_t i = 0; settling && i < n; ++i) {
        // Down before the claim: taken as seen down already, so it never becomes the primary.
        const Contact& c = frame.contacts[i];
        if (c.tip && !WasDown(c.id) && FirstOfItsId(frame, i) && downCount < MaxContacts) {
            downIds[downCount++] = c.id;
        }
    }

    if (primary.active) {
        const Contact* mine = nullptr;
        for (size_t i = 0; i < n && mine == nullptr; ++i) {
            if (frame.contacts[i].id == primary.id) {
                mine = &frame.contacts[i];
            }
        }
        // Confidence first: some firmware clears tip and confidence together for a palm.
        const Fate fate = mine == nullptr    ? Fate::Vanished
                          : !mine->confident ? Fate::Cancelled
                          : !mine->tip       ? Fate::Lifted
                                             : Fate::Moving;
        const uint32_t gap = now - primary.lastUs;
        if (static_cast<int32_t>(gap) < 0 || gap > ContactLostMicros) {
            primary.untimely = true;
        } else {
            primary.heldUs = std::min<uint64_t>(uint64_t{primary.heldUs} + gap,
                                                std::numeric_limits<uint32_t>::max());
        }
        primary.lastUs = now;
        if (fate == Fate::Moving) {
            Move(*mine, out);
        } else {
            // Only a contact reported lifting is a tap: one that vanished from the frames or
            // turned out to be a palm is not.
            bool tap = fate == Fate::Lifted && !primary.untimely &&
                       primary.heldUs <= TapMaxMicros && !primary.moved;
            // A press of the button in the frame that lifts the finger is that finger's tap.
            if (pressed) {
                tap = true;
                pressUsed = true;
            }
            End(tap && !primary.tapped, out);
        }
    }

    if (!primary.active) {
        for (size_t i = 0; i < n; ++i) {
            const Contact& c = frame.contacts[i];
            if (c.tip && c.confident && !WasDown(c.id) && FirstOfItsId(frame, i)) {
                Start(c, now, out);
                break;
            }
        }
    }

    if (pressed && !pressUsed) {
        Press(out);
    }

    downCount = 0;
    for (size_t i = 0; i < n; ++i) {
        if (frame.contacts[i].tip && FirstOfItsId(frame, i)) {
            downIds[downCount++] = frame.contacts[i].id;
        }
    }
}

void Translator::Press(PacketBatch& out) {
    if (primary.active) {
        Tap(out);
    } else if (havePosition) {
        // No finger down: a tap where the last one was.
        out.Add({PacketFinger | PacketGesture, lastX, lastY, 0});
        out.Add({0, lastX, lastY, 0});
    }
}

void Translator::Idle(uint32_t nowUs, PacketBatch& out) {
    // Signed: a clock that reads behind the last frame (as it may across the 2^32 wrap of
    // the frames' clock) has not waited at all.
    const auto waited = static_cast<int32_t>(nowUs - primary.lastUs);
    if (MayBeLost() && waited > static_cast<int32_t>(ContactLostMicros)) {
        // Its lift was lost: the contact is over, and its id free for the next touch.
        lost = {true, primary.id, primary.lastUs};
        ForgetDown(primary.id);
        End(false, out);
    }
}

void Translator::Lose(PacketBatch& out) {
    if (primary.active) {
        End(false, out);
    }
    lost = Lost{};
    downCount = 0;
    buttonDown = false;
    // A button held in the new pad's first frame was pressed before: no tap.
    firstFrame = true;
}

void Translator::ClaimStarts(uint32_t nowUs) {
    settling = true;
    settleUntilUs = nowUs + ClaimSettleMicros;
}

void Translator::ChangePad(const PadGeometry& pad, PacketBatch& out) {
    Lose(out);
    geometry = pad;
}

void Translator::Start(const Contact& contact, uint32_t nowUs, PacketBatch& out) {
    primary = Primary{};
    primary.active = true;
    primary.id = contact.id;
    primary.lastUs = nowUs;
    primary.originX = geometry.x.Clamp(contact.x);
    primary.originY = geometry.y.Clamp(contact.y);
    primary.lastX = primary.originX;
    primary.lastY = primary.originY;
    lastX = DeviceX(geometry.x, primary.originX);
    lastY = DeviceY(geometry.y, primary.originY);
    havePosition = true;
    out.Add({PacketFinger, lastX, lastY, 0});
}

void Translator::Move(const Contact& contact, PacketBatch& out) {
    const int32_t x = geometry.x.Clamp(contact.x);
    const int32_t y = geometry.y.Clamp(contact.y);
    const double mmX = geometry.x.MmPerUnit();
    const double mmY = geometry.y.MmPerUnit();
    const double dx = static_cast<double>(int64_t{x} - primary.originX) * mmX;
    const double dy = static_cast<double>(int64_t{y} - primary.originY) * mmY;
    // The allowance keeps a distance of exactly the limit (60 units of 0.025 mm) at the limit.
    if (dx * dx + dy * dy >= travelLimitSq - 1e-9) {
        primary.moved = true;
    }
    primary.resting = DistanceMm(primary.lastX, primary.lastY, x, y) < RestToleranceMm;
    primary.lastX = x;
    primary.lastY = y;
    // Upward is toward the pad's top edge, where the logical Y is smallest. The motion is
    // counted from where the contact touched down, so that the packets' motions add up to the
    // whole slide, a slow one as a fast one; the nudge away from zero keeps a product that
    // should be whole (6.5 + 6.5) from rounding down.
    const double exact = static_cast<double>(int64_t{primary.originY} - y) * mmY * MotionPerMm;
    const auto total = static_cast<int32_t>(std::trunc(exact + std::copysign(1e-6, exact)));
    const int32_t motion = total - primary.motionTotal;
    primary.motionTotal = total;
    lastX = DeviceX(geometry.x, x);
    lastY = DeviceY(geometry.y, y);
    out.Add({PacketFinger, lastX, lastY, motion});
}

void Translator::End(bool tap, PacketBatch& out) {
    if (tap) {
        out.Add({PacketGesture, lastX, lastY, 0});
    }
    out.Add({0, lastX, lastY, 0});
    primary.active = false;
}

void Translator::Tap(PacketBatch& out) {
    if (primary.tapped) {
        return; // one tap per contact
    }
    primary.tapped = true;
    out.Add({PacketFinger | PacketGesture, lastX, lastY, 0});
    out.Add({PacketFinger, lastX, lastY, 0});
}

} // namespace ptp
