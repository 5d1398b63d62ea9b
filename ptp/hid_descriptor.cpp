#include "hid_descriptor.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <utility>

namespace ptp::hid {

namespace {

// Item prefixes without their size bits.
constexpr uint8_t MainInput = 0x80;
constexpr uint8_t MainOutput = 0x90;
constexpr uint8_t MainFeature = 0xB0;
constexpr uint8_t MainCollection = 0xA0;
constexpr uint8_t MainEndCollection = 0xC0;
constexpr uint8_t GlobalUsagePage = 0x04;
constexpr uint8_t GlobalLogicalMin = 0x14;
constexpr uint8_t GlobalLogicalMax = 0x24;
constexpr uint8_t GlobalPhysicalMin = 0x34;
constexpr uint8_t GlobalPhysicalMax = 0x44;
constexpr uint8_t GlobalUnitExp = 0x54;
constexpr uint8_t GlobalUnit = 0x64;
constexpr uint8_t GlobalReportSize = 0x74;
constexpr uint8_t GlobalReportId = 0x84;
constexpr uint8_t GlobalReportCount = 0x94;
constexpr uint8_t GlobalPush = 0xA4;
constexpr uint8_t GlobalPop = 0xB4;
constexpr uint8_t LocalUsage = 0x08;
constexpr uint8_t LocalUsageMin = 0x18;
constexpr uint8_t LocalUsageMax = 0x28;
constexpr uint8_t LocalDesignator = 0x38;
constexpr uint8_t LocalDesignatorMin = 0x48;
constexpr uint8_t LocalDesignatorMax = 0x58;
constexpr uint8_t LocalString = 0x78;
constexpr uint8_t LocalStringMin = 0x88;
constexpr uint8_t LocalStringMax = 0x98;
constexpr uint8_t LocalDelimiter = 0xA8;
constexpr uint8_t LongItem = 0xFE;

// Main item flags.
constexpr uint16_t FlagConstant = 0x01;
constexpr uint16_t FlagVariable = 0x02;
// Padding: Constant, Variable, Absolute.
constexpr uint16_t PaddingFlags = FlagConstant | FlagVariable;

constexpr uint8_t MainTag(ReportKind kind) {
    return kind == ReportKind::Input    ? MainInput
           : kind == ReportKind::Output ? MainOutput
                                        : MainFeature;
}

size_t KindIndex(ReportKind kind) {
    return static_cast<size_t>(kind);
}

const char* KindName(ReportKind kind) {
    return kind == ReportKind::Input ? "input" : kind == ReportKind::Output ? "output" : "feature";
}

std::string Hex(uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, static_cast<unsigned>(value));
    return text;
}

Item Unsigned(uint8_t tag, uint32_t value, int depth) {
    const uint8_t size = value <= 0xFF ? 1 : value <= 0xFFFF ? 2 : 4;
    return {tag, value, size, depth};
}

Item Signed(uint8_t tag, int32_t value, int depth) {
    uint8_t size = 4;
    uint32_t data = static_cast<uint32_t>(value);
    if (value >= -128 && value <= 127) {
        size = 1;
        data &= 0xFF;
    } else if (value >= -32768 && value <= 32767) {
        size = 2;
        data &= 0xFFFF;
    }
    return {tag, data, size, depth};
}

// --- the builder ----------------------------------------------------------------------------

// The fields of one main item, lowest bit first.
struct Group {
    std::vector<const Field*> fields;
    uint32_t bit = 0;
    uint16_t count = 0;
    uint16_t firstIndex = 0; // the lowest data index of its fields
};

bool SameItem(const Field& a, const Field& b) {
    return a.kind == b.kind && a.reportId == b.reportId && a.link == b.link &&
           a.isButton == b.isButton && a.bitField == b.bitField && a.bitSize == b.bitSize &&
           a.logicalMin == b.logicalMin && a.logicalMax == b.logicalMax &&
           a.physicalMin == b.physicalMin && a.physicalMax == b.physicalMax && a.units == b.units &&
           a.unitsExp == b.unitsExp && a.isStringRange == b.isStringRange &&
           a.stringMin == b.stringMin && a.stringMax == b.stringMax &&
           a.isDesignatorRange == b.isDesignatorRange && a.designatorMin == b.designatorMin &&
           a.designatorMax == b.designatorMax;
}

// The parser lists the usages of one main item last to first, each with the next data index,
// the last usage taking what remains of the count. So a field just below the one listed before
// it, with the next data index and the same attributes, is of the same main item.
bool JoinsBelow(const Field& lowest, const Field& next) {
    return SameItem(lowest, next) && !lowest.isRange && !next.isRange && next.reportCount == 1 &&
           next.dataIndexMin == lowest.dataIndexMax + 1 && next.bit + next.bitSize == lowest.bit;
}

std::vector<Group> Groups(const std::vector<Field>& fields, ReportKind kind) {
    std::vector<const Field*> ordered;
    for (const Field& field : fields) {
        if (field.kind == kind) {
            ordered.push_back(&field);
        }
    }
    std::stable_sort(ordered.begin(), ordered.end(), [](const Field* a, const Field* b) {
        return a->dataIndexMin < b->dataIndexMin;
    });
    std::vector<Group> groups;
    for (const Field* field : ordered) {
        if (!groups.empty() && JoinsBelow(*groups.back().fields.front(), *field)) {
            Group& group = groups.back();
            group.fields.insert(group.fields.begin(), field);
            group.bit = field->bit;
            group.count = static_cast<uint16_t>(group.count + field->reportCount);
            continue;
        }
        groups.push_back({{field}, field->bit, field->reportCount, field->dataIndexMin});
    }
    return groups;
}

// Where the innermost collection is `node` while the descriptor is written: after each
// collection opens, and after each of its children closes.
struct Step {
    enum class Kind { Open, Close, Segment } kind;
    uint16_t node;
};

bool Plan(const std::vector<LinkNode>& nodes, std::vector<Step>& plan, std::string& error) {
    if (nodes.empty()) {
        error = "no link collection";
        return false;
    }
    std::vector<uint16_t> open = {0};
    plan = {{Step::Kind::Open, 0}, {Step::Kind::Segment, 0}};
    for (size_t i = 1; i < nodes.size(); ++i) {
        const uint16_t parent = nodes[i].parent;
        while (!open.empty() && open.back() != parent) {
            plan.push_back({Step::Kind::Close, open.back()});
            open.pop_back();
            if (!open.empty()) {
                plan.push_back({Step::Kind::Segment, open.back()});
            }
        }
        if (open.empty()) {
            error = "link collection " + std::to_string(i) + " has parent " +
                    std::to_string(parent) + ", which is not open where it starts";
            return false;
        }
        open.push_back(static_cast<uint16_t>(i));
        plan.push_back({Step::Kind::Open, static_cast<uint16_t>(i)});
        plan.push_back({Step::Kind::Segment, static_cast<uint16_t>(i)});
    }
    while (!open.empty()) {
        plan.push_back({Step::Kind::Close, open.back()});
        open.pop_back();
        if (!open.empty()) {
            plan.push_back({Step::Kind::Segment, open.back()});
        }
    }
    return true;
}

// The global items written so far, so that only changes are written.
struct Globals {
    uint32_t usagePage = 0;
    int32_t logicalMin = 0;
    int32_t logicalMax = 0;
    int32_t physicalMin = 0;
    int32_t physicalMax = 0;
    uint32_t unitsExp = 0;
    uint32_t units = 0;
    uint32_t reportSize = 0;
    uint32_t reportId = 0;
    uint32_t reportCount = 0;
};

class Writer {
public:
    Writer(std::vector<Item>& out, bool ids) : items(out), reportIds(ids) {}

