// Turns each touchpad packet into taps on buttons and volume steps on the strip. Runs on the
// device library's delivery thread.
#include <cstdint>

#include "device/pad_app.h"
#include "device/wrap32.h"

namespace {

// A read that delivers nothing leaves the preset 0.
LONG ReadProp(DevicePacket* packet, LONG id) {
    LONG value = 0;
    packet->ReadProperty(id, &value);
    return value;
}

// Flags B counts only when flags A does not already say the finger is down.
bool FingerDown(DevicePacket* packet) {
    if (static_cast<DWORD>(ReadProp(packet, PropFlagsA)) & FlagsAFinger) {
        return true;
    }
    return (static_cast<DWORD>(ReadProp(packet, PropFlagsB)) & FlagsBFinger) != 0;
}

uint32_t Magnitude(LONG v) {
    const auto u = static_cast<uint32_t>(v);
    return v < 0 ? 0u - u : u;
}

constexpr DWORD TapArmed = FlagsAFinger | FlagsAGesture;
constexpr uint32_t StepThreshold = 25;

// Counts the OnPacket calls in progress, so that PadApp's destruction can wait them out. The
// last call to return once the destruction has begun wakes it. Either the destructor sees the
// count at 0 or this sees `closing` set: both are sequentially consistent.
class CallCount {
public:
    CallCount(std::atomic<int>& c, const std::atomic<bool>& closingFlag, HANDLE returnedEvent)
        : count(c), closing(closingFlag), returned(returnedEvent) {
        count.fetch_add(1);
    }
    ~CallCount() {
        if (count.fetch_sub(1) == 1 && closing.load()) {
            SetEvent(returned);
        }
    }
    CallCount(const CallCount&) = delete;
    CallCount& operator=(const CallCount&) = delete;

private:
    std::atomic<int>& count;
    const std::atomic<bool>& closing;
    HANDLE returned;
};

} // namespace

LONG STDMETHODCALLTYPE PadApp::OnPacket(LONG) {
    CallCount call(packetCalls, closing, packetReturned.Get());
    if (!PacketsWanted()) {
        return 0;
    }
    if (!packetFactory) {
        ComThreadInit(ComKind::DevicePacket);
        packetFactory = ClassFactoryHolder(ProgIdDevicePacket);
    }
    PacketHolder packet(packetFactory.Get());
    if (!packet || !previousPacket || !device) {
        return 0; // nothing to read the packet into or compare it with: skip it
    }
    device->FillPacket(packet.Get());

    const Zone* tapped = nullptr;
    bool step = false;
    LONG stepSum = 0;
    {
        // Actions run after the lock is dropped: a LeaveMode they start takes it again, and
        // may wait for the main thread, which may itself be waiting for this lock.
        std::lock_guard lock(gestureLock);
        if (FingerDown(packet.Get())) {
            tapState |= FlagsAFinger;
            touching = 1;
        } else {
            touching = 0;
        }

        if (static_cast<DWORD>(ReadProp(packet.Get(), PropFlagsA)) & FlagsAGesture) {
            if (tapState & FlagsAFinger) {
                tapState |= FlagsAGesture;
            } else {
                tapState &= ~FlagsAGesture;
            }
        } else if (tapState == TapArmed) {
            tapFlag = 1;
            tapState = 0;
        } else {
            tapFlag = 0;
        }

        if (touching) {
            lastX = ReadProp(packet.Get(), PropX);
            const LONG y = ReadProp(packet.Get(), PropY);
            lastY = WrapSub(WrapAdd(padRect.top, padRect.bottom), y);
        }

        if (tapFlag) {
            tapped = FindButton(lastX, lastY);
        } else if (touching) {
            if (FingerDown(previousPacket.Get())) {
                const LONG y = ReadProp(packet.Get(), PropY);
                const LONG x = ReadProp(packet.Get(), PropX);
                if (InStrip(x, y)) {
                    motionSum = WrapAdd(motionSum, ReadProp(packet.Get(), PropMotion));
                    if (Magnitude(motionSum) > StepThreshold) {
                        step = true;
                        stepSum = motionSum;
                        motionSum = 0;
                    }
                }
            }
        } else {
            ClearGesture();
        }
    }

    if (tapped) {
        RunAction(tapped);
        ResetGesture();
    } else if (step) {
        VolumeStep(stepSum);
    }
    previousPacket->CopyPacket(packet.Get());
    return 0;
}
