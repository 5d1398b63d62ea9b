#include "e2e/harness.h"

#include <cstdio>

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

LONG Number(const JournalRecord& record, const std::string& key) {
    return static_cast<LONG>(record.Num(key).value_or(0));
}

std::vector<JournalRecord> RecordsWith(const std::string& text, const std::string& word) {
    std::vector<JournalRecord> records;
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
        const size_t begin = text.rfind('\n', at);
        const size_t start = begin == std::string::npos ? 0 : begin + 1;
        const size_t end = text.find('\n', at);
        if (end == std::string::npos) {
            break; // still being written
        }
        if (auto record = ParseJournalLine(std::string_view(text).substr(start, end - start))) {
            records.push_back(std::move(*record));
        }
        at = end;
    }
    return records;
}

std::vector<JournalRecord> ForProcess(const std::vector<JournalRecord>& entries, DWORD pid) {
    std::vector<JournalRecord> mine;
    for (const auto& e : entries) {
        if (e.pid == pid) {
            mine.push_back(e);
        }
    }
    return mine;
}

std::vector<std::string> DeviceCalls(const std::vector<JournalRecord>& entries) {
    static const char* const operations[] = {"Prepare",       "LocateDevice", "Attach",
                                             "SetPacketSink", "Claim",        "Unclaim"};
    std::vector<std::string> calls;
    for (const auto& e : entries) {
        char id[16];
        snprintf(id, sizeof id, "0x%08lX", static_cast<unsigned long>(Number(e, "id")));
        if (e.event == "ReadProperty") {
            calls.push_back("ReadProperty " + std::string(id));
        } else if (e.event == "WriteProperty") {
            calls.push_back("WriteProperty " + std::string(id) + "=" +
                            std::to_string(Number(e, "value")));
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

std::vector<LONG> LedWrites(const std::vector<JournalRecord>& entries) {
    std::vector<LONG> values;
    for (const auto& e : entries) {
        if (e.event == "WriteProperty" && Number(e, "id") == PropModeLed) {
            values.push_back(Number(e, "value"));
        }
    }
    return values;
}

bool LeftClaimed(const std::vector<JournalRecord>& entries) {
    bool claimed = false;
    for (const auto& e : entries) {
        if (e.event == "Claim" && Number(e, "status") == 0) {
            claimed = true;
        } else if (e.event == "Unclaim") {
            claimed = false;
        }
    }
    return claimed;
}

int CountEvent(const std::vector<JournalRecord>& entries, const std::string& event) {
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

Tapdeck::Tapdeck(const std::wstring& scenario, const std::wstring& journal, bool traceBeeps)
    : journalPath(journal), countBeeps(traceBeeps) {
    ChildProcess::Options options;
    options.environment = {{L"VELSIM_SCENARIO", scenario}, {L"VELSIM_JOURNAL", journal}};
    options.traceBeeps = traceBeeps;
    child = ChildProcess::Start(EnvironmentValue(L"TAPDECK_EXE"), L"", options);
}

std::vector<JournalRecord> Tapdeck::Journal() const {
    return ForProcess(ReadJournal(journalPath), Pid());
}

bool Tapdeck::WaitModeOn(DWORD ms) const {
    return WaitUntil(
               [&] {
                   const auto led = LedWrites(ForProcess(
                       RecordsWith(ReadWholeFile(journalPath), " WriteProperty "), Pid()));
                   return (!led.empty() && led.front() == ModeLedOn) || !Running();
               },
               ms) &&
           Running();
}

bool Tapdeck::WaitForEvent(const std::string& event, DWORD ms) const {
    return WaitUntil(
        [&] {
            return !ForProcess(RecordsWith(ReadWholeFile(journalPath), " " + event + " "), Pid())
                        .empty();
        },
        ms);
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
