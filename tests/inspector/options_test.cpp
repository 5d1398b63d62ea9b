// The inspector's command line: what it accepts, and a message naming what is wrong.
#include <gtest/gtest.h>

#include "options.h"

namespace inspector {
namespace {

struct BadCase {
    const char* name;
    std::vector<std::wstring> args;
    const char* message;
};

const BadCase BadCases[] = {
    {"unknown option", {L"--bogus"}, "unknown option '--bogus'"},
    {"stray argument", {L"1000,1000,7000,5800"}, "unexpected argument '1000,1000,7000,5800'"},
    {"bounds without value", {L"--bounds"}, "--bounds needs four numbers, L,T,R,B"},
    {"three bounds",
     {L"--bounds", L"1,2,3"},
     "--bounds wants four whole 32-bit numbers L,T,R,B separated by commas, not '1,2,3'"},
    {"five bounds", {L"--bounds=1,2,3,4,5"}, "not '1,2,3,4,5'"},
    {"not a number", {L"--bounds", L"1,2,x,4"}, "not '1,2,x,4'"},
    {"empty number", {L"--bounds", L"1,,3,4"}, "not '1,,3,4'"},
    {"beyond 32 bits", {L"--bounds", L"2147483648,1,2,3"}, "not '2147483648,1,2,3'"},
    {"below 32 bits", {L"--bounds", L"-2147483649,1,2,3"}, "not '-2147483649,1,2,3'"},
    {"bounds twice", {L"--bounds", L"1,2,3,4", L"--bounds", L"1,2,3,4"}, "--bounds given twice"},
    {"svg without file", {L"--json", L"--svg"}, "--svg needs a file to write"},
    {"svg empty", {L"--svg="}, "--svg needs a file to write"},
    {"touches without file", {L"--touches"}, "--touches needs a scenario file"},
    {"json with a value", {L"--json=yes"}, "unknown option '--json=yes'"},
};

TEST(InspectorOptions, BadArgumentsAreNamed) {
    for (const BadCase& c : BadCases) {
        SCOPED_TRACE(c.name);
        const auto parsed = ParseOptions(c.args);
        const auto* error = std::get_if<UsageError>(&parsed);
        ASSERT_NE(error, nullptr);
        EXPECT_NE(error->message.find(c.message), std::string::npos) << error->message;
    }
}

struct GoodCase {
    const char* name;
    std::vector<std::wstring> args;
    bool hasBounds;
    BoundValues bounds;
    bool json;
    const wchar_t* svg;
    const wchar_t* touches;
};

const GoodCase GoodCases[] = {
    {"nothing: the current source", {}, false, {}, false, L"", L""},
    {"what-if",
     {L"--bounds", L"1000,-1000,7000,2147483647"},
     true,
     {1000, -1000, 7000, 2147483647},
     false,
     L"",
     L""},
    {"lowest bound", {L"--bounds=-2147483648,1,2,3"}, true, {INT32_MIN, 1, 2, 3}, false, L"", L""},
    {"everything",
     {L"--json", L"--svg", L"C:\\pad.svg", L"--touches=demo.scenario", L"--bounds", L"1,2,3,4"},
     true,
     {1, 2, 3, 4},
     true,
     L"C:\\pad.svg",
     L"demo.scenario"},
};

TEST(InspectorOptions, GoodArgumentsAreRead) {
    for (const GoodCase& c : GoodCases) {
        SCOPED_TRACE(c.name);
        const auto parsed = ParseOptions(c.args);
        const auto* options = std::get_if<Options>(&parsed);
        ASSERT_NE(options, nullptr);
        EXPECT_EQ(options->bounds.has_value(), c.hasBounds);
        if (c.hasBounds && options->bounds) {
            EXPECT_EQ(*options->bounds, c.bounds);
        }
        EXPECT_EQ(options->json, c.json);
        EXPECT_EQ(options->svgPath, c.svg);
        EXPECT_EQ(options->touchesPath, c.touches);
        EXPECT_FALSE(options->help);
    }
    const auto help = ParseOptions({L"--help"});
    ASSERT_NE(std::get_if<Options>(&help), nullptr);
    EXPECT_TRUE(std::get<Options>(help).help);
}

} // namespace
} // namespace inspector
