#include "pad_session.h"

// MinGW's header of the HID parser needs NTSTATUS and USAGE declared before it, and declares
// its functions without C linkage.
#include <winternl.h>
#include <hidusage.h>
extern "C" {
#include <hidpi.h>
}

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "support/process.h"

namespace vpadtest {

namespace {

PHIDP_PREPARSED_DATA Parser(const HidPad& pad) {
    // The parser takes the data by a non-const pointer but does not write it.
    return reinterpret_cast<PHIDP_PREPARSED_DATA>(const_cast<BYTE*>(pad.preparsed.data()));
}

std::string Status(const char* what, NTSTATUS status) {
    char text[96];
    std::snprintf(text, sizeof text, "%s: status 0x%08lX", what,
                  static_cast<unsigned long>(status));
    return text;
}

} // namespace

bool PadReports::Open(HANDLE device, std::string& error) {
    const HRESULT opened = OpenHidPad(device, pad);
    if (FAILED(opened)) {
        error = "the pad does not open as a touchpad: " + std::to_string(opened);
        return false;
    }
    HIDP_CAPS caps = {};
    HidP_GetCaps(Parser(pad), &caps);
    reportBytes = caps.InputReportByteLength;
    HIDP_VALUE_CAPS count = {};
    USHORT n = 1;
    const NTSTATUS status =
        HidP_GetSpecificValueCaps(HidP_Input, ptp::PageDigitizer, pad.layout.contactCountLink,
                                  ptp::UsageContactCount, &count, &n, Parser(pad));
    if (status != HIDP_STATUS_SUCCESS || n == 0) {
        error = Status("no contact count", status);
        return false;
    }
    reportId = count.ReportID;
    return true;
}

bool PadReports::Set(std::vector<char>& report, USHORT page, USHORT link, USHORT usage,
                     int32_t value, std::string& error) const {
    HIDP_VALUE_CAPS caps = {};
    USHORT n = 1;
    HidP_GetSpecificValueCaps(HidP_Input, page, link, usage, &caps, &n, Parser(pad));
    auto bits = static_cast<ULONG>(value);
    if (n == 1 && caps.BitSize < 32) {
        bits &= (1ul << caps.BitSize) - 1; // a negative value in the field's width
    }
    const NTSTATUS status = HidP_SetUsageValue(HidP_Input, page, link, usage, bits, Parser(pad),
                                               report.data(), static_cast<ULONG>(report.size()));
    if (status != HIDP_STATUS_SUCCESS) {
        error =
            Status(("usage " + std::to_string(page) + ":" + std::to_string(usage)).c_str(), status);
        return false;
    }
    return true;
}

std::vector<vtp::Bytes> PadReports::Scan(const std::vector<Touch>& touches, uint16_t scanTime,
                                         bool button, std::string& error) const {
    const ptp::PadLayout& layout = pad.layout;
    const ptp::Axis& x = layout.geometry.x;
    const ptp::Axis& y = layout.geometry.y;
    const size_t slots = layout.slotCount;
    const size_t count = std::max<size_t>(1, (touches.size() + slots - 1) / slots);
    std::vector<vtp::Bytes> out;
    for (size_t r = 0; r < count; ++r) {
        std::vector<char> report(reportBytes, 0);
        report[0] = static_cast<char>(reportId);
        bool ok = Set(report, ptp::PageDigitizer, layout.contactCountLink, ptp::UsageContactCount,
                      r == 0 ? static_cast<int32_t>(touches.size()) : 0, error);
        if (layout.hasScanTime) {
            ok = ok && Set(report, ptp::PageDigitizer, layout.scanTimeLink, ptp::UsageScanTime,
                           scanTime, error);
        }
        if (button && layout.hasButton) {
            USAGE usage = layout.buttonUsages[0];
            ULONG one = 1;
            ok = ok && HidP_SetUsages(HidP_Input, ptp::PageButton, layout.buttonLinks[0], &usage,
                                      &one, Parser(pad), report.data(),
                                      static_cast<ULONG>(report.size())) == HIDP_STATUS_SUCCESS;
        }
        for (size_t s = 0; s < slots && r * slots + s < touches.size(); ++s) {
            const Touch& t = touches[r * slots + s];
            const ptp::SlotLayout& slot = layout.slots[s];
            const auto along = [](const ptp::Axis& axis, double fraction) {
                return axis.logicalMin + static_cast<int32_t>(std::lround(
                                             fraction * (axis.logicalMax - axis.logicalMin)));
            };
            ok = ok &&
                 Set(report, ptp::PageGenericDesktop, slot.link, ptp::UsageX, along(x, t.across),
                     error) &&
                 // The pad's Y grows toward the user, from its top edge.
                 Set(report, ptp::PageGenericDesktop, slot.link, ptp::UsageY, along(y, 1 - t.up),
                     error) &&
                 Set(report, ptp::PageDigitizer, slot.link, ptp::UsageContactId, t.id, error);
            USAGE on[2];
            ULONG n = 0;
            if (t.tip) {
                on[n++] = ptp::UsageTipSwitch;
            }
            if (t.confident && slot.hasConfidence) {
                on[n++] = ptp::UsageConfidence;
            }
            ok = ok && (n == 0 ||
                        HidP_SetUsages(HidP_Input, ptp::PageDigitizer, slot.link, on, &n,
                                       Parser(pad), report.data(),
                                       static_cast<ULONG>(report.size())) == HIDP_STATUS_SUCCESS);
        }
        if (!ok) {
            if (error.empty()) {
                error = "the parser refused a usage of the report";
            }
            return {};
        }
        // As the device sends it: without ids, the parser's leading 0 is none of the report's.
        const size_t from = reportId == 0 ? 1 : 0;
        out.emplace_back(report.begin() + static_cast<std::ptrdiff_t>(from), report.end());
    }
    return out;
}

namespace {

class ScriptWriter {
public:
    ScriptWriter(const PadReports& padReports, std::string padName, std::string& fault)
        : reports(padReports), pad(std::move(padName)), error(fault) {}

