#include "preparsed_reader.h"

// MinGW's header of the HID parser needs NTSTATUS and USAGE declared before it, and declares
// its functions without C linkage.
#include <winternl.h>
#include <hidusage.h>
extern "C" {
#include <hidpi.h>
}

#include <cstdio>
#include <vector>

namespace {

using ptp::hid::Field;
using ptp::hid::ParsedCollection;
using ptp::hid::ReportKind;

PHIDP_PREPARSED_DATA Data(const void* preparsed) {
    // The parser takes the data by a non-const pointer but does not write it.
    return static_cast<PHIDP_PREPARSED_DATA>(const_cast<void*>(preparsed));
}

HIDP_REPORT_TYPE Type(ReportKind kind) {
    return kind == ReportKind::Input    ? HidP_Input
           : kind == ReportKind::Output ? HidP_Output
                                        : HidP_Feature;
}

uint32_t Ones(uint16_t bits) {
    return bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1;
}

bool On(const std::vector<char>& report, uint32_t bit) {
    return ((static_cast<uint8_t>(report[bit / 8]) >> (bit % 8)) & 1) != 0;
}

std::string Name(const Field& f) {
    char text[96];
    std::snprintf(text, sizeof text, "%s report %u, usage %02X:%02X, collection %u",
                  f.kind == ReportKind::Input    ? "input"
                  : f.kind == ReportKind::Output ? "output"
                                                 : "feature",
                  f.reportId, f.usagePage, f.usageMin, f.link);
    return text;
}

// Reads one kind's capabilities; their bits are found later.
class Reader {
public:
    Reader(PHIDP_PREPARSED_DATA data, ParsedCollection& model) : preparsed(data), out(model) {}

    bool Capabilities(ReportKind kind, USHORT values, USHORT buttons, std::string& error) {
        std::vector<HIDP_VALUE_CAPS> valueCaps(values);
        if (values != 0 && HidP_GetValueCaps(Type(kind), valueCaps.data(), &values, preparsed) !=
                               HIDP_STATUS_SUCCESS) {
            error = "HidP_GetValueCaps failed";
            return false;
        }
        for (USHORT i = 0; i < values; ++i) {
            const HIDP_VALUE_CAPS& v = valueCaps[i];
            if (v.IsAlias) {
                error = "an aliased usage: not supported";
                return false;
            }
            Field f = Common(kind, v.UsagePage, v.ReportID, v.LinkCollection, v.BitField, v.IsRange,
                             v.IsStringRange, v.IsDesignatorRange);
            Usages(f, v.IsRange != 0, v.Range.UsageMin, v.Range.UsageMax, v.NotRange.Usage,
                   v.Range.DataIndexMin, v.Range.DataIndexMax, v.NotRange.DataIndex);
            Strings(f, v.Range.StringMin, v.Range.StringMax, v.NotRange.StringIndex,
                    v.Range.DesignatorMin, v.Range.DesignatorMax, v.NotRange.DesignatorIndex);
            f.logicalMin = v.LogicalMin;
            f.logicalMax = v.LogicalMax;
            f.physicalMin = v.PhysicalMin;
            f.physicalMax = v.PhysicalMax;
            f.units = v.Units;
            f.unitsExp = v.UnitsExp;
            f.bitSize = v.BitSize;
            // A range is one field a usage; the parser gives it a count of 1.
            f.reportCount =
                f.isRange ? static_cast<uint16_t>(f.usageMax - f.usageMin + 1) : v.ReportCount;
            out.fields.push_back(f);
        }
        std::vector<HIDP_BUTTON_CAPS> buttonCaps(buttons);
        if (buttons != 0 && HidP_GetButtonCaps(Type(kind), buttonCaps.data(), &buttons,
                                               preparsed) != HIDP_STATUS_SUCCESS) {
            error = "HidP_GetButtonCaps failed";
            return false;
        }
        for (USHORT i = 0; i < buttons; ++i) {
            const HIDP_BUTTON_CAPS& b = buttonCaps[i];
            if (b.IsAlias) {
                error = "an aliased usage: not supported";
                return false;
            }
            if ((b.BitField & 0x02) == 0) {
                error = "an array (a list of keys or buttons by number): not supported";
                return false;
            }
            Field f = Common(kind, b.UsagePage, b.ReportID, b.LinkCollection, b.BitField, b.IsRange,
                             b.IsStringRange, b.IsDesignatorRange);
            f.isButton = true;
            Usages(f, b.IsRange != 0, b.Range.UsageMin, b.Range.UsageMax, b.NotRange.Usage,
                   b.Range.DataIndexMin, b.Range.DataIndexMax, b.NotRange.DataIndex);
            Strings(f, b.Range.StringMin, b.Range.StringMax, b.NotRange.StringIndex,
                    b.Range.DesignatorMin, b.Range.DesignatorMax, b.NotRange.DesignatorIndex);
            f.bitSize = 1;
            f.reportCount = static_cast<uint16_t>(f.usageMax - f.usageMin + 1);
            out.fields.push_back(f);
        }
        return true;
    }

