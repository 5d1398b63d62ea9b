#include "descriptor.h"

#include <algorithm>
#include <array>

namespace vtp {

namespace {

// Item prefixes without their size bits.
constexpr uint8_t MainInput = 0x80;
constexpr uint8_t MainOutput = 0x90;
constexpr uint8_t MainFeature = 0xB0;
constexpr uint8_t MainCollection = 0xA0;
constexpr uint8_t MainEndCollection = 0xC0;
constexpr uint8_t GlobalUsagePage = 0x04;
constexpr uint8_t GlobalReportSize = 0x74;
constexpr uint8_t GlobalReportId = 0x84;
constexpr uint8_t GlobalReportCount = 0x94;
constexpr uint8_t GlobalPush = 0xA4;
constexpr uint8_t GlobalPop = 0xB4;
constexpr uint8_t LocalUsage = 0x08;
constexpr uint8_t LongItem = 0xFE;

struct Item {
    size_t offset = 0;
    size_t length = 0; // prefix and data
    uint8_t tag = 0;   // the prefix without its size bits
    uint32_t data = 0;
    size_t dataBytes = 0;
};

bool NextItem(const Bytes& bytes, size_t at, Item& item, std::string& error) {
    const uint8_t prefix = bytes[at];
    if (prefix == LongItem) {
        error = "a long item at byte " + std::to_string(at) + ": not supported";
        return false;
    }
    static constexpr size_t Sizes[4] = {0, 1, 2, 4};
    item.offset = at;
    item.tag = prefix & 0xFC;
    item.dataBytes = Sizes[prefix & 3];
    item.length = 1 + item.dataBytes;
    if (at + item.length > bytes.size()) {
        error = "the item at byte " + std::to_string(at) + " runs past the descriptor's end";
        return false;
    }
    item.data = 0;
    for (size_t i = 0; i < item.dataBytes; ++i) {
        item.data |= static_cast<uint32_t>(bytes[at + 1 + i]) << (8 * i);
    }
    return true;
}

bool IsGlobal(uint8_t tag) {
    return (tag & 0x0C) == 0x04;
}

// The global items in force: each tag's last item, as its bytes, by tag number.
using Globals = std::array<Bytes, 10>;

void Emit(const Globals& globals, Bytes& out) {
    for (const Bytes& item : globals) {
        out.insert(out.end(), item.begin(), item.end());
    }
}

// What the collection's reports are made of while it is read.
struct ReportTally {
    std::vector<std::pair<uint8_t, size_t>> inputBits;
    std::vector<uint8_t> usedIds;
    std::vector<uint8_t> featureIds;
    // Feature bits by id, and the ids with a field that is no byte of page 0xFF00.
    std::vector<std::pair<uint8_t, size_t>> featureBits;
    std::vector<uint8_t> notVendorBytes;
};

constexpr uint32_t PageVendor = 0xFF00;

void Count(ReportTally& tally, uint8_t tag, uint8_t id, uint32_t page, uint32_t size,
           uint32_t count) {
    if (std::find(tally.usedIds.begin(), tally.usedIds.end(), id) == tally.usedIds.end()) {
        tally.usedIds.push_back(id);
    }
    if (tag == MainFeature) {
        if (std::find(tally.featureIds.begin(), tally.featureIds.end(), id) ==
            tally.featureIds.end()) {
            tally.featureIds.push_back(id);
            tally.featureBits.emplace_back(id, 0);
        }
        for (auto& [featureId, bits] : tally.featureBits) {
            if (featureId == id) {
                bits += static_cast<size_t>(size) * count;
            }
        }
        if (page != PageVendor || size != 8) {
            tally.notVendorBytes.push_back(id);
        }
    }
    if (tag != MainInput) {
        return;
    }
    auto it = std::find_if(tally.inputBits.begin(), tally.inputBits.end(),
                           [id](const auto& entry) { return entry.first == id; });
    if (it == tally.inputBits.end()) {
        tally.inputBits.emplace_back(id, 0);
        it = tally.inputBits.end() - 1;
    }
    it->second += static_cast<size_t>(size) * count;
}

} // namespace

bool ParseHex(std::string_view text, Bytes& out, std::string& error) {
    out.clear();
    int line = 1;
    int high = -1;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '#' || (c == '/' && i + 1 < text.size() && text[i + 1] == '/')) {
            while (i + 1 < text.size() && text[i + 1] != '\n') {
                ++i;
            }
            continue;
        }
        if (c == '\n') {
            ++line;
        }
        if (c == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
            high < 0) {
            ++i;
            continue;
        }
        int digit = -1;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        }
        if (digit >= 0) {
            if (high < 0) {
                high = digit;
            } else {
                out.push_back(static_cast<uint8_t>(high * 16 + digit));
                high = -1;
            }
            continue;
        }
        if (high >= 0) {
            error = "line " + std::to_string(line) + ": a lone hex digit";
            return false;
        }
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n' && c != ',') {
            error = "line " + std::to_string(line) + ": '" + std::string(1, c) + "' is not hex";
            return false;
        }
    }
    if (high >= 0) {
        error = "line " + std::to_string(line) + ": a lone hex digit";
        return false;
    }
    return true;
}

