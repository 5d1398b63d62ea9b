// The scenario parser: one directive per line, every mistake reported with its line number.
#include "velsim_core.h"

#include <cstdint>
#include <iterator>
#include <string>

namespace {

std::vector<std::string_view> SplitWords(std::string_view line) {
    std::vector<std::string_view> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) {
            ++i;
        }
        size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') {
            ++i;
        }
        if (i > start) {
            words.push_back(line.substr(start, i - start));
        }
    }
    return words;
}

// Decimal or 0x-hexadecimal, optionally negative, fitting in 32 bits (0xFFFFFFFF is -1).
bool ParseNumber(std::string_view text, LONG& value) {
    bool negative = false;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    unsigned base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) {
        return false;
    }
    uint64_t magnitude = 0;
    for (char c : text) {
        unsigned digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return false;
        }
        magnitude = magnitude * base + digit;
        if (magnitude > 0xFFFFFFFFull) {
            return false;
        }
    }
    if (negative) {
        if (magnitude > 0x80000000ull) {
            return false;
        }
        value = static_cast<LONG>(-static_cast<int64_t>(magnitude));
    } else {
        value = static_cast<LONG>(static_cast<uint32_t>(magnitude));
    }
    return true;
}

// What earlier lines have set, for the directives that may appear only once per kind.
struct Seen {
    bool once[7] = {};
    bool status[SimOpCount] = {};
    bool delay[SimOpCount] = {};
};

// Parses one line's words into the scenario; each function returns an error message, empty when
// the line was understood.
class LineParser {
public:
    LineParser(Scenario& scenario, Seen& seenBefore, std::vector<std::string_view> words)
        : s(scenario), seen(seenBefore), w(std::move(words)) {}

    std::string Parse() {
        std::string_view d = w[0];
        if (d == "packet") {
            return Packet();
        }
        if (d == "property") {
            return Property();
        }
        if (d == "status") {
            return PerOperation(seen.status, s.status);
        }
        if (d == "delay") {
            return PerOperation(seen.delay, s.delayMs);
        }
        if (d == "create") {
            return Create();
        }
        static constexpr std::string_view once[] = {"handle", "kind",   "edges",  "deliver",
                                                    "rate",   "repeat", "journal"};
        for (size_t i = 0; i < std::size(once); ++i) {
            if (d != once[i]) {
                continue;
            }
            if (seen.once[i]) {
                return "'" + std::string(d) + "' given twice";
            }
            seen.once[i] = true;
            switch (i) {
            case 0:
                return Numbers(&s.handle, 1);
            case 1:
                return Numbers(&s.kind, 1);
            case 2:
                return Numbers(s.edges, 4);
            case 3:
                return Deliver();
            case 4:
                return Rate();
            case 5:
                return Repeat();
            default:
                return Journal();
            }
        }
        return "unknown directive '" + std::string(d) + "'";
    }

private:
    std::string Count(size_t wanted) {
        if (w.size() - 1 < wanted) {
            return "missing argument to '" + std::string(w[0]) + "'";
        }
        if (w.size() - 1 > wanted) {
            return "extra argument '" + std::string(w[wanted + 1]) + "'";
        }
        return {};
    }

    std::string Number(std::string_view text, LONG& value) {
        if (!ParseNumber(text, value)) {
            return "not a 32-bit number: '" + std::string(text) + "'";
        }
        return {};
    }

    std::string Numbers(LONG* out, size_t count) {
        if (auto e = Count(count); !e.empty()) {
            return e;
        }
        for (size_t i = 0; i < count; ++i) {
            if (auto e = Number(w[i + 1], out[i]); !e.empty()) {
                return e;
            }
        }
        return {};
    }

    std::string Property() {
        if (auto e = Count(2); !e.empty()) {
            return e;
        }
        SimDeviceProperty p;
        if (auto e = Number(w[1], p.id); !e.empty()) {
            return e;
        }
        if (auto e = Number(w[2], p.value); !e.empty()) {
            return e;
        }
        if (p.id == PropDeviceKind || (p.id >= PropXLo && p.id <= PropYHi)) {
            return "property " + std::string(w[1]) + " is set by 'kind' or 'edges'";
        }
        for (const auto& q : s.properties) {
            if (q.id == p.id) {
                return "property " + std::string(w[1]) + " given twice";
            }
        }
        s.properties.push_back(p);
        return {};
    }

