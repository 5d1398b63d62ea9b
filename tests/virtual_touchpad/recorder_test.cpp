// The report recorder on its own: a virtual pad's touchpad collection and a collection of media
// keys arrive, reports come, the pad goes and comes back; the folder then holds the pad's
// rebuilt descriptor, its install arguments and the session, which replay through vtpctl as
// they were recorded, and nothing of the keys. In folders that cannot take it (one no one may
// write, a full disk, a session past its cap) the recording ends and the caller never notices.
// And wired into velptp: each claim with the setting on records every touchpad collection that
// reports (one velptp cannot use too) into a subfolder of its own, and a folder that cannot
// take it ends the recording, never the claim.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ptp/claim_settle.h"
#include "descriptor.h"
#include "hid_descriptor.h"
#include "pad_device.h"
#include "pad_session.h"
#include "preparsed_reader.h"
#include "report_recorder.h"
#include "support/process.h"
#include "velptp_core.h"
#include "virtual_pads.h"

namespace {

using vpadtest::FilesIn;
using vpadtest::NewFolder;
using vpadtest::RunVtpctl;
using vpadtest::Steps;

struct Collection {
    HANDLE handle = nullptr;
    std::vector<BYTE> preparsed;
};

Collection Open(const std::wstring& pad) {
    Collection c;
    c.handle = vpadtest::RawInputHandle(pad, 0);
    UINT size = 0;
    if (c.handle != nullptr &&
        GetRawInputDeviceInfoW(c.handle, RIDI_PREPARSEDDATA, nullptr, &size) == 0) {
        c.preparsed.resize(size);
        GetRawInputDeviceInfoW(c.handle, RIDI_PREPARSEDDATA, c.preparsed.data(), &size);
    }
    return c;
}

std::string LastLine(const std::string& text) {
    const size_t end = text.find_last_not_of('\n');
    const size_t start = text.rfind('\n', end);
    return text.substr(start == std::string::npos ? 0 : start + 1, end - start);
}

// The touchpad reports raw input hands this thread.
class Listener {
public:
    Listener() {
        window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                                 nullptr);
        RAWINPUTDEVICE device = {0x0D, 0x05, RIDEV_INPUTSINK, window};
        RegisterRawInputDevices(&device, 1, sizeof device);
    }
    ~Listener() {
        RAWINPUTDEVICE device = {0x0D, 0x05, RIDEV_REMOVE, nullptr};
        RegisterRawInputDevices(&device, 1, sizeof device);
        DestroyWindow(window);
    }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    void Take() {
        MSG msg;
        while (PeekMessageW(&msg, window, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_INPUT) {
                UINT size = 0;
                // NOLINTNEXTLINE(performance-no-int-to-ptr)
                const auto input = reinterpret_cast<HRAWINPUT>(msg.lParam);
                GetRawInputData(input, RID_INPUT, nullptr, &size, sizeof(RAWINPUTHEADER));
                std::vector<BYTE> buffer(size);
                GetRawInputData(input, RID_INPUT, buffer.data(), &size, sizeof(RAWINPUTHEADER));
                const auto* raw = reinterpret_cast<const RAWINPUT*>(buffer.data());
                reports.emplace_back(raw->data.hid.bRawData,
                                     raw->data.hid.bRawData + raw->data.hid.dwSizeHid);
            }
            DispatchMessageW(&msg);
        }
    }

    std::vector<vtp::Bytes> reports;

private:
    HWND window = nullptr;
};

class Recorder : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        vpadtest::RemoveAll();
        // The one-finger pad answers contact count maximum 5 and pad type 5 (report 5).
        vpadtest::Install(L"pad", L"hybrid-one-finger", {{0x05, 0x55}});
        vpadtest::Install(L"keys", L"consumer-control");
        // A touch pad without contact ids or a contact count: velptp cannot use it.
        vtp::PadSpec unusable;
        unusable.name = L"unusable";
        unusable.product = L"Virtual unusable touchpad";
        std::string error;
        ASSERT_TRUE(vtp::ParseHex("05 0D 09 05 A1 01 85 09 09 22 A1 02 15 00 25 01 75 01 95 01 "
                                  "09 42 81 02 95 07 81 03 05 01 26 FF 0F 75 10 95 01 09 30 81 02 "
                                  "09 31 81 02 C0 C0",
                                  unusable.descriptor, error))
            << error;
        ASSERT_TRUE(vtp::InstallPad(unusable, EnvironmentValue(L"VTP_DRIVER_DIR"), error)) << error;
    }
    static void TearDownTestSuite() { vpadtest::RemoveAll(); }
};

