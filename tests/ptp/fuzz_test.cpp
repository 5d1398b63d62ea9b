// Reports from a device may be faulty. Random sequences of reports and frames, seeded and so
// the same on every run, go through the assembler and the translator; whatever comes in, the
// packets must keep Tapdeck's invariants: inside the edges, only the flag pairs a finger and a
// tap make, every finger-down followed by a finger-up, at most one tap per contact, a tap where
// its finger last was.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "frame_assembler.h"
#include "translator.h"

namespace {

using ptp::Packet;

constexpr uint32_t F = ptp::PacketFinger;
constexpr uint32_t G = ptp::PacketGesture;

// Follows the packets as Tapdeck would and records what breaks an invariant.
class PacketChecker {
public:
    void Check(const Packet& p) {
        ++count;
        if (p.x < ptp::DeviceXLo || p.x > ptp::DeviceXHi || p.y < ptp::DeviceYLo ||
            p.y > ptp::DeviceYHi) {
            Fail("outside the edges");
        }
        if (p.flagsA != 0 && p.flagsA != F && p.flagsA != G && p.flagsA != (F | G)) {
            Fail("unknown flags");
        }
        if ((p.flagsA & F) == 0 && p.motion != 0) {
            Fail("motion without a finger");
        }
        if (p.motion > 7000 || p.motion < -7000) {
            Fail("motion larger than a pad");
        }
        const bool finger = (p.flagsA & F) != 0;
        const bool gesture = (p.flagsA & G) != 0;
        if (gesture) {
            if (!down && !finger) {
                Fail("gesture bit after a finger-up");
            }
            if (tapped) {
                Fail("a second tap in one contact");
            }
            if (down && (p.x != lastX || p.y != lastY)) {
                Fail("tap away from the finger");
            }
            tapped = true;
            expectFall = true;
        } else if (expectFall) {
            expectFall = false;
            if (p.x != lastX || p.y != lastY) {
                Fail("the gesture bit falls away from the tap");
            }
        }
        if (finger) {
            down = true;
            lastX = p.x;
            lastY = p.y;
        } else if (!gesture) {
            // A finger-up ends the contact.
            down = false;
            tapped = false;
        } else {
            // The lift of a tap: the finger is up, its clear packet follows.
            down = false;
        }
        lastGesture = gesture;
    }

    // At the end of a sequence (after the contact has been given up for lost).
    void End() {
        if (down || lastGesture) {
            Fail("the last contact was left down");
        }
    }

    const std::string& Failure() const { return failure; }
    size_t Count() const { return count; }

private:
    void Fail(const char* what) {
        if (failure.empty()) {
            failure = std::string(what) + " at packet " + std::to_string(count);
        }
    }

