// The scenario parser, called directly with text.
#include <gtest/gtest.h>

#include "velsim_core.h"

namespace {

Scenario ParseOk(std::string_view text) {
    auto parsed = ParseScenario(text);
    if (auto* error = std::get_if<ScenarioError>(&parsed)) {
        ADD_FAILURE() << "line " << error->line << ": " << error->message;
        return {};
    }
    return std::get<Scenario>(std::move(parsed));
}

TEST(ScenarioParse, EmptyTextGivesTheDocumentedDefaults) {
    Scenario s = ParseOk("  # nothing but a comment\n\n");
    EXPECT_EQ(s.handle, 1);
    EXPECT_EQ(s.kind, 13);
    EXPECT_EQ(s.edges[0], 1000);
    EXPECT_EQ(s.edges[1], 1000);
    EXPECT_EQ(s.edges[2], 7000);
    EXPECT_EQ(s.edges[3], 5800);
    EXPECT_TRUE(s.properties.empty());
    for (LONG status : s.status) {
        EXPECT_EQ(status, 0);
    }
    for (const auto& rule : s.create) {
        EXPECT_FALSE(rule.fail);
    }
    EXPECT_FALSE(s.deliverAfterSink);
    EXPECT_EQ(s.rateHz, 125);
    EXPECT_EQ(s.repeat, 1);
    EXPECT_FALSE(s.journalPacketReads);
    EXPECT_TRUE(s.packets.empty());
}

TEST(ScenarioParse, EveryDirectiveIsRead) {
    Scenario s = ParseOk("handle 0xFFFFFFFF\r\n"
                         "kind 12   # comment after a directive\n"
                         "edges -5 0x10 7000 5800\n"
                         "property 0x01000292 208\n"
                         "property 77 -3\n"
                         "status Prepare 1\n"
                         "status LocateDevice 2\n"
                         "status Attach 3\n"
                         "status SetPacketSink 4\n"
                         "status Claim 0x80004005\n"
                         "delay Claim 40\n"
                         "create VelAPI fail\n"
                         "create VelPacket fail after 3\n"
                         "deliver after-sink\n"
                         "rate max\n"
                         "repeat 0\n"
                         "journal packet-reads\n"
                         "\tpacket a=0x2000 b=0x100 x=1500 y=-2 motion=7 pause=20\n"
                         "packet\n"
                         "packet y=9 x=8");
    EXPECT_EQ(s.handle, -1);
    EXPECT_EQ(s.kind, 12);
    EXPECT_EQ(s.edges[0], -5);
    EXPECT_EQ(s.edges[1], 16);
    ASSERT_EQ(s.properties.size(), 2u);
    EXPECT_EQ(s.properties[0].id, PropModeLed);
    EXPECT_EQ(s.properties[0].value, 208);
    EXPECT_EQ(s.properties[1].value, -3);
    EXPECT_EQ(s.status[static_cast<int>(SimOp::Prepare)], 1);
    EXPECT_EQ(s.status[static_cast<int>(SimOp::LocateDevice)], 2);
    EXPECT_EQ(s.status[static_cast<int>(SimOp::Attach)], 3);
    EXPECT_EQ(s.status[static_cast<int>(SimOp::SetPacketSink)], 4);
    EXPECT_EQ(s.status[static_cast<int>(SimOp::Claim)], static_cast<LONG>(E_FAIL));
    EXPECT_EQ(s.delayMs[static_cast<int>(SimOp::Claim)], 40);
    EXPECT_EQ(s.delayMs[static_cast<int>(SimOp::Prepare)], 0);
    EXPECT_TRUE(s.create[static_cast<int>(SimObject::VelAPI)].fail);
    EXPECT_EQ(s.create[static_cast<int>(SimObject::VelAPI)].after, 0);
    EXPECT_FALSE(s.create[static_cast<int>(SimObject::PointingDevice)].fail);
    EXPECT_TRUE(s.create[static_cast<int>(SimObject::VelPacket)].fail);
    EXPECT_EQ(s.create[static_cast<int>(SimObject::VelPacket)].after, 3);
    EXPECT_TRUE(s.deliverAfterSink);
    EXPECT_EQ(s.rateHz, 0);
    EXPECT_EQ(s.repeat, 0);
    EXPECT_TRUE(s.journalPacketReads);
    ASSERT_EQ(s.packets.size(), 3u);
    const SimPacketData& p = s.packets[0];
    EXPECT_EQ(p.a, 0x2000);
    EXPECT_EQ(p.b, 0x100);
    EXPECT_EQ(p.x, 1500);
    EXPECT_EQ(p.y, -2);
    EXPECT_EQ(p.motion, 7);
    EXPECT_EQ(p.pauseMs, 20);
    EXPECT_EQ(s.packets[1].a, 0);
    EXPECT_EQ(s.packets[1].pauseMs, 0);
    EXPECT_EQ(s.packets[2].x, 8);
    EXPECT_EQ(s.packets[2].y, 9);
}

TEST(ScenarioParse, RateAndDeliverValues) {
    EXPECT_EQ(ParseOk("rate 1000").rateHz, 1000);
    EXPECT_FALSE(ParseOk("deliver after-claim").deliverAfterSink);
    EXPECT_EQ(ParseOk("repeat 3").repeat, 3);
}

struct BadCase {
    const char* text;
    int line;
    const char* word; // must appear in the message
};

constexpr BadCase badCases[] = {
    {"frobnicate 3", 1, "unknown directive"},
    {"# ok\n\nhandel 1", 3, "handel"},
    {"handle", 1, "missing"},
    {"handle 1 2", 1, "extra"},
    {"handle one", 1, "number"},
    {"handle 0x100000000", 1, "number"}, // more than 32 bits
    {"kind 4294967296", 1, "number"},    // likewise in decimal
    {"kind -2147483649", 1, "number"},
    {"handle 0x", 1, "number"},
    {"kind 12\nkind 13", 2, "twice"},
    {"edges 1 2 3", 1, "missing"},
    {"edges 1 2 3 4 5", 1, "extra"},
    {"edges 1 2 3 x", 1, "number"},
    {"rate 125\nrate max", 2, "twice"},
    {"rate 0", 1, "range"},
    {"rate fast", 1, "number"},
    {"repeat -1", 1, "negative"},
    {"deliver later", 1, "after-sink"},
    {"deliver", 1, "missing"},
    {"journal everything", 1, "packet-reads"},
    {"property 5", 1, "missing"},
    {"property 5 1\nproperty 5 2", 2, "twice"},
    {"property 0x10000107 13", 1, "kind"}, // kind and edges have their own directives
    {"status Unclaim 1", 1, "Unclaim"},
    {"status Claim", 1, "missing"},
    {"status Claim 1\nstatus Claim 2", 2, "twice"},
    {"delay Claim 1\ndelay Claim 2", 2, "twice"},
    {"delay Claim -5", 1, "negative"},
    {"delay Unclaim 5", 1, "unknown operation"},
    {"create Mouse fail", 1, "Mouse"},
    {"create VelAPI", 1, "missing"},
    {"create VelAPI succeed", 1, "fail"},
    {"create VelAPI fail after", 1, "missing"},
    {"create VelAPI fail before 2", 1, "after"},
    {"create VelAPI fail after 2 3", 1, "extra"},
    {"create VelAPI fail after -1", 1, "negative"},
    {"create VelAPI fail\ncreate VelAPI fail after 1", 2, "twice"},
    {"packet x=1\npacket z=1", 2, "unknown key"},
    {"packet x", 1, "KEY=VALUE"},
    {"packet x=", 1, "number"},
    {"packet x=1 x=2", 1, "twice"},
    {"packet pause=-5", 1, "negative"},
    {"packet a=0x2000 # fine\npacket a=0x2000z", 2, "number"},
};

TEST(ScenarioParse, MalformedLinesAreRejectedWithTheirLineNumber) {
    for (const BadCase& c : badCases) {
        SCOPED_TRACE(c.text);
        auto parsed = ParseScenario(c.text);
        auto* error = std::get_if<ScenarioError>(&parsed);
        ASSERT_NE(error, nullptr);
        EXPECT_EQ(error->line, c.line);
        EXPECT_NE(error->message.find(c.word), std::string::npos) << error->message;
    }
}

} // namespace
