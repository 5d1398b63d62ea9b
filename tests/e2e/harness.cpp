#include "e2e/harness.h"

#include <cstdlib>
#include <sstream>

#include "device/velcom.h"

namespace e2e {

PadPoint FromTurnedY(LONG x, LONG turnedY, LONG top, LONG bottom) {
    return {x, top + bottom - turnedY};
}

PadPoint GridButton(int id) {
    // Row r, column c spans x [1300 + c*1666, +1066) and turned-over y [1300 + r*1600, +1000).
    const int r = (id - 1) / 3;
    const int c = (id - 1) % 3;
    return FromTurnedY(1300 + c * 1666 + 533, 1300 + r * 1600 + 500);
}

PadPoint ExitButton() {
    // x [5700, 7000), turned-over y [1000, 2450); x 6000 keeps clear of the strip (x >= 6300).
    return FromTurnedY(6000, 1700);
}

ScenarioText& ScenarioText::Line(const std::string& directive) {
    text += directive;
    text += '\n';
    return *this;
}

ScenarioText& ScenarioText::Packet(const std::string& keys) {
    return Line("packet " + keys);
}

ScenarioText& ScenarioText::Tap(PadPoint at, int pauseMs) {
    const std::string xy = " x=" + std::to_string(at.x) + " y=" + std::to_string(at.y);
    Packet("a=0x2000" + xy + (pauseMs ? " pause=" + std::to_string(pauseMs) : ""));
    Packet("a=0x12000" + xy);
    Packet("a=0x10000");
    return Packet("a=0");
}

ScenarioText& ScenarioText::Slide(int steps, bool up, int pauseMs) {
    LONG y = 3000;
    const auto down = [&](LONG motion, int pause) {
        Packet("a=0x2000 x=" + std::to_string(StripX) + " y=" + std::to_string(y) + " motion=" +
               std::to_string(motion) + (pause ? " pause=" + std::to_string(pause) : ""));
        y += up ? 100 : -100;
    };
    y = up ? 3000 : 5000;
    // The first packet with the finger down counts no motion; then every two packets of 13
    // add up to 26, one more than the threshold: one step.
    down(0, pauseMs);
    for (int i = 0; i < steps * 2; ++i) {
        down(up ? 13 : -13, 0);
    }
    return Packet("a=0");
}

ScenarioText& ScenarioText::Idle(int count) {
    for (int i = 0; i < count; ++i) {
        Packet("a=0");
    }
    return *this;
}

LONG JournalEntry::Number(const std::string& key) const {
    const auto it = fields.find(key);
    if (it == fields.end()) {
        return 0;
    }
    return static_cast<LONG>(std::strtoll(it->second.c_str(), nullptr, 0));
}

std::vector<JournalEntry> ParseJournal(const std::string& text) {
    std::vector<JournalEntry> entries;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        JournalEntry entry;
        if (!(words >> entry.micros >> entry.pid >> entry.tid >> entry.event)) {
            continue; // a line still being written
        }
        std::string rest;
        std::getline(words, rest);
        size_t at = 0;
        while (at < rest.size()) {
            while (at < rest.size() && rest[at] == ' ') {
                ++at;
            }
            const size_t eq = rest.find('=', at);
            if (eq == std::string::npos) {
                break;
            }
            const std::string key = rest.substr(at, eq - at);
            size_t end = 0;
            std::string value;
            if (eq + 1 < rest.size() && rest[eq + 1] == '"') {
                end = rest.find('"', eq + 2);
                end = end == std::string::npos ? rest.size() : end + 1;
                value = rest.substr(eq + 2, end - eq - 3);
            } else {
                end = rest.find(' ', eq);
                end = end == std::string::npos ? rest.size() : end;
                value = rest.substr(eq + 1, end - eq - 1);
            }
            entry.fields[key] = value;
            at = end;
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::string LinesWith(const std::string& text, const std::string& word) {
    std::string lines;
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
        const size_t begin = text.rfind('\n', at);
        const size_t start = begin == std::string::npos ? 0 : begin + 1;
        const size_t end = text.find('\n', at);
        if (end == std::string::npos) {
            break; // still being written
        }
        lines.append(text, start, end - start + 1);
        at = end;
    }
    return lines;
}

std::vector<JournalEntry> ForProcess(const std::vector<JournalEntry>& entries, DWORD pid) {
    std::vector<JournalEntry> mine;
    for (const auto& e : entries) {
        if (e.pid == pid) {
            mine.push_back(e);
        }
    }
    return mine;
}

std::vector<std::string> DeviceCalls(const std::vector<JournalEntry>& entries) {
    static const char* const operations[] = {"Prepare",       "LocateDevice", "Attach",
                                             "SetPacketSink", "Claim",        "Unclaim"};
    std::vector<std::string> calls;
    for (const auto& e : entries) {
        char id[16];
        snprintf(id, sizeof id, "0x%08lX", static_cast<unsigned long>(e.Number("id")));
        if (e.event == "ReadProperty") {
            calls.push_back("ReadProperty " + std::string(id));
        } else if (e.event == "WriteProperty") {
            calls.push_back("WriteProperty " + std::string(id) + "=" +
                            std::to_string(e.Number("value")));
        } else {
            for (const char* op : operations) {
                if (e.event == op) {
                    calls.push_back(op);
                }
            }
        }
    }
    return calls;
}

std::vector<LONG> LedWrites(const std::vector<JournalEntry>& entries) {
    std::vector<LONG> values;
    for (const auto& e : entries) {
        if (e.event == "WriteProperty" && e.Number("id") == PropModeLed) {
            values.push_back(e.Number("value"));
        }
    }
    return values;
}

bool LeftClaimed(const std::vector<JournalEntry>& entries) {
    bool claimed = false;
    for (const auto& e : entries) {
        if (e.event == "Claim" && e.Number("status") == 0) {
            claimed = true;
        } else if (e.event == "Unclaim") {
            claimed = false;
        }
    }
    return claimed;
}

int CountEvent(const std::vector<JournalEntry>& entries, const std::string& event) {
    int n = 0;
    for (const auto& e : entries) {
        n += e.event == event ? 1 : 0;
    }
    return n;
}

TempFile::TempFile(const wchar_t* prefix, const std::string& text) : path(TempFilePath(prefix)) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        CloseHandle(file);
    }
}

