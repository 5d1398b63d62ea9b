// A pad's report descriptor rebuilt from what Wine's HID parser holds of it, proven by round
// trips: each collection of each touchpad file installed as a virtual pad, its preparsed data
// read through raw input, the descriptor rebuilt from it and installed as a pad of its own,
// and the two compared as a program sees them: value and button capabilities field by field,
// link collections, report lengths, and the bit of every field.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "descriptor.h"
#include "hid_descriptor.h"
#include "preparsed_reader.h"
#include "support/process.h"
#include "virtual_pads.h"

#include <winternl.h>
#include <hidusage.h>
extern "C" {
#include <hidpi.h>
#include <hidsdi.h>
}

namespace {

using ptp::hid::ParsedCollection;

// The collection's preparsed data, as raw input gives it; for a mouse, which raw input folds
// into the system's mouse and does not list, as the HID device gives it.
class Preparsed {
public:
    Preparsed(const std::wstring& pad, size_t collection, bool mouse) {
        if (!mouse) {
            const HANDLE device = vpadtest::RawInputHandle(pad, collection);
            UINT size = 0;
            if (device == nullptr ||
                GetRawInputDeviceInfoW(device, RIDI_PREPARSEDDATA, nullptr, &size) != 0) {
                return;
            }
            bytes.resize(size);
            if (GetRawInputDeviceInfoW(device, RIDI_PREPARSEDDATA, bytes.data(), &size) ==
                static_cast<UINT>(-1)) {
                bytes.clear();
            }
            return;
        }
        const std::wstring path = vtp::DevicePath(pad, collection);
        file = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            HidD_GetPreparsedData(file, &fromHid);
        }
    }
    ~Preparsed() {
        if (fromHid != nullptr) {
            HidD_FreePreparsedData(fromHid);
        }
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
        }
    }
    Preparsed(const Preparsed&) = delete;
    Preparsed& operator=(const Preparsed&) = delete;

    PHIDP_PREPARSED_DATA Get() const {
        return fromHid != nullptr
                   ? fromHid
                   : reinterpret_cast<PHIDP_PREPARSED_DATA>(const_cast<BYTE*>(bytes.data()));
    }
    bool Valid() const { return fromHid != nullptr || !bytes.empty(); }

private:
    std::vector<BYTE> bytes;
    HANDLE file = INVALID_HANDLE_VALUE;
    PHIDP_PREPARSED_DATA fromHid = nullptr;
};