const vtp::Bytes Touch[] = {
    vpadtest::OneFingerReport(true, 1000, 500, 100),
    vpadtest::OneFingerReport(true, 1010, 500, 180),
    vpadtest::OneFingerReport(false, 1010, 500, 264),
    vpadtest::OneFingerReport(true, 2000, 900, 5000),
};

TEST_F(Recorder, ASessionIsRecordedAsThePadSentItAndReplaysAsItWas) {
    const std::wstring folder = NewFolder(L"rec");
    Collection pad = Open(L"pad");
    const Collection keys = Open(L"keys");
    ASSERT_FALSE(pad.preparsed.empty()) << vtp::DescribeDelivery(L"pad");
    ASSERT_FALSE(keys.preparsed.empty()) << vtp::DescribeDelivery(L"keys");
    const BYTE key[] = {0x01, 0xCD, 0x00}; // play/pause: never recorded
    ptp::hid::ParsedCollection padModel;
    std::string error;
    ASSERT_TRUE(ReadPreparsed(pad.preparsed.data(), padModel, error)) << error;
    {
        ReportRecorder::Options options;
        options.folder = folder;
        options.velptpVersion = "9.8.7";
        ReportRecorder recorder(options);
        const int64_t t = 5'000'000;
        recorder.PadArrived(keys.handle, keys.preparsed.data(), keys.preparsed.size(), t);
        recorder.PadArrived(pad.handle, pad.preparsed.data(), pad.preparsed.size(), t);
        recorder.Report(pad.handle, Touch[0].data(), Touch[0].size(), t + 10'000);
        recorder.Report(keys.handle, key, sizeof key, t + 12'000);
        recorder.Report(pad.handle, Touch[1].data(), Touch[1].size(), t + 18'000);
        recorder.Report(pad.handle, Touch[2].data(), Touch[2].size(), t + 26'400);
        recorder.PadRemoved(pad.handle, t + 126'000);
        ASSERT_TRUE(recorder.WaitWritten(5000));
        vpadtest::Unplug(L"pad");
        vpadtest::Replug(L"pad");
        pad = Open(L"pad");
        ASSERT_FALSE(pad.preparsed.empty()) << vtp::DescribeDelivery(L"pad");
        recorder.PadArrived(pad.handle, pad.preparsed.data(), pad.preparsed.size(), t + 326'000);
        recorder.Report(pad.handle, Touch[3].data(), Touch[3].size(), t + 346'000);
        EXPECT_FALSE(recorder.Ended()) << recorder.EndReason();
    }

    const std::string name = "Virtual-hybrid-one-finger";
    const std::wstring wideName(name.begin(), name.end());
    EXPECT_EQ(FilesIn(folder), (std::vector<std::wstring>{wideName + L".args", wideName + L".hid",
                                                          L"session.script"}));
    const std::string script = ReadWholeFile(folder + L"\\session.script");
    const auto line = [&](const vtp::Bytes& report) {
        std::string text = name;
        char byte[4];
        for (uint8_t b : report) {
            std::snprintf(byte, sizeof byte, " %02X", b);
            text += byte;
        }
        return text;
    };
    EXPECT_EQ(Steps(script),
              (std::vector<std::string>{line(Touch[0]), "wait 8", line(Touch[1]), "wait 8",
                                        line(Touch[2]), "wait 100", "remove " + name, "wait 200",
                                        "add " + name, "wait 20", line(Touch[3])}));
    EXPECT_NE(script.find("velptp 9.8.7"), std::string::npos) << script;
    EXPECT_EQ(LastLine(script), "# The session ends here.");
    EXPECT_EQ(Steps(ReadWholeFile(folder + L"\\" + wideName + L".args")),
              (std::vector<std::string>{name + " " + name +
                                        ".hid --vid 0x1209 --pid 0x7470 --product \"Virtual "
                                        "hybrid-one-finger\" --feature \"05 55\""}));
    // The descriptor reads as what the parser held, its header says whose it is.
    const std::string descriptorFile = ReadWholeFile(folder + L"\\" + wideName + L".hid");
    vtp::Bytes descriptor;
    ASSERT_TRUE(vtp::ParseHex(descriptorFile, descriptor, error)) << error;
    ptp::hid::ParsedCollection read;
    ASSERT_TRUE(ptp::hid::ReadDescriptor(descriptor, read, error)) << error;
    EXPECT_EQ(ptp::hid::FirstDifference(padModel, read), "");
    EXPECT_NE(descriptorFile.find("# product: Virtual hybrid-one-finger\n"), std::string::npos);
    EXPECT_NE(descriptorFile.find("# vendor 0x1209, product 0x7470"), std::string::npos);

    // Two commands replay it: the same reports reach raw input, in order.
    Listener listener;
    std::string output;
    ASSERT_EQ(RunVtpctl(L"install \"@" + folder + L"\\" + wideName + L".args\"", output), 0u)
        << output;
    ASSERT_EQ(RunVtpctl(L"play \"" + folder + L"\\session.script\"", output), 0u) << output;
    const DWORD start = GetTickCount();
    while (listener.reports.size() < 4 && GetTickCount() - start < 5000) {
        listener.Take();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    EXPECT_EQ(listener.reports, std::vector<vtp::Bytes>(std::begin(Touch), std::end(Touch)))
        << vtp::DescribeDelivery(wideName);
}

struct Failure {
    const char* name;
    const wchar_t* folder; // under RECORDER_FOLDERS, or null for a new one
    uint64_t capBytes;
    const char* says;
};

const Failure Failures[] = {
    {"a folder no one may write", L"readonly", ReportRecorder::DefaultCapBytes,
     "session.script cannot be made in the folder"},
    {"a full disk", L"full", ReportRecorder::DefaultCapBytes, "the disk is full"},
    {"the session at its cap", nullptr, 4096, "session.script reached its limit of 4096 bytes"},
};

TEST_F(Recorder, AFolderThatCannotTakeTheRecordingEndsItAndNeverTheCaller) {
    const Collection pad = Open(L"pad");
    ASSERT_FALSE(pad.preparsed.empty()) << vtp::DescribeDelivery(L"pad");
    for (const Failure& f : Failures) {
        SCOPED_TRACE(f.name);
        const std::wstring folder = f.folder != nullptr
                                        ? EnvironmentValue(L"RECORDER_FOLDERS") + L"\\" + f.folder
                                        : NewFolder(L"cap");
        if (f.folder != nullptr && std::wstring(f.folder) == L"readonly") {
            const HANDLE probe = CreateFileW((folder + L"\\probe").c_str(), GENERIC_WRITE, 0,
                                             nullptr, CREATE_ALWAYS, 0, nullptr);
            ASSERT_EQ(probe, INVALID_HANDLE_VALUE) << "the folder can be written: no test";
        }
        ReportRecorder::Options options;
        options.folder = folder;
        options.capBytes = f.capBytes;
        ReportRecorder recorder(options);
        recorder.PadArrived(pad.handle, pad.preparsed.data(), pad.preparsed.size(), 0);
        // Reports until the recording ends, and a thousand more: the caller goes on.
        const DWORD start = GetTickCount();
        for (int64_t i = 0; !recorder.Ended() && GetTickCount() - start < 10000; ++i) {
            recorder.Report(pad.handle, Touch[0].data(), Touch[0].size(), i * 8000);
            Sleep(i % 50 == 0 ? 1 : 0);
        }
        ASSERT_TRUE(recorder.Ended());
        EXPECT_NE(recorder.EndReason().find(f.says), std::string::npos) << recorder.EndReason();
        for (int i = 0; i < 1000; ++i) {
            recorder.Report(pad.handle, Touch[0].data(), Touch[0].size(), 0);
        }
        if (f.folder == nullptr) {
            const std::string script = ReadWholeFile(folder + L"\\session.script");
            EXPECT_LE(script.size(), f.capBytes);
            EXPECT_EQ(LastLine(script), "# The recording ends here: " + std::string(f.says) + ".");
        }
    }
}

} // namespace

namespace {

// Waits until the script holds a line that starts with `text` (the writer writes every 50 ms).
bool WaitForLine(const std::wstring& script, const std::string& text) {
    const DWORD start = GetTickCount();
    do {
        for (const std::string& step : Steps(ReadWholeFile(script))) {
            if (step.rfind(text, 0) == 0) {
                return true;
            }
        }
        Sleep(20);
    } while (GetTickCount() - start < 5000);
    return false;
}

size_t StepsOf(const std::string& script, const std::string& pad) {
    const std::vector<std::string> steps = Steps(script);
    return static_cast<size_t>(std::count_if(steps.begin(), steps.end(), [&](const std::string& s) {
        return s.rfind(pad + " ", 0) == 0;
    }));
}

TEST_F(Recorder, EachClaimRecordsEveryTouchpadThatReportsIntoAFolderOfItsOwn) {
    const std::wstring folder = NewFolder(L"claim");
    ScopedVariable setting(RecordReportsVariable, folder);
    vpadtest::PadDevice pad;
    ASSERT_NO_FATAL_FAILURE(pad.Attach(vpadtest::RawInputHandle(L"pad", 0)));
    vtp::PadFeeder padFeed;
    vtp::PadFeeder unusableFeed;
    vtp::PadFeeder keysFeed;
    std::string error;
    ASSERT_TRUE(padFeed.Open(L"pad", error) && unusableFeed.Open(L"unusable", error) &&
                keysFeed.Open(L"keys", error))
        << error;
    const std::string padName = "Virtual-hybrid-one-finger";
    const std::string unusableName = "Virtual-unusable-touchpad";
    for (int claim = 1; claim <= 2; ++claim) {
        SCOPED_TRACE("claim " + std::to_string(claim));
        ASSERT_EQ(pad.device->Claim(0), S_OK);
        ptptest::WaitOutClaimSettle();
        // The keys' report, one of the pad velptp cannot use, and a tap on the pad it uses.
        vpadtest::Feed(keysFeed, "01 CD 00");
        vpadtest::Feed(unusableFeed, "09 01 00 01 00 01");
        const int scan = claim * 10000;
        for (int i = 0; i < 3; ++i) {
            ASSERT_TRUE(
                padFeed.Send(vpadtest::OneFingerReport(i < 2, 2000, 1200, scan + 80 * i), error))
                << error;
            Sleep(8);
        }
        ASSERT_TRUE(pad.sink->WaitForCalls(4 * static_cast<size_t>(claim)))
            << vtp::DescribeDelivery(L"pad");
        const std::vector<std::wstring> made = vpadtest::SubfoldersOf(folder);
        ASSERT_EQ(made.size(), static_cast<size_t>(claim));
        EXPECT_TRUE(WaitForLine(folder + L"\\" + made.back() + L"\\session.script", unusableName))
            << vtp::DescribeDelivery(L"unusable");
        EXPECT_EQ(pad.device->Unclaim(), S_OK);
        ASSERT_TRUE(PtpWaitDelivery(5000));
    }

    // A folder each, whole once its claim has ended: both touchpads, nothing of the keys.
    const std::vector<std::wstring> made = vpadtest::SubfoldersOf(folder);
    ASSERT_EQ(made.size(), 2u);
    for (const std::wstring& sub : made) {
        SCOPED_TRACE(vpadtest::Narrow(sub));
        const std::wstring recording = folder + L"\\" + sub;
        const std::wstring p = vpadtest::Wide(padName);
        const std::wstring u = vpadtest::Wide(unusableName);
        EXPECT_EQ(FilesIn(recording),
                  (std::vector<std::wstring>{p + L".args", p + L".hid", u + L".args", u + L".hid",
                                             L"session.script"}));
        const std::string script = ReadWholeFile(recording + L"\\session.script");
        EXPECT_EQ(StepsOf(script, padName), 3u) << script;
        EXPECT_EQ(StepsOf(script, unusableName), 1u) << script;
        for (const std::string& step : Steps(script)) {
            EXPECT_TRUE(step.rfind(padName + " ", 0) == 0 ||
                        step.rfind(unusableName + " ", 0) == 0 || step.rfind("wait ", 0) == 0)
                << step;
        }
        EXPECT_EQ(LastLine(script), "# The session ends here.");
    }
}

struct ClaimFailure {
    const char* name;
    const wchar_t* folder; // under RECORDER_FOLDERS, or null for a file's name
};

const ClaimFailure ClaimFailures[] = {
    {"a folder no one may write", L"readonly"},
    {"a file where the folder would be", nullptr},
};

TEST_F(Recorder, AFolderThatCannotTakeTheRecordingEndsItAndNeverTheClaim) {
    for (const ClaimFailure& f : ClaimFailures) {
        SCOPED_TRACE(f.name);
        const std::wstring folder = f.folder != nullptr
                                        ? EnvironmentValue(L"RECORDER_FOLDERS") + L"\\" + f.folder
                                        : TempFilePath(L"nof");
        ScopedVariable setting(RecordReportsVariable, folder);
        vpadtest::PadDevice pad;
        ASSERT_NO_FATAL_FAILURE(pad.Attach(vpadtest::RawInputHandle(L"pad", 0)));
        ASSERT_EQ(pad.device->Claim(0), S_OK);
        ptptest::WaitOutClaimSettle();
        vtp::PadFeeder feeder;
        std::string error;
        ASSERT_TRUE(feeder.Open(L"pad", error)) << error;
        for (int i = 0; i < 3; ++i) {
            ASSERT_TRUE(feeder.Send(vpadtest::OneFingerReport(i < 2, 2000, 1200, 80 * i), error))
                << error;
            Sleep(8);
        }
        ASSERT_TRUE(pad.sink->WaitForCalls(4)) << vtp::DescribeDelivery(L"pad");
        EXPECT_EQ(pad.sink->Calls()[2].a, 0x10000) << "the tap";
        EXPECT_TRUE(vpadtest::SubfoldersOf(folder).empty());
    }
}

} // namespace
