// The virtual touchpad's descriptor core: hex text, a descriptor's top-level collections made
// devices of their own, the feed report added to each, and scripts.
#include <gtest/gtest.h>

#include <string>

#include "descriptor.h"
#include "script.h"

namespace {

using vtp::Bytes;

struct HexCase {
    const char* text;
    bool ok;
    Bytes bytes;
};

const HexCase HexCases[] = {
    {"05 0d 09 05", true, {0x05, 0x0D, 0x09, 0x05}},
    {"0x05,0x0D # a comment 00\n// another 11\nA1", true, {0x05, 0x0D, 0xA1}},
    {"050D", true, {0x05, 0x0D}},
    {"", true, {}},
    {"05 0", false, {}},
    {"05 0g", false, {}},
    {"05 ; 06", false, {}},
};

TEST(VirtualTouchpadHex, BytesCommentsAndMistakes) {
    for (const HexCase& c : HexCases) {
        SCOPED_TRACE(c.text);
        Bytes bytes;
        std::string error;
        EXPECT_EQ(vtp::ParseHex(c.text, bytes, error), c.ok);
        if (c.ok) {
            EXPECT_EQ(bytes, c.bytes);
        } else {
            EXPECT_NE(error.find("line"), std::string::npos) << error;
        }
    }
}

// A mouse (report 1), then a touchpad (reports 3 and feature 4) that sets no Report Size of
// its own before its first field, and a configuration collection with features only.
const Bytes ThreeCollections = {
    0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x85, 0x01, 0x75, 0x08, 0x95, 0x03, 0x81,
    0x02, 0xC0, 0x05, 0x0D, 0x09, 0x05, 0xA1, 0x01, 0x85, 0x03, 0x09, 0x22, 0xA1,
    0x02, 0x95, 0x05, 0x81, 0x02, 0xC0, 0x85, 0x04, 0x09, 0x55, 0x95, 0x01, 0xB1,
    0x02, 0xC0, 0x09, 0x0E, 0xA1, 0x01, 0x85, 0x05, 0x09, 0x52, 0xB1, 0x02, 0xC0,
};

TEST(VirtualTouchpadCollections, EachTopLevelCollectionReadsAloneAsInTheWhole) {
    std::vector<vtp::Collection> parts;
    std::string error;
    ASSERT_TRUE(vtp::SplitCollections(ThreeCollections, parts, error)) << error;
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(parts[0].usagePage, 0x01);
    EXPECT_EQ(parts[0].usage, 0x02);
    EXPECT_EQ(parts[1].usagePage, 0x0D);
    EXPECT_EQ(parts[1].usage, 0x05);
    // The configuration collection takes its usage page from the touchpad before it.
    EXPECT_EQ(parts[2].usagePage, 0x0D);
    EXPECT_EQ(parts[2].usage, 0x0E);
    // Report 1: 3 bytes and its id; report 3: five bytes of the mouse's Report Size 8.
    EXPECT_EQ(vtp::InputReportLength(parts[0], 1), 4u);
    EXPECT_EQ(vtp::InputReportLength(parts[1], 3), 6u);
    EXPECT_EQ(vtp::InputReportLength(parts[1], 1), 0u);
    EXPECT_TRUE(parts[2].inputReports.empty());
    // The touchpad alone starts with the globals in force where it began: Usage Page 1,
    // Report Size 8, Report ID 1, Report Count 3, then its own items.
    const Bytes prefix = {0x05, 0x01, 0x75, 0x08, 0x85, 0x01, 0x95, 0x03, 0x05, 0x0D};
    ASSERT_GE(parts[1].descriptor.size(), prefix.size());
    EXPECT_EQ(Bytes(parts[1].descriptor.begin(), parts[1].descriptor.begin() + 10), prefix);
    EXPECT_EQ(parts[1].descriptor.size(), prefix.size() - 2 + 26);
}

struct BadCase {
    const char* name;
    Bytes bytes;
};

const BadCase BadDescriptors[] = {
    {"unbalanced", {0x05, 0x0D, 0x09, 0x05, 0xA1, 0x01}},
    {"an end without a start", {0xC0}},
    {"a short item cut off", {0x05, 0x0D, 0x26, 0xFF}},
    {"a long item", {0xFE, 0x00, 0x00}},
    {"no collection", {0x05, 0x0D}},
    {"a pop without a push", {0xB4}},
};

TEST(VirtualTouchpadCollections, DescriptorsThatDoNotParseSayWhy) {
    for (const BadCase& c : BadDescriptors) {
        SCOPED_TRACE(c.name);
        std::vector<vtp::Collection> parts;
        std::string error;
        EXPECT_FALSE(vtp::SplitCollections(c.bytes, parts, error));
        EXPECT_FALSE(error.empty());
    }
}

TEST(VirtualTouchpadFeed, TakesAFreeIdAndLeavesTheGlobalsAsTheyWere) {
    std::vector<vtp::Collection> parts;
    std::string error;
    ASSERT_TRUE(vtp::SplitCollections(ThreeCollections, parts, error)) << error;
    vtp::Feed feed;
    ASSERT_TRUE(vtp::AddFeed(parts[1], feed, error)) << error;
    EXPECT_EQ(feed.reportId, 0xFE);
    // Room for the device's counters, read back through it, where the reports are shorter.
    EXPECT_EQ(feed.payloadBytes, 2u + 4u * vtp::FeedCounters);
    const Bytes& d = parts[1].descriptor;
    // Push ... Pop, then the collection's own End Collection.
    EXPECT_EQ(d.back(), 0xC0);
    EXPECT_EQ(d[d.size() - 2], 0xB4);
    Bytes out;
    ASSERT_TRUE(vtp::FeedReport(feed, {0x03, 1, 2, 3, 4, 5}, out));
    Bytes expected = {0xFE, 'V', 'T', 6, 0x03, 1, 2, 3, 4, 5};
    expected.resize(1 + feed.payloadBytes);
    EXPECT_EQ(out, expected);
    EXPECT_FALSE(vtp::FeedReport(feed, Bytes(feed.payloadBytes - 2, 0), out));
}

TEST(VirtualTouchpadFeed, WithoutReportIdsOnlyWhereNoFeatureWouldBeShared) {
    const Bytes plain = {0x05, 0x0D, 0x09, 0x05, 0xA1, 0x01, 0x75,
                         0x08, 0x95, 0x04, 0x81, 0x02, 0xC0};
    std::vector<vtp::Collection> parts;
    std::string error;
    ASSERT_TRUE(vtp::SplitCollections(plain, parts, error));
    vtp::Feed feed;
    ASSERT_TRUE(vtp::AddFeed(parts[0], feed, error)) << error;
    EXPECT_EQ(feed.reportId, 0);

    Bytes withFeature = plain;
    withFeature.insert(withFeature.end() - 1, {0x09, 0x55, 0xB1, 0x02});
    ASSERT_TRUE(vtp::SplitCollections(withFeature, parts, error));
    EXPECT_FALSE(vtp::AddFeed(parts[0], feed, error));
    EXPECT_NE(error.find("feature"), std::string::npos);

    // The collection as installed, feed and all, as a recording made on the virtual pad rebuilds
    // it: fed through that feed again, the collection as it was.
    ASSERT_TRUE(vtp::SplitCollections(plain, parts, error));
    ASSERT_TRUE(vtp::AddFeed(parts[0], feed, error)) << error;
    const Bytes installed = parts[0].descriptor;
    ASSERT_TRUE(vtp::SplitCollections(installed, parts, error));
    vtp::Feed again;
    ASSERT_TRUE(vtp::AddFeed(parts[0], again, error)) << error;
    EXPECT_EQ(again.reportId, 0);
    EXPECT_EQ(again.payloadBytes, feed.payloadBytes);
    EXPECT_EQ(parts[0].descriptor, installed);
    // A vendor feature report of another length is the pad's own: refused as before.
    Bytes vendor = plain;
    vendor.insert(vendor.end() - 1, {0x06, 0x00, 0xFF, 0x09, 0x01, 0x95, 0x10, 0xB1, 0x02});
    ASSERT_TRUE(vtp::SplitCollections(vendor, parts, error));
    EXPECT_FALSE(vtp::AddFeed(parts[0], feed, error));
}

// A pad may use any id, the feed's first choice too; the feed must take one the collection
// leaves free, or it would answer, and take, the pad's own report.
struct FeedIdCase {
    const char* name;
    Bytes descriptor;
    uint8_t feed;
};

const FeedIdCase FeedIdCases[] = {
    {"a feature report of 0xFE",
     {0x05, 0x0D, 0x09, 0x05, 0xA1, 0x01, 0x85, 0x01, 0x09, 0x54, 0x75, 0x08,
      0x95, 0x01, 0x81, 0x02, 0x85, 0xFE, 0x09, 0x55, 0xB1, 0x02, 0xC0},
     0xFD},
    {"an input report of 0xFE",
     {0x05, 0x0D, 0x09, 0x05, 0xA1, 0x01, 0x85, 0xFE, 0x09, 0x54, 0x75, 0x08, 0x95, 0x01, 0x81,
      0x02, 0xC0},
     0xFD},
    {"input 0xFE and feature 0xFD",
     {0x05, 0x0D, 0x09, 0x05, 0xA1, 0x01, 0x85, 0xFE, 0x09, 0x54, 0x75, 0x08,
      0x95, 0x01, 0x81, 0x02, 0x85, 0xFD, 0x09, 0x55, 0xB1, 0x02, 0xC0},
     0xFC},
};

TEST(VirtualTouchpadFeed, NeverTakesAnIdTheCollectionUses) {
    for (const FeedIdCase& c : FeedIdCases) {
        SCOPED_TRACE(c.name);
        std::vector<vtp::Collection> parts;
        std::string error;
        ASSERT_TRUE(vtp::SplitCollections(c.descriptor, parts, error)) << error;
        vtp::Feed feed;
        ASSERT_TRUE(vtp::AddFeed(parts[0], feed, error)) << error;
        EXPECT_EQ(feed.reportId, c.feed);
    }
}

struct ScriptCase {
    const char* text;
    bool ok;
    size_t steps;
};

const ScriptCase ScriptCases[] = {
    {"# a tap\npad 04 07 E8 03\nwait 8\npad 04 05 E8 03 # the lift\n", true, 3},
    {"remove pad\nwait 100\nadd pad\n", true, 3},
    {"\n\n   # only comments\n", true, 0},
    {"wait\n", false, 0},
    {"wait -1\n", false, 0},
    {"pad\n", false, 0},
    {"pad 0x4 zz\n", false, 0},
    {"remove two pads\n", false, 0},
    {"p@d 01\n", false, 0},
};

TEST(VirtualTouchpadScript, StepsAndMistakes) {
    for (const ScriptCase& c : ScriptCases) {
        SCOPED_TRACE(c.text);
        std::vector<vtp::Step> steps;
        std::string error;
        EXPECT_EQ(vtp::ParseScript(c.text, steps, error), c.ok) << error;
        EXPECT_EQ(steps.size(), c.steps);
        if (!c.ok) {
            EXPECT_EQ(error.rfind("line ", 0), 0u) << error;
        }
    }
}

} // namespace
