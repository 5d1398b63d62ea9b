// Reading the simulated touchpad library's journal: one record per line, found by event.
#pragma once

#include <windows.h>

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct JournalRecord {
    long long usec = 0;
    DWORD pid = 0;
    DWORD tid = 0;
    std::string event;
    std::map<std::string, std::string> keys;

    bool Has(const std::string& key) const { return keys.count(key) != 0; }
    // The key's text; empty when it is missing.
    std::string Text(const std::string& key) const;
    // The key's value as a number (decimal or 0x-hexadecimal, as 32-bit values are written);
    // nullopt when missing or not a number.
    std::optional<long long> Num(const std::string& key) const;
};

// One journal line; nullopt for a line that is not in the journal's format.
std::optional<JournalRecord> ParseJournalLine(std::string_view line);

// Every well-formed line of the journal file (a missing file reads as no lines).
std::vector<JournalRecord> ReadJournal(const std::wstring& path);

// The records of one event, in journal order.
std::vector<JournalRecord> FindEvents(const std::vector<JournalRecord>& records,
                                      std::string_view event);

// Index of the first record of the event at or after `from`; -1 when there is none.
long long FindEvent(const std::vector<JournalRecord>& records, std::string_view event,
                    size_t from = 0);
