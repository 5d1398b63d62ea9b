// The corner hold that starts Tapdeck: one confident finger that touches down inside the
// activation corner of the pad and rests there, within StillMm of where it touched down, with
// no other contact, no palm and the button up, for the hold time. Plain C++ over velptp's
// frames: the launcher's window feeds it what raw input brings and a one-shot timer for the
// hold's end, so that it fires the moment the time is reached even when a resting finger goes
// unreported.
#pragma once

#include <cstdint>

#include "pad_geometry.h"
#include "translator.h"

namespace launcher {

enum class Corner { TopLeft, TopRight, BottomLeft, BottomRight };

struct HoldSettings {
    bool enabled = true;
    Corner corner = Corner::TopRight;
    // The corner's width, in percent of the pad's width, and its height, of the pad's height.
    uint32_t cornerPercent = 10;
    uint32_t holdMs = 800;
};

// A finger that moves further than this from where it touched down is no hold.
inline constexpr double StillMm = 2.0;

enum class HoldChange {
    None,
    Began,     // a hold is being counted from now: show that it is
    Cancelled, // the hold that was counted is over without starting Tapdeck
    Reached,   // the hold time is reached: start Tapdeck now
};

class HoldDetector {
public:
    HoldDetector() = default;
    HoldDetector(const HoldSettings& chosen, const ptp::PadGeometry& geometry)
        : settings(chosen), pad(geometry) {}

    // From the next touch on; a hold being counted is cancelled by the caller's next frame if
    // it no longer qualifies.
    void Use(const HoldSettings& newSettings) { settings = newSettings; }
    // Frames come from another pad, with no contact down.
    HoldChange ChangePad(const ptp::PadGeometry& newPad);
    // The pad is gone: whatever was down is lifted.
    HoldChange LosePad();

    // One frame of the pad, at `nowUs` on the caller's clock (microseconds, wrapping). `allowed`:
    // whether a hold may start Tapdeck now (it is not running, nor ended a moment ago); a touch
    // that lands while it may not is no hold, even when that changes before it lifts.
    HoldChange OnFrame(const ptp::Frame& frame, uint32_t nowUs, bool allowed);
    // The caller's timer for DeadlineUs() went off at `nowUs`.
    HoldChange OnTimer(uint32_t nowUs);

    // No contact is down: the next one to land may begin a hold.
    bool Idle() const { return state == State::Idle; }
    bool Counting() const { return state == State::Counting; }
    // When the hold being counted is reached, on the caller's clock.
    uint32_t DeadlineUs() const { return startUs + settings.holdMs * 1000; }
    // How much of the hold time has passed, 0 to 1; 0 when none is counted.
    double Progress(uint32_t nowUs) const;

    // Whether the touch of logical (x, y) lands inside the corner.
    bool InCorner(int32_t x, int32_t y) const;

private:
    enum class State {
        Idle,     // nothing down
        Counting, // one finger resting in the corner
        Spent,    // a touch that is no hold, or a hold reached: nothing until all lift
    };
    HoldChange Stop(bool anyDown);
    bool Moved(const ptp::Contact& contact) const;

    HoldSettings settings;
    ptp::PadGeometry pad;
    State state = State::Idle;
    uint32_t id = 0;
    int32_t originX = 0;
    int32_t originY = 0;
    uint32_t startUs = 0;
};

} // namespace launcher