    size_t count = 0;
    bool down = false;
    bool tapped = false;
    bool expectFall = false;
    bool lastGesture = false;
    int32_t lastX = 0;
    int32_t lastY = 0;
    std::string failure;
};

// A pad's axis, often odd: empty, inverted, negative, huge.
ptp::Axis RandomAxis(std::mt19937& rng) {
    std::uniform_int_distribution<int> pick(0, 5);
    ptp::AxisCaps caps{0, 4000, 0, 1000, 0x11, 0xE, 16};
    switch (pick(rng)) {
    case 0:
        caps.logicalMax = caps.logicalMin = 300; // zero width
        break;
    case 1:
        caps.logicalMin = -2000;
        caps.logicalMax = 2000;
        break;
    case 2:
        caps.logicalMin = INT32_MIN;
        caps.logicalMax = INT32_MAX;
        caps.bitSize = 32;
        break;
    case 3:
        caps.logicalMax = -1; // unsigned maximum in too few bytes
        break;
    case 4:
        caps.units = 0; // no physical size
        break;
    default:
        break;
    }
    return ptp::MakeAxis(caps, 80.0);
}

int32_t RandomCoordinate(std::mt19937& rng, const ptp::Axis& axis) {
    std::uniform_int_distribution<int> pick(0, 9);
    switch (pick(rng)) {
    case 0:
        return std::uniform_int_distribution<int32_t>(INT32_MIN, INT32_MAX)(rng);
    case 1:
        return axis.logicalMax + 1;
    default: {
        const int64_t lo = axis.logicalMin;
        const int64_t hi = axis.logicalMax > axis.logicalMin ? axis.logicalMax : lo;
        return static_cast<int32_t>(std::uniform_int_distribution<int64_t>(lo, hi)(rng));
    }
    }
}

uint32_t NextTime(std::mt19937& rng, uint32_t now) {
    std::uniform_int_distribution<int> pick(0, 19);
    switch (pick(rng)) {
    case 0:
        return now - std::uniform_int_distribution<uint32_t>(0, 500000)(rng); // backwards
    case 1:
        return now + std::uniform_int_distribution<uint32_t>(200000, 2000000)(rng); // a gap
    case 2:
        return now; // the same time
    case 3:
        return std::uniform_int_distribution<uint32_t>()(rng); // anywhere
    default:
        return now + std::uniform_int_distribution<uint32_t>(1000, 12000)(rng);
    }
}

ptp::Contact RandomContact(std::mt19937& rng, const ptp::PadGeometry& pad, uint32_t idBase) {
    std::uniform_int_distribution<int> percent(0, 99);
    ptp::Contact c;
    // Mostly a few ids that repeat; sometimes one that jumps anywhere.
    c.id = percent(rng) < 90 ? idBase + std::uniform_int_distribution<uint32_t>(0, 3)(rng)
                             : std::uniform_int_distribution<uint32_t>()(rng);
    c.tip = percent(rng) < 75;
    c.confident = percent(rng) < 85;
    c.x = RandomCoordinate(rng, pad.x);
    c.y = RandomCoordinate(rng, pad.y);
    return c;
}

// The end of a sequence: the pad goes away, so whatever is down is lifted. Returns the count
// of packets the sequence made.
size_t EndSequence(ptp::Translator& translator, PacketChecker& checker, uint32_t) {
    ptp::PacketBatch batch;
    translator.Lose(batch);
    for (const Packet& p : batch) {
        checker.Check(p);
    }
    checker.End();
    return checker.Count();
}

TEST(TranslatorFuzz, RandomFramesKeepTheInvariants) {
    constexpr int Sequences = 2000;
    constexpr int FramesPerSequence = 150;
    size_t packets = 0;
    for (int seed = 1; seed <= Sequences; ++seed) {
        std::mt19937 rng(static_cast<std::mt19937::result_type>(seed));
        const ptp::PadGeometry pad{RandomAxis(rng), RandomAxis(rng)};
        ptp::Translator translator(pad);
        PacketChecker checker;
        ptp::PacketBatch batch;
        uint32_t now = std::uniform_int_distribution<uint32_t>()(rng);
        uint32_t lastFrame = now;
        std::uniform_int_distribution<int> percent(0, 99);
        for (int f = 0; f < FramesPerSequence; ++f) {
            now = NextTime(rng, now);
            batch.Clear();
            if (percent(rng) < 5) {
                translator.Idle(now, batch);
            } else {
                ptp::Frame frame;
                frame.timeUs = now;
                frame.button = percent(rng) < 10;
                // Sometimes a frame of the button alone (whatever its contacts hold), more
                // contacts than the frame can hold, or than the count says.
                frame.buttonOnly = percent(rng) < 5;
                frame.count =
                    frame.buttonOnly ? 0 : std::uniform_int_distribution<size_t>(0, 40)(rng);
                for (ptp::Contact& c : frame.contacts) {
                    c = RandomContact(rng, pad, 0);
                }
                translator.OnFrame(frame, batch);
                lastFrame = now;
            }
            ASSERT_LE(batch.count, ptp::PacketBatch::Capacity);
            for (const Packet& p : batch) {
                checker.Check(p);
            }
        }
        packets += EndSequence(translator, checker, lastFrame);
        ASSERT_EQ(checker.Failure(), "") << "seed " << seed;
    }
    EXPECT_GT(packets, 10000u) << "the sequences made too few packets to show anything";
}

TEST(TranslatorFuzz, RandomReportsThroughTheAssemblerKeepTheInvariants) {
    constexpr int Sequences = 1500;
    constexpr int ReportsPerSequence = 200;
    size_t packets = 0;
    for (int seed = 1; seed <= Sequences; ++seed) {
        std::mt19937 rng(static_cast<std::mt19937::result_type>(seed) * 7919u);
        const ptp::PadGeometry pad{RandomAxis(rng), RandomAxis(rng)};
        ptp::FrameAssembler assembler;
        ptp::Translator translator(pad);
        PacketChecker checker;
        ptp::PacketBatch batch;
        ptp::FrameBatch frames;
        std::uniform_int_distribution<int> percent(0, 99);
        uint32_t now = 1000;
        uint32_t lastFrame = now;
        uint32_t scan = 0;
        for (int r = 0; r < ReportsPerSequence; ++r) {
            ptp::Report report;
            const int kind = percent(rng);
            if (kind < 60) {
                scan += 80; // a new scan
                now = NextTime(rng, now);
                report.contactCount = std::uniform_int_distribution<uint32_t>(1, 5)(rng);
            } else if (kind < 85) {
                report.contactCount = 0; // hybrid continuation (or of no scan at all)
            } else {
                scan = std::uniform_int_distribution<uint32_t>()(rng);
                report.contactCount = std::uniform_int_distribution<uint32_t>()(rng);
            }
            report.timeUs = now;
            report.scanTime = scan;
            report.button = percent(rng) < 10;
            report.slotCount = std::uniform_int_distribution<size_t>(0, 20)(rng);
            for (ptp::Contact& c : report.slots) {
                c = RandomContact(rng, pad, 0);
            }
            for (int pass = 0; pass < 2; ++pass) {
                if (pass == 0) {
                    assembler.Add(report, frames);
                } else if (percent(rng) < 10) {
                    // No report for a while: an incomplete frame may be finished as it is.
                    assembler.Flush(now + std::uniform_int_distribution<uint32_t>(0, 100000)(rng),
                                    frames);
                } else {
                    break;
                }
                ASSERT_LE(frames.count, ptp::FrameBatch::Capacity);
                for (size_t f = 0; f < frames.count; ++f) {
                    batch.Clear();
                    translator.OnFrame(frames.frames[f], batch);
                    lastFrame = frames.frames[f].timeUs;
                    for (const Packet& p : batch) {
                        checker.Check(p);
                    }
                }
            }
        }
        packets += EndSequence(translator, checker, lastFrame);
        ASSERT_EQ(checker.Failure(), "") << "seed " << seed;
    }
    EXPECT_GT(packets, 10000u) << "the sequences made too few packets to show anything";
}

} // namespace
