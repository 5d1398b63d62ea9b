// Recording a session for a bug report: the packets a delivery thread delivers, written as a
// scenario of the simulated touchpad (ptp/scenario_writer.h), so that a session on a laptop
// replays on velsim.dll. Used on the delivery thread only. And where the settings of both
// recordings are read.
#pragma once

#include <optional>
#include <string>

#include "device/unique_handle.h"
#include "scenario_writer.h"

// The file to record to: the RecordVariable environment variable, else the RecordValue string
// under HKCU\SettingsKey, with environment strings expanded; empty when neither is set.
std::wstring RecordPath();
// The folder to record the touchpads' raw reports in (report_recorder.h), the same way from
// RecordReportsVariable and RecordReportsValue.
std::wstring RecordReportsFolder();

class SessionRecorder {
public:
    // Records to `path` (nothing when it is empty or the file cannot be made), starting the
    // clock of the pauses at `startUs` (ClockMicros).
    SessionRecorder(const std::wstring& path, const ptp::PadGeometry& pad, long long startUs);

    bool On() const { return static_cast<bool>(file); }
    // One packet, delivered at `nowUs`; written through at once, so a crash loses nothing.
    void Write(const ptp::Packet& packet, long long nowUs);
    // A comment line of the scenario (the replay skips it): `text` without its '#'.
    void Comment(const std::string& text);

private:
    void Put(const char* text, size_t length);

    UniqueHandle file;
    ptp::PauseClock clock;
};