    void Frame(const std::vector<PadReports::Touch>& touches, bool button = false) {
        for (const vtp::Bytes& report : reports.Scan(touches, scan, button, error)) {
            text += pad;
            char byte[4];
            for (uint8_t b : report) {
                std::snprintf(byte, sizeof byte, " %02X", b);
                text += byte;
            }
            text += '\n';
            ++session.reports;
        }
        text += "wait 8\n";
        ++session.frames;
        scan = static_cast<uint16_t>(scan + 80);
    }
    void Touch(uint8_t id, Spot at, int frames, bool button = false) {
        for (int i = 0; i < frames; ++i) {
            Frame({{id, true, true, at.across, at.up}}, button);
        }
    }
    void Lift(uint8_t id, Spot at) {
        Frame({{id, false, true, at.across, at.up}});
        Pause(200);
    }
    void Pause(int ms) {
        text += "wait " + std::to_string(ms) + "\n";
        scan = static_cast<uint16_t>(scan + ms * 10);
    }
    void Line(const std::string& line) { text += line + "\n"; }

    std::string text;
    Session session;

private:
    const PadReports& reports;
    std::string pad;
    std::string& error;
    uint16_t scan = 0xFF00; // wraps during the session
};

} // namespace

Session SessionScript(const PadReports& reports, const std::string& pad, std::string& error) {
    const ptp::PadLayout& layout = reports.Layout();
    ScriptWriter s(reports, pad, error);
    s.Line("# a tap on play/pause");
    s.Touch(1, PlayPause, 3);
    s.Lift(1, PlayPause);

    s.Line("# 13 mm up the volume strip, a millimetre a frame");
    const double by = 13.0 / layout.geometry.y.millimetres;
    for (int mm = 0; mm <= 13; ++mm) {
        s.Touch(2, {Strip.across, Strip.up + by * mm / 13}, 1);
    }
    s.Lift(2, {Strip.across, Strip.up + by});

    if (layout.slots[0].hasConfidence) {
        s.Line("# a palm on next track: no confidence");
        for (int i = 0; i < 4; ++i) {
            s.Frame({{3, true, false, NextTrack.across, NextTrack.up}});
        }
        s.Frame({{3, false, false, NextTrack.across, NextTrack.up}});
        s.Pause(200);
    }

    s.Line(reports.Hybrid() ? "# three fingers tap at once, the first on mute, a scan in several "
                              "reports"
                            : "# three fingers tap at once, the first on mute");
    for (int i = 0; i < 4; ++i) {
        const bool tip = i < 3;
        s.Frame({{1, tip, true, Mute.across, Mute.up},
                 {2, tip, true, 0.30, 0.50},
                 {3, tip, true, 0.45, 0.30}});
    }
    s.Pause(200);

    if (layout.hasButton) {
        s.Line("# a finger resting on previous track, and a press of the button");
        s.Touch(1, PrevTrack, 3);
        s.Touch(1, PrevTrack, 2, /*button=*/true);
        s.Touch(1, PrevTrack, 2);
        s.Lift(1, PrevTrack);
    }

    s.Line("# a finger on play/pause while the pad is unplugged; plugged in again");
    s.Touch(2, PlayPause, 3);
    s.Line("remove " + pad);
    s.Pause(300);
    s.Line("add " + pad);
    s.Pause(100);

    s.Line("# a tap on the exit button");
    s.Touch(3, Exit, 3);
    s.Frame({{3, false, true, Exit.across, Exit.up}});
    s.session.script = s.text;
    return s.session;
}

std::vector<std::string> Steps(const std::string& text) {
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = text.find('\n', at);
        std::string line = text.substr(at, end - at);
        at = end == std::string::npos ? text.size() : end + 1;
        line = line.substr(0, line.find('#'));
        while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) {
            line.pop_back();
        }
        if (!line.empty()) {
            lines.push_back(line);
        }
    }
    return lines;
}