    // `status OP N` and `delay OP N`: one number for one of the checked operations.
    std::string PerOperation(bool (&given)[SimOpCount], LONG (&values)[SimOpCount]) {
        if (auto e = Count(2); !e.empty()) {
            return e;
        }
        for (int i = 0; i < SimOpCount; ++i) {
            if (w[1] != SimOpNames[i]) {
                continue;
            }
            if (given[i]) {
                return std::string(w[0]) + " of '" + std::string(w[1]) + "' given twice";
            }
            given[i] = true;
            if (auto e = Number(w[2], values[i]); !e.empty()) {
                return e;
            }
            return w[0] == "delay" && values[i] < 0 ? "a delay cannot be negative" : "";
        }
        return "unknown operation '" + std::string(w[1]) + "'";
    }

    std::string Create() {
        if (w.size() != 3 && w.size() != 5) {
            return w.size() < 3 ? "missing argument to 'create'"
                                : (w.size() == 4 ? "missing argument after 'after'"
                                                 : "extra argument '" + std::string(w[5]) + "'");
        }
        int object = -1;
        for (int i = 0; i < SimObjectCount; ++i) {
            if (w[1] == SimObjectNames[i]) {
                object = i;
            }
        }
        if (object < 0) {
            return "unknown object '" + std::string(w[1]) + "'";
        }
        if (w[2] != "fail") {
            return "unknown argument '" + std::string(w[2]) + "', expected 'fail'";
        }
        SimCreateRule& rule = s.create[object];
        if (rule.fail) {
            return "'create " + std::string(w[1]) + "' given twice";
        }
        rule.fail = true;
        if (w.size() == 5) {
            if (w[3] != "after") {
                return "unknown argument '" + std::string(w[3]) + "', expected 'after'";
            }
            if (auto e = Number(w[4], rule.after); !e.empty()) {
                return e;
            }
            if (rule.after < 0) {
                return "negative count " + std::string(w[4]);
            }
        }
        return {};
    }

    std::string Deliver() {
        if (auto e = Count(1); !e.empty()) {
            return e;
        }
        if (w[1] == "after-sink" || w[1] == "after-claim") {
            s.deliverAfterSink = w[1] == "after-sink";
            return {};
        }
        return "unknown argument '" + std::string(w[1]) + "', expected after-sink or after-claim";
    }

    std::string Rate() {
        if (auto e = Count(1); !e.empty()) {
            return e;
        }
        if (w[1] == "max") {
            s.rateHz = 0;
            return {};
        }
        if (auto e = Number(w[1], s.rateHz); !e.empty()) {
            return e;
        }
        if (s.rateHz <= 0 || s.rateHz > 1000000) {
            return "rate " + std::string(w[1]) + " out of range 1..1000000";
        }
        return {};
    }

    std::string Repeat() {
        if (auto e = Numbers(&s.repeat, 1); !e.empty()) {
            return e;
        }
        if (s.repeat < 0) {
            return "negative count " + std::string(w[1]);
        }
        return {};
    }

    std::string Journal() {
        if (auto e = Count(1); !e.empty()) {
            return e;
        }
        if (w[1] != "packet-reads") {
            return "unknown argument '" + std::string(w[1]) + "', expected packet-reads";
        }
        s.journalPacketReads = true;
        return {};
    }

    std::string Packet() {
        SimPacketData p;
        bool given[6] = {};
        static constexpr std::string_view keys[] = {"a", "b", "x", "y", "motion", "pause"};
        LONG* fields[] = {&p.a, &p.b, &p.x, &p.y, &p.motion, &p.pauseMs};
        for (size_t i = 1; i < w.size(); ++i) {
            size_t eq = w[i].find('=');
            if (eq == std::string_view::npos) {
                return "expected KEY=VALUE, got '" + std::string(w[i]) + "'";
            }
            std::string_view key = w[i].substr(0, eq);
            size_t k = 0;
            while (k < std::size(keys) && keys[k] != key) {
                ++k;
            }
            if (k == std::size(keys)) {
                return "unknown key '" + std::string(key) + "'";
            }
            if (given[k]) {
                return "key '" + std::string(key) + "' given twice";
            }
            given[k] = true;
            if (auto e = Number(w[i].substr(eq + 1), *fields[k]); !e.empty()) {
                return e;
            }
        }
        if (p.pauseMs < 0) {
            return "negative pause";
        }
        s.packets.push_back(p);
        return {};
    }

    Scenario& s;
    Seen& seen;
    std::vector<std::string_view> w;
};

} // namespace

std::variant<Scenario, ScenarioError> ParseScenario(std::string_view text) {
    Scenario scenario;
    Seen seen;
    int lineNumber = 0;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNumber;
        if (size_t hash = line.find('#'); hash != std::string_view::npos) {
            line = line.substr(0, hash);
        }
        auto words = SplitWords(line);
        if (words.empty()) {
            continue;
        }
        std::string error = LineParser(scenario, seen, std::move(words)).Parse();
        if (!error.empty()) {
            return ScenarioError{lineNumber, std::move(error)};
        }
    }
    return scenario;
}