    // Where each field of the model is, by writing it and, where that is not certain, by
    // reading each bit.
    bool Bits(std::string& error) {
        for (Field& f : out.fields) {
            if (!f.isButton && f.bitSize > 32 && (f.isRange || f.reportCount == 1)) {
                error = "a value of " + std::to_string(f.bitSize) + " bits: " + Name(f);
                return false;
            }
            const bool written = ByWriting(f);
            if (written && Confirmed(f)) {
                continue;
            }
            if (!Readable(f) || !ByReading(f) || !Confirmed(f)) {
                error = "the bits of a field cannot be found: " + Name(f);
                return false;
            }
        }
        return true;
    }

private:
    Field Common(ReportKind kind, USAGE page, UCHAR id, USHORT link, USHORT bitField,
                 BOOLEAN isRange, BOOLEAN isStringRange, BOOLEAN isDesignatorRange) const {
        Field f;
        f.kind = kind;
        f.usagePage = page;
        f.reportId = id;
        f.link = link;
        f.bitField = bitField;
        f.isRange = isRange != 0;
        f.isStringRange = isStringRange != 0;
        f.isDesignatorRange = isDesignatorRange != 0;
        return f;
    }
    static void Usages(Field& f, bool isRange, USAGE min, USAGE max, USAGE usage, USHORT indexMin,
                       USHORT indexMax, USHORT index) {
        f.usageMin = isRange ? min : usage;
        f.usageMax = isRange ? max : usage;
        f.dataIndexMin = isRange ? indexMin : index;
        f.dataIndexMax = isRange ? indexMax : index;
    }
    static void Strings(Field& f, USHORT stringMin, USHORT stringMax, USHORT string,
                        USHORT designatorMin, USHORT designatorMax, USHORT designator) {
        f.stringMin = f.isStringRange ? stringMin : string;
        f.stringMax = f.isStringRange ? stringMax : string;
        f.designatorMin = f.isDesignatorRange ? designatorMin : designator;
        f.designatorMax = f.isDesignatorRange ? designatorMax : designator;
    }

    std::vector<char> Zeroed(const Field& f) const {
        std::vector<char> report(out.reportBytes[static_cast<size_t>(f.kind)], 0);
        if (!report.empty()) {
            report[0] = static_cast<char>(f.reportId);
        }
        return report;
    }

    // The bits of one usage: each usage of a range apart, or the whole of a value array.
    uint32_t UsageBits(const Field& f) const {
        return f.isButton || f.isRange ? f.bitSize : ptp::hid::FieldBits(f);
    }

    bool Write(const Field& f, USAGE usage, std::vector<char>& report) const {
        report = Zeroed(f);
        const auto length = static_cast<ULONG>(report.size());
        NTSTATUS status = HIDP_STATUS_SUCCESS;
        if (f.isButton) {
            USAGE one = usage;
            ULONG count = 1;
            status = HidP_SetUsages(Type(f.kind), f.usagePage, f.link, &one, &count, preparsed,
                                    report.data(), length);
        } else if (!f.isRange && f.reportCount > 1) {
            std::vector<char> ones((ptp::hid::FieldBits(f) + 7) / 8, static_cast<char>(0xFF));
            status = HidP_SetUsageValueArray(Type(f.kind), f.usagePage, f.link, usage, ones.data(),
                                             static_cast<USHORT>(ones.size()), preparsed,
                                             report.data(), length);
        } else {
            status = HidP_SetUsageValue(Type(f.kind), f.usagePage, f.link, usage, Ones(f.bitSize),
                                        preparsed, report.data(), length);
        }
        return status == HIDP_STATUS_SUCCESS;
    }

    // Each usage written alone in a report of zeros: the one run of bits it set.
    bool ByWriting(Field& f) const {
        const uint32_t width = UsageBits(f);
        std::vector<char> report;
        for (uint32_t u = f.usageMin; u <= f.usageMax; ++u) {
            if (!Write(f, static_cast<USAGE>(u), report)) {
                return false;
            }
            uint32_t first = 0;
            uint32_t count = 0;
            bool ended = false;
            for (uint32_t bit = 8; bit < report.size() * 8; ++bit) {
                if (!On(report, bit)) {
                    ended = ended || count != 0;
                    continue;
                }
                if (ended) {
                    return false; // two runs
                }
                first = count == 0 ? bit : first;
                ++count;
            }
            if (count != width) {
                return false;
            }
            if (u == f.usageMin) {
                f.bit = first;
            } else if (first != f.bit + (u - f.usageMin) * width) {
                return false;
            }
        }
        return true;
    }

    // HidP_GetData reads buttons and values that are not arrays; for a range of values this
    // parser may give no data.
    static bool Readable(const Field& f) {
        return f.isButton || (!f.isRange && f.reportCount == 1);
    }