    void Open(const LinkNode& node) {
        SetUnsigned(GlobalUsagePage, node.usagePage, globals.usagePage);
        items.push_back(Unsigned(LocalUsage, node.usage, depth));
        items.push_back({MainCollection, node.type, 1, depth});
        ++depth;
    }
    void Close() {
        --depth;
        items.push_back({MainEndCollection, 0, 0, depth});
    }

    void Padding(ReportKind kind, uint8_t id, uint32_t bits) {
        SetId(id);
        const bool bytes = bits % 8 == 0;
        SetUnsigned(GlobalReportSize, bytes ? 8 : 1, globals.reportSize);
        SetUnsigned(GlobalReportCount, bytes ? bits / 8 : bits, globals.reportCount);
        items.push_back({MainTag(kind), PaddingFlags, 1, depth});
    }

    void Main(const Group& group) {
        const Field& first = *group.fields.front();
        SetId(first.reportId);
        SetUnsigned(GlobalUsagePage, first.usagePage, globals.usagePage);
        if (first.isButton) {
            // The parser keeps no range for a button; a bit that is on or off reads 0..1.
            SetSigned(GlobalLogicalMin, 0, globals.logicalMin);
            SetSigned(GlobalLogicalMax, 1, globals.logicalMax);
        } else {
            SetSigned(GlobalLogicalMin, first.logicalMin, globals.logicalMin);
            SetSigned(GlobalLogicalMax, first.logicalMax, globals.logicalMax);
            SetSigned(GlobalPhysicalMin, first.physicalMin, globals.physicalMin);
            SetSigned(GlobalPhysicalMax, first.physicalMax, globals.physicalMax);
            SetSigned(GlobalUnitExp, static_cast<int32_t>(first.unitsExp), globals.unitsExp);
            SetSigned(GlobalUnit, static_cast<int32_t>(first.units), globals.units);
        }
        SetUnsigned(GlobalReportSize, first.bitSize, globals.reportSize);
        SetUnsigned(GlobalReportCount, group.count, globals.reportCount);
        for (const Field* field : group.fields) {
            if (field->isRange) {
                items.push_back(Unsigned(LocalUsageMin, field->usageMin, depth));
                items.push_back(Unsigned(LocalUsageMax, field->usageMax, depth));
            } else if (field->usagePage != globals.usagePage) {
                // A usage of another page in the same item: the page in the usage's high word.
                items.push_back({LocalUsage,
                                 static_cast<uint32_t>(field->usagePage) << 16 | field->usageMin, 4,
                                 depth});
            } else {
                items.push_back(Unsigned(LocalUsage, field->usageMin, depth));
            }
        }
        if (first.isStringRange) {
            items.push_back(Unsigned(LocalStringMin, first.stringMin, depth));
            items.push_back(Unsigned(LocalStringMax, first.stringMax, depth));
        } else if (first.stringMin != 0) {
            items.push_back(Unsigned(LocalString, first.stringMin, depth));
        }
        if (first.isDesignatorRange) {
            items.push_back(Unsigned(LocalDesignatorMin, first.designatorMin, depth));
            items.push_back(Unsigned(LocalDesignatorMax, first.designatorMax, depth));
        } else if (first.designatorMin != 0) {
            items.push_back(Unsigned(LocalDesignator, first.designatorMin, depth));
        }
        items.push_back(Unsigned(MainTag(first.kind), first.bitField, depth));
    }

private:
    void SetId(uint8_t id) {
        if (reportIds) {
            SetUnsigned(GlobalReportId, id, globals.reportId);
        }
    }
    void SetUnsigned(uint8_t tag, uint32_t value, uint32_t& current) {
        const bool first = !Seen(tag);
        if (first || value != current) {
            items.push_back(Unsigned(tag, value, depth));
            current = value;
        }
    }
    void SetSigned(uint8_t tag, int32_t value, int32_t& current) {
        if (value != current) {
            items.push_back(Signed(tag, value, depth));
            current = value;
        }
    }
    void SetSigned(uint8_t tag, int32_t value, uint32_t& current) {
        if (static_cast<uint32_t>(value) != current) {
            items.push_back(Signed(tag, value, depth));
            current = static_cast<uint32_t>(value);
        }
    }
    // Report Size and Count have no value before they are written; the others start at 0.
    bool Seen(uint8_t tag) {
        if (tag != GlobalReportSize && tag != GlobalReportCount && tag != GlobalUsagePage) {
            return true;
        }
        const bool seen = std::find(seenTags.begin(), seenTags.end(), tag) != seenTags.end();
        if (!seen) {
            seenTags.push_back(tag);
        }
        return seen;
    }

