// The translation from a Precision Touchpad's contact frames to the packets Tapdeck reads: the
// primary contact, its position in device units, its motion along Y, and the taps the library
// makes for it. Plain C++ and allocation-free: it needs no Windows input, so tests drive it with
// frames and the claim's input thread calls it once per frame.
//
// Packets: while the primary contact is down, one per frame with the finger bit, its position
// and its motion since the previous frame. When it lifts, one packet with the finger bit clear;
// when the contact was a tap, that packet carries the gesture bit and one more with both bits
// clear follows, so Tapdeck sees the gesture bit fall at the last finger position.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "pad_geometry.h"

namespace ptp {

// PropFlagsA's bits, as Tapdeck reads them.
inline constexpr uint32_t PacketFinger = 0x2000;
inline constexpr uint32_t PacketGesture = 0x10000;

// A contact that lifts at most this long after touching down and has moved less than
// TapMaxTravelMm from where it touched down is a tap.
inline constexpr uint32_t TapMaxMicros = 250'000;
inline constexpr double TapMaxTravelMm = 1.5;
// Motion units per millimetre of slide: Tapdeck steps the volume once its sum is over 25, so
// 26 units make a step and SlideMmPerStep of slide makes one.
inline constexpr double SlideMmPerStep = 4.0;
inline constexpr int32_t MotionPerStep = 26;
inline constexpr double MotionPerMm = MotionPerStep / SlideMmPerStep;
// A pad reports a moving contact at 125 Hz or more: a primary contact that moved in its last
// frame and has not been reported for this long is taken as gone, without a tap; its contact
// id is free for the next touch. A resting one may go unreported (a pad need only report
// contacts that move), so silence does not end it: its lift, a frame without it, or its pad's
// removal does. A gap this long between two frames of one contact also rules the contact out
// as a tap, as does time that runs backwards.
inline constexpr uint32_t ContactLostMicros = 250'000;
// A contact rests when its last frame moved it less than this from the frame before: a finger
// held still jitters by a few hundredths of a millimetre from report to report, and one that
// slides at 31 mm/s or more (4 mm, one volume step, in an eighth of a second) moves further
// at 125 reports a second. The last frame alone decides, because a pad that reports only
// contacts that move may send one frame of a stopping finger before it falls silent.
inline constexpr double RestToleranceMm = 0.25;
// Contacts of one frame that are looked at; more are ignored.
inline constexpr size_t MaxContacts = 16;
// A pad reports a contact that is down at least every 8 ms: one down when a claim starts is in
// a frame within this long, and taken for one that was down before.
inline constexpr uint32_t ClaimSettleMicros = 100'000;

struct Contact {
    uint32_t id = 0;
    bool tip = false;
    bool confident = false;
    int32_t x = 0; // logical units, as reported
    int32_t y = 0;
};

// All contacts of one scan of the pad, and the pad's button.
struct Frame {
    // When the frame was taken, in microseconds; wraps at 2^32. Only differences count.
    uint32_t timeUs = 0;
    bool button = false;
    // A report of the button alone (a contact count of 0 that continues no scan): it says
    // nothing of the contacts, which are as they were; `count` is 0.
    bool buttonOnly = false;
    // Contacts used; values over MaxContacts count as MaxContacts.
    size_t count = 0;
    std::array<Contact, MaxContacts> contacts{};
};

struct Packet {
    uint32_t flagsA = 0;
    int32_t x = DeviceXLo;
    int32_t y = DeviceYLo;
    int32_t motion = 0;

    bool operator==(const Packet&) const = default;
};

// The packets of one frame: at most a lift with its tap, a new contact and a press of the
// button.
struct PacketBatch {
    static constexpr size_t Capacity = 6;
    std::array<Packet, Capacity> packets{};
    size_t count = 0;

    void Add(const Packet& packet);
    void Clear() { count = 0; }
    const Packet* begin() const { return packets.data(); }
    const Packet* end() const { return packets.data() + count; }
};

class Translator {
public:
    explicit Translator(const PadGeometry& geometry);

    // Adds this frame's packets to `out`.
    void OnFrame(const Frame& frame, PacketBatch& out);
    // No frame came: at `nowUs` (the frames' clock), a moving primary contact not reported for
    // over ContactLostMicros is lifted, without a tap, and its contact id is free again.
    void Idle(uint32_t nowUs, PacketBatch& out);
    // Whether Idle may lift a contact: a primary contact is down and moved in its last frame.
    bool MayBeLost() const { return primary.active && !primary.resting; }
    // The frames' pad is gone: a contact that was down is lifted, without a tap, and nothing of
    // that pad's contacts or button is remembered.
    void Lose(PacketBatch& out);
    // The frames come from another pad, of this geometry: as Lose, then the new geometry.
    void ChangePad(const PadGeometry& pad, PacketBatch& out);
    // The claim starts now, on the frames' clock: a contact reported down in a frame up to
    // ClaimSettleMicros later, that was not seen touching down, was down before the claim (the
    // finger that started Tapdeck from the pad's corner, for one). It is neither a tap nor a
    // slide: ignored until it lifts.
    void ClaimStarts(uint32_t nowUs);

    bool Touching() const { return primary.active; }

private:
    enum class Fate { Moving, Lifted, Cancelled, Vanished };

    struct Primary {
        bool active = false;
        uint32_t id = 0;
        uint32_t lastUs = 0;
        uint32_t heldUs = 0;
        // Time ran backwards or stood still too long: not a tap, whatever else.
        bool untimely = false;
        // Moved TapMaxTravelMm or more from where it touched down.
        bool moved = false;
        // This contact has made its one tap (with the button).
        bool tapped = false;
        // Its last frame moved it less than RestToleranceMm: silence does not end it.
        bool resting = true;
        int32_t originX = 0; // logical, clamped
        int32_t originY = 0;
        int32_t lastX = 0; // logical, clamped, as last reported
        int32_t lastY = 0;
        // Motion units from where it touched down to where it was last reported.
        int32_t motionTotal = 0;
    };

    // The contact that Idle ended last: its id and its last frame's time, until the next frame.
    struct Lost {
        bool active = false;
        uint32_t id = 0;
        uint32_t lastUs = 0;
    };

    void Start(const Contact& contact, uint32_t nowUs, PacketBatch& out);
    void Move(const Contact& contact, PacketBatch& out);
    void End(bool tap, PacketBatch& out);
    void Tap(PacketBatch& out);
    void Press(PacketBatch& out);
    bool WasDown(uint32_t id) const;
    void ForgetDown(uint32_t id);
    void HoldOverLost(const Frame& frame);
    // Millimetres between two logical points of the pad.
    double DistanceMm(int32_t x0, int32_t y0, int32_t x1, int32_t y1) const;

    PadGeometry geometry;
    double travelLimitSq = 0;
    Primary primary;
    Lost lost;
    // Ids with the tip down in the previous frame: a contact can become primary only in the
    // frame in which it touches down.
    std::array<uint32_t, MaxContacts> downIds{};
    size_t downCount = 0;
    bool buttonDown = false;
    // A button already held at the first frame was pressed before: no tap.
    bool firstFrame = true;
    // Until this time on the frames' clock, a contact reported down is one of before the claim.
    bool settling = false;
    uint32_t settleUntilUs = 0;
    // Where the last primary contact was, in device units; the button taps there when no
    // finger is down.
    bool havePosition = false;
    int32_t lastX = DeviceXLo;
    int32_t lastY = DeviceYLo;
};

} // namespace ptp
