// Touches read from a simulated-touchpad scenario: runs of packets with the finger down, taps
// where the finger stayed, slides where it moved.
#include <gtest/gtest.h>

#include "support/process.h"
#include "touches.h"

namespace inspector {
namespace {

struct TouchesCase {
    const char* name;
    const char* scenario;
    // "tap x,y" or "slide x,y>x,y (n)" per touch.
    std::vector<std::string> touches;
};

std::string Describe(const Touch& touch) {
    const auto at = [](const POINT& p) { return std::to_string(p.x) + "," + std::to_string(p.y); };
    if (touch.IsTap()) {
        return "tap " + at(touch.points.front());
    }
    return "slide " + at(touch.points.front()) + ">" + at(touch.points.back()) + " (" +
           std::to_string(touch.points.size()) + ")";
}

const TouchesCase TouchesCases[] = {
    {"no packets", "edges 1000 1000 7000 5800\n", {}},
    {"a tap as the tests script it",
     "packet a=0x2000 x=1500 y=5000\npacket a=0x12000 x=1500 y=5000\npacket a=0x10000\n"
     "packet a=0\n",
     {"tap 1500,5000"}},
    {"finger down in flags B only",
     "packet b=0x100 x=10 y=20\npacket a=0\npacket b=0x100 x=30 y=40\npacket b=0x100 x=30 y=41\n",
     {"tap 10,20", "slide 30,40>30,41 (2)"}},
    {"gesture bit alone is no touch", "packet a=0x10000 x=5 y=5\npacket a=0x10000\n", {}},
};

TEST(InspectorTouches, RunsOfFingerDownPacketsAreTouches) {
    for (const TouchesCase& c : TouchesCases) {
        SCOPED_TRACE(c.name);
        auto read = TouchesFromScenario(c.scenario);
        ASSERT_TRUE(std::holds_alternative<std::vector<Touch>>(read));
        std::vector<std::string> touches;
        for (const Touch& touch : std::get<std::vector<Touch>>(read)) {
            touches.push_back(Describe(touch));
        }
        EXPECT_EQ(touches, c.touches);
    }
}

TEST(InspectorTouches, TheDemoSessionIsSixTapsAndTwoSlides) {
    const std::wstring path = EnvironmentValue(L"TAPDECK_DEMO_SCENARIO");
    ASSERT_FALSE(path.empty()) << "TAPDECK_DEMO_SCENARIO is not set";
    auto read = TouchesFromScenario(ReadWholeFile(path));
    ASSERT_TRUE(std::holds_alternative<std::vector<Touch>>(read));
    std::vector<std::string> touches;
    for (const Touch& touch : std::get<std::vector<Touch>>(read)) {
        touches.push_back(Describe(touch));
    }
    const std::vector<std::string> expected = {"tap 3499,1800",
                                               "tap 5165,1800",
                                               "slide 6600,3000>6600,3840 (22)",
                                               "slide 6600,5000>6600,4440 (15)",
                                               "tap 3499,3400",
                                               "tap 3499,3400",
                                               "tap 5165,3400",
                                               "tap 6000,5100"};
    EXPECT_EQ(touches, expected);
}

TEST(InspectorTouches, AScenarioErrorNamesItsLine) {
    auto read = TouchesFromScenario("packet a=0x2000\nwobble 3\n");
    ASSERT_TRUE(std::holds_alternative<std::string>(read));
    EXPECT_EQ(std::get<std::string>(read), "line 2: unknown directive 'wobble'");
}

} // namespace
} // namespace inspector