    std::vector<Item>& items;
    bool reportIds;
    Globals globals;
    std::vector<uint8_t> seenTags;
    int depth = 0;
};

// --- reading a descriptor ---------------------------------------------------------------------

struct ParseGlobals {
    uint32_t usagePage = 0;
    int32_t logicalMin = 0;
    int32_t logicalMax = 0;
    int32_t physicalMin = 0;
    int32_t physicalMax = 0;
    uint32_t unitsExp = 0;
    uint32_t units = 0;
    uint32_t reportSize = 0;
    uint32_t reportId = 0;
    uint32_t reportCount = 0;
};

struct UsageEntry {
    uint16_t page = 0;
    uint16_t min = 0;
    uint16_t max = 0;
    bool isRange = false;
};

struct ParseLocals {
    std::vector<UsageEntry> usages;
    bool rangeOpen = false;
    bool isStringRange = false;
    uint16_t stringMin = 0;
    uint16_t stringMax = 0;
    bool isDesignatorRange = false;
    uint16_t designatorMin = 0;
    uint16_t designatorMax = 0;
};

std::string ItemName(const Item& item) {
    const auto value = [&] { return std::to_string(item.data); };
    const auto hexValue = [&] { return "0x" + Hex(item.data, item.size > 1 ? 4 : 2); };
    const auto signedValue = [&] {
        int32_t v = static_cast<int32_t>(item.data);
        if (item.size == 1) {
            v = static_cast<int32_t>((item.data & 0xFF) ^ 0x80) - 0x80;
        } else if (item.size == 2) {
            v = static_cast<int16_t>(item.data & 0xFFFF);
        }
        return std::to_string(v);
    };
    const auto flags = [&](const char* name) {
        std::string text = std::string(name) + " (";
        text += (item.data & FlagConstant) != 0 ? "Constant" : "Data";
        text += (item.data & FlagVariable) != 0 ? ", Variable" : ", Array";
        text += (item.data & 0x04) != 0 ? ", Relative" : ", Absolute";
        static constexpr std::pair<uint32_t, const char*> More[] = {
            {0x08, ", Wrap"},       {0x10, ", Non Linear"}, {0x20, ", No Preferred"},
            {0x40, ", Null State"}, {0x80, ", Volatile"},   {0x100, ", Buffered Bytes"}};
        for (const auto& [bit, word] : More) {
            if ((item.data & bit) != 0) {
                text += word;
            }
        }
        return text + ")";
    };
    switch (item.tag) {
    case MainInput:
        return flags("Input");
    case MainOutput:
        return flags("Output");
    case MainFeature:
        return flags("Feature");
    case MainCollection: {
        static constexpr const char* Types[] = {"Physical",      "Application", "Logical",
                                                "Report",        "Named Array", "Usage Switch",
                                                "Usage Modifier"};
        return std::string("Collection (") + (item.data < 7 ? Types[item.data] : value().c_str()) +
               ")";
    }
    case MainEndCollection:
        return "End Collection";
    case GlobalUsagePage:
        return "Usage Page (" + hexValue() + ")";
    case GlobalLogicalMin:
        return "Logical Minimum (" + signedValue() + ")";
    case GlobalLogicalMax:
        return "Logical Maximum (" + signedValue() + ")";
    case GlobalPhysicalMin:
        return "Physical Minimum (" + signedValue() + ")";
    case GlobalPhysicalMax:
        return "Physical Maximum (" + signedValue() + ")";
    case GlobalUnitExp:
        return "Unit Exponent (" + signedValue() + ")";
    case GlobalUnit:
        return "Unit (" + hexValue() + ")";
    case GlobalReportSize:
        return "Report Size (" + value() + ")";
    case GlobalReportId:
        return "Report ID (" + value() + ")";
    case GlobalReportCount:
        return "Report Count (" + value() + ")";
    case LocalUsage:
        return "Usage (" + hexValue() + ")";
    case LocalUsageMin:
        return "Usage Minimum (" + hexValue() + ")";
    case LocalUsageMax:
        return "Usage Maximum (" + hexValue() + ")";
    case LocalString:
        return "String Index (" + value() + ")";
    case LocalStringMin:
        return "String Minimum (" + value() + ")";
    case LocalStringMax:
        return "String Maximum (" + value() + ")";
    case LocalDesignator:
        return "Designator Index (" + value() + ")";
    case LocalDesignatorMin:
        return "Designator Minimum (" + value() + ")";
    case LocalDesignatorMax:
        return "Designator Maximum (" + value() + ")";
    default:
        return "item 0x" + Hex(item.tag, 2);
    }
}

std::string Printable(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            c = '?';
        }
    }
    return out;
}

