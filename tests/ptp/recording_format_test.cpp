// The text of a touchpad's recording, by tables: the names pads get (which its files are named
// after), the script's lines as vtpctl reads them, and the install arguments as vtpctl splits
// them from a file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "recording_format.h"
#include "script.h"

namespace {

namespace recording = ptp::recording;

struct NameCase {
    const char* product;
    std::vector<std::string> taken;
    const char* name;
};

const NameCase NameCases[] = {
    {"SYNA3602:00 0911:5288 Touchpad", {}, "SYNA3602-00-0911-5288-Touchp"},
    {"ELAN Touchpad", {}, "ELAN-Touchpad"},
    {"", {}, "touchpad"},
    {"  ***  ", {}, "touchpad"},
    {"..\\..\\Windows\\system32:x*?<>|\"", {}, "Windows-system32-x"},
    {"\xC3\x89lan\tPad\r\n", {}, "lan-Pad"},
    {"abcdefghijklmnopqrstuvwxyz1 2", {}, "abcdefghijklmnopqrstuvwxyz1"},
    {"Con", {}, "Con-pad"},
    {"nul", {}, "nul-pad"},
    {"COM1", {}, "COM1-pad"},
    {"LPT9", {}, "LPT9-pad"},
    {"COM10", {}, "COM10"},
    {"Pad", {"pad"}, "Pad-2"},
    {"Pad", {"Pad", "PAD-2"}, "Pad-3"},
};

TEST(RecordingText, PadNamesAreSafeFileAndPadNames) {
    for (const NameCase& c : NameCases) {
        SCOPED_TRACE(c.product);
        const std::string name = recording::PadName(c.product, c.taken);
        EXPECT_EQ(name, c.name);
        // A name vtpctl takes for a pad, and a file name anywhere.
        EXPECT_LE(name.size(), 32u);
        EXPECT_EQ(name.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                         "0123456789-_"),
                  std::string::npos);
        std::vector<vtp::Step> steps;
        std::string error;
        EXPECT_TRUE(vtp::ParseScript("remove " + name + "\n", steps, error)) << error;
    }
}

TEST(RecordingText, TheScriptsLinesReadAsTheStepsTheySay) {
    const uint8_t report[] = {0x04, 0x07, 0xAA, 0x00};
    const std::string script = recording::CommentLine("recorded\nwith a line break") +
                               recording::ReportLine("pad", report, sizeof report) +
                               recording::WaitLine(8) + recording::RemoveLine("pad") +
                               recording::WaitLine(recording::MaxWaitMs * 2 + 5) +
                               recording::AddLine("pad") + recording::WaitLine(0) +
                               recording::ReportLine("pad", report, 1);
    EXPECT_EQ(script, "# recorded?with a line break\n"
                      "pad 04 07 AA 00\n"
                      "wait 8\n"
                      "remove pad\n"
                      "wait 9999999\nwait 9999999\nwait 5\n"
                      "add pad\n"
                      "wait 0\n"
                      "pad 04\n");
    std::vector<vtp::Step> steps;
    std::string error;
    ASSERT_TRUE(vtp::ParseScript(script, steps, error)) << error;
    using Kind = vtp::Step::Kind;
    const std::vector<Kind> kinds = {Kind::Report, Kind::Wait, Kind::Remove,
                                     Kind::Wait,   Kind::Wait, Kind::Wait,
                                     Kind::Add,    Kind::Wait, Kind::Report};
    ASSERT_EQ(steps.size(), kinds.size());
    for (size_t i = 0; i < kinds.size(); ++i) {
        EXPECT_EQ(steps[i].kind, kinds[i]) << i;
    }
    EXPECT_EQ(steps[0].report, (vtp::Bytes{0x04, 0x07, 0xAA, 0x00}));
    EXPECT_EQ(steps[5].ms, 5u);
}

struct ArgumentsCase {
    const char* product;
    std::vector<std::vector<uint8_t>> features;
    const char* line;
    std::vector<std::string> words;
};

const ArgumentsCase ArgumentsCases[] = {
    {"ELAN Touchpad",
     {{0x05, 0x55}},
     "ELAN-Touchpad ELAN-Touchpad.hid --vid 0x04F3 --pid 0x3195 --product \"ELAN Touchpad\" "
     "--feature \"05 55\"\n",
     {"ELAN-Touchpad", "ELAN-Touchpad.hid", "--vid", "0x04F3", "--pid", "0x3195", "--product",
      "ELAN Touchpad", "--feature", "05 55"}},
    {"Pad \"Pro\"\n2",
     {{0x03, 0x05, 0x00}, {0x07, 0x01}},
     "ELAN-Touchpad ELAN-Touchpad.hid --vid 0x04F3 --pid 0x3195 --product \"Pad 'Pro'?2\" "
     "--feature \"03 05 00\" --feature \"07 01\"\n",
     {"ELAN-Touchpad", "ELAN-Touchpad.hid", "--vid", "0x04F3", "--pid", "0x3195", "--product",
      "Pad 'Pro'?2", "--feature", "03 05 00", "--feature", "07 01"}},
    {"",
     {},
     "ELAN-Touchpad ELAN-Touchpad.hid --vid 0x04F3 --pid 0x3195 --product \"\"\n",
     {"ELAN-Touchpad", "ELAN-Touchpad.hid", "--vid", "0x04F3", "--pid", "0x3195", "--product", ""}},
};

TEST(RecordingText, InstallArgumentsSplitAsTheyWereMade) {
    for (const ArgumentsCase& c : ArgumentsCases) {
        SCOPED_TRACE(c.product);
        const std::string line = recording::InstallArguments("ELAN-Touchpad", "ELAN-Touchpad.hid",
                                                             0x04F3, 0x3195, c.product, c.features);
        EXPECT_EQ(line, c.line);
        std::vector<std::string> words;
        std::string error;
        ASSERT_TRUE(vtp::SplitArguments("# a comment line\n" + line, words, error)) << error;
        EXPECT_EQ(words, c.words);
    }
    std::vector<std::string> words;
    std::string error;
    EXPECT_FALSE(vtp::SplitArguments("pad pad.hid\n--product \"open", words, error));
    EXPECT_EQ(error, "line 2: a quote that is not closed");
}

} // namespace