// Everything the HidP_* calls say of a collection, a line each, in the parser's order.
std::vector<std::string> Capabilities(PHIDP_PREPARSED_DATA data) {
    std::vector<std::string> lines;
    char line[512];
    HIDP_CAPS caps = {};
    if (HidP_GetCaps(data, &caps) != HIDP_STATUS_SUCCESS) {
        return {"no capabilities"};
    }
    std::snprintf(
        line, sizeof line,
        "collection %02X:%02X, report bytes in %u out %u feature %u, link collections "
        "%u, input buttons %u values %u indices %u, output %u %u %u, feature %u %u %u",
        caps.UsagePage, caps.Usage, caps.InputReportByteLength, caps.OutputReportByteLength,
        caps.FeatureReportByteLength, caps.NumberLinkCollectionNodes, caps.NumberInputButtonCaps,
        caps.NumberInputValueCaps, caps.NumberInputDataIndices, caps.NumberOutputButtonCaps,
        caps.NumberOutputValueCaps, caps.NumberOutputDataIndices, caps.NumberFeatureButtonCaps,
        caps.NumberFeatureValueCaps, caps.NumberFeatureDataIndices);
    lines.emplace_back(line);
    ULONG count = caps.NumberLinkCollectionNodes;
    std::vector<HIDP_LINK_COLLECTION_NODE> nodes(count);
    HidP_GetLinkCollectionNodes(nodes.data(), &count, data);
    for (ULONG i = 0; i < count; ++i) {
        const HIDP_LINK_COLLECTION_NODE& n = nodes[i];
        std::snprintf(line, sizeof line,
                      "link %lu: %02X:%02X type %u parent %u children %u first %u next %u", i,
                      n.LinkUsagePage, n.LinkUsage, static_cast<unsigned>(n.CollectionType),
                      n.Parent, n.NumberOfChildren, n.FirstChild, n.NextSibling);
        lines.emplace_back(line);
    }
    const USHORT values[] = {caps.NumberInputValueCaps, caps.NumberOutputValueCaps,
                             caps.NumberFeatureValueCaps};
    const USHORT buttons[] = {caps.NumberInputButtonCaps, caps.NumberOutputButtonCaps,
                              caps.NumberFeatureButtonCaps};
    for (int kind = 0; kind < 3; ++kind) {
        const auto type = static_cast<HIDP_REPORT_TYPE>(kind);
        USHORT n = values[kind];
        std::vector<HIDP_VALUE_CAPS> v(n);
        if (n != 0) {
            HidP_GetValueCaps(type, v.data(), &n, data);
        }
        for (USHORT i = 0; i < n; ++i) {
            const HIDP_VALUE_CAPS& c = v[i];
            std::snprintf(
                line, sizeof line,
                "value %d/%u: report %u usage %02X:%02X-%02X range %u index %u-%u link %u "
                "(%02X:%02X) flags %X abs %u null %u bits %u count %u units %lX exp %lX logical "
                "%ld..%ld physical %ld..%ld string %u-%u (%u) designator %u-%u (%u)",
                kind, i, c.ReportID, c.UsagePage, c.Range.UsageMin, c.Range.UsageMax, c.IsRange,
                c.Range.DataIndexMin, c.Range.DataIndexMax, c.LinkCollection, c.LinkUsagePage,
                c.LinkUsage, c.BitField, c.IsAbsolute, c.HasNull, c.BitSize, c.ReportCount, c.Units,
                c.UnitsExp, c.LogicalMin, c.LogicalMax, c.PhysicalMin, c.PhysicalMax,
                c.Range.StringMin, c.Range.StringMax, c.IsStringRange, c.Range.DesignatorMin,
                c.Range.DesignatorMax, c.IsDesignatorRange);
            lines.emplace_back(line);
        }
        n = buttons[kind];
        std::vector<HIDP_BUTTON_CAPS> b(n);
        if (n != 0) {
            HidP_GetButtonCaps(type, b.data(), &n, data);
        }
        for (USHORT i = 0; i < n; ++i) {
            const HIDP_BUTTON_CAPS& c = b[i];
            std::snprintf(line, sizeof line,
                          "button %d/%u: report %u usage %02X:%02X-%02X range %u index %u-%u "
                          "link %u (%02X:%02X) flags %X abs %u string %u-%u designator %u-%u",
                          kind, i, c.ReportID, c.UsagePage, c.Range.UsageMin, c.Range.UsageMax,
                          c.IsRange, c.Range.DataIndexMin, c.Range.DataIndexMax, c.LinkCollection,
                          c.LinkUsagePage, c.LinkUsage, c.BitField, c.IsAbsolute, c.Range.StringMin,
                          c.Range.StringMax, c.Range.DesignatorMin, c.Range.DesignatorMax);
            lines.emplace_back(line);
        }
    }
    return lines;
}

struct RoundTrip {
    const wchar_t* pad;
    size_t collection;
    bool mouse;
    // The rebuilt descriptor made wrong: the first field of the touch pad's finger, one bit
    // later. Then the comparison must fail, at that field's bit.
    bool fieldMoved;
};

const RoundTrip RoundTrips[] = {
    {L"hybrid-one-finger", 0, false, false},
    {L"hybrid-two-fingers", 0, false, false},
    {L"offset-ranges", 0, false, false},
    {L"inches", 0, false, false},
    {L"parallel-five-fingers", 0, true, false}, // the mouse
    {L"parallel-five-fingers", 1, false, false},
    {L"parallel-five-fingers", 2, false, false}, // the configuration collection
    {L"hybrid-one-finger", 0, false, true},
};

class Rebuilt : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        vpadtest::RemoveAll();
        for (const wchar_t* file : {L"hybrid-one-finger", L"hybrid-two-fingers", L"offset-ranges",
                                    L"inches", L"parallel-five-fingers"}) {
            vpadtest::Install(file, file);
        }
    }
    static void TearDownTestSuite() { vpadtest::RemoveAll(); }
};

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