std::string Describe(const Field& field) {
    return std::string(KindName(field.kind)) + " report " + std::to_string(field.reportId) +
           ", usage " + Hex(field.usagePage, 2) + ":" + Hex(field.usageMin, 2) +
           (field.isRange ? "-" + Hex(field.usageMax, 2) : "") + ", collection " +
           std::to_string(field.link);
}

} // namespace

void Canonical(ParsedCollection& collection) {
    std::stable_sort(
        collection.fields.begin(), collection.fields.end(), [](const Field& a, const Field& b) {
            return a.kind != b.kind ? a.kind < b.kind : a.dataIndexMin < b.dataIndexMin;
        });
}

bool BuildItems(const ParsedCollection& collection, std::vector<Item>& items, std::string& error) {
    items.clear();
    std::vector<Step> plan;
    if (!Plan(collection.nodes, plan, error)) {
        return false;
    }
    bool withIds = false;
    bool withoutIds = false;
    for (const Field& field : collection.fields) {
        withIds = withIds || field.reportId != 0;
        withoutIds = withoutIds || field.reportId == 0;
        if (field.link >= collection.nodes.size()) {
            error = "a field of link collection " + std::to_string(field.link) + " of " +
                    std::to_string(collection.nodes.size());
            return false;
        }
        if (field.bitSize == 0 || field.reportCount == 0 || field.bit < 8) {
            error = "a field with no bits, or in the report id's byte: " + Describe(field);
            return false;
        }
    }
    if (withIds && withoutIds) {
        error = "reports with and without report ids";
        return false;
    }

    // Each main item to the last place, before the one after it of its kind, where its
    // collection is the innermost: a collection's own fields after its children, as
    // descriptors mostly have them.
    std::vector<std::vector<const Group*>> atSegment(plan.size());
    std::vector<Group> groups[ReportKinds];
    for (size_t k = 0; k < ReportKinds; ++k) {
        groups[k] = Groups(collection.fields, static_cast<ReportKind>(k));
        size_t end = plan.size(); // the places before it are free
        for (auto group = groups[k].rbegin(); group != groups[k].rend(); ++group) {
            const uint16_t link = group->fields.front()->link;
            while (end > 0 &&
                   (plan[end - 1].kind != Step::Kind::Segment || plan[end - 1].node != link)) {
                --end;
            }
            if (end == 0) {
                error =
                    "a field out of its collection's place: " + Describe(*group->fields.front());
                return false;
            }
            atSegment[end - 1].insert(atSegment[end - 1].begin(), &*group);
        }
    }

    // Where each report has got to: (kind, id) -> bits written, its id byte's included.
    std::map<std::pair<size_t, uint8_t>, uint32_t> reached;
    Writer writer(items, withIds);
    size_t lastSegment = 0;
    for (size_t s = 0; s < plan.size(); ++s) {
        if (plan[s].kind == Step::Kind::Segment) {
            lastSegment = s;
        }
    }
    for (size_t s = 0; s < plan.size(); ++s) {
        const Step& step = plan[s];
        if (step.kind == Step::Kind::Open) {
            writer.Open(collection.nodes[step.node]);
            continue;
        }
        if (step.kind == Step::Kind::Close) {
            writer.Close();
            continue;
        }
        for (const Group* group : atSegment[s]) {
            const Field& first = *group->fields.front();
            uint32_t& at =
                reached.try_emplace({KindIndex(first.kind), first.reportId}, 8).first->second;
            if (group->bit < at) {
                error = "fields overlap or run backwards at bit " + std::to_string(group->bit) +
                        ": " + Describe(first);
                return false;
            }
            if (group->bit > at) {
                writer.Padding(first.kind, first.reportId, group->bit - at);
            }
            writer.Main(*group);
            at = group->bit + static_cast<uint32_t>(group->count) * first.bitSize;
        }
        if (s != lastSegment) {
            continue;
        }
        // Every input report at the longest's length; of the other kinds the longest one
        // made as long as the collection says.
        for (size_t k = 0; k < ReportKinds; ++k) {
            const uint32_t length = static_cast<uint32_t>(collection.reportBytes[k]) * 8;
            uint32_t longest = 0;
            std::pair<size_t, uint8_t> longestReport = {k, 0};
            for (const auto& [report, bits] : reached) {
                if (report.first == k && (bits + 7) / 8 * 8 > longest) {
                    longest = (bits + 7) / 8 * 8;
                    longestReport = report;
                }
            }
            if (longest > length) {
                error = std::string(KindName(static_cast<ReportKind>(k))) + " report " +
                        std::to_string(longestReport.second) + " has " +
                        std::to_string(longest / 8) + " bytes where the longest has " +
                        std::to_string(length / 8);
                return false;
            }
            for (const auto& [report, bits] : reached) {
                const bool pad = report.first == k &&
                                 (k == KindIndex(ReportKind::Input) || report == longestReport);
                if (pad && bits < length) {
                    writer.Padding(static_cast<ReportKind>(k), report.second, length - bits);
                }
            }
        }
    }
    return true;
}