std::vector<std::string> StepsWithoutWaits(const std::string& text) {
    std::vector<std::string> lines = Steps(text);
    std::erase_if(lines, [](const std::string& line) { return line.rfind("wait ", 0) == 0; });
    return lines;
}

namespace {

std::vector<std::wstring> Entries(const std::wstring& folder, bool folders) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        const bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const std::wstring name = found.cFileName;
        if (isFolder == folders && name != L"." && name != L"..") {
            names.push_back(name);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

std::vector<std::wstring> FilesIn(const std::wstring& folder) {
    return Entries(folder, false);
}

std::vector<std::wstring> SubfoldersOf(const std::wstring& folder) {
    return Entries(folder, true);
}

std::wstring NewFolder(const wchar_t* prefix) {
    const std::wstring file = TempFilePath(prefix);
    DeleteFileW(file.c_str());
    return file;
}

std::wstring WaitForRecording(const std::wstring& folder, DWORD ms) {
    const DWORD start = GetTickCount();
    do {
        for (const std::wstring& sub : SubfoldersOf(folder)) {
            const std::wstring path = folder + L"\\" + sub;
            if (GetFileAttributesW((path + L"\\session.script").c_str()) !=
                INVALID_FILE_ATTRIBUTES) {
                return path;
            }
        }
        Sleep(20);
    } while (GetTickCount() - start < ms);
    return {};
}

DWORD RunVtpctl(const std::wstring& arguments, std::string& output) {
    const std::wstring exe = EnvironmentValue(L"VTP_DRIVER_DIR") + L"\\vtpctl.exe";
    ChildProcess child = ChildProcess::Start(exe, arguments, {});
    if (!child.Started() || !child.Wait(120000)) {
        output = "vtpctl did not run to its end";
        return static_cast<DWORD>(-1);
    }
    output = child.Output();
    return child.ExitCode();
}

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

} // namespace vpadtest