bool SplitCollections(const Bytes& descriptor, std::vector<Collection>& out, std::string& error) {
    out.clear();
    Globals globals;
    std::vector<Globals> stack;
    // The globals where the current top-level collection's items began.
    Globals atStart;
    size_t segmentStart = 0;
    int depth = 0;
    uint32_t lastUsage = 0;
    ReportTally tally;
    Collection current;
    bool anyReportId = false;
    for (size_t at = 0; at < descriptor.size();) {
        Item item;
        if (!NextItem(descriptor, at, item, error)) {
            return false;
        }
        at += item.length;
        const Bytes itemBytes(descriptor.begin() + static_cast<std::ptrdiff_t>(item.offset),
                              descriptor.begin() + static_cast<std::ptrdiff_t>(at));
        if (item.tag == GlobalPush) {
            stack.push_back(globals);
        } else if (item.tag == GlobalPop) {
            if (stack.empty()) {
                error = "a Pop without a Push at byte " + std::to_string(item.offset);
                return false;
            }
            globals = stack.back();
            stack.pop_back();
        } else if (IsGlobal(item.tag) && (item.tag >> 4) < globals.size()) {
            globals[item.tag >> 4] = itemBytes;
            anyReportId = anyReportId || item.tag == GlobalReportId;
        } else if (item.tag == LocalUsage && depth == 0) {
            lastUsage = item.data;
        } else if (item.tag == MainCollection) {
            if (depth == 0) {
                uint32_t page = 0;
                const Bytes& pageItem = globals[GlobalUsagePage >> 4];
                for (size_t i = 1; i < pageItem.size(); ++i) {
                    page |= static_cast<uint32_t>(pageItem[i]) << (8 * (i - 1));
                }
                current.usagePage =
                    static_cast<uint16_t>(lastUsage > 0xFFFF ? lastUsage >> 16 : page);
                current.usage = static_cast<uint16_t>(lastUsage & 0xFFFF);
            }
            ++depth;
        } else if (item.tag == MainEndCollection) {
            if (depth == 0) {
                error =
                    "an End Collection without a Collection at byte " + std::to_string(item.offset);
                return false;
            }
            if (--depth == 0) {
                Emit(atStart, current.descriptor);
                current.descriptor.insert(current.descriptor.end(),
                                          descriptor.begin() +
                                              static_cast<std::ptrdiff_t>(segmentStart),
                                          descriptor.begin() + static_cast<std::ptrdiff_t>(at));
                for (const auto& [id, bits] : tally.inputBits) {
                    current.inputReports.emplace_back(id, (bits + 7) / 8 + (id != 0 ? 1 : 0));
                }
                current.featureIds = tally.featureIds;
                for (const auto& [id, bits] : tally.featureBits) {
                    if (std::find(tally.notVendorBytes.begin(), tally.notVendorBytes.end(), id) ==
                        tally.notVendorBytes.end()) {
                        current.vendorFeatures.emplace_back(id, bits / 8);
                    }
                }
                out.push_back(std::move(current));
                current = Collection{};
                tally = ReportTally{};
                segmentStart = at;
                atStart = globals;
                lastUsage = 0;
            }
        } else if (item.tag == MainInput || item.tag == MainOutput || item.tag == MainFeature) {
            const auto value = [&](uint8_t tag) {
                const Bytes& bytes = globals[tag >> 4];
                uint32_t v = 0;
                for (size_t i = 1; i < bytes.size(); ++i) {
                    v |= static_cast<uint32_t>(bytes[i]) << (8 * (i - 1));
                }
                return v;
            };
            Count(tally, item.tag, static_cast<uint8_t>(value(GlobalReportId)),
                  value(GlobalUsagePage), value(GlobalReportSize), value(GlobalReportCount));
        }
    }
    if (depth != 0) {
        error = "a Collection without its End Collection";
        return false;
    }
    if (out.empty()) {
        error = "no top-level collection";
        return false;
    }
    for (Collection& collection : out) {
        collection.reportIds = anyReportId;
    }
    return true;
}