Bytes ItemBytes(const std::vector<Item>& items) {
    Bytes bytes;
    for (const Item& item : items) {
        const uint8_t sizeCode = item.size == 4 ? 3 : item.size;
        bytes.push_back(static_cast<uint8_t>(item.tag | sizeCode));
        for (uint8_t i = 0; i < item.size; ++i) {
            bytes.push_back(static_cast<uint8_t>(item.data >> (8 * i)));
        }
    }
    return bytes;
}

std::string DescriptorFile(const std::vector<Item>& items, const ParsedCollection& collection,
                           const DescriptorHeader& header) {
    const LinkNode top = collection.nodes.empty() ? LinkNode{} : collection.nodes.front();
    std::string text;
    text += "# The report descriptor of one HID collection, rebuilt by velptp " +
            Printable(header.velptpVersion) + " from what\n";
    text += "# Windows' HID parser holds of it (docs/virtual-touchpad.md).\n";
    text += "# product: " + Printable(header.product) + "\n";
    text += "# vendor 0x" + Hex(header.vendorId, 4) + ", product 0x" + Hex(header.productId, 4) +
            ", version 0x" + Hex(header.versionNumber, 4) + "\n";
    text += "# collection: usage page 0x" + Hex(top.usagePage, 2) + ", usage 0x" +
            Hex(top.usage, 2) + "\n";
    text += "# recorded: " + Printable(header.date) + "\n";
    for (const Item& item : items) {
        const Bytes bytes = ItemBytes({item});
        std::string line;
        for (uint8_t byte : bytes) {
            line += Hex(byte, 2) + " ";
        }
        line.resize(std::max<size_t>(line.size(), 16), ' ');
        text += line + "# " + std::string(static_cast<size_t>(item.depth) * 2, ' ') +
                ItemName(item) + "\n";
    }
    return text;
}

