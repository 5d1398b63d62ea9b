// The virtual touchpad's plain core for report descriptors: hex text to bytes, a descriptor's
// top-level collections as devices of their own (Wine makes one device per descriptor and shows
// only its first collection, where Windows makes one per collection), and the vendor-defined
// feature report through which a test feeds a device its input reports. No Windows calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vtp {

using Bytes = std::vector<uint8_t>;

// Hex bytes ("05 0d", "0x05,0x0D", "050D") with comments from '#' or "//" to the end of the line.
// False, with the line and what is wrong in `error`, for anything else or an odd digit.
bool ParseHex(std::string_view text, Bytes& out, std::string& error);

// One top-level collection, as a descriptor of its own.
struct Collection {
    Bytes descriptor;
    uint16_t usagePage = 0;
    uint16_t usage = 0;
    bool reportIds = false;
    // The input reports it declares: id (0 without ids) and length in bytes, the id's included
    // where there are ids; in the order first declared.
    std::vector<std::pair<uint8_t, size_t>> inputReports;
    std::vector<uint8_t> featureIds;
    // The feature reports made of bytes of the vendor-defined page 0xFF00 alone, as a feed is:
    // id and length in bytes after the id.
    std::vector<std::pair<uint8_t, size_t>> vendorFeatures;
};

// Splits a descriptor into its top-level collections. Each gets the global items in force where
// it starts, so it reads alone as it did in the whole. False, with `error`, for a descriptor
// that does not parse (a short item, a long item, an unbalanced collection) or has none.
bool SplitCollections(const Bytes& descriptor, std::vector<Collection>& out, std::string& error);

// The feed: a vendor-defined feature report added at the end of the collection, between a Push
// and a Pop so that nothing after it reads differently. Its id is the highest one no report of
// the collection uses; a collection without report ids gets one without an id, which it can
// only where it declares no feature report of its own, or where its one feature report is a
// feed already (a recording made on a virtual pad holds its feed): that one is the feed again. Its
// payload is FeedMagic, a length and the input report as the device sends it. Read, the feed
// answers the device's counters (the magic, then FeedCounters as little-endian 32-bit numbers), so
// it is never shorter than those.
inline constexpr uint8_t FeedMagic[2] = {'V', 'T'};
inline constexpr size_t FeedCounters = 5; // fed, delivered, queued, pending reads, refused
struct Feed {
    uint8_t reportId = 0;
    size_t payloadBytes = 0; // after the id
};
bool AddFeed(Collection& collection, Feed& feed, std::string& error);

// The feature report that feeds `report` (the input report as the device sends it): the feed's
// id, the magic, the length and the report, zero-filled to the feed's length.
bool FeedReport(const Feed& feed, const Bytes& report, Bytes& out);

// The input report's length, 0 when the collection declares no input report of its id.
size_t InputReportLength(const Collection& collection, uint8_t reportId);

} // namespace vtp