TempFile::~TempFile() {
    DeleteFileW(path.c_str());
}

Tapdeck::Tapdeck(const std::wstring& scenario, const std::wstring& journal, bool countBeeps)
    : journalPath(journal) {
    const std::vector<std::pair<std::wstring, std::wstring>> environment = {
        {L"VELSIM_SCENARIO", scenario}, {L"VELSIM_JOURNAL", journal}};
    const std::wstring exe = EnvironmentValue(L"TAPDECK_EXE");
    if (countBeeps) {
        traced = std::make_unique<BeepCountingProcess>(exe, environment);
    } else {
        ChildProcess::Options options;
        options.environment = environment;
        child = ChildProcess::Start(exe, L"", options);
    }
}

std::vector<JournalEntry> Tapdeck::Journal() const {
    return ForProcess(ParseJournal(ReadWholeFile(journalPath)), Pid());
}

bool Tapdeck::WaitModeOn(DWORD ms) const {
    return WaitUntil(
               [&] {
                   // Only the LED lines are parsed: a streaming journal grows by megabytes.
                   const auto led = LedWrites(ForProcess(
                       ParseJournal(LinesWith(ReadWholeFile(journalPath), " WriteProperty ")),
                       Pid()));
                   return (!led.empty() && led.front() == ModeLedOn) || !Running();
               },
               ms) &&
           Running();
}

bool WaitUntil(const std::function<bool()>& done, DWORD ms) {
    const ULONGLONG deadline = GetTickCount64() + ms;
    while (!done()) {
        if (GetTickCount64() > deadline) {
            return false;
        }
        Sleep(5);
    }
    return true;
}

HWND FindPadWindow() {
    return FindWindowA(PadWindowClass, PadWindowTitle);
}

int CountPadWindows() {
    int n = 0;
    for (HWND w = FindWindowExA(nullptr, nullptr, PadWindowClass, PadWindowTitle); w;
         w = FindWindowExA(nullptr, w, PadWindowClass, PadWindowTitle)) {
        ++n;
    }
    return n;
}

bool SendTo(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 5000, &result) !=
           0;
}

} // namespace e2e
