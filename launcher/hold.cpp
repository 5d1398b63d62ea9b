#include "hold.h"

#include <algorithm>
#include <cmath>

namespace launcher {

HoldChange HoldDetector::ChangePad(const ptp::PadGeometry& newPad) {
    pad = newPad;
    return Stop(false);
}

HoldChange HoldDetector::LosePad() {
    return Stop(false);
}

HoldChange HoldDetector::Stop(bool anyDown) {
    const bool wasCounting = state == State::Counting;
    state = anyDown ? State::Spent : State::Idle;
    return wasCounting ? HoldChange::Cancelled : HoldChange::None;
}

bool HoldDetector::InCorner(int32_t x, int32_t y) const {
    const ptp::Axis& ax = pad.x;
    const ptp::Axis& ay = pad.y;
    if (ax.Empty() || ay.Empty()) {
        return false;
    }
    // Within `cornerPercent` of the edge: the pad reports Y growing toward the user, so its top
    // edge is the lowest Y.
    const int64_t p = settings.cornerPercent;
    const int64_t width = int64_t{ax.logicalMax} - ax.logicalMin;
    const int64_t height = int64_t{ay.logicalMax} - ay.logicalMin;
    const int64_t fromLeft = int64_t{ax.Clamp(x)} - ax.logicalMin;
    const int64_t fromTop = int64_t{ay.Clamp(y)} - ay.logicalMin;
    const bool left = fromLeft * 100 < width * p;
    const bool right = (width - fromLeft) * 100 < width * p;
    const bool top = fromTop * 100 < height * p;
    const bool bottom = (height - fromTop) * 100 < height * p;
    switch (settings.corner) {
    case Corner::TopLeft:
        return top && left;
    case Corner::TopRight:
        return top && right;
    case Corner::BottomLeft:
        return bottom && left;
    case Corner::BottomRight:
        return bottom && right;
    }
    return false;
}

bool HoldDetector::Moved(const ptp::Contact& contact) const {
    const double dx = (contact.x - originX) * pad.x.MmPerUnit();
    const double dy = (contact.y - originY) * pad.y.MmPerUnit();
    return std::hypot(dx, dy) > StillMm;
}

HoldChange HoldDetector::OnFrame(const ptp::Frame& frame, uint32_t nowUs, bool allowed) {
    size_t down = 0;
    bool palm = false;
    const ptp::Contact* first = nullptr;
    const ptp::Contact* held = nullptr;
    for (size_t i = 0; i < std::min(frame.count, ptp::MaxContacts); ++i) {
        const ptp::Contact& c = frame.contacts[i];
        if (!c.tip) {
            continue;
        }
        ++down;
        palm = palm || !c.confident;
        first = first != nullptr ? first : &c;
        if (state == State::Counting && c.id == id) {
            held = &c;
        }
    }
    switch (state) {
    case State::Idle:
        if (down == 0) {
            return HoldChange::None;
        }
        if (settings.enabled && allowed && down == 1 && !palm && !frame.button &&
            InCorner(first->x, first->y)) {
            state = State::Counting;
            id = first->id;
            originX = first->x;
            originY = first->y;
            startUs = nowUs;
            return HoldChange::Began;
        }
        state = State::Spent;
        return HoldChange::None;
    case State::Counting:
        if (held == nullptr || down != 1 || palm || frame.button || !settings.enabled ||
            Moved(*held) || !InCorner(held->x, held->y)) {
            return Stop(down != 0);
        }
        return OnTimer(nowUs);
    case State::Spent:
        if (down == 0) {
            state = State::Idle;
        }
        return HoldChange::None;
    }
    return HoldChange::None;
}

HoldChange HoldDetector::OnTimer(uint32_t nowUs) {
    if (state != State::Counting || nowUs - startUs < settings.holdMs * 1000) {
        return HoldChange::None;
    }
    state = State::Spent;
    return HoldChange::Reached;
}

double HoldDetector::Progress(uint32_t nowUs) const {
    if (state != State::Counting || settings.holdMs == 0) {
        return 0;
    }
    return std::min(1.0, (nowUs - startUs) / (settings.holdMs * 1000.0));
}

} // namespace launcher
