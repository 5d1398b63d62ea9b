// One touchpad session for every kind of virtual pad: the reports are made through the HID
// parser from the pad's own preparsed data (where each field sits is the parser's business, as
// it is a pad's firmware's), so that the same touches play on a pad of one finger a report in
// hybrid mode and on one of five in parallel mode alike. And what the recordings' tests share:
// a recording's folder, its files and vtpctl run on them.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "descriptor.h"
#include "hid_pad.h"

namespace vpadtest {

// Input reports of a touchpad collection, made with HidP_SetUsageValue and HidP_SetUsages.
class PadReports {
public:
    // The collection raw input lists as `device`; false, with why, where it is no touchpad
    // velptp can use.
    bool Open(HANDLE device, std::string& error);

    // A contact, at fractions of the pad as the user sees it (from its left and bottom edges).
    struct Touch {
        uint8_t id;
        bool tip;
        bool confident;
        double across;
        double up;
    };
    // The reports of one scan, as the device sends them: as many as its slots need for the
    // touches (hybrid mode), the first with the contact count and the others with 0, all with
    // the scan time (100 us units) and the button. Empty, with `error` set, where the parser
    // refused a value.
    std::vector<vtp::Bytes> Scan(const std::vector<Touch>& touches, uint16_t scanTime, bool button,
                                 std::string& error) const;

    const ptp::PadLayout& Layout() const { return pad.layout; }
    // Whether a scan of three contacts takes several reports.
    bool Hybrid() const { return pad.layout.slotCount < 3; }

private:
    bool Set(std::vector<char>& report, USHORT page, USHORT link, USHORT usage, int32_t value,
             std::string& error) const;

    HidPad pad;
    uint8_t reportId = 0;
    size_t reportBytes = 0; // as the parser counts it: the id's byte included, 0 without ids
};

// Where Tapdeck's zones are, as fractions of the pad (its device units 1000..7000 across,
// 1000..5800 up).
struct Spot {
    double across;
    double up;
};
inline constexpr Spot PlayPause = {2500.0 / 6000, 800.0 / 4800};
inline constexpr Spot NextTrack = {4165.0 / 6000, 800.0 / 4800};
inline constexpr Spot PrevTrack = {833.0 / 6000, 800.0 / 4800};
inline constexpr Spot Mute = {4165.0 / 6000, 2400.0 / 4800};
inline constexpr Spot Strip = {5600.0 / 6000, 2000.0 / 4800};
inline constexpr Spot Exit = {5000.0 / 6000, 4100.0 / 4800};

// A session on pad NAME as a vtpctl script, reports 8 ms apart and touches 200 ms apart: a tap on
// play/pause; 13 mm up the volume strip; a palm on next track; three fingers tapping at once,
// the first on mute (over several reports where the pad is hybrid); where the pad has a
// button, a finger resting on previous track and a press of the button; a finger down on
// play/pause while the pad is unplugged, and plugged in again; a tap on the exit button.
// Tapdeck gives for it: play/pause, three volume steps up, mute, previous track where there is
// a button, and ends.
struct Session {
    std::string script;
    size_t frames = 0;  // scans of the pad
    size_t reports = 0; // report steps
};
Session SessionScript(const PadReports& reports, const std::string& pad, std::string& error);

// Script lines that are steps, not comments.
std::vector<std::string> Steps(const std::string& text);
// The same without the waits: what was sent, and where pads went and came back.
std::vector<std::string> StepsWithoutWaits(const std::string& text);

// A folder's files and subfolders, by name, in order.
std::vector<std::wstring> FilesIn(const std::wstring& folder);
std::vector<std::wstring> SubfoldersOf(const std::wstring& folder);
// A name for a folder in the temporary folder that is not there yet.
std::wstring NewFolder(const wchar_t* prefix);
// Waits until `folder` has a subfolder with a session.script, as a claim that records makes
// it; its path, or empty after `ms`.
std::wstring WaitForRecording(const std::wstring& folder, DWORD ms);

// vtpctl.exe (VTP_DRIVER_DIR) run with `arguments` to its end; its exit code and output.
DWORD RunVtpctl(const std::wstring& arguments, std::string& output);

std::string Narrow(const std::wstring& text);
std::wstring Wide(const std::string& text);

} // namespace vpadtest
