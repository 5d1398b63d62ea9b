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

float Fade(DWORD since, DWORD nowMs) {
    const DWORD age = nowMs - since;
    return age >= FlashMs ? 0.0F : 1.0F - static_cast<float>(age) / static_cast<float>(FlashMs);
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
            flashZone = hit;
            flashAt = nowMs;
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
                motionSum = 0;
            }
        }
    } else {
        motionSum = 0;
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
        state.under = ButtonAt(layout, lastX, lastY);
        if (!state.under && OnStrip(layout, lastX, lastY)) {
            state.under = StripIndex;
        }
    }
    if (flashZone) {
        state.flash = Fade(flashAt, nowMs);
        if (state.flash > 0) {
            state.flashZone = flashZone;
        }
    }
    if (stepSeen) {
        state.stepFlash = Fade(stepAt, nowMs);
        if (state.stepFlash > 0) {
            state.stepY = stepY;
            state.stepDirection = stepDirection;
        }
    }
    return state;
}

bool PanelTracker::Fading(DWORD nowMs) const {
    return (flashZone && Fade(flashAt, nowMs) > 0) || (stepSeen && Fade(stepAt, nowMs) > 0);
}

} // namespace overlay
