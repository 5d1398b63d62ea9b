#include <gtest/gtest.h>

#include "device/pad_app.h"
#include "alloc_hooks.h"

namespace {

struct Box {
    LONG left, top, right, bottom;
};

struct LayoutCase {
    const char* name;
    RECT pad;
    LONG colWidth, stripHeight, btnWidth, btnHeight;
    Box strip;
    Box exit;
    Box grid[9];
};

constexpr LayoutCase Layouts[] = {
    {"worked",
     {1000, 1000, 7000, 5800},
     1000,
     3200,
     1066,
     1000,
     {6300, 2600, 7000, 5800},
     {5700, 1000, 7000, 2450},
     {{1300, 1300, 2366, 2300},
      {2966, 1300, 4032, 2300},
      {4632, 1300, 5698, 2300},
      {1300, 2900, 2366, 3900},
      {2966, 2900, 4032, 3900},
      {4632, 2900, 5698, 3900},
      {1300, 4500, 2366, 5500},
      {2966, 4500, 4032, 5500},
      {4632, 4500, 5698, 5500}}},
    // A pad 2000 wide: btnWidth 1431655721, so the second and third columns wrap at 32 bits.
    {"narrow",
     {1000, 1000, 3000, 3000},
     333,
     1334,
     1431655721,
     66,
     {2967, 1666, 3000, 3000},
     {2367, 1000, 3000, 1516},
     {{1300, 1300, 1431657021, 1366},
      {1431657621, 1300, -1431653954, 1366},
      {-1431653354, 1300, 2367, 1366},
      {1300, 1966, 1431657021, 2032},
      {1431657621, 1966, -1431653954, 2032},
      {-1431653354, 1966, 2367, 2032},
      {1300, 2632, 1431657021, 2698},
      {1431657621, 2632, -1431653954, 2698},
      {-1431653354, 2632, 2367, 2698}}},
    // The registry defaults: btnHeight -41 turns every grid button upside down.
    {"dead grid",
     {1612, 2072, 5300, 3748},
     614,
     1117,
     424,
     -41,
     {4986, 2631, 5300, 3748},
     {4386, 2072, 5300, 2481},
     {{1912, 2372, 2336, 2331},
      {2936, 2372, 3360, 2331},
      {3960, 2372, 4384, 2331},
      {1912, 2931, 2336, 2890},
      {2936, 2931, 3360, 2890},
      {3960, 2931, 4384, 2890},
      {1912, 3490, 2336, 3449},
      {2936, 3490, 3360, 3449},
      {3960, 3490, 4384, 3449}}},
};

constexpr const LayoutCase& Worked = Layouts[0];
constexpr const LayoutCase& Narrow = Layouts[1];
constexpr const LayoutCase& DeadGrid = Layouts[2];

constexpr LONG NoButton = -1;

struct ButtonHit {
    LONG x, y; // turned-over frame
    LONG button;
};

constexpr ButtonHit WorkedButtonHits[] = {
    {1500, 1800, 1},                                // device (1500, 5000)
    {6500, 1800, 0},                                // device (6500, 5000): the exit button
    {6500, 5300, NoButton}, {1300, 1300, 1},        // left and top edges belong to the button
    {2365, 2299, 1},        {2366, 1300, NoButton}, // right edge does not
    {1300, 2300, NoButton},                         // bottom edge does not
    {1299, 1300, NoButton}, {1300, 1299, NoButton}, {2500, 2500, NoButton}, // between buttons
    {3000, 3000, 5},        {5697, 5499, 9},        {5700, 1000, 0},        {6999, 2449, 0},
    {7000, 1000, NoButton}, {5700, 2450, NoButton}, {5699, 1000, NoButton},
};

// Several rectangles hold these points; the one added first wins.
constexpr ButtonHit NarrowButtonHits[] = {
    {2500, 1330, 0}, // exit button over button 1 and button 3
    {1500, 1330, 1}, // button 1 over the wrapped button 3
    {2000, 2000, 4}, {-5000, 2650, 9}, {2367, 1330, 0},
};

struct StripHit {
    LONG x, y; // device frame
    int inStrip;
};

constexpr StripHit WorkedStripHits[] = {
    {6500, 5000, 1}, {6500, 1500, 0}, {6300, 2600, 1}, {6999, 5799, 1}, {6299, 2600, 0},
    {6300, 2599, 0}, {7000, 3000, 0}, {6500, 5800, 0}, {1500, 5000, 0},
};

// The bounds and sizes that the bounds load would have left.
void SetLayout(PadApp& app, const LayoutCase& layout) {
    app.padRect = layout.pad;
    app.colWidth = layout.colWidth;
    app.stripHeight = layout.stripHeight;
    app.btnWidth = layout.btnWidth;
    app.btnHeight = layout.btnHeight;
}

LONG ButtonAt(const PadApp& app, LONG x, LONG y) {
    const Zone* zone = app.FindButton(x, y);
    return zone ? zone->id : NoButton;
}

class ZonesTest : public ::testing::Test {
protected:
    PadApp app;
};

void ExpectRect(const RECT& actual, const Box& expected, const char* what) {
    EXPECT_EQ(actual.left, expected.left) << what;
    EXPECT_EQ(actual.top, expected.top) << what;
    EXPECT_EQ(actual.right, expected.right) << what;
    EXPECT_EQ(actual.bottom, expected.bottom) << what;
}

TEST(Zones, LayoutPlacesElevenZonesInOrder) {
    for (const LayoutCase& layout : Layouts) {
        SCOPED_TRACE(layout.name);
        PadApp app;
        SetLayout(app, layout);
        ASSERT_EQ(app.LayoutZones(), 1);
        ASSERT_EQ(app.strips.size(), 1u);
        ASSERT_EQ(app.buttons.size(), 10u);

        EXPECT_EQ(app.strips[0]->id, 0);
        EXPECT_EQ(app.strips[0]->action, 0);
        ExpectRect(app.strips[0]->rect, layout.strip, "strip");
        EXPECT_EQ(app.buttons[0]->id, 0);
        EXPECT_EQ(app.buttons[0]->action, ExitMode);
        ExpectRect(app.buttons[0]->rect, layout.exit, "exit");
        for (int i = 0; i < 9; ++i) {
            const Zone& button = *app.buttons[i + 1];
            EXPECT_EQ(button.id, i + 1);
            EXPECT_EQ(button.action, i + 1);
            ExpectRect(button.rect, layout.grid[i], "grid");
        }
    }
}

TEST_F(ZonesTest, FindButtonUsesHalfOpenRectanglesInListOrder) {
    SetLayout(app, Worked);
    ASSERT_EQ(app.LayoutZones(), 1);
    for (const ButtonHit& hit : WorkedButtonHits) {
        EXPECT_EQ(ButtonAt(app, hit.x, hit.y), hit.button) << "worked at " << hit.x << "," << hit.y;
    }

    PadApp narrow;
    SetLayout(narrow, Narrow);
    ASSERT_EQ(narrow.LayoutZones(), 1);
    for (const ButtonHit& hit : NarrowButtonHits) {
        EXPECT_EQ(ButtonAt(narrow, hit.x, hit.y), hit.button)
            << "narrow at " << hit.x << "," << hit.y;
    }
}

TEST_F(ZonesTest, InStripUsesHalfOpenRectangle) {
    SetLayout(app, Worked);
    ASSERT_EQ(app.LayoutZones(), 1);
    for (const StripHit& hit : WorkedStripHits) {
        EXPECT_EQ(app.InStrip(hit.x, hit.y), hit.inStrip) << "at " << hit.x << "," << hit.y;
    }
}

TEST_F(ZonesTest, UpsideDownGridButtonsHoldNothingWhileExitAndStripWork) {
    SetLayout(app, DeadGrid);
    ASSERT_EQ(app.LayoutZones(), 1);
    // Every point between each grid button's top and bottom lines, edges included.
    for (const Box& box : DeadGrid.grid) {
        for (LONG y = box.bottom; y <= box.top; ++y) {
            for (LONG x = box.left; x <= box.right; ++x) {
                const LONG id = ButtonAt(app, x, y);
                ASSERT_TRUE(id == NoButton || id == 0) << x << "," << y << " gave " << id;
            }
        }
    }
    EXPECT_EQ(ButtonAt(app, 4386, 2072), 0);
    EXPECT_EQ(ButtonAt(app, 5299, 2480), 0);
    EXPECT_EQ(ButtonAt(app, 5299, 2481), NoButton);
    EXPECT_EQ(app.InStrip(4986, 2631), 1);
    EXPECT_EQ(app.InStrip(5299, 3747), 1);
    EXPECT_EQ(app.InStrip(4985, 3000), 0);
}

TEST_F(ZonesTest, FirstAddedButtonWinsWhateverItsId) {
    ASSERT_EQ(app.AddButton(7, 0, 0, 100, 100, PrevTrack), 1);
    ASSERT_EQ(app.AddButton(0, 50, 50, 150, 150, ExitMode), 1);
    EXPECT_EQ(ButtonAt(app, 60, 60), 7);
    EXPECT_EQ(ButtonAt(app, 120, 120), 0);
}

TEST_F(ZonesTest, EmptyListsHoldNothing) {
    EXPECT_EQ(app.FindButton(0, 0), nullptr);
    EXPECT_EQ(app.FindButton(1500, 1800), nullptr);
    EXPECT_EQ(app.InStrip(0, 0), 0);
    EXPECT_EQ(app.InStrip(6500, 5000), 0);
}

TEST_F(ZonesTest, EmptyEntriesArePassedOver) {
    app.buttons.push_back(nullptr);
    app.strips.push_back(nullptr);
    ASSERT_EQ(app.AddButton(4, 0, 0, 10, 10, MediaStop), 1);
    ASSERT_EQ(app.AddStrip(0, 0, 0, 10, 10, 0), 1);
    const Zone* zone = app.FindButton(5, 5);
    ASSERT_NE(zone, nullptr);
    EXPECT_EQ(zone->id, 4);
    EXPECT_EQ(zone->action, MediaStop);
    EXPECT_EQ(app.InStrip(5, 5), 1);
    EXPECT_EQ(app.FindButton(10, 5), nullptr);
}

struct AllocFailure {
    int failingZone; // 1: the strip, 2: the exit button, 3 to 11: grid buttons 1 to 9
    size_t strips, buttons;
};

constexpr AllocFailure LayoutAllocFailures[] = {
    {1, 0, 0},
    {2, 1, 0},
    {5, 1, 3},
    {11, 1, 9},
};

TEST_F(ZonesTest, LayoutStopsAtTheFirstZoneThatCannotBeAllocated) {
    for (const AllocFailure& failure : LayoutAllocFailures) {
        SCOPED_TRACE(failure.failingZone);
        app.buttons.clear();
        app.strips.clear();
        SetLayout(app, Worked);
        alloc_hooks::FailNothrowNew(failure.failingZone);
        const int result = app.LayoutZones();
        const bool fired = alloc_hooks::Fired();
        alloc_hooks::FailNothrowNew(0);
        EXPECT_TRUE(fired);
        EXPECT_EQ(result, 0);
        EXPECT_EQ(app.strips.size(), failure.strips);
        EXPECT_EQ(app.buttons.size(), failure.buttons);
    }
}

TEST_F(ZonesTest, ListThatCannotGrowLeavesNoZoneBehind) {
    alloc_hooks::FailThrowingNew(1);
    const int button = app.AddButton(1, 0, 0, 10, 10, BrowserHome);
    const bool buttonFreed = alloc_hooks::LatestNothrowBlockFreed();
    alloc_hooks::FailThrowingNew(1);
    const int strip = app.AddStrip(0, 0, 0, 10, 10, 0);
    const bool stripFreed = alloc_hooks::LatestNothrowBlockFreed();
    const bool fired = alloc_hooks::Fired();
    alloc_hooks::FailThrowingNew(0);

    EXPECT_TRUE(fired);
    EXPECT_EQ(button, 0);
    EXPECT_TRUE(buttonFreed);
    EXPECT_TRUE(app.buttons.empty());
    EXPECT_EQ(strip, 0);
    EXPECT_TRUE(stripFreed);
    EXPECT_TRUE(app.strips.empty());
    EXPECT_EQ(app.FindButton(5, 5), nullptr);

    // Nothing is left armed: the next adds work.
    EXPECT_EQ(app.AddButton(1, 0, 0, 10, 10, BrowserHome), 1);
    EXPECT_EQ(app.AddStrip(0, 0, 0, 10, 10, 0), 1);
}

} // namespace