    std::vector<HIDP_DATA> Read(const Field& f, std::vector<char>& report) const {
        ULONG count = HidP_MaxDataListLength(Type(f.kind), preparsed);
        std::vector<HIDP_DATA> data(count);
        if (HidP_GetData(Type(f.kind), data.data(), &count, preparsed, report.data(),
                         static_cast<ULONG>(report.size())) != HIDP_STATUS_SUCCESS) {
            return {};
        }
        data.resize(count);
        return data;
    }

    // A report with only the field's bits set reads as the field at its full value, and as
    // nothing else.
    bool Confirmed(const Field& f) const {
        if (!Readable(f)) {
            return true; // its own usages placed it; overlaps show when the descriptor is made
        }
        std::vector<char> report = Zeroed(f);
        for (uint32_t bit = f.bit; bit < f.bit + ptp::hid::FieldBits(f); ++bit) {
            if (bit / 8 >= report.size()) {
                return false;
            }
            report[bit / 8] = static_cast<char>(report[bit / 8] | (1 << (bit % 8)));
        }
        size_t seen = 0;
        for (const HIDP_DATA& d : Read(f, report)) {
            const bool mine = d.DataIndex >= f.dataIndexMin && d.DataIndex <= f.dataIndexMax;
            if (!mine && d.RawValue != 0) {
                return false;
            }
            if (mine) {
                ++seen;
                if (f.isButton ? d.On == 0 : d.RawValue != Ones(f.bitSize)) {
                    return false;
                }
            }
        }
        return seen == static_cast<size_t>(f.dataIndexMax) - f.dataIndexMin + 1;
    }

    // Each bit of the report alone: which of the field's data indices reads it, and as which
    // bit of its value.
    bool ByReading(Field& f) const {
        std::vector<uint32_t> starts(f.dataIndexMax - f.dataIndexMin + 1, 0);
        std::vector<bool> found(starts.size(), false);
        const size_t bits = Zeroed(f).size() * 8;
        for (uint32_t bit = 8; bit < bits; ++bit) {
            std::vector<char> report = Zeroed(f);
            report[bit / 8] = static_cast<char>(1 << (bit % 8));
            for (const HIDP_DATA& d : Read(f, report)) {
                if (d.DataIndex < f.dataIndexMin || d.DataIndex > f.dataIndexMax ||
                    d.RawValue == 0) {
                    continue;
                }
                const size_t i = d.DataIndex - f.dataIndexMin;
                uint32_t shift = 0;
                if (!f.isButton) {
                    while (shift < 32 && (d.RawValue >> shift) != 1) {
                        ++shift;
                    }
                }
                if (shift > bit || (found[i] && starts[i] != bit - shift)) {
                    return false;
                }
                starts[i] = bit - shift;
                found[i] = true;
            }
        }
        for (size_t i = 0; i < starts.size(); ++i) {
            if (!found[i] || starts[i] != starts[0] + i) {
                return false;
            }
        }
        f.bit = starts[0];
        return true;
    }

    PHIDP_PREPARSED_DATA preparsed;
    ParsedCollection& out;
};

} // namespace

bool ReadPreparsed(const void* preparsed, ptp::hid::ParsedCollection& out, std::string& error) {
    out = ParsedCollection{};
    HIDP_CAPS caps = {};
    if (preparsed == nullptr || HidP_GetCaps(Data(preparsed), &caps) != HIDP_STATUS_SUCCESS) {
        error = "not the HID parser's data";
        return false;
    }
    ULONG count = caps.NumberLinkCollectionNodes;
    std::vector<HIDP_LINK_COLLECTION_NODE> nodes(count);
    if (count == 0 ||
        HidP_GetLinkCollectionNodes(nodes.data(), &count, Data(preparsed)) != HIDP_STATUS_SUCCESS) {
        error = "its link collections cannot be read";
        return false;
    }
    for (ULONG i = 0; i < count; ++i) {
        if (nodes[i].IsAlias != 0) {
            error = "an aliased collection: not supported";
            return false;
        }
        out.nodes.push_back({nodes[i].LinkUsagePage, nodes[i].LinkUsage, nodes[i].Parent,
                             static_cast<uint8_t>(nodes[i].CollectionType)});
    }
    out.reportBytes[0] = caps.InputReportByteLength;
    out.reportBytes[1] = caps.OutputReportByteLength;
    out.reportBytes[2] = caps.FeatureReportByteLength;
    Reader reader(Data(preparsed), out);
    if (!reader.Capabilities(ReportKind::Input, caps.NumberInputValueCaps,
                             caps.NumberInputButtonCaps, error) ||
        !reader.Capabilities(ReportKind::Output, caps.NumberOutputValueCaps,
                             caps.NumberOutputButtonCaps, error) ||
        !reader.Capabilities(ReportKind::Feature, caps.NumberFeatureValueCaps,
                             caps.NumberFeatureButtonCaps, error)) {
        return false;
    }
    ptp::hid::Canonical(out);
    return reader.Bits(error);
}
