// Runs the real tapdeck.exe as a separate process on the simulated touchpad and observes it
// only from outside: its exit code, the library's journal, its hidden window, its beeps.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/process.h"
#include "support/sim_journal.h"

namespace e2e {

// Pad edges of the simulated touchpad's default scenario.
inline constexpr LONG PadLeft = 1000;
inline constexpr LONG PadTop = 1000;
inline constexpr LONG PadRight = 7000;
inline constexpr LONG PadBottom = 5800;

inline constexpr char PadWindowClass[] = "VelTapdeckClass";
inline constexpr char PadWindowTitle[] = "VelTapdeckApp";

struct PadPoint {
    LONG x;
    LONG y; // the device's own Y, as a packet reports it
};

// Buttons are hit-tested with the Y turned over within the pad: top + bottom - deviceY.
PadPoint FromTurnedY(LONG x, LONG turnedY, LONG top = PadTop, LONG bottom = PadBottom);
// The middle of grid button `id` (1..9) for the default edges.
PadPoint GridButton(int id);
// The middle of the exit button for the default edges, left of the volume strip.
PadPoint ExitButton();
// X of a finger sliding along the volume strip for the default edges.
inline constexpr LONG StripX = 6600;

// The text of a scenario for the simulated touchpad, built directive by directive.
class ScenarioText {
public:
    ScenarioText& Line(const std::string& directive);
    // A packet with the given key=value pairs, e.g. "a=0 pause=200".
    ScenarioText& Packet(const std::string& keys);
    // Finger down, gesture bit set, finger up with the gesture bit still set, gesture clear.
    ScenarioText& Tap(PadPoint at, int pauseMs = 0);
    // A finger put on the strip and slid along it until `steps` volume steps were made in the
    // direction of `up`, then lifted.
    ScenarioText& Slide(int steps, bool up, int pauseMs = 0);
    // `count` packets that do nothing (no finger, no gesture bit).
    ScenarioText& Idle(int count);
    const std::string& Text() const { return text; }

private:
    std::string text;
};

// The value of a numeric journal field; 0 when it is missing.
LONG Number(const JournalRecord& record, const std::string& key);
// The records of the lines of `text` that contain `word`: a streaming journal grows by
// megabytes, and a poll needs only a few of its lines.
std::vector<JournalRecord> RecordsWith(const std::string& text, const std::string& word);
std::vector<JournalRecord> ForProcess(const std::vector<JournalRecord>& entries, DWORD pid);

// The device operations one process made, as short strings in call order: "Prepare",
// "ReadProperty 0x10000107", "WriteProperty 0x01000292=200", "Claim", "Unclaim"...
std::vector<std::string> DeviceCalls(const std::vector<JournalRecord>& entries);
// Values written to the mode LED, in order.
std::vector<LONG> LedWrites(const std::vector<JournalRecord>& entries);
// True when a Claim that succeeded is not followed by an Unclaim.
bool LeftClaimed(const std::vector<JournalRecord>& entries);
int CountEvent(const std::vector<JournalRecord>& entries, const std::string& event);

// A fresh temporary file holding `text`; deleted on destruction.
class TempFile {
public:
    TempFile(const wchar_t* prefix, const std::string& text);
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const std::wstring& Path() const { return path; }

private:
    std::wstring path;
};

// One tapdeck.exe process with its own scenario and a journal that may be shared. With
// `countBeeps` its MessageBeep calls are counted from Wine's relay trace.
class Tapdeck {
public:
    Tapdeck(const std::wstring& scenario, const std::wstring& journal, bool countBeeps = false);
    ~Tapdeck() = default;
    Tapdeck(const Tapdeck&) = delete;
    Tapdeck& operator=(const Tapdeck&) = delete;

    bool Started() const { return child.Started(); }
    DWORD StartError() const { return child.StartError(); }
    DWORD Pid() const { return child.Id(); }
    bool Wait(DWORD ms) { return child.Wait(ms); }
    DWORD ExitCode() const { return child.ExitCode(); }
    bool Running() const { return ExitCode() == STILL_ACTIVE; }
    // MessageBeep calls so far (with `countBeeps`; -1 when they cannot be counted).
    int Beeps() const { return countBeeps ? child.BeepCount() : -1; }
    // This process's journal lines so far.
    std::vector<JournalRecord> Journal() const;
    // Waits until the journal shows this process switching the mode LED on; false on time-out
    // or when the process ended first.
    bool WaitModeOn(DWORD ms) const;
    // Waits until the journal has a line of this process for `event`; false on time-out.
    bool WaitForEvent(const std::string& event, DWORD ms) const;

private:
    std::wstring journalPath;
    bool countBeeps;
    ChildProcess child;
};

// Waits until `done` holds, polling; false on time-out.
bool WaitUntil(const std::function<bool()>& done, DWORD ms);

// The running instance's hidden window, or null.
HWND FindPadWindow();
// Every window of the running instances' class and title.
int CountPadWindows();
// Sends a message to a window of another process; false when it was not handled in time.
bool SendTo(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// A scenario and a journal of their own for one run; the files go when it does.
struct RunFiles {
    explicit RunFiles(const ScenarioText& text)
        : scenario(L"scn", text.Text()), journal(L"jnl", "") {}
    TempFile scenario;
    TempFile journal;
};

// Prints a table row by its `name`, in place of its bytes.
template <class Row>
requires requires(const Row& row) {
    std::string(row.name);
}
void PrintTo(const Row& row, std::ostream* out) {
    *out << row.name;
}

// Names the cases of a parameterised test after their table row's `name`.
struct RowName {
    template <class Row> std::string operator()(const testing::TestParamInfo<Row>& row) const {
        return row.param.name;
    }
};

} // namespace e2e
