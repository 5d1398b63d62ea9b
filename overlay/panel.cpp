#include "panel.h"

#include "device/velcom.h"
#include "device/wrap32.h"

namespace overlay {

namespace {

constexpr uint32_t FingerBit = FlagsAFinger;
constexpr uint32_t GestureBit = FlagsAGesture;
constexpr uint32_t TapArmed = FingerBit | GestureBit;
// The program steps the volume when the magnitude of its motion sum is over this.
constexpr uint32_t StepThreshold = 25;

uint32_t Magnitude(LONG v) {
    const auto u = static_cast<uint32_t>(v);
    return v < 0 ? 0U - u : u;
}

// 1 through a hold of `holdMs` from `since`, then down to 0 over `fadeMs`.
float Strength(DWORD since, DWORD holdMs, DWORD fadeMs, DWORD nowMs) {
    const DWORD age = nowMs - since;
    if (age < holdMs) {
        return 1.0F;
    }
    if (age - holdMs >= fadeMs) {
        return 0.0F;
    }
    return 1.0F - static_cast<float>(age - holdMs) / static_cast<float>(fadeMs);
}

// The nearer of two times after `nowMs` (either may be absent).
std::optional<DWORD> Sooner(std::optional<DWORD> a, std::optional<DWORD> b, DWORD nowMs) {
    if (!a || !b) {
        return a ? a : b;
    }
    return *a - nowMs <= *b - nowMs ? a : b;
}

// When a hold from `since` ends, or `nowMs` during its fade (a frame is due), or nothing after.
std::optional<DWORD> NextOf(DWORD since, DWORD holdMs, DWORD fadeMs, DWORD nowMs) {
    const DWORD age = nowMs - since;
    if (age < holdMs) {
        return since + holdMs;
    }
    if (age - holdMs < fadeMs) {
        return nowMs;
    }
    return std::nullopt;
}

} // namespace

PanelLayout LayoutFor(const RECT& pad) {
    PanelLayout layout;
    layout.pad = pad;
    layout.zones = PlaceZones(pad, DeriveSizes(pad));
    return layout;
}

ZoneClass ClassOf(size_t zoneIndex) {
    if (zoneIndex == StripIndex) {
        return ZoneClass::Strip;
    }
    return zoneIndex == ExitIndex ? ZoneClass::Exit : ZoneClass::Grid;
}

LONG TurnY(const PanelLayout& layout, LONG deviceY) {
    return WrapSub(WrapAdd(layout.pad.top, layout.pad.bottom), deviceY);
}

RECT ViewRect(const PanelLayout& layout, size_t zoneIndex) {
    RECT r = layout.zones[zoneIndex].rect;
    if (zoneIndex == StripIndex) {
        const LONG top = TurnY(layout, r.bottom);
        r.bottom = TurnY(layout, r.top);
        r.top = top;
    }
    return r;
}

std::optional<size_t> ButtonAt(const PanelLayout& layout, LONG x, LONG y) {
    const POINT turned{x, TurnY(layout, y)};
    for (size_t i = ExitIndex; i < ZoneCount; ++i) {
        if (PtInRect(&layout.zones[i].rect, turned)) {
            return i;
        }
    }
    return std::nullopt;
}

bool OnStrip(const PanelLayout& layout, LONG x, LONG y) {
    return PtInRect(&layout.zones[StripIndex].rect, POINT{x, y}) != FALSE;
}

std::optional<size_t> ZoneUnder(const PanelLayout& layout, LONG x, LONG y) {
    if (const auto button = ButtonAt(layout, x, y)) {
        return button;
    }
    return OnStrip(layout, x, y) ? std::optional<size_t>(StripIndex) : std::nullopt;
}

bool PanelTracker::OnPacket(const PacketView& packet, DWORD nowMs) {
    const PanelState before = StateAt(nowMs);
    // Flags B counts only when flags A does not already say the finger is down.
    const bool down = (packet.flagsA & FingerBit) != 0 || (packet.flagsB & FlagsBFinger) != 0;
    if (down) {
        tapState |= FingerBit;
    }
    bool tap = false;
    if ((packet.flagsA & GestureBit) != 0) {
        tapState = (tapState & FingerBit) != 0 ? tapState | GestureBit : tapState & ~GestureBit;
    } else if (tapState == TapArmed) {
        tap = true;
        tapState = 0;
    }
    touching = down;
    if (down) {
        lastX = packet.x;
        lastY = packet.y;
    }
    if (tap) {
        // The program taps where the finger was last down.
        if (const auto hit = ButtonAt(layout, lastX, lastY)) {
            pressed = hit;
            pressedAt = nowMs;
            caption = Caption{*hit, 0};
            captionFrom = nowMs;
            captionHeld = false;
            motionSum = 0;
        }
    } else if (down) {
        if (wasTouching && OnStrip(layout, packet.x, packet.y)) {
            motionSum = WrapAdd(motionSum, packet.motion);
            if (Magnitude(motionSum) > StepThreshold) {
                stepSeen = true;
                stepAt = nowMs;
                stepY = packet.y;
                stepDirection = motionSum > 0 ? 1 : -1;
                caption = Caption{StripIndex, stepDirection};
                captionHeld = true;
                motionSum = 0;
            }
        }
    } else {
        motionSum = 0;
    }
    if (!down && wasTouching) {
        liftedAt = nowMs;
        if (captionHeld) {
            // A step's caption stays as long after the lift as a tap's after the tap.
            captionHeld = false;
            captionFrom = nowMs;
        }
    }
    wasTouching = down;
    return !(StateAt(nowMs) == before);
}

PanelState PanelTracker::StateAt(DWORD nowMs) const {
    PanelState state;
    state.touching = touching;
    state.x = lastX;
    state.y = lastY;
    if (touching) {
        state.under = ZoneUnder(layout, lastX, lastY);
    }
    if (pressed) {
        const float strength = Strength(pressedAt, CaptionHoldMs, CaptionFadeMs, nowMs);
        if (strength > 0) {
            state.pressed = pressed;
            state.pressedStrength = strength;
        }
    }
    if (caption) {
        const float strength =
            captionHeld ? 1.0F : Strength(captionFrom, CaptionHoldMs, CaptionFadeMs, nowMs);
        if (strength > 0) {
            state.caption = caption;
            state.captionStrength = strength;
        }
    }
    if (stepSeen) {
        const float strength = Strength(stepAt, 0, StepFadeMs, nowMs);
        if (strength > 0) {
            state.stepStrength = strength;
            state.stepY = stepY;
            state.stepDirection = stepDirection;
        }
    }
    return state;
}

std::optional<DWORD> PanelTracker::NextChange(DWORD nowMs) const {
    std::optional<DWORD> next;
    if (pressed) {
        next = Sooner(next, NextOf(pressedAt, CaptionHoldMs, CaptionFadeMs, nowMs), nowMs);
    }
    if (caption && !captionHeld) {
        next = Sooner(next, NextOf(captionFrom, CaptionHoldMs, CaptionFadeMs, nowMs), nowMs);
    }
    if (stepSeen) {
        next = Sooner(next, NextOf(stepAt, 0, StepFadeMs, nowMs), nowMs);
    }
    return next;
}

std::optional<DWORD> PanelTracker::QuietSince(DWORD nowMs) const {
    const PanelState state = StateAt(nowMs);
    if (touching || captionHeld || state.pressed || state.caption || state.stepStrength > 0) {
        return std::nullopt;
    }
    // The latest of the lift and the ends of what showed after it.
    DWORD since = liftedAt;
    const auto later = [&](bool seen, DWORD end) {
        if (seen && nowMs - end < nowMs - since) {
            since = end;
        }
    };
    later(pressed.has_value(), pressedAt + CaptionHoldMs + CaptionFadeMs);
    later(caption.has_value(), captionFrom + CaptionHoldMs + CaptionFadeMs);
    later(stepSeen, stepAt + StepFadeMs);
    return since;
}

} // namespace overlay