// The collection of the pad file, as the descriptor reads; `feed`, the id of the feature report
// through which the tests feed its device (none for a collection without input reports).
ParsedCollection FromFile(const std::wstring& file, size_t collection, int& feed) {
    vtp::Bytes descriptor;
    std::vector<vtp::Collection> parts;
    std::string error;
    EXPECT_TRUE(vtp::ParseHex(ReadWholeFile(EnvironmentValue(L"VTP_PADS") + L"\\" + file + L".hid"),
                              descriptor, error));
    EXPECT_TRUE(vtp::SplitCollections(descriptor, parts, error)) << error;
    ParsedCollection model;
    EXPECT_TRUE(collection < parts.size() &&
                ptp::hid::ReadDescriptor(parts[collection].descriptor, model, error))
        << error;
    vtp::Feed added;
    feed = collection < parts.size() && !parts[collection].inputReports.empty() &&
                   vtp::AddFeed(parts[collection], added, error)
               ? added.reportId
               : -1;
    return model;
}

// The collection as a laptop's device has it: without the virtual pad's feed report, and with
// the feature length that its own reports give.
ParsedCollection WithoutFeed(ParsedCollection read, const ParsedCollection& file, int feed) {
    std::erase_if(read.fields, [feed](const ptp::hid::Field& f) {
        return f.kind == ptp::hid::ReportKind::Feature && f.usagePage == 0xFF00 &&
               f.reportId == feed;
    });
    read.reportBytes[2] = file.reportBytes[2];
    return read;
}

TEST_F(Rebuilt, EveryPadsCollectionsParseAsTheOriginalFieldForFieldAndBitForBit) {
    for (const RoundTrip& c : RoundTrips) {
        SCOPED_TRACE(Narrow(c.pad) + " #" + std::to_string(c.collection) +
                     (c.fieldMoved ? ", a field moved" : ""));
        const Preparsed original(c.pad, c.collection, c.mouse);
        ASSERT_TRUE(original.Valid()) << vtp::DescribeDelivery(c.pad);
        ParsedCollection withFeed;
        std::string error;
        ASSERT_TRUE(ReadPreparsed(original.Get(), withFeed, error)) << error;
        // What the parser holds is what the descriptor says, every field's bit included. The
        // rebuilt pad gets a feed of its own when it is installed, with the same id.
        int feed = -1;
        const ParsedCollection file = FromFile(c.pad, c.collection, feed);
        ParsedCollection read = WithoutFeed(withFeed, file, feed);
        EXPECT_EQ(ptp::hid::FirstDifference(file, read), "");

        if (c.fieldMoved) {
            ASSERT_EQ(read.nodes[1].usage, 0x22); // the finger
            for (ptp::hid::Field& f : read.fields) {
                if (f.link == 1 && f.usageMin == 0x51) {
                    ++f.bit; // the contact id, into the padding after it
                }
            }
        }
        std::vector<ptp::hid::Item> items;
        ASSERT_TRUE(ptp::hid::BuildItems(read, items, error)) << error;
        ptp::hid::DescriptorHeader header;
        header.product = "Rebuilt " + Narrow(c.pad);
        const std::string text = ptp::hid::DescriptorFile(items, read, header);
        vtp::PadSpec copy;
        copy.name = L"rebuilt" + std::to_wstring(&c - RoundTrips);
        copy.product = L"Rebuilt";
        ASSERT_TRUE(vtp::ParseHex(text, copy.descriptor, error)) << error;
        ASSERT_TRUE(vtp::InstallPad(copy, EnvironmentValue(L"VTP_DRIVER_DIR"), error)) << error;
        // A name of its own each time: raw input may list a removed device a little longer.
        const Preparsed rebuilt(copy.name, 0, c.mouse);
        ASSERT_TRUE(rebuilt.Valid()) << vtp::DescribeDelivery(copy.name);

        // Value and button capabilities field by field, link collections, report lengths.
        EXPECT_EQ(Capabilities(rebuilt.Get()), Capabilities(original.Get()));
        // The bit of every field.
        ParsedCollection again;
        ASSERT_TRUE(ReadPreparsed(rebuilt.Get(), again, error)) << error;
        const std::string difference = ptp::hid::FirstDifference(withFeed, again);
        if (c.fieldMoved) {
            EXPECT_NE(difference.find("usage 0D:51, collection 1): bit 10 against 11"),
                      std::string::npos)
                << difference;
        } else {
            EXPECT_EQ(difference, "");
        }
    }
}

} // namespace
