// tapdeck-layout.exe run for real under Wine: on the simulated touchpad (what it asks the
// device library, in its journal), on the real registry, beside a running tapdeck.exe, and with
// bad command lines. Observed from outside: exit code, output, journal.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/pad_window.h"
#include "device/velcom.h"
#include "layout/registry_scratch.h"
#include "support/process.h"
#include "support/sim_scenario.h"

namespace {

constexpr char VelmoraKey[] = "Software\\Velmora";
constexpr char ConfigKey[] = "Software\\Velmora\\TwinpadApp";

// The whole of what the inspector may ask the device library, in order.
const std::vector<std::string> ReadOnlyCalls = {
    "Prepare",
    "LocateDevice",
    "Attach",
    "ReadProperty 0x10000107", // kind
    "ReadProperty 0x10000115", // the four edges
    "ReadProperty 0x10000116",
    "ReadProperty 0x10000117",
    "ReadProperty 0x10000118",
};

struct Result {
    DWORD exitCode = STILL_ACTIVE;
    std::string output; // standard output and error
    DWORD pid = 0;
};

Result RunLayout(const std::wstring& arguments) {
    const std::wstring exe = EnvironmentValue(L"TAPDECK_LAYOUT_EXE");
    EXPECT_FALSE(exe.empty()) << "TAPDECK_LAYOUT_EXE is not set";
    ChildProcess child = ChildProcess::Start(exe, arguments, {});
    EXPECT_TRUE(child.Started()) << "error " << child.StartError();
    Result result;
    if (!child.Wait(30000)) {
        ADD_FAILURE() << "tapdeck-layout.exe did not end";
        return result;
    }
    result.exitCode = child.ExitCode();
    result.pid = child.Id();
    result.output = child.Output();
    return result;
}

// The device operations and object creations of one process, in journal order.
std::vector<std::string> DeviceCalls(const std::vector<JournalRecord>& journal, DWORD pid) {
    static const char* const operations[] = {"Prepare", "LocateDevice",  "Attach",
                                             "Claim",   "SetPacketSink", "Unclaim"};
    std::vector<std::string> calls;
    for (const JournalRecord& r : journal) {
        if (r.pid != pid) {
            continue;
        }
        if (r.event == "ReadProperty" || r.event == "WriteProperty") {
            calls.push_back(r.event + " " + r.Text("id"));
        }
        for (const char* op : operations) {
            if (r.event == op) {
                calls.push_back(op);
            }
        }
    }
    return calls;
}

int CountEvents(const std::vector<JournalRecord>& journal, DWORD pid, const std::string& event) {
    int n = 0;
    for (const JournalRecord& r : journal) {
        n += r.pid == pid && r.event == event ? 1 : 0;
    }
    return n;
}

std::vector<std::string> FirstCalls(size_t n) {
    return {ReadOnlyCalls.begin(), ReadOnlyCalls.begin() + static_cast<std::ptrdiff_t>(n)};
}

// Every run of spaces and line breaks as one space: the reports wrap their long lines.
std::string Squeezed(const std::string& text) {
    std::string out;
    for (const char c : text) {
        const bool space = c == ' ' || c == '\n' || c == '\r';
        if (!space) {
            out += c;
        } else if (!out.empty() && out.back() != ' ') {
            out += ' ';
        }
    }
    return out;
}

std::string Contains(const std::string& text, const std::string& piece) {
    return Squeezed(text).find(Squeezed(piece)) != std::string::npos
               ? ""
               : "missing: " + piece + "\n" + text;
}

std::string View() {
    return std::to_string(sizeof(void*) * 8) + "-bit view";
}

struct DeviceCase {
    const char* name;
    const char* scenario; // null: the simulated touchpad's defaults
    DWORD exitCode;
    const char* says;
    size_t callsMade; // of ReadOnlyCalls
};

constexpr DeviceCase DeviceCases[] = {
    {"default touchpad", nullptr, 0,
     "Bounds from the touchpad, through the device library (touchpad handle 1, its four edges "
     "read), as the registry does not override them",
     8},
    {"other edges", "edges 1632 1568 5312 4288\nhandle 5\n", 0,
     "Sizes: colWidth 613, btnWidth 422, btnHeight 306, stripHeight 1814", 8},
    {"narrow touchpad", "edges 1000 1000 3000 3000\n", 1,
     "3 of the eleven zones can never be hit. (exit code 1)", 8},
    {"no touchpad", "handle -1\n", 2,
     "No bounds: no touchpad found: the device library knows of none", 2},
    {"locate fails", "status LocateDevice 1\n", 2, "LocateDevice failed with status 1", 2},
    {"prepare fails", "status Prepare -1\n", 2, "Prepare failed with status -1", 1},
    {"attach fails", "status Attach 0x80004005\n", 2,
     "the touchpad (handle 1) could not be attached: Attach failed with status -2147467259", 3},
    {"wrong kind", "kind 7\n", 2, "its kind reads 7, a touchpad's is 13", 4},
    {"an edge of 0", "edges 1000 0 7000 5800\n", 2,
     "the touchpad reports 0 for its low Y edge (PropYLo)", 8},
    {"no library object", "create VelAPI fail\n", 2,
     "the device library's object VelCom.VelAPI could not be made", 0},
    {"no device object", "create PointingDevice fail\n", 2,
     "the device library's object VelCom.PointingDevice could not be made", 0},
};

class LayoutInspector : public testing::Test {
protected:
    void SetUp() override { DeleteKeyTree(ConfigKey, VelmoraKey); }
    void TearDown() override { DeleteKeyTree(ConfigKey, VelmoraKey); }
};

TEST_F(LayoutInspector, ReadsTheTouchpadWithoutClaimingIt) {
    for (const DeviceCase& c : DeviceCases) {
        SCOPED_TRACE(c.name);
        // A scenario without directives is the simulated touchpad's defaults.
        SimScenario scenario(c.scenario ? c.scenario : "");
        const Result run = RunLayout(L"");
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_EQ(Contains(run.output, c.says), "");
        const auto journal = scenario.Journal();
        // Only the reads of the mode start's first steps: no sink, no claim, no mode light.
        EXPECT_EQ(DeviceCalls(journal, run.pid), FirstCalls(c.callsMade));
        // Every object it made, it released.
        EXPECT_EQ(CountEvents(journal, run.pid, "Create"),
                  CountEvents(journal, run.pid, "Release"));
    }
}

// Unregisters the simulated touchpad library from the prefix for as long as it lives, through
// the library's own exports, and registers it again.
class LibraryUnregistered {
public:
    LibraryUnregistered() { ok = Call("DllUnregisterServer"); }
    ~LibraryUnregistered() { Call("DllRegisterServer"); }
    LibraryUnregistered(const LibraryUnregistered&) = delete;
    LibraryUnregistered& operator=(const LibraryUnregistered&) = delete;
    bool ok = false;

private:
    static bool Call(const char* name) {
        using Export = HRESULT(WINAPI*)();
        HMODULE module = SimModule();
        auto fn =
            module ? reinterpret_cast<Export>(reinterpret_cast<void*>(GetProcAddress(module, name)))
                   : nullptr;
        return fn && SUCCEEDED(fn());
    }
};

TEST_F(LayoutInspector, SaysWhenTheDeviceLibraryIsNotInstalled) {
    {
        LibraryUnregistered absent;
        ASSERT_TRUE(absent.ok);
        const Result run = RunLayout(L"--json");
        EXPECT_EQ(run.exitCode, 2u);
        EXPECT_EQ(Contains(run.output, "\"reason\": \"device-library-not-registered\""), "");
        EXPECT_EQ(Contains(run.output, "the ProgID VelCom.VelAPI is not registered"), "");
    }
    // Registered again for the tests after this one.
    CLSID clsid;
    EXPECT_TRUE(SUCCEEDED(CLSIDFromProgID(ProgIdDeviceApi, &clsid)));
}

struct RegistryCase {
    const char* name;
    StoredValue values[5];
    DWORD exitCode;
    std::string says;
    bool readsTouchpad;
};

const RegistryCase RegistryCases[] = {
    {"override with four bounds",
     {{"UseUserConfig", REG_DWORD, "\x01\0\0\0", 4},
      {"LoX", REG_DWORD, "\x60\x06\0\0", 4},  // 1632
      {"LoY", REG_DWORD, "\x20\x06\0\0", 4},  // 1568
      {"HiX", REG_DWORD, "\xC0\x14\0\0", 4},  // 5312
      {"HiY", REG_DWORD, "\xC0\x10\0\0", 4}}, // 4288
     0,
     "Bounds from the registry override HKLM\\Software\\Velmora\\TwinpadApp (" + View() +
         "), UseUserConfig 1: LoX 1632, LoY 1568, HiX 5312, HiY 4288.",
     false},
    {"override without bounds: the defaults' dead grid",
     {{"UseUserConfig", REG_DWORD, "\x01\0\0\0", 4}},
     1,
     "UseUserConfig 1: LoX 1612 (absent: the default), LoY 2072 (absent: the default)",
     false},
    {"UseUserConfig as 4-byte binary",
     {{"UseUserConfig", REG_BINARY, "\x02\0\0\0", 4}, {"HiX", REG_DWORD, "\x70\x17\0\0", 4}},
     1,
     "UseUserConfig 2: LoX 1612 (absent: the default), LoY 2072 (absent: the default), HiX "
     "6000, HiY 3748",
     false},
    {"UseUserConfig a short string",
     {{"UseUserConfig", REG_SZ, "1", 2}},
     2,
     "No bounds: UseUserConfig in HKLM\\Software\\Velmora\\TwinpadApp (" + View() +
         ") is not a 32-bit value",
     false},
    {"UseUserConfig 0: the touchpad",
     {{"UseUserConfig", REG_DWORD, "\0\0\0\0", 4}, {"LoX", REG_DWORD, "\x01\0\0\0", 4}},
     0,
     "(" + View() + ") has UseUserConfig 0 or none.",
     true},
    {"a bound stored as 0",
     {{"UseUserConfig", REG_DWORD, "\x01\0\0\0", 4}, {"HiY", REG_DWORD, "\0\0\0\0", 4}},
     2,
     "No bounds: HiY is 0 in the registry override",
     false},
};

TEST_F(LayoutInspector, ReadsTheRegistryOverrideAsTapdeckDoes) {
    for (const RegistryCase& c : RegistryCases) {
        SCOPED_TRACE(c.name);
        DeleteKeyTree(ConfigKey, VelmoraKey);
        for (const StoredValue& value : c.values) {
            if (value.name) {
                ASSERT_TRUE(StoreValue(ConfigKey, value));
            }
        }
        SimScenario scenario = SimScenario::Default();
        const Result run = RunLayout(L"");
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_EQ(Contains(run.output, c.says), "");
        // With the override on, the device library is not even loaded.
        const auto calls = DeviceCalls(scenario.Journal(), run.pid);
        EXPECT_EQ(calls, c.readsTouchpad ? ReadOnlyCalls : std::vector<std::string>{});
        EXPECT_EQ(CountEvents(scenario.Journal(), run.pid, "Create") != 0, c.readsTouchpad);
        // Read, never written: the values are still there.
        EXPECT_TRUE(KeyExists(ConfigKey));
    }
}

bool ModeOn(const std::vector<JournalRecord>& journal, DWORD pid) {
    for (const JournalRecord& r : journal) {
        if (r.pid == pid && r.event == "WriteProperty" && r.Num("id") == PropModeLed &&
            r.Num("value") == ModeLedOn) {
            return true;
        }
    }
    return false;
}

TEST_F(LayoutInspector, RunsBesideTapdeckWithoutDisturbingIt) {
    // A touchpad that reports a packet every 10 ms for as long as Tapdeck holds it.
    SimScenario scenario("rate 100\nrepeat 0\npacket a=0\n");
    ChildProcess tapdeck = ChildProcess::Start(EnvironmentValue(L"TAPDECK_EXE"), L"", {});
    ASSERT_TRUE(tapdeck.Started());
    bool on = false;
    for (int i = 0; i < 200 && !on; ++i) {
        Sleep(50);
        on = ModeOn(scenario.Journal(), tapdeck.Id());
    }
    ASSERT_TRUE(on) << "tapdeck.exe did not switch the mode on";

    const Result run = RunLayout(L"--json");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(Contains(run.output, "\"kind\": \"touchpad\""), "");
    // Packets keep coming to Tapdeck after the inspector has gone.
    const int packetsThen = CountEvents(scenario.Journal(), tapdeck.Id(), "Packet");
    auto journal = scenario.Journal();
    for (int i = 0; i < 100 && CountEvents(journal, tapdeck.Id(), "Packet") <= packetsThen; ++i) {
        Sleep(50);
        journal = scenario.Journal();
    }

    EXPECT_EQ(DeviceCalls(journal, run.pid), ReadOnlyCalls);
    // Tapdeck kept the touchpad and its packets kept coming.
    EXPECT_EQ(tapdeck.ExitCode(), STILL_ACTIVE);
    EXPECT_EQ(CountEvents(journal, tapdeck.Id(), "Unclaim"), 0);
    EXPECT_GT(CountEvents(journal, tapdeck.Id(), "Packet"), packetsThen);

    // Ends Tapdeck as a log-off would.
    HWND window = FindWindowA(PadWindowClass, PadWindowTitle);
    ASSERT_NE(window, nullptr);
    DWORD_PTR answer = 0;
    SendMessageTimeoutA(window, WM_ENDSESSION, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer);
    EXPECT_TRUE(tapdeck.Wait(10000));
    EXPECT_EQ(tapdeck.ExitCode(), 0u);
}

struct GivenCase {
    const char* name;
    const wchar_t* arguments;
    DWORD exitCode;
    std::vector<std::string> says;
};

const GivenCase GivenCases[] = {
    {"registry defaults: dead grid",
     L"--bounds 1612,2072,5300,3748 --json",
     1,
     {"\"sizes\": {\"colWidth\": 614, \"btnWidth\": 424, \"btnHeight\": -41, \"stripHeight\": "
      "1117}",
      "\"allZonesCanBeHit\": false"}},
    {"second row",
     L"--bounds=1632,1568,5312,4288 --json",
     0,
     {"\"sizes\": {\"colWidth\": 613, \"btnWidth\": 422, \"btnHeight\": 306, \"stripHeight\": "
      "1814}",
      "\"allZonesCanBeHit\": true"}},
    {"narrow",
     L"--json --bounds 1000,1000,3000,3000",
     1,
     {"\"sizes\": {\"colWidth\": 333, \"btnWidth\": 1431655721, \"btnHeight\": 66, "
      "\"stripHeight\": 1334}"}},
    {"worked example",
     L"--bounds 1000,1000,7000,5800",
     0,
     {"volume strip  steps the volume  6300,2600,7000,5800",
      "button 5      player show/hide  2966,2900,4032,3900",
      "All eleven zones can be hit. (exit code 0)"}},
    {"a bound of 0",
     L"--bounds 1000,0,7000,5800",
     2,
     {"No bounds: the top bound given is 0, and a bound of 0 makes the bounds fail."}},
    {"help", L"--help", 0, {"usage: tapdeck-layout [--bounds L,T,R,B]"}},
    {"unknown option",
     L"--bounds 1,2,3,4 --bogus",
     2,
     {"tapdeck-layout: unknown option '--bogus'", "usage: tapdeck-layout"}},
    {"three numbers",
     L"--bounds 1,2,3",
     2,
     {"tapdeck-layout: --bounds wants four whole 32-bit numbers", "usage: tapdeck-layout"}},
    {"no file for the picture",
     L"--svg",
     2,
     {"tapdeck-layout: --svg needs a file to write", "usage: tapdeck-layout"}},
    {"picture into a folder that does not exist",
     L"--bounds 1000,1000,7000,5800 --svg C:\\no-such-folder\\pad.svg",
     2,
     {"tapdeck-layout: cannot write the picture C:\\no-such-folder\\pad.svg"}},
    {"scenario that does not exist",
     L"--bounds 1000,1000,7000,5800 --touches C:\\no-such-folder\\x.scenario",
     2,
     {"tapdeck-layout: cannot read the scenario C:\\no-such-folder\\x.scenario"}},
};

TEST_F(LayoutInspector, GivenBoundsNeedNoDeviceAndBadArgumentsAreNamed) {
    for (const GivenCase& c : GivenCases) {
        SCOPED_TRACE(c.name);
        SimScenario scenario = SimScenario::Default();
        const Result run = RunLayout(c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode);
        for (const std::string& piece : c.says) {
            EXPECT_EQ(Contains(run.output, piece), "");
        }
        // Neither the device library nor (with an override in the registry) the registry.
        EXPECT_TRUE(DeviceCalls(scenario.Journal(), run.pid).empty());
        EXPECT_EQ(CountEvents(scenario.Journal(), run.pid, "Create"), 0);
    }
}

TEST_F(LayoutInspector, GivenBoundsIgnoreTheRegistry) {
    ASSERT_TRUE(StoreValue(ConfigKey, {"UseUserConfig", REG_SZ, "1", 2}));
    const Result run = RunLayout(L"--bounds 1000,1000,7000,5800");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(Contains(run.output, "Bounds given on the command line"), "");
}

bool WriteWholeFile(const std::wstring& path, const std::string& text) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    const BOOL ok =
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == text.size();
}

