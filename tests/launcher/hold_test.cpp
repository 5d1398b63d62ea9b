// The corner hold by tables: which touches start Tapdeck and when, on the tests' pad (X 0..4000
// over 100 mm, Y 0..2600 over 65 mm, 40 units a millimetre; its top edge is Y 0).
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "hold.h"
#include "ptp/test_pad.h"

namespace {

using launcher::Corner;
using launcher::HoldChange;
using ptptest::Touch;

// One step of a case: a frame of up to two contacts, or the hold's timer going off.
struct Step {
    uint32_t ms = 0;
    bool timer = false;
    size_t touches = 0;
    std::array<Touch, 2> contacts{};
    bool button = false;
    bool allowed = true;
};

constexpr Step Finger(uint32_t ms, int32_t x, int32_t y, bool confident = true) {
    return {ms, false, 1, {Touch{1, x, y, true, confident}, Touch{}}};
}
constexpr Step Lift(uint32_t ms, int32_t x, int32_t y) {
    return {ms, false, 1, {Touch{1, x, y, false}, Touch{}}};
}
constexpr Step Two(uint32_t ms, Touch a, Touch b) {
    return {ms, false, 2, {a, b}};
}
constexpr Step Timer(uint32_t ms) {
    return {ms, true};
}
constexpr Step Press(uint32_t ms, int32_t x, int32_t y) {
    Step step = Finger(ms, x, y);
    step.button = true;
    return step;
}
constexpr Step Barred(uint32_t ms, int32_t x, int32_t y) {
    Step step = Finger(ms, x, y);
    step.allowed = false;
    return step;
}

// Top right, 10 %: X above 3600, Y below 260. 2 mm is 80 units.
constexpr int32_t CX = 3900;
constexpr int32_t CY = 100;

struct HoldCase {
    const char* name;
    std::array<Step, 7> steps;
    std::array<HoldChange, 4> changes; // in order, up to the first None
    uint32_t holdMs = 800;
    bool enabled = true;
};

constexpr HoldChange None = HoldChange::None;
constexpr HoldChange Began = HoldChange::Began;
constexpr HoldChange Cancelled = HoldChange::Cancelled;
constexpr HoldChange Reached = HoldChange::Reached;

constexpr HoldCase HoldCases[] = {
    {"a finger resting in the corner starts Tapdeck when the timer goes off",
     {Finger(0, CX, CY), Finger(8, CX, CY), Timer(800)},
     {Began, Reached}},
    {"a frame past the hold time reaches it as well",
     {Finger(0, CX, CY), Finger(400, CX, CY), Finger(801, CX, CY), Timer(810)},
     {Began, Reached}},
    {"the timer a moment early does nothing yet", {Finger(0, CX, CY), Timer(799)}, {Began}},
    {"a shorter hold as set", {Finger(0, CX, CY), Timer(300)}, {Began, Reached}, 300},
    {"a tap in the corner", {Finger(0, CX, CY), Lift(120, CX, CY), Timer(800)}, {Began, Cancelled}},
    {"lifted just before the time",
     {Finger(0, CX, CY), Lift(790, CX, CY), Timer(800)},
     {Began, Cancelled}},
    {"jitter within 2 mm is resting",
     {Finger(0, CX, CY), Finger(100, CX + 40, CY + 40), Finger(200, CX - 30, CY + 50), Timer(800)},
     {Began, Reached}},
    {"a finger that moves more than 2 mm",
     {Finger(0, CX, CY), Finger(200, CX - 60, CY + 60), Timer(800)},
     {Began, Cancelled}},
    {"a finger that leaves the corner by less than 2 mm",
     {Finger(0, 3610, CY), Finger(200, 3590, CY), Timer(800)},
     {Began, Cancelled}},
    {"a second finger anywhere",
     {Finger(0, CX, CY), Two(300, {1, CX, CY}, {2, 1000, 1500}), Timer(800)},
     {Began, Cancelled}},
    {"a palm anywhere",
     {Finger(0, CX, CY), Two(300, {1, CX, CY}, {2, 1000, 1500, true, false}), Timer(800)},
     {Began, Cancelled}},
    {"the finger taken for a palm",
     {Finger(0, CX, CY), Finger(300, CX, CY, false), Timer(800)},
     {Began, Cancelled}},
    {"the pad's button", {Finger(0, CX, CY), Press(300, CX, CY), Timer(800)}, {Began, Cancelled}},
    {"a touch that began outside the corner and slid in",
     {Finger(0, 3000, CY), Finger(100, CX, CY), Finger(200, CX, CY), Timer(1000)},
     {}},
    {"two fingers that land together in the corner",
     {Two(0, {1, CX, CY}, {2, CX - 50, CY + 50}), Timer(800)},
     {}},
    {"a palm in the corner", {Finger(0, CX, CY, false), Timer(800)}, {}},
    {"a press with the finger landing", {Press(0, CX, CY), Timer(800)}, {}},
    {"a touch while Tapdeck may not be started, even once it may",
     {Barred(0, CX, CY), Finger(100, CX, CY), Timer(800)},
     {}},
    {"switched off", {Finger(0, CX, CY), Timer(800)}, {}, 800, false},
    {"once reached, nothing more until the finger lifts; then a new hold",
     {Finger(0, CX, CY), Timer(800), Finger(1000, CX, CY), Timer(1600), Lift(1700, CX, CY),
      Finger(1800, CX, CY), Timer(2600)},
     {Began, Reached, Began, Reached}},
    {"after a touch that was no hold, the next one counts",
     {Finger(0, 2000, 1300), Lift(100, 2000, 1300), Finger(200, CX, CY), Timer(1000)},
     {Began, Reached}},
};

TEST(CornerHold, OnlyOneConfidentFingerRestingInTheCornerForTheHoldTimeStartsTapdeck) {
    for (const HoldCase& c : HoldCases) {
        SCOPED_TRACE(c.name);
        launcher::HoldSettings settings;
        settings.holdMs = c.holdMs;
        settings.enabled = c.enabled;
        launcher::HoldDetector detector(settings, ptptest::TestPad());
        std::vector<HoldChange> got;
        for (const Step& step : c.steps) {
            if (step.ms == 0 && !step.timer && step.touches == 0 && &step != &c.steps[0]) {
                break; // the table's unused steps
            }
            HoldChange change = None;
            if (step.timer) {
                change = detector.OnTimer(step.ms * 1000);
            } else {
                ptp::Frame frame = ptptest::MakeFrame(step.ms, {}, step.button);
                for (size_t i = 0; i < step.touches; ++i) {
                    const Touch& t = step.contacts[i];
                    frame.contacts[frame.count++] = {t.id, t.tip, t.confident, t.x, t.y};
                }
                change = detector.OnFrame(frame, step.ms * 1000, step.allowed);
            }
            if (change != None) {
                got.push_back(change);
            }
        }
        std::vector<HoldChange> want;
        for (HoldChange change : c.changes) {
            if (change == None) {
                break;
            }
            want.push_back(change);
        }
        EXPECT_EQ(got, want);
    }
}

struct CornerCase {
    Corner corner;
    uint32_t percent;
    int32_t x;
    int32_t y;
    bool inside;
};

// 10 % of the pad: 400 units of X, 260 of Y from the corner's edges.
constexpr CornerCase CornerCases[] = {
    {Corner::TopRight, 10, 3601, 259, true},
    {Corner::TopRight, 10, 3600, 100, false},
    {Corner::TopRight, 10, 3900, 260, false},
    {Corner::TopRight, 10, 4000, 0, true},
    {Corner::TopLeft, 10, 399, 259, true},
    {Corner::TopLeft, 10, 400, 100, false},
    {Corner::BottomLeft, 10, 0, 2600, true},
    {Corner::BottomLeft, 10, 100, 2340, false},
    {Corner::BottomLeft, 10, 100, 2341, true},
    {Corner::BottomRight, 10, 3999, 2599, true},
    {Corner::BottomRight, 10, 3900, 100, false},
    {Corner::TopRight, 25, 3001, 649, true},
    {Corner::TopRight, 25, 3000, 649, false},
    {Corner::TopRight, 3, 3881, 77, true},
    {Corner::TopRight, 3, 3879, 77, false},
    // Beyond the logical range, as a pad may report at its very edge: clamped onto it.
    {Corner::TopRight, 10, 4100, -5, true},
};

TEST(CornerHold, TheCornerIsItsPercentOfThePadsWidthAndHeightFromItsEdges) {
    for (const CornerCase& c : CornerCases) {
        launcher::HoldSettings settings;
        settings.corner = c.corner;
        settings.cornerPercent = c.percent;
        const launcher::HoldDetector detector(settings, ptptest::TestPad());
        EXPECT_EQ(detector.InCorner(c.x, c.y), c.inside)
            << "corner " << static_cast<int>(c.corner) << ", " << c.percent << " %, (" << c.x
            << ", " << c.y << ")";
    }
}

TEST(CornerHold, APadThatGoesOrChangesEndsTheHoldAndShowsHowFarItGot) {
    launcher::HoldDetector detector({}, ptptest::TestPad());
    EXPECT_EQ(detector.OnFrame(ptptest::MakeFrame(0, {{1, CX, CY}}), 0, true), Began);
    EXPECT_DOUBLE_EQ(detector.Progress(400'000), 0.5);
    EXPECT_DOUBLE_EQ(detector.Progress(2'000'000), 1.0);
    EXPECT_EQ(detector.LosePad(), Cancelled);
    EXPECT_DOUBLE_EQ(detector.Progress(400'000), 0.0);
    EXPECT_EQ(detector.OnTimer(800'000), None);

    EXPECT_EQ(detector.OnFrame(ptptest::MakeFrame(1000, {{1, CX, CY}}), 1'000'000, true), Began);
    EXPECT_EQ(detector.ChangePad(ptptest::TestPad()), Cancelled);
    // The next frame is the other pad's first: a touch of its own.
    EXPECT_EQ(detector.OnFrame(ptptest::MakeFrame(1100, {{4, CX, CY}}), 1'100'000, true), Began);
    EXPECT_EQ(detector.OnTimer(1'900'000), Reached);
}

} // namespace
