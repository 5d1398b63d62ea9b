// Reports put together into frames (hybrid mode), what a pad's descriptor must offer, and the
// scenario text a recording is written in.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <variant>
#include <vector>

#include "frame_assembler.h"
#include "pad_caps.h"
#include "ptp/test_pad.h"
#include "scenario_writer.h"
#include "translator.h"
#include "velsim_core.h"

namespace {

using namespace ptptest;

// ---- Frame assembly ----

struct ReportRow {
    uint32_t scanTime;
    uint32_t contactCount;
    size_t slots; // slots decoded, with ids 10 * (report number) + slot
    bool button;
    // When not 0: no report comes for this long after it, and the assembler is told so.
    uint32_t silentMs = 0;
};

struct FrameRow {
    std::array<uint32_t, 6> ids;
    size_t count;
    bool button;
    bool buttonOnly = false;
};

struct AssemblyCase {
    const char* name;
    std::array<ReportRow, 4> reports;
    size_t reportCount;
    // Frames completed after each report (in order), all together.
    std::array<FrameRow, 4> frames;
    size_t frameCount;
};

constexpr AssemblyCase Assemblies[] = {
    {"parallel mode: every report is a frame",
     {{{1, 2, 5, false}, {2, 1, 5, true}}},
     2,
     {{{{0, 1}, 2, false}, {{10}, 1, true}}},
     2},
    {"hybrid mode: a scan in two reports",
     {{{7, 3, 2, false}, {7, 0, 2, true}}},
     2,
     {{{{0, 1, 10}, 3, true}}},
     1},
    {"hybrid mode: the button pressed in the first report of a scan",
     {{{7, 3, 2, true}, {7, 0, 2, false}}},
     2,
     {{{{0, 1, 10}, 3, true}}},
     1},
    {"a new scan ends an incomplete one",
     {{{7, 4, 2, false}, {8, 1, 2, false}}},
     2,
     {{{{0, 1}, 2, false}, {{10}, 1, false}}},
     2},
    {"a continuation of another scan ends the pending one and stands for the button alone",
     {{{7, 4, 2, false}, {9, 0, 2, true}}},
     2,
     {{{{0, 1}, 2, false}, {{}, 0, true, true}}},
     2},
    {"a surplus report of the scan just finished is ignored: the finger does not vanish",
     {{{7, 1, 1, false}, {7, 0, 1, false}, {8, 1, 1, false}}},
     3,
     {{{{0}, 1, false}, {{20}, 1, false}}},
     2},
    {"a report of no contacts with the button pressed is the button alone",
     {{{3, 0, 5, true}}},
     1,
     {{{{}, 0, true, true}}},
     1},
    {"a report of no contacts in a new scan with the button as it was carries nothing new",
     {{{7, 1, 1, true}, {8, 0, 1, true}, {9, 1, 1, true}}},
     3,
     {{{{0}, 1, true}, {{20}, 1, true}}},
     2},
    {"the button pressed in a report of no contacts while a finger rests: the button alone",
     {{{7, 1, 1, false}, {8, 0, 0, true}, {9, 0, 0, false}, {10, 1, 1, false}}},
     4,
     {{{{0}, 1, false}, {{}, 0, true, true}, {{}, 0, false, true}, {{30}, 1, false}}},
     4},
    {"a button change is never surplus, even with the scan time of the frame just finished",
     {{{7, 1, 1, false}, {7, 0, 0, true}}},
     2,
     {{{{0}, 1, false}, {{}, 0, true, true}}},
     2},
    {"more contacts than the library looks at are cut",
     {{{3, 200, 16, false}}},
     1,
     {{{{0, 1, 2, 3, 4, 5}, ptp::MaxContacts, false}}},
     1},
    {"a frame short of its announced contacts is finished once its scan is over",
     {{{7, 2, 1, false, ptp::ScanWaitMicros / 1000}}},
     1,
     {{{{0}, 1, false}}},
     1},
    {"...and not before", {{{7, 2, 1, false, ptp::ScanWaitMicros / 1000 - 1}}}, 1, {}, 0},
};

TEST(FrameAssembler, ReportsMakeWholeFrames) {
    for (const AssemblyCase& c : Assemblies) {
        SCOPED_TRACE(c.name);
        ptp::FrameAssembler assembler;
        std::vector<ptp::Frame> frames;
        for (size_t r = 0; r < c.reportCount; ++r) {
            const ReportRow& row = c.reports[r];
            ptp::Report report;
            report.timeUs = static_cast<uint32_t>(r) * 1000;
            report.scanTime = row.scanTime;
            report.contactCount = row.contactCount;
            report.button = row.button;
            report.slotCount = row.slots;
            for (size_t s = 0; s < row.slots; ++s) {
                report.slots[s] = {static_cast<uint32_t>(10 * r + s), true, true, 0, 0};
            }
            ptp::FrameBatch batch;
            assembler.Add(report, batch);
            frames.insert(frames.end(), batch.frames.begin(), batch.frames.begin() + batch.count);
            if (row.silentMs != 0) {
                EXPECT_TRUE(assembler.Pending());
                assembler.Flush(report.timeUs + row.silentMs * 1000, batch);
                frames.insert(frames.end(), batch.frames.begin(),
                              batch.frames.begin() + batch.count);
            }
        }
        ASSERT_EQ(frames.size(), c.frameCount);
        for (size_t f = 0; f < c.frameCount; ++f) {
            const FrameRow& want = c.frames[f];
            EXPECT_EQ(frames[f].button, want.button) << "frame " << f;
            EXPECT_EQ(frames[f].buttonOnly, want.buttonOnly) << "frame " << f;
            ASSERT_EQ(frames[f].count, want.count) << "frame " << f;
            for (size_t i = 0; i < want.count && i < want.ids.size(); ++i) {
                EXPECT_EQ(frames[f].contacts[i].id, want.ids[i]) << "frame " << f << " slot " << i;
            }
        }
    }
}

// ---- What a pad must offer ----

using ptp::UsageCap;

constexpr UsageCap Value(uint16_t page, uint16_t usage, uint16_t link,
                         ptp::AxisCaps range = {0, 4000, 0, 1000, 0x11, 0xE, 16}) {
    return {page, usage, link, false, range};
}
constexpr UsageCap Button(uint16_t page, uint16_t usage, uint16_t link) {
    return {page, usage, link, true, {}};
}

constexpr uint16_t GD = ptp::PageGenericDesktop, DG = ptp::PageDigitizer;

// One contact's usages in collection `link`.
constexpr std::array<UsageCap, 5> ContactCaps(uint16_t link, ptp::AxisCaps x = TestX,
                                              ptp::AxisCaps y = TestY) {
    return {Value(GD, ptp::UsageX, link, x), Value(GD, ptp::UsageY, link, y),
            Value(DG, ptp::UsageContactId, link), Button(DG, ptp::UsageTipSwitch, link),
            Button(DG, ptp::UsageConfidence, link)};
}

struct DescribeCase {
    const char* name;
    std::array<UsageCap, 16> caps;
    size_t count;
    ptp::PadProblem problem;
    size_t slots;
    bool confidence;
    bool button;
    // The usage of the pad's first button, when it has one.
    uint16_t firstButton = ptp::UsageButton1;
};

template <size_t N>
constexpr void Put(std::array<UsageCap, 16>& into, size_t& at,
                   const std::array<UsageCap, N>& caps) {
    for (const UsageCap& c : caps) {
        into[at++] = c;
    }
}

constexpr DescribeCase Make(const char* name, std::array<UsageCap, 5> first,
                            std::array<UsageCap, 5> second, size_t secondCount,
                            std::array<UsageCap, 4> top, size_t topCount, ptp::PadProblem problem,
                            size_t slots, bool confidence, bool button) {
    DescribeCase c{name, {}, 0, problem, slots, confidence, button};
    Put(c.caps, c.count, first);
    for (size_t i = 0; i < secondCount; ++i) {
        c.caps[c.count++] = second[i];
    }
    for (size_t i = 0; i < topCount; ++i) {
        c.caps[c.count++] = top[i];
    }
    return c;
}

constexpr std::array<UsageCap, 4> Top = {Value(DG, ptp::UsageContactCount, 0),
                                         Value(DG, ptp::UsageScanTime, 0),
                                         Button(ptp::PageButton, ptp::UsageButton1, 0),
                                         {}};

// The external buttons of a pad without a button under it, inside its finger collection, as a
// pad of ours has them.
constexpr std::array<UsageCap, 4> TopExternal = {
    Value(DG, ptp::UsageContactCount, 0), Value(DG, ptp::UsageScanTime, 0),
    Button(ptp::PageButton, ptp::UsageButton2, 2), Button(ptp::PageButton, ptp::UsageButton3, 2)};

constexpr DescribeCase WithFirstButton(DescribeCase c, uint16_t usage) {
    c.firstButton = usage;
    return c;
}

constexpr std::array<UsageCap, 5> Without(std::array<UsageCap, 5> caps, uint16_t usage) {
    for (UsageCap& c : caps) {
        if (c.usage == usage) {
            c.usage = 0x99; // a usage nobody looks for
        }
    }
    return caps;
}

constexpr DescribeCase Descriptions[] = {
    Make("two contacts, count, scan time, button", ContactCaps(2), ContactCaps(3), 5, Top, 3,
         ptp::PadProblem::None, 2, true, true),
    Make("no button", ContactCaps(2), ContactCaps(3), 5, Top, 2, ptp::PadProblem::None, 2, true,
         false),
    Make("no confidence: taken as always confident", Without(ContactCaps(2), ptp::UsageConfidence),
         {}, 0, Top, 3, ptp::PadProblem::None, 1, false, true),
    Make("no contact count", ContactCaps(2), {}, 0, {Top[1], Top[2]}, 2,
         ptp::PadProblem::NoContactCount, 1, true, true),
    Make("no tip switch", Without(ContactCaps(2), ptp::UsageTipSwitch), {}, 0, Top, 3,
         ptp::PadProblem::NoContacts, 0, false, false),
    Make("no contact id", Without(ContactCaps(2), ptp::UsageContactId), {}, 0, Top, 3,
         ptp::PadProblem::NoContacts, 0, false, false),
    Make("no Y", Without(ContactCaps(2), ptp::UsageY), {}, 0, Top, 3, ptp::PadProblem::NoContacts,
         0, false, false),
    Make("X of zero width", ContactCaps(2, {100, 100, 0, 1000, 0x11, 0xE, 16}), {}, 0, Top, 3,
         ptp::PadProblem::EmptyXRange, 1, true, true),
    Make("Y of zero width", ContactCaps(2, TestX, {0, 0, 0, 650, 0x11, 0xE, 16}), {}, 0, Top, 3,
         ptp::PadProblem::EmptyYRange, 1, true, true),
    Make("a slot without its tip switch is passed over", ContactCaps(2),
         Without(ContactCaps(3), ptp::UsageTipSwitch), 5, Top, 3, ptp::PadProblem::None, 1, true,
         true),
    // Button 2 is an external button's primary click: a press, as Button 1's.
    WithFirstButton(Make("Buttons 2 and 3 without Button 1: Button 2 is the button", ContactCaps(2),
                         {}, 0, TopExternal, 4, ptp::PadProblem::None, 1, true, true),
                    ptp::UsageButton2),
    // Button 3 is the secondary click: no press of the panel's zones.
    Make("Button 3 alone is no button", ContactCaps(2), {}, 0,
         {TopExternal[0], TopExternal[1], TopExternal[3]}, 3, ptp::PadProblem::None, 1, true,
         false),
};

TEST(PadCaps, APadIsUsableWithContactsAndAContactCount) {
    for (const DescribeCase& c : Descriptions) {
        SCOPED_TRACE(c.name);
        ptp::PadLayout layout;
        const ptp::PadProblem problem =
            ptp::DescribePad(std::span<const UsageCap>(c.caps.data(), c.count), layout);
        EXPECT_EQ(problem, c.problem) << ptp::Describe(problem);
        EXPECT_EQ(layout.slotCount, c.slots);
        if (c.slots != 0) {
            EXPECT_EQ(layout.slots[0].link, 2);
            EXPECT_EQ(layout.slots[0].hasConfidence, c.confidence);
        }
        if (problem == ptp::PadProblem::None) {
            EXPECT_EQ(layout.hasButton, c.button);
            EXPECT_EQ(layout.buttonCount, c.button ? 1u : 0u);
            if (c.button) {
                EXPECT_EQ(layout.buttonUsages[0], c.firstButton);
            }
            EXPECT_EQ(layout.geometry.x.logicalMax, 4000);
            EXPECT_DOUBLE_EQ(layout.geometry.y.millimetres, 65.0);
        }
    }
}

// ---- Scenario text ----

TEST(ScenarioWriter, ARecordingIsAScenarioTheSimulatedTouchpadReads) {
    const ptp::Packet packets[] = {{ptp::PacketFinger, 2500, 3400, 0},
                                   {ptp::PacketFinger, 2515, 3390, -7},
                                   {ptp::PacketGesture, 2515, 3390, 0},
                                   {0, 2515, 3390, 0}};
    const uint32_t pauses[] = {120, 8, 0, 0};
    std::string text = ptp::ScenarioHeader(13, TestPad());
    char line[ptp::PacketLineMax];
    for (size_t i = 0; i < std::size(packets); ++i) {
        text.append(line, ptp::FormatPacketLine(packets[i], pauses[i], line));
    }
    EXPECT_NE(text.find("packet a=0x2000 x=2515 y=3390 motion=-7 pause=8\n"), std::string::npos);

    const auto parsed = ParseScenario(text);
    ASSERT_TRUE(std::holds_alternative<Scenario>(parsed))
        << std::get<ScenarioError>(parsed).message << " on line "
        << std::get<ScenarioError>(parsed).line;
    const Scenario& s = std::get<Scenario>(parsed);
    EXPECT_EQ(s.kind, 13);
    EXPECT_EQ(s.edges[0], 1000);
    EXPECT_EQ(s.edges[1], 1000);
    EXPECT_EQ(s.edges[2], 7000);
    EXPECT_EQ(s.edges[3], 5800);
    EXPECT_EQ(s.rateHz, 0) << "rate max: the pauses carry the timing";
    ASSERT_EQ(s.packets.size(), std::size(packets));
    for (size_t i = 0; i < std::size(packets); ++i) {
        EXPECT_EQ(static_cast<uint32_t>(s.packets[i].a), packets[i].flagsA);
        EXPECT_EQ(s.packets[i].b, 0);
        EXPECT_EQ(s.packets[i].x, packets[i].x);
        EXPECT_EQ(s.packets[i].y, packets[i].y);
        EXPECT_EQ(s.packets[i].motion, packets[i].motion);
        EXPECT_EQ(static_cast<uint32_t>(s.packets[i].pauseMs), pauses[i]);
    }
}

struct PauseCase {
    const char* name;
    std::array<int64_t, 6> deliveredUs;
    std::array<uint32_t, 6> pauses;
};

constexpr PauseCase PauseCases[] = {
    {"whole milliseconds", {5000, 13000, 21000, 21000, 29000, 1029000}, {5, 8, 8, 0, 8, 1000}},
    // 8.3 ms apart: the pauses round so that their sum follows the clock.
    {"fractions add up", {8300, 16600, 24900, 33200, 41500, 49800}, {8, 9, 8, 8, 9, 8}},
    {"time that runs backwards pauses 0",
     {10000, 9000, 9500, 11000, 11000, 12000},
     {10, 0, 0, 1, 0, 1}},
};

TEST(ScenarioWriter, PausesFollowTheClockWithoutDrift) {
    for (const PauseCase& c : PauseCases) {
        SCOPED_TRACE(c.name);
        ptp::PauseClock clock(0);
        for (size_t i = 0; i < c.deliveredUs.size(); ++i) {
            EXPECT_EQ(clock.PauseBefore(c.deliveredUs[i]), c.pauses[i]) << "packet " << i;
        }
    }
}

// ---- Frame times from the pad's scan clock ----

struct ScanStep {
    uint32_t scan;
    uint32_t arrivalUs;
    uint32_t expectedUs;
};

struct ScanCase {
    const char* name;
    uint32_t range;
    std::vector<ScanStep> steps;
};

const ScanCase ScanCases[] = {
    {"no scan time: arrival times", 0, {{5, 1000, 1000}, {9, 1500, 1500}}},
    {"reports held up a little keep the pad's spacing",
     65536,
     {{100, 1'000'000, 1'000'000}, {180, 1'040'000, 1'008'000}, {500, 1'040'050, 1'040'000}}},
    {"the scan clock wraps", 65536, {{65500, 1'000'000, 1'000'000}, {44, 1'008'000, 1'008'000}}},
    {"a small range wraps at its own maximum",
     1000,
     {{990, 1'000'000, 1'000'000}, {70, 1'008'000, 1'008'000}}},
    {"a pause of half the wrap or more: the arrival again",
     65536,
     {{100, 1'000'000, 1'000'000}, {180, 5'000'000, 5'000'000}, {260, 5'008'000, 5'008'000}}},
    {"a scan clock a second ahead of the arrivals is not believed",
     65536,
     {{0, 1'000'000, 1'000'000}, {20000, 1'100'000, 1'100'000}}},
    {"a scan clock that stands still is taken back to the arrivals once 50 ms behind",
     65536,
     {{100, 1'000'000, 1'000'000},
      {100, 1'050'000, 1'000'000},
      {100, 1'058'000, 1'058'000},
      {100, 1'100'000, 1'058'000},
      {100, 1'116'000, 1'116'000}}},
    {"a scan clock at a tenth of its rate is taken back too",
     65536,
     {{0, 1'000'000, 1'000'000}, {40, 1'040'000, 1'004'000}, {80, 1'080'000, 1'080'000}}},
    {"a scan clock that runs fast is taken back once 50 ms ahead",
     65536,
     {{0, 1'000'000, 1'000'000}, {800, 1'040'000, 1'080'000}, {1600, 1'080'000, 1'080'000}}},
    {"the frames' clock wraps too",
     65536,
     {{100, 0xFFFF'FF00u, 0xFFFF'FF00u}, {180, 7'000u, 0xFFFF'FF00u + 8'000u}}},
};

TEST(ScanClock, FrameTimesFollowThePadsScanClock) {
    for (const ScanCase& c : ScanCases) {
        SCOPED_TRACE(c.name);
        ptp::ScanClock clock(c.range);
        for (size_t i = 0; i < c.steps.size(); ++i) {
            const ScanStep& s = c.steps[i];
            EXPECT_EQ(clock.Time(s.scan, s.arrivalUs), s.expectedUs) << "step " << i;
        }
    }
}

TEST(ScanClock, ABurstOfReportsMakesATapOfThePadsLength) {
    // A finger down for 40 ms, reported in hybrid mode; the reports were held up and arrive
    // within a millisecond: the frames keep 40 ms between touch-down and lift.
    ptp::FrameAssembler assembler(65536);
    ptp::FrameBatch out;
    ptp::Report down;
    down.contactCount = 1;
    down.slotCount = 1;
    down.slots[0] = {1, true, true, 100, 100};
    down.scanTime = 4000;
    down.timeUs = 2'000'000;
    assembler.Add(down, out);
    ASSERT_EQ(out.count, 1u);
    const uint32_t first = out.frames[0].timeUs;
    ptp::Report up = down;
    up.slots[0].tip = false;
    up.scanTime = 4000 + 400;
    up.timeUs = 2'000'400;
    assembler.Add(up, out);
    ASSERT_EQ(out.count, 1u);
    EXPECT_EQ(out.frames[0].timeUs - first, 40'000u);
}

// A press held still on the pad, reported 8 ms apart by the arrivals, with the pad's Scan Time
// advancing `scanPerReport` (100 us units) a report: 80 as it should, 0 standing still, 8 at a
// tenth of its rate, 800 ten times too fast.
struct PressCase {
    const char* name;
    uint32_t scanPerReport;
    uint32_t holdMs;
    bool tap;
};

constexpr PressCase Presses[] = {
    {"a sound clock, a tap", 80, 120, true},
    {"a sound clock, a 2 s press", 80, 2000, false},
    {"a scan time that stands still, a tap", 0, 120, true},
    {"a scan time that stands still, a 2 s press", 0, 2000, false},
    {"a scan time that stands still, a 9 s press", 0, 9000, false},
    {"a scan time that stands still, a 320 ms press", 0, 320, false},
    {"a scan clock at a tenth of its rate, a 1.5 s press", 8, 1500, false},
    {"a scan clock at a tenth of its rate, a tap", 8, 120, true},
    {"a scan clock ten times too fast, a tap", 800, 120, true},
};

TEST(ScanClock, APadClockThatDisagreesWithTheArrivalsNeverMakesAPressATap) {
    for (const PressCase& c : Presses) {
        SCOPED_TRACE(c.name);
        ptp::FrameAssembler assembler(65536);
        ptp::Translator translator(TestPad());
        ptp::FrameBatch frames;
        ptp::PacketBatch packets;
        bool tapped = false;
        const uint32_t reports = c.holdMs / 8;
        for (uint32_t i = 0; i <= reports; ++i) {
            ptp::Report report;
            report.contactCount = 1;
            report.slotCount = 1;
            report.slots[0] = {1, i != reports, true, 2000, 1000};
            report.scanTime = (1000 + i * c.scanPerReport) % 65536;
            report.timeUs = 5'000'000 + i * 8'000;
            assembler.Add(report, frames);
            for (size_t f = 0; f < frames.count; ++f) {
                packets.Clear();
                translator.OnFrame(frames.frames[f], packets);
                for (const ptp::Packet& p : packets) {
                    tapped = tapped || (p.flagsA & ptp::PacketGesture) != 0;
                }
            }
        }
        EXPECT_EQ(tapped, c.tap);
    }
}

} // namespace