TEST_F(LayoutInspector, WritesThePictureAndReadsTheTouches) {
    const std::wstring picture = TempFilePath(L"svg");
    const std::wstring scenario = TempFilePath(L"scn");
    ASSERT_TRUE(WriteWholeFile(scenario, "packet a=0x2000 x=1500 y=5000\npacket a=0\n"));
    const Result run = RunLayout(L"--bounds 1000,1000,7000,5800 --svg \"" + picture +
                                 L"\" --touches \"" + scenario + L"\"");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(Contains(run.output, "1  tap at device (1500, 5000): button 1 (browser home)"), "");
    const std::string svg = ReadWholeFile(picture);
    EXPECT_EQ(svg.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg ", 0), 0u);
    EXPECT_EQ(Contains(svg, "<rect class=\"tap\""), "");

    // A scenario the simulated touchpad would refuse is refused, naming its line.
    ASSERT_TRUE(WriteWholeFile(scenario, "packet a=0\npacket q=1\n"));
    const Result bad = RunLayout(L"--bounds 1000,1000,7000,5800 --touches \"" + scenario + L"\"");
    EXPECT_EQ(bad.exitCode, 2u);
    EXPECT_EQ(Contains(bad.output, ": line 2: unknown key 'q'"), "");
    DeleteFileW(picture.c_str());
    DeleteFileW(scenario.c_str());
}

} // namespace
