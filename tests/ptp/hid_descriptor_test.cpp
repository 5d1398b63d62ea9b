// A report descriptor rebuilt from what the HID parser holds, by tables: how a descriptor reads
// into that model, the descriptor written back from it (which reads the same, field for field
// and bit for bit, for every pad the tests have), the models no descriptor can give, and the
// file with its comment header.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "descriptor.h"
#include "hid_descriptor.h"
#include "support/process.h"

namespace {

using ptp::hid::Bytes;
using ptp::hid::Field;
using ptp::hid::ParsedCollection;
using ptp::hid::ReportKind;

Bytes Hex(const char* text) {
    Bytes bytes;
    std::string error;
    EXPECT_TRUE(vtp::ParseHex(text, bytes, error)) << error;
    return bytes;
}

// "I4 c1 0D:42 @17 1x1 #0" (input report 4, collection 1, usage, bit, size x count, data
// index), with "=0..4095" for a value's logical range and "~" for a range of usages.
std::string Line(const Field& f) {
    char text[160];
    char range[8] = "";
    if (f.isRange) {
        std::snprintf(range, sizeof range, "~%02X", f.usageMax);
    }
    std::snprintf(text, sizeof text, "%c%u c%u %02X:%02X%s @%u %ux%u #%u%s",
                  f.kind == ReportKind::Input    ? 'I'
                  : f.kind == ReportKind::Output ? 'O'
                                                 : 'F',
                  f.reportId, f.link, f.usagePage, f.usageMin, range, f.bit, f.bitSize,
                  f.reportCount, f.dataIndexMin, f.isButton ? "" : " =");
    std::string line = text;
    if (!f.isButton) {
        line += std::to_string(f.logicalMin) + ".." + std::to_string(f.logicalMax);
    }
    return line;
}

std::vector<std::string> Lines(const ParsedCollection& c) {
    std::vector<std::string> lines;
    for (const Field& f : c.fields) {
        lines.push_back(Line(f));
    }
    return lines;
}

// --- how the parser reads a descriptor --------------------------------------------------------

struct ReadCase {
    const char* name;
    const char* descriptor;
    std::vector<std::string> fields; // in the order of kind and data index
    uint16_t inputBytes;
    uint16_t featureBytes;
};

const ReadCase ReadCases[] = {
    {"two usages of one item: listed last to first, the last one first in data index",
     "05 0D 09 05 A1 01 85 04 09 47 09 42 15 00 25 01 75 01 95 02 81 02 95 06 81 03 C0",
     {"I4 c0 0D:42 @9 1x1 #0", "I4 c0 0D:47 @8 1x1 #1"},
     2,
     0},
    {"the last usage takes what remains of the count; usage 0 names nothing",
     "05 01 09 01 A1 01 09 30 09 00 09 31 15 81 25 7F 75 08 95 05 81 06 C0",
     {"I0 c0 01:31 @24 8x3 #0 =-127..127", "I0 c0 01:30 @8 8x1 #1 =-127..127"},
     6,
     0},
    {"a range of buttons, padding, a value in a logical collection",
     "05 0D 09 05 A1 01 85 02 05 09 19 01 29 03 15 00 25 01 75 01 95 03 81 02 95 05 81 03"
     " 05 0D 09 22 A1 02 09 51 25 0F 75 04 95 01 81 02 C0 C0",
     {"I2 c0 09:01~03 @8 1x3 #0", "I2 c1 0D:51 @16 4x1 #3 =0..15"},
     3,
     0},
    {"bits counted apart for each kind and report; a Pop restores the globals",
     "05 0D 09 05 A1 01 85 01 09 54 25 05 75 08 95 01 81 02 A4 85 02 09 55 75 04 B1 02 B4"
     " 09 56 81 02 C0",
     {"I1 c0 0D:54 @8 8x1 #0 =0..5", "I1 c0 0D:56 @16 8x1 #1 =0..5", "F2 c0 0D:55 @8 4x1 #0 =0..5"},
     3,
     2},
};

TEST(HidDescriptorRead, FieldsAsTheParserListsThem) {
    for (const ReadCase& c : ReadCases) {
        SCOPED_TRACE(c.name);
        ParsedCollection model;
        std::string error;
        ASSERT_TRUE(ptp::hid::ReadDescriptor(Hex(c.descriptor), model, error)) << error;
        EXPECT_EQ(Lines(model), c.fields);
        EXPECT_EQ(model.reportBytes[0], c.inputBytes);
        EXPECT_EQ(model.reportBytes[2], c.featureBytes);
    }
}

TEST(HidDescriptorRead, LinkCollectionsInTheOrderTheyOpen) {
    ParsedCollection model;
    std::string error;
    ASSERT_TRUE(ptp::hid::ReadDescriptor(
        Hex("05 0D 09 05 A1 01 09 22 A1 02 09 30 A1 00 C0 C0 09 22 A1 02 C0 C0"), model, error))
        << error;
    const std::vector<ptp::hid::LinkNode> expected = {
        {0x0D, 0x05, 0, 1}, {0x0D, 0x22, 0, 2}, {0x0D, 0x30, 1, 0}, {0x0D, 0x22, 0, 2}};
    EXPECT_EQ(model.nodes, expected);
}

// --- the descriptor written back ------------------------------------------------------------

// A value, a button after a gap, a second collection: every item written, in order.
TEST(HidDescriptorBuild, TheItemsOfASmallCollection) {
    ParsedCollection model;
    model.nodes = {{0x0D, 0x05, 0, 1}, {0x0D, 0x22, 0, 2}};
    Field x;
    x.reportId = 3;
    x.link = 1;
    x.usagePage = 0x01;
    x.usageMin = x.usageMax = 0x30;
    x.logicalMax = 4095;
    x.physicalMax = 1168;
    x.units = 0x11;
    x.unitsExp = 0x0E;
    x.bitSize = 12;
    x.bit = 8;
    x.bitField = 0x02;
    Field button;
    button.reportId = 3;
    button.isButton = true;
    button.usagePage = 0x09;
    button.usageMin = button.usageMax = 0x01;
    button.dataIndexMin = button.dataIndexMax = 1;
    button.bit = 24;
    button.bitField = 0x02;
    model.fields = {x, button};
    model.reportBytes[0] = 5;
    std::vector<ptp::hid::Item> items;
    std::string error;
    ASSERT_TRUE(ptp::hid::BuildItems(model, items, error)) << error;
    EXPECT_EQ(ptp::hid::ItemBytes(items),
              Hex("05 0D 09 05 A1 01"                    // the touch pad
                  " 09 22 A1 02"                         // the finger
                  " 85 03 05 01 26 FF 0F 46 90 04"       // report 3: X's page, ranges,
                  " 55 0E 65 11 75 0C 95 01 09 30 81 02" // units, 12 bits
                  " C0"                                  // back in the touch pad:
                  " 75 01 95 04 81 03"                   // 4 bits of padding
                  " 05 09 25 01 95 01 09 01 81 02"       // the button
                  " 95 0F 81 03 C0"));                   // to the report's 5 bytes
}

// Every pad file's collections, as separate devices get them.
std::vector<std::pair<std::string, Bytes>> PadCollections() {
    std::vector<std::pair<std::string, Bytes>> out;
    for (const char* file : {"hybrid-one-finger", "hybrid-two-fingers", "offset-ranges", "inches",
                             "parallel-five-fingers", "touch-screen"}) {
        const std::wstring path = EnvironmentValue(L"VTP_PADS") + L"\\" +
                                  std::wstring(file, file + strlen(file)) + L".hid";
        std::vector<vtp::Collection> parts;
        std::string error;
        Bytes descriptor;
        EXPECT_TRUE(vtp::ParseHex(ReadWholeFile(path), descriptor, error)) << file << error;
        EXPECT_TRUE(vtp::SplitCollections(descriptor, parts, error)) << file << error;
        for (size_t i = 0; i < parts.size(); ++i) {
            out.emplace_back(std::string(file) + " #" + std::to_string(i), parts[i].descriptor);
        }
    }
    return out;
}

TEST(HidDescriptorBuild, EveryPadReadsBackFieldForFieldAndBitForBit) {
    const auto pads = PadCollections();
    ASSERT_EQ(pads.size(), 8u);
    for (const auto& [name, descriptor] : pads) {
        SCOPED_TRACE(name);
        ParsedCollection original;
        std::string error;
        ASSERT_TRUE(ptp::hid::ReadDescriptor(descriptor, original, error)) << error;
        std::vector<ptp::hid::Item> items;
        ASSERT_TRUE(ptp::hid::BuildItems(original, items, error)) << error;
        ParsedCollection rebuilt;
        ASSERT_TRUE(ptp::hid::ReadDescriptor(ptp::hid::ItemBytes(items), rebuilt, error)) << error;
        EXPECT_EQ(ptp::hid::FirstDifference(original, rebuilt), "");
        EXPECT_EQ(rebuilt, original);
        // Written again from what it reads, it is the same descriptor.
        std::vector<ptp::hid::Item> again;
        ASSERT_TRUE(ptp::hid::BuildItems(rebuilt, again, error)) << error;
        EXPECT_EQ(ptp::hid::ItemBytes(again), ptp::hid::ItemBytes(items));
    }
}

TEST(HidDescriptorBuild, AFieldMovedIsSeenWhereItMoved) {
    ParsedCollection model;
    std::string error;
    ASSERT_TRUE(ptp::hid::ReadDescriptor(PadCollections().front().second, model, error));
    // The contact id (3 bits after confidence and tip), one bit later into the padding.
    ParsedCollection moved = model;
    for (Field& f : moved.fields) {
        if (f.usagePage == 0x0D && f.usageMin == 0x51) {
            ++f.bit;
        }
    }
    std::vector<ptp::hid::Item> items;
    ASSERT_TRUE(ptp::hid::BuildItems(moved, items, error)) << error;
    ParsedCollection read;
    ASSERT_TRUE(ptp::hid::ReadDescriptor(ptp::hid::ItemBytes(items), read, error)) << error;
    EXPECT_EQ(read, moved);
    EXPECT_NE(ptp::hid::FirstDifference(model, read).find("bit 10 against 11"), std::string::npos)
        << ptp::hid::FirstDifference(model, read);
}

struct BadModel {
    const char* name;
    const char* descriptor; // read, then changed by `change`
    void (*change)(ParsedCollection&);
    const char* says;
};

const BadModel BadModels[] = {
    {"two fields on the same bits",
     "05 0D 09 05 A1 01 85 01 09 54 75 08 95 01 81 02 09 56 81 02 C0",
     [](ParsedCollection& c) { c.fields[1].bit = 12; }, "overlap"},
    {"a field of a collection that closed before the one listed ahead of it",
     "05 0D 09 05 A1 01 85 01 09 22 A1 02 09 51 75 08 95 01 81 02 C0"
     " 09 22 A1 02 09 51 81 02 C0 C0",
     [](ParsedCollection& c) {
         std::swap(c.fields[0].dataIndexMin, c.fields[1].dataIndexMin);
         std::swap(c.fields[0].dataIndexMax, c.fields[1].dataIndexMax);
     },
     "out of its collection's place"},
    {"reports with and without ids", "05 0D 09 05 A1 01 85 01 09 54 09 56 75 08 95 02 81 02 C0",
     [](ParsedCollection& c) { c.fields[0].reportId = 0; }, "with and without"},
    {"a collection whose parent is closed",
     "05 0D 09 05 A1 01 09 22 A1 02 C0 09 22 A1 02 C0 09 22 A1 02 C0 C0",
     [](ParsedCollection& c) { c.nodes[3].parent = 1; }, "not open"},
    {"a report longer than the collection's length",
     "05 0D 09 05 A1 01 85 01 09 54 75 08 95 02 81 02 C0",
     [](ParsedCollection& c) { c.reportBytes[0] = 2; }, "bytes where the longest has 2"},
};

TEST(HidDescriptorBuild, ModelsNoDescriptorCanGiveSayWhy) {
    for (const BadModel& c : BadModels) {
        SCOPED_TRACE(c.name);
        ParsedCollection model;
        std::string error;
        ASSERT_TRUE(ptp::hid::ReadDescriptor(Hex(c.descriptor), model, error)) << error;
        c.change(model);
        ptp::hid::Canonical(model);
        std::vector<ptp::hid::Item> items;
        EXPECT_FALSE(ptp::hid::BuildItems(model, items, error));
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
    }
}

// --- the file -------------------------------------------------------------------------------

TEST(HidDescriptorFile, TheHeaderStaysCommentsAndTheHexIsTheDescriptor) {
    ParsedCollection model;
    std::string error;
    ASSERT_TRUE(ptp::hid::ReadDescriptor(PadCollections().front().second, model, error));
    std::vector<ptp::hid::Item> items;
    ASSERT_TRUE(ptp::hid::BuildItems(model, items, error)) << error;
    ptp::hid::DescriptorHeader header;
    header.product = "Pad\n05 0D 09 05\r# and\x01more \xC3\xA9";
    header.vendorId = 0x06CB;
    header.productId = 0xCD5E;
    header.versionNumber = 0x0100;
    header.date = "2026-03-01 14:02:11";
    header.velptpVersion = "0.1.0";
    const std::string text = ptp::hid::DescriptorFile(items, model, header);
    Bytes parsed;
    ASSERT_TRUE(vtp::ParseHex(text, parsed, error)) << error;
    EXPECT_EQ(parsed, ptp::hid::ItemBytes(items));
    for (const char* line :
         {"# product: Pad?05 0D 09 05?# and?more \xC3\xA9\n",
          "# vendor 0x06CB, product 0xCD5E, version 0x0100\n",
          "# collection: usage page 0x0D, usage 0x05\n", "# recorded: 2026-03-01 14:02:11\n",
          "velptp 0.1.0", "# Usage Page (0x0D)\n", "#     Logical Maximum (4095)\n",
          "Input (Constant, Variable, Absolute)\n"}) {
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
    }
}

} // namespace
