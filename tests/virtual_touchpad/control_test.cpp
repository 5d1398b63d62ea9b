// vtpctl.exe as a developer uses it to replay a laptop's pad: its commands, and what it says
// when a descriptor, a script or a report is not right.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include <winternl.h>
#include <hidusage.h>
extern "C" {
#include <hidpi.h>
#include <hidsdi.h>
}

#include "support/process.h"
#include "virtual_pads.h"

namespace {

// A temporary file holding `text`, deleted at the end.
class TextFile {
public:
    explicit TextFile(const std::string& text) : path(TempFilePath(L"vtp")) {
        FILE* file = _wfopen(path.c_str(), L"wb");
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
    }
    ~TextFile() { DeleteFileW(path.c_str()); }
    TextFile(const TextFile&) = delete;
    TextFile& operator=(const TextFile&) = delete;
    std::wstring path;
};

struct Result {
    DWORD exitCode;
    std::string output;
};

Result RunVtpctl(const std::wstring& arguments) {
    const std::wstring exe = EnvironmentValue(L"VTP_DRIVER_DIR") + L"\\vtpctl.exe";
    ChildProcess child = ChildProcess::Start(exe, arguments, {});
    EXPECT_TRUE(child.Started());
    EXPECT_TRUE(child.Wait(60000));
    return {child.ExitCode(), child.Output()};
}

std::wstring Quoted(const std::wstring& path) {
    return L"\"" + path + L"\"";
}

// A one-finger pad in hybrid mode, report 4 of 10 bytes: tests/virtual_touchpad/pads.
std::wstring PadFile() {
    return EnvironmentValue(L"VTP_PADS") + L"\\hybrid-one-finger.hid";
}

class Vtpctl : public testing::Test {
protected:
    void SetUp() override { vpadtest::RemoveAll(); }
    void TearDown() override { vpadtest::RemoveAll(); }
};

TEST_F(Vtpctl, InstallsPlaysListsAndClears) {
    ASSERT_EQ(RunVtpctl(L"install laptop " + Quoted(PadFile()) +
                        L" --vid 0x06cb --pid 0xcd5e "
                        L"--feature \"05 55\"")
                  .exitCode,
              0u);
    EXPECT_NE(RunVtpctl(L"list").output.find("laptop"), std::string::npos);
    const TextFile script("# a tap, unplugged and plugged in again, a tap\n"
                          "laptop 04 07 E8 03 F4 01 00 00 01 00\nwait 8\n"
                          "laptop 04 05 E8 03 F4 01 50 00 01 00\n"
                          "remove laptop\nwait 50\nadd laptop\n"
                          "laptop 04 07 E8 03 F4 01 00 10 01 00\n");
    const Result played = RunVtpctl(L"play " + Quoted(script.path));
    EXPECT_EQ(played.exitCode, 0u) << played.output;
    ASSERT_NE(vpadtest::RawInputHandle(L"laptop", 0), nullptr) << "plugged in again";
    EXPECT_EQ(RunVtpctl(L"clear").exitCode, 0u);
    EXPECT_EQ(RunVtpctl(L"list").output.find("laptop"), std::string::npos);
}

struct Mistake {
    const char* name;
    const char* descriptor; // null: the one-finger pad
    const char* script;     // null: install only
    DWORD exitCode;
    const char* says;
};

const Mistake Mistakes[] = {
    {"a descriptor that is not hex", "05 0D 0", nullptr, 1, "line 1: a lone hex digit"},
    {"a descriptor that does not parse", "05 0D 09 05 A1 01", nullptr, 1,
     "without its End Collection"},
    {"no report ids and a feature report of its own",
     "05 0D 09 05 A1 01 75 08 95 04 81 02 09 55 B1 02 C0", nullptr, 1, "share its feature"},
    {"a report of the wrong length", nullptr, "laptop 04 07 E8 03\n", 1,
     "line 1: a report of 4 bytes where report 4 has 10"},
    {"a report id the pad does not have", nullptr, "laptop 09 07 E8 03\n", 1,
     "declares input report 9"},
    {"a pad that is not there", nullptr, "desk 04 07 E8 03 F4 01 00 00 01 00\n", 1,
     "no pad named desk"},
    {"a line that is no step", nullptr, "wait 8\nlaptop: 04\n", 1, "line 2:"},
};

TEST_F(Vtpctl, SaysWhatIsWrongAndWhere) {
    for (const Mistake& m : Mistakes) {
        SCOPED_TRACE(m.name);
        vpadtest::RemoveAll();
        const TextFile descriptor(m.descriptor != nullptr ? m.descriptor : "");
        const std::wstring file = m.descriptor != nullptr ? descriptor.path : PadFile();
        Result result = RunVtpctl(L"install laptop " + Quoted(file));
        if (m.script != nullptr) {
            ASSERT_EQ(result.exitCode, 0u) << result.output;
            const TextFile script(m.script);
            result = RunVtpctl(L"play " + Quoted(script.path));
        }
        EXPECT_EQ(result.exitCode, m.exitCode);
        EXPECT_NE(result.output.find(m.says), std::string::npos) << result.output;
    }
}

// A pad whose touch pad has a feature report of the id the feed would take first (0xFE), and
// which vtpctl is told to answer: its answer is what a program reads, not the feed's counters,
// and reports still go through.
TEST_F(Vtpctl, APadsOwnFeatureReportIsAnsweredAsGivenWhateverItsId) {
    const TextFile descriptor("05 0D 09 05 A1 01 85 01 09 54 75 08 95 01 81 02"
                              " 85 FE 06 00 FF 09 C5 95 04 B1 02 C0");
    const Result installed =
        RunVtpctl(L"install laptop " + Quoted(descriptor.path) + L" --feature \"FE 01 02 03 04\"");
    ASSERT_EQ(installed.exitCode, 0u) << installed.output;
    const std::wstring path = vtp::DevicePath(L"laptop", 0);
    const HANDLE device =
        CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    BYTE feature[64] = {0xFE};
    HIDP_CAPS caps = {};
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    ASSERT_TRUE(HidD_GetPreparsedData(device, &preparsed));
    HidP_GetCaps(preparsed, &caps);
    HidD_FreePreparsedData(preparsed);
    ASSERT_LE(caps.FeatureReportByteLength, sizeof feature);
    const bool read = HidD_GetFeature(device, feature, caps.FeatureReportByteLength);
    CloseHandle(device);
    ASSERT_TRUE(read);
    EXPECT_EQ(std::vector<BYTE>(feature, feature + 5), (std::vector<BYTE>{0xFE, 1, 2, 3, 4}));

    const TextFile script("laptop 01 05\n");
    const Result played = RunVtpctl(L"play " + Quoted(script.path));
    EXPECT_EQ(played.exitCode, 0u) << played.output;
}

TEST_F(Vtpctl, AWrongCommandLineIsExitCode2) {
    for (const wchar_t* arguments : {L"", L"install", L"play", L"remove", L"frobnicate x"}) {
        EXPECT_EQ(RunVtpctl(arguments).exitCode, 2u);
    }
}

} // namespace
