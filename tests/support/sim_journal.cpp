#include "support/sim_journal.h"

#include <cstdlib>

namespace {

// Splits off the next space-separated field; a value in double quotes may hold spaces.
std::string_view NextField(std::string_view& rest) {
    size_t start = rest.find_first_not_of(' ');
    if (start == std::string_view::npos) {
        rest = {};
        return {};
    }
    rest.remove_prefix(start);
    size_t i = 0;
    bool quoted = false;
    while (i < rest.size() && (quoted || rest[i] != ' ')) {
        if (rest[i] == '"') {
            quoted = !quoted;
        }
        ++i;
    }
    std::string_view field = rest.substr(0, i);
    rest.remove_prefix(i);
    return field;
}

std::optional<long long> ToNumber(std::string_view text) {
    if (text.empty()) {
        return std::nullopt;
    }
    std::string s(text);
    char* end = nullptr;
    long long value = std::strtoll(s.c_str(), &end, 0);
    if (end == s.c_str() || *end != '\0') {
        return std::nullopt;
    }
    return value;
}

} // namespace

std::string JournalRecord::Text(const std::string& key) const {
    auto it = keys.find(key);
    return it == keys.end() ? std::string() : it->second;
}

std::optional<long long> JournalRecord::Num(const std::string& key) const {
    auto it = keys.find(key);
    if (it == keys.end()) {
        return std::nullopt;
    }
    auto value = ToNumber(it->second);
    // 32-bit values are written in hexadecimal as unsigned: 0xFFFFFFFF reads as -1.
    if (value && it->second.size() > 2 && it->second[1] == 'x' && *value > 0x7FFFFFFF) {
        *value -= 0x100000000ll;
    }
    return value;
}

std::optional<JournalRecord> ParseJournalLine(std::string_view line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) {
        line.remove_suffix(1);
    }
    JournalRecord record;
    auto usec = ToNumber(NextField(line));
    auto pid = ToNumber(NextField(line));
    auto tid = ToNumber(NextField(line));
    std::string_view event = NextField(line);
    if (!usec || !pid || !tid || event.empty() || event.find('=') != std::string_view::npos) {
        return std::nullopt;
    }
    record.usec = *usec;
    record.pid = static_cast<DWORD>(*pid);
    record.tid = static_cast<DWORD>(*tid);
    record.event = std::string(event);
    for (std::string_view field = NextField(line); !field.empty(); field = NextField(line)) {
        size_t eq = field.find('=');
        if (eq == std::string_view::npos) {
            return std::nullopt;
        }
        std::string_view value = field.substr(eq + 1);
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
            value = value.substr(1, value.size() - 2);
        }
        record.keys[std::string(field.substr(0, eq))] = std::string(value);
    }
    return record;
}

std::vector<JournalRecord> ReadJournal(const std::wstring& path) {
    std::vector<JournalRecord> records;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return records;
    }
    std::string text;
    char chunk[65536];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got != 0) {
        text.append(chunk, got);
    }
    CloseHandle(file);
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) {
            end = text.size();
        }
        if (auto record = ParseJournalLine(std::string_view(text).substr(pos, end - pos))) {
            records.push_back(std::move(*record));
        }
        pos = end + 1;
    }
    return records;
}

std::vector<JournalRecord> FindEvents(const std::vector<JournalRecord>& records,
                                      std::string_view event) {
    std::vector<JournalRecord> found;
    for (const auto& r : records) {
        if (r.event == event) {
            found.push_back(r);
        }
    }
    return found;
}

long long FindEvent(const std::vector<JournalRecord>& records, std::string_view event,
                    size_t from) {
    for (size_t i = from; i < records.size(); ++i) {
        if (records[i].event == event) {
            return static_cast<long long>(i);
        }
    }
    return -1;
}