bool ReadDescriptor(const Bytes& descriptor, ParsedCollection& out, std::string& error) {
    out = ParsedCollection{};
    ParseGlobals globals;
    std::vector<ParseGlobals> pushed;
    ParseLocals locals;
    std::vector<uint16_t> open;
    std::map<std::pair<size_t, uint32_t>, uint32_t> bits;
    uint16_t dataIndex[ReportKinds] = {};
    for (size_t at = 0; at < descriptor.size();) {
        const uint8_t prefix = descriptor[at];
        if (prefix == LongItem) {
            error = "a long item at byte " + std::to_string(at);
            return false;
        }
        static constexpr size_t Sizes[4] = {0, 1, 2, 4};
        const size_t size = Sizes[prefix & 3];
        if (at + 1 + size > descriptor.size()) {
            error = "the item at byte " + std::to_string(at) + " runs past the end";
            return false;
        }
        uint32_t data = 0;
        for (size_t i = 0; i < size; ++i) {
            data |= static_cast<uint32_t>(descriptor[at + 1 + i]) << (8 * i);
        }
        int32_t signedData = static_cast<int32_t>(data);
        if (size == 1) {
            signedData = static_cast<int32_t>(data ^ 0x80) - 0x80;
        } else if (size == 2) {
            signedData = static_cast<int16_t>(data);
        }
        const size_t itemAt = at;
        at += 1 + size;
        const uint8_t tag = prefix & 0xFC;
        switch (tag) {
        case GlobalUsagePage:
            globals.usagePage = data;
            continue;
        case GlobalLogicalMin:
            globals.logicalMin = signedData;
            continue;
        case GlobalLogicalMax:
            globals.logicalMax = signedData;
            continue;
        case GlobalPhysicalMin:
            globals.physicalMin = signedData;
            continue;
        case GlobalPhysicalMax:
            globals.physicalMax = signedData;
            continue;
        case GlobalUnitExp:
            globals.unitsExp = static_cast<uint32_t>(signedData);
            continue;
        case GlobalUnit:
            globals.units = static_cast<uint32_t>(signedData);
            continue;
        case GlobalReportSize:
            globals.reportSize = data;
            continue;
        case GlobalReportId:
            globals.reportId = data;
            continue;
        case GlobalReportCount:
            globals.reportCount = data;
            continue;
        case GlobalPush:
            pushed.push_back(globals);
            continue;
        case GlobalPop:
            if (pushed.empty()) {
                error = "a Pop without a Push at byte " + std::to_string(itemAt);
                return false;
            }
            globals = pushed.back();
            pushed.pop_back();
            continue;
        case LocalUsage: {
            // A usage after a range starts a new list; a 4-byte usage carries its page.
            if (locals.rangeOpen) {
                locals.usages.clear();
                locals.rangeOpen = false;
            }
            const auto page = static_cast<uint16_t>(
                size == 4 && (data >> 16) != 0 ? data >> 16 : globals.usagePage);
            const auto usage = static_cast<uint16_t>(data & 0xFFFF);
            locals.usages.push_back({page, usage, usage, false});
            continue;
        }
        case LocalUsageMin:
        case LocalUsageMax: {
            if (!locals.rangeOpen) {
                locals.usages = {UsageEntry{}};
                locals.usages[0].isRange = true;
                locals.rangeOpen = true;
            }
            UsageEntry& range = locals.usages[0];
            range.page = static_cast<uint16_t>(size == 4 && (data >> 16) != 0 ? data >> 16
                                                                              : globals.usagePage);
            (tag == LocalUsageMin ? range.min : range.max) = static_cast<uint16_t>(data & 0xFFFF);
            continue;
        }
        case LocalString:
            locals.isStringRange = false;
            locals.stringMin = locals.stringMax = static_cast<uint16_t>(data);
            continue;
        case LocalStringMin:
        case LocalStringMax:
            locals.isStringRange = true;
            (tag == LocalStringMin ? locals.stringMin : locals.stringMax) =
                static_cast<uint16_t>(data);
            continue;
        case LocalDesignator:
            locals.isDesignatorRange = false;
            locals.designatorMin = locals.designatorMax = static_cast<uint16_t>(data);
            continue;
        case LocalDesignatorMin:
        case LocalDesignatorMax:
            locals.isDesignatorRange = true;
            (tag == LocalDesignatorMin ? locals.designatorMin : locals.designatorMax) =
                static_cast<uint16_t>(data);
            continue;
        case LocalDelimiter:
            error = "a delimiter at byte " + std::to_string(itemAt) + ": not supported";
            return false;
        case MainCollection: {
            if (open.empty() && !out.nodes.empty()) {
                error = "a second top-level collection at byte " + std::to_string(itemAt);
                return false;
            }
            LinkNode node;
            node.usagePage = static_cast<uint16_t>(globals.usagePage);
            node.usage = locals.usages.empty() ? 0 : locals.usages.front().min;
            node.parent = open.empty() ? 0 : open.back();
            node.type = static_cast<uint8_t>(data);
            open.push_back(static_cast<uint16_t>(out.nodes.size()));
            out.nodes.push_back(node);
            locals = ParseLocals{};
            continue;
        }
        case MainEndCollection:
            if (open.empty()) {
                error = "an End Collection without a Collection at byte " + std::to_string(itemAt);
                return false;
            }
            open.pop_back();
            locals = ParseLocals{};
            continue;
        case MainInput:
        case MainOutput:
        case MainFeature:
            break;
        default:
            continue; // reserved items are skipped, as the parser does
        }

        const ReportKind kind = tag == MainInput    ? ReportKind::Input
                                : tag == MainOutput ? ReportKind::Output
                                                    : ReportKind::Feature;
        const size_t k = KindIndex(kind);
        uint32_t& reached = bits.try_emplace({k, globals.reportId}, 8).first->second;
        const uint32_t start = reached;
        reached += globals.reportSize * globals.reportCount;
        out.reportBytes[k] =
            std::max<uint16_t>(out.reportBytes[k], static_cast<uint16_t>((reached + 7) / 8));
        const ParseLocals item = std::move(locals);
        locals = ParseLocals{};
        if (globals.reportCount == 0 || item.usages.empty()) {
            continue; // padding: no capability
        }
        if ((data & FlagVariable) == 0) {
            error =
                "an array (a list of keys) at byte " + std::to_string(itemAt) + ": not supported";
            return false;
        }
        Field field;
        field.kind = kind;
        field.reportId = static_cast<uint8_t>(globals.reportId);
        field.link = open.empty() ? 0 : open.back();
        field.isButton = globals.reportSize == 1;
        field.bitField = static_cast<uint16_t>(data);
        field.isStringRange = item.isStringRange;
        field.stringMin = item.stringMin;
        field.stringMax = item.stringMax;
        field.isDesignatorRange = item.isDesignatorRange;
        field.designatorMin = item.designatorMin;
        field.designatorMax = item.designatorMax;
        if (!field.isButton) {
            field.logicalMin = globals.logicalMin;
            field.logicalMax = globals.logicalMax;
            field.physicalMin = globals.physicalMin;
            field.physicalMax = globals.physicalMax;
            field.units = globals.units;
            field.unitsExp = globals.unitsExp;
        }
        field.bitSize = static_cast<uint16_t>(globals.reportSize);
        if (item.usages.front().isRange) {
            const UsageEntry& range = item.usages.front();
            field.isRange = true;
            field.usagePage = range.page;
            field.usageMin = range.min;
            field.usageMax = range.max;
            field.reportCount = static_cast<uint16_t>(range.max - range.min + 1);
            field.bit = start;
            field.dataIndexMin = dataIndex[k];
            field.dataIndexMax = static_cast<uint16_t>(dataIndex[k] + field.reportCount - 1);
            dataIndex[k] = static_cast<uint16_t>(field.dataIndexMax + 1);
            if (range.min != 0 || range.max != 0) {
                out.fields.push_back(field);
            }
            continue;
        }
        // Usages beyond the count have no field; the last usage takes what remains of it. The
        // parser lists them last to first, each with the next data index.
        const size_t n = std::min<size_t>(item.usages.size(), globals.reportCount);
        for (size_t i = n; i-- > 0;) {
            const UsageEntry& usage = item.usages[i];
            if (usage.min == 0) {
                continue; // usage 0 names nothing: its bits are as padding
            }
            Field one = field;
            one.usagePage = usage.page;
            one.usageMin = one.usageMax = usage.min;
            one.reportCount = static_cast<uint16_t>(i + 1 == n ? globals.reportCount - (n - 1) : 1);
            one.bit = start + static_cast<uint32_t>(i) * globals.reportSize;
            one.dataIndexMin = one.dataIndexMax = dataIndex[k]++;
            out.fields.push_back(one);
        }
    }
    if (!open.empty()) {
        error = "a Collection without its End Collection";
        return false;
    }
    if (out.nodes.empty()) {
        error = "no collection";
        return false;
    }
    Canonical(out);
    return true;
}

