// A HID collection's report descriptor rebuilt from what the HID parser holds. Windows gives a
// user-mode program no report descriptor, only the parser's preparsed data; the model below is
// what the documented HidP_* calls read out of it (link collections, value and button
// capabilities, report lengths) plus where each field sits in its report. From that model this
// core writes a descriptor that parses to the same capabilities, in the same order and with
// the same data indices, and puts every field at the same bit of the same report. It also
// reads a descriptor into the model as the parser does, which the tests and tools compare
// with. Plain C++; the platform layer that reads the model is preparsed_reader.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ptp::hid {

using Bytes = std::vector<uint8_t>;

enum class ReportKind : uint8_t { Input, Output, Feature };
inline constexpr size_t ReportKinds = 3;

// A link collection as HidP_GetLinkCollectionNodes gives it (index 0: the top-level one).
struct LinkNode {
    uint16_t usagePage = 0;
    uint16_t usage = 0;
    uint16_t parent = 0;
    uint8_t type = 0; // 0 physical, 1 application, 2 logical, ...
    bool operator==(const LinkNode&) const = default;
};

// One capability of a main item: a usage (or a range of usages) with its place in its report.
// A value covers `reportCount` fields of `bitSize` bits from `bit` on (for a range, one field a
// usage, in order); a button is a field of one bit a usage. `bit` counts from the report's
// first byte, its report id (0 without ids), so the first field of a report is at bit 8.
struct Field {
    ReportKind kind = ReportKind::Input;
    uint8_t reportId = 0;
    uint16_t link = 0;
    bool isButton = false;
    bool isRange = false;
    uint16_t usagePage = 0;
    uint16_t usageMin = 0; // the usage where not a range
    uint16_t usageMax = 0;
    uint16_t dataIndexMin = 0;
    uint16_t dataIndexMax = 0;
    uint16_t bitField = 0; // the main item's flags: constant, variable, relative, null state...
    bool isStringRange = false;
    uint16_t stringMin = 0;
    uint16_t stringMax = 0;
    bool isDesignatorRange = false;
    uint16_t designatorMin = 0;
    uint16_t designatorMax = 0;
    // Values only (0 for buttons, which the parser gives no ranges or units).
    int32_t logicalMin = 0;
    int32_t logicalMax = 0;
    int32_t physicalMin = 0;
    int32_t physicalMax = 0;
    uint32_t units = 0;
    uint32_t unitsExp = 0;
    uint16_t bitSize = 1;
    uint16_t reportCount = 1;
    uint32_t bit = 0;
    bool operator==(const Field&) const = default;
};

// One top-level collection as the parser holds it. Fields are kept in the order of their kind
// and data index (Canonical), which is the order of the descriptor's main items.
struct ParsedCollection {
    std::vector<LinkNode> nodes;
    std::vector<Field> fields;
    // The longest report of each kind in bytes, its id byte included (HIDP_CAPS).
    uint16_t reportBytes[ReportKinds] = {};
    bool operator==(const ParsedCollection&) const = default;
};

// Puts the fields in their canonical order.
void Canonical(ParsedCollection& collection);

// The bits a field covers.
inline uint32_t FieldBits(const Field& field) {
    return static_cast<uint32_t>(field.bitSize) * field.reportCount;
}

// One short item of a descriptor: its prefix without the size bits, its data and size in
// bytes (0, 1, 2 or 4), and how deep in collections it stands (for the file's comments).
struct Item {
    uint8_t tag = 0;
    uint32_t data = 0;
    uint8_t size = 0;
    int depth = 0;
};

// The descriptor's items for `collection`: its link collections opened in their order, each
// main item where its fields' collection is the innermost one, the main items of each kind in
// the order of their data indices (usages the parser lists last to first in one item, as it
// does), constant padding wherever a report has a gap, and every input report as long as the
// longest (raw input hands each one over at that length, so a recorded report replays as it
// is); of the other kinds, the longest report is padded to the collection's length. False,
// with why, for a model no descriptor can give (fields overlapping or out of order, a field of
// a collection after it closed, reports with and without ids).
bool BuildItems(const ParsedCollection& collection, std::vector<Item>& items, std::string& error);
Bytes ItemBytes(const std::vector<Item>& items);

// What the comment header of a descriptor file says.
struct DescriptorHeader {
    std::string product; // UTF-8
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    uint16_t versionNumber = 0;
    std::string date;          // as the caller writes it, e.g. "2026-03-01 14:02:11"
    std::string velptpVersion; // e.g. "0.1.0"
};

// The descriptor as a file of the virtual touchpad's format (docs/virtual-touchpad.md): the
// header as '#' comments (control characters in its strings made '?', so it stays comments),
// then one item a line, its bytes in hex and what it is as a comment.
std::string DescriptorFile(const std::vector<Item>& items, const ParsedCollection& collection,
                           const DescriptorHeader& header);

// Reads the first top-level collection of a descriptor as the HID parser does. Arrays (a
// keyboard's keys) and delimiters are not read: false, with why, as for a descriptor that does
// not parse or holds a second top-level collection (split it first).
bool ReadDescriptor(const Bytes& descriptor, ParsedCollection& out, std::string& error);

// The first difference between two models in words ("field 3 (input report 4, usage 0D:42):
// bit 17 against 18"); empty when they are the same.
std::string FirstDifference(const ParsedCollection& expected, const ParsedCollection& actual);

} // namespace ptp::hid
