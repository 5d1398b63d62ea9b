// The tests' journal reader against lines as the library writes them.
#include <gtest/gtest.h>

#include "support/sim_journal.h"

namespace {

TEST(JournalReader, ReadsTheColumnsAndKeys) {
    auto r = ParseJournalLine(
        "1234 56 78 ScenarioError path=\"C:\\a b\\s.txt\" line=3 message=\"unknown key 'z'\"\r\n");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->usec, 1234);
    EXPECT_EQ(r->pid, 56u);
    EXPECT_EQ(r->tid, 78u);
    EXPECT_EQ(r->event, "ScenarioError");
    EXPECT_EQ(r->Text("path"), "C:\\a b\\s.txt");
    EXPECT_EQ(r->Num("line"), 3);
    EXPECT_EQ(r->Text("message"), "unknown key 'z'");
    EXPECT_FALSE(r->Has("status"));
    EXPECT_EQ(r->Num("status"), std::nullopt);
}

TEST(JournalReader, HexadecimalValuesReadAsSigned32Bit) {
    auto r = ParseJournalLine("1 2 3 ReadProperty id=0x10000309 value=-5 other=0xFFFFFFFF");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->Num("id"), 0x10000309);
    EXPECT_EQ(r->Num("value"), -5);
    EXPECT_EQ(r->Num("other"), -1);
}

TEST(JournalReader, RejectsLinesNotInTheFormat) {
    const char* bad[] = {"", "12 34 Prepare", "x 1 2 Prepare", "1 2 3 status=0",
                         "1 2 3 Prepare status"};
    for (const char* line : bad) {
        EXPECT_FALSE(ParseJournalLine(line)) << line;
    }
}

} // namespace