std::string FirstDifference(const ParsedCollection& expected, const ParsedCollection& actual) {
    if (expected.nodes.size() != actual.nodes.size()) {
        return std::to_string(expected.nodes.size()) + " link collections against " +
               std::to_string(actual.nodes.size());
    }
    for (size_t i = 0; i < expected.nodes.size(); ++i) {
        const LinkNode& a = expected.nodes[i];
        const LinkNode& b = actual.nodes[i];
        if (!(a == b)) {
            return "link collection " + std::to_string(i) + ": usage " + Hex(a.usagePage, 2) + ":" +
                   Hex(a.usage, 2) + " parent " + std::to_string(a.parent) + " type " +
                   std::to_string(a.type) + " against " + Hex(b.usagePage, 2) + ":" +
                   Hex(b.usage, 2) + " parent " + std::to_string(b.parent) + " type " +
                   std::to_string(b.type);
        }
    }
    for (size_t k = 0; k < ReportKinds; ++k) {
        if (expected.reportBytes[k] != actual.reportBytes[k]) {
            return std::string("the longest ") + KindName(static_cast<ReportKind>(k)) +
                   " report: " + std::to_string(expected.reportBytes[k]) + " bytes against " +
                   std::to_string(actual.reportBytes[k]);
        }
    }
    if (expected.fields.size() != actual.fields.size()) {
        return std::to_string(expected.fields.size()) + " fields against " +
               std::to_string(actual.fields.size());
    }
    for (size_t i = 0; i < expected.fields.size(); ++i) {
        const Field& a = expected.fields[i];
        const Field& b = actual.fields[i];
        if (a == b) {
            continue;
        }
        const std::string where = "field " + std::to_string(i) + " (" + Describe(a) + "): ";
        const auto differ = [&](const char* what, int64_t x, int64_t y) {
            return where + what + " " + std::to_string(x) + " against " + std::to_string(y);
        };
        if (a.bit != b.bit) {
            return differ("bit", a.bit, b.bit);
        }
        if (a.bitSize != b.bitSize || a.reportCount != b.reportCount) {
            return differ("bits", FieldBits(a), FieldBits(b));
        }
        if (a.dataIndexMin != b.dataIndexMin) {
            return differ("data index", a.dataIndexMin, b.dataIndexMin);
        }
        if (a.logicalMin != b.logicalMin || a.logicalMax != b.logicalMax) {
            return differ("logical maximum", a.logicalMax, b.logicalMax) + " (minimum " +
                   std::to_string(a.logicalMin) + " against " + std::to_string(b.logicalMin) + ")";
        }
        if (a.physicalMin != b.physicalMin || a.physicalMax != b.physicalMax) {
            return differ("physical maximum", a.physicalMax, b.physicalMax);
        }
        if (a.units != b.units || a.unitsExp != b.unitsExp) {
            return differ("units", a.units, b.units) + " (exponent " + std::to_string(a.unitsExp) +
                   " against " + std::to_string(b.unitsExp) + ")";
        }
        return where + "differs against " + Describe(b) + " (flags " + std::to_string(a.bitField) +
               " against " + std::to_string(b.bitField) + ")";
    }
    return {};
}

} // namespace ptp::hid