size_t InputReportLength(const Collection& collection, uint8_t reportId) {
    for (const auto& [id, length] : collection.inputReports) {
        if (id == reportId) {
            return length;
        }
    }
    return 0;
}

bool AddFeed(Collection& collection, Feed& feed, std::string& error) {
    size_t longest = 0;
    for (const auto& report : collection.inputReports) {
        longest = std::max(longest, report.second);
    }
    if (longest == 0) {
        error = "the collection declares no input report";
        return false;
    }
    if (longest > 250) {
        error = "an input report of " + std::to_string(longest) + " bytes: at most 250 can be fed";
        return false;
    }
    feed.payloadBytes =
        std::max(sizeof FeedMagic + 1 + longest, sizeof FeedMagic + 4 * FeedCounters);
    feed.reportId = 0;
    if (collection.reportIds) {
        for (int id = 0xFE; id > 0 && feed.reportId == 0; --id) {
            const auto used = [&](uint8_t candidate) {
                for (const auto& report : collection.inputReports) {
                    if (report.first == candidate) {
                        return true;
                    }
                }
                return std::find(collection.featureIds.begin(), collection.featureIds.end(),
                                 candidate) != collection.featureIds.end();
            };
            if (!used(static_cast<uint8_t>(id))) {
                feed.reportId = static_cast<uint8_t>(id);
            }
        }
    } else if (!collection.featureIds.empty()) {
        // Its one feature report (without ids there is one of each kind) fed this pad before.
        const std::pair<uint8_t, size_t> asFed = {0, feed.payloadBytes};
        if (std::find(collection.vendorFeatures.begin(), collection.vendorFeatures.end(), asFed) !=
            collection.vendorFeatures.end()) {
            return true;
        }
        error = "a collection without report ids that has feature reports of its own: the feed "
                "would share its feature report";
        return false;
    }
    const auto count = static_cast<uint8_t>(feed.payloadBytes);
    Bytes items = {GlobalPush, 0x06, 0x00, 0xFF, // Usage Page (vendor-defined 0xFF00)
                   0x09,       0x01};            // Usage (1)
    if (feed.reportId != 0) {
        items.insert(items.end(), {0x85, feed.reportId});
    }
    items.insert(items.end(), {
                                  0x15,
                                  0x00, // Logical Minimum (0)
                                  0x26,
                                  0xFF,
                                  0x00, // Logical Maximum (255)
                                  0x75,
                                  0x08, // Report Size (8)
                                  0x95,
                                  count, // Report Count
                                  0xB1,
                                  0x02, // Feature (Data, Variable, Absolute)
                                  GlobalPop,
                              });
    // Before the collection's own End Collection, the last byte.
    collection.descriptor.insert(collection.descriptor.end() - 1, items.begin(), items.end());
    collection.featureIds.push_back(feed.reportId);
    return true;
}

bool FeedReport(const Feed& feed, const Bytes& report, Bytes& out) {
    if (report.empty() || report.size() + sizeof FeedMagic + 1 > feed.payloadBytes) {
        return false;
    }
    out.assign(1 + feed.payloadBytes, 0);
    out[0] = feed.reportId;
    out[1] = FeedMagic[0];
    out[2] = FeedMagic[1];
    out[3] = static_cast<uint8_t>(report.size());
    std::copy(report.begin(), report.end(), out.begin() + 4);
    return true;
}

} // namespace vtp
