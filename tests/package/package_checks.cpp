// Checks of an installed (or uninstalled) Tapdeck, run inside the Wine prefix that
// package_test.sh installs the package into, one group of tests per step of that script:
//
//   NothingInstalled.*  after installers that had to refuse their folder
//   Installed.*         after a silent install, and after an upgrade over it
//   Override.*          after the shipped example override was imported with regedit
//   WithoutDemo.*       after an upgrade without the demo component
//   AnyTouchpad.*       after an upgrade with the Precision Touchpad device library
//   WithLauncher.*      after an upgrade with the launcher (and the library it needs)
//   WithoutLauncher.*   after an upgrade with the library alone
//   Uninstalled.*       after the silent uninstall
//
// The script says what it expects in TAPDECK_EXPECT_VERSION, TAPDECK_EXPECT_HOTKEY (the
// shortcut's hotkey as IShellLink gives it; 0 for none) and TAPDECK_EXPECT_DEMO (1 or 0). The
// checker is of the package's own bitness, so it sees the registry view and the Program Files
// folder that the installed Tapdeck uses.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "device/velcom.h"
#include "e2e/harness.h"
#include "support/class_registry.h"
#include "support/key_hook.h"
#include "support/process.h"

namespace {

using e2e::ExitButton;
using e2e::GridButton;
using e2e::LedWrites;
using e2e::RunFiles;
using e2e::ScenarioText;

constexpr wchar_t UninstallKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tapdeck";
constexpr wchar_t OverrideKey[] = L"Software\\Velmora\\TwinpadApp";
constexpr wchar_t RunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t LauncherClass[] = L"VelTapdeckLauncher";
constexpr bool Win64 = sizeof(void*) == 8;

const wchar_t* const ProgramFiles[] = {L"tapdeck.exe", L"tapdeck-layout.exe",
                                       L"pad-area-override.reg", L"Uninstall.exe"};
const wchar_t* const DemoFiles[] = {L"velsim.dll", L"tapdeck_demo.exe", L"demo.scenario"};

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) {
        out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
    return out;
}

std::wstring KnownFolder(REFKNOWNFOLDERID id) {
    PWSTR path = nullptr;
    std::wstring folder;
    if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &path))) {
        folder = path;
    }
    CoTaskMemFree(path);
    return folder;
}

// Program Files of this bitness (Program Files (x86) for a 32-bit program on 64-bit Windows).
std::wstring InstallFolder() {
    return KnownFolder(FOLDERID_ProgramFiles) + L"\\Tapdeck";
}

std::wstring MenuFolder() {
    return KnownFolder(FOLDERID_CommonPrograms) + L"\\Tapdeck";
}

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool KeyExists(HKEY root, const wchar_t* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

bool RegDword(HKEY root, const wchar_t* path, const wchar_t* name, DWORD* value) {
    DWORD size = sizeof *value;
    return RegGetValueW(root, path, name, RRF_RT_REG_DWORD, nullptr, value, &size) == ERROR_SUCCESS;
}

std::wstring ExpectedVersion() {
    return EnvironmentValue(L"TAPDECK_EXPECT_VERSION");
}

bool ExpectDemo() {
    return EnvironmentValue(L"TAPDECK_EXPECT_DEMO") == L"1";
}

// The server registered for a ProgID: its InprocServer32 path; empty when the ProgID is not
// registered.
std::wstring ServerOf(const wchar_t* progId) {
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(progId, &clsid))) {
        return {};
    }
    return ClassesString(L"CLSID\\" + ClsidText(clsid) + L"\\InprocServer32", nullptr);
}

// A string value of the uninstall entry, or "<missing>".
std::wstring UninstallValue(const wchar_t* name) {
    return RegistryString(HKEY_LOCAL_MACHINE, UninstallKey, name);
}

// A shortcut as IShellLink reads it.
struct Shortcut {
    bool loaded = false;
    std::wstring target;
    std::wstring arguments;
    WORD hotkey = 0;
};

Shortcut ReadShortcut(const std::wstring& path) {
    Shortcut shortcut;
    IShellLinkW* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link)))) {
        return shortcut;
    }
    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        if (SUCCEEDED(file->Load(path.c_str(), STGM_READ))) {
            wchar_t text[MAX_PATH] = {};
            link->GetPath(text, MAX_PATH, nullptr, 0);
            shortcut.target = text;
            text[0] = 0;
            link->GetArguments(text, MAX_PATH);
            shortcut.arguments = text;
            link->GetHotkey(&shortcut.hotkey);
            shortcut.loaded = true;
        }
        file->Release();
    }
    link->Release();
    return shortcut;
}

// Sizes of the files in a folder, in kB rounded up, as an uninstall entry states them.
DWORD FolderKilobytes(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    unsigned long long bytes = 0;
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                bytes += (static_cast<unsigned long long>(found.nFileSizeHigh) << 32) |
                         found.nFileSizeLow;
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    return static_cast<DWORD>((bytes + 1023) / 1024);
}

class PackageTest : public testing::Test {
protected:
    static void SetUpTestSuite() { CoInitialize(nullptr); }
};

// --- after an installer refused its folder ----------------------------------------------------

using NothingInstalled = PackageTest;

TEST_F(NothingInstalled, NoFilesShortcutsEntryOrRegistration) {
    EXPECT_FALSE(Exists(InstallFolder()));
    EXPECT_FALSE(Exists(MenuFolder()));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, UninstallKey));
    EXPECT_EQ(ServerOf(ProgIdDeviceApi), L"");
}

// --- installed ----------------------------------------------------------------------------------

using Installed = PackageTest;

TEST_F(Installed, FilesAreInTheProgramFilesOfThisBitness) {
    EXPECT_EQ(UninstallValue(L"InstallLocation"), InstallFolder());
    for (const wchar_t* file : ProgramFiles) {
        EXPECT_TRUE(Exists(InstallFolder() + L"\\" + file)) << Narrow(file);
    }
    for (const wchar_t* file : DemoFiles) {
        EXPECT_EQ(Exists(InstallFolder() + L"\\" + file), ExpectDemo()) << Narrow(file);
    }
}

TEST_F(Installed, UninstallEntryDescribesTheInstall) {
    EXPECT_EQ(UninstallValue(L"DisplayName"), Win64 ? L"Tapdeck (64-bit)" : L"Tapdeck (32-bit)");
    EXPECT_EQ(UninstallValue(L"DisplayVersion"), ExpectedVersion());
    EXPECT_EQ(Narrow(UninstallValue(L"Publisher")), TAPDECK_PUBLISHER);
    const std::wstring uninstaller = L"\"" + InstallFolder() + L"\\Uninstall.exe\"";
    EXPECT_EQ(UninstallValue(L"UninstallString"), uninstaller);
    EXPECT_EQ(UninstallValue(L"QuietUninstallString"), uninstaller + L" /S");
    DWORD size = 0;
    ASSERT_TRUE(RegDword(HKEY_LOCAL_MACHINE, UninstallKey, L"EstimatedSize", &size));
    const DWORD actual = FolderKilobytes(InstallFolder());
    EXPECT_GE(size + 8, actual);
    EXPECT_LE(size, actual + 8);
}

TEST_F(Installed, StartMenuEntryStartsTapdeckWithTheChosenHotkey) {
    const Shortcut shortcut = ReadShortcut(MenuFolder() + L"\\Tapdeck.lnk");
    ASSERT_TRUE(shortcut.loaded);
    EXPECT_EQ(shortcut.target, InstallFolder() + L"\\tapdeck.exe");
    EXPECT_EQ(shortcut.hotkey,
              std::wcstoul(EnvironmentValue(L"TAPDECK_EXPECT_HOTKEY").c_str(), nullptr, 0));
    const Shortcut demo = ReadShortcut(MenuFolder() + L"\\Tapdeck demo.lnk");
    ASSERT_EQ(demo.loaded, ExpectDemo());
    if (ExpectDemo()) {
        EXPECT_EQ(demo.target, InstallFolder() + L"\\tapdeck_demo.exe");
        EXPECT_EQ(demo.arguments, L"--pause");
    }
}

TEST_F(Installed, SimulatedTouchpadIsRegisteredFromTheInstallFolder) {
    if (!ExpectDemo()) {
        GTEST_SKIP() << "installed without the demo";
    }
    for (const wchar_t* progId : {ProgIdDeviceApi, ProgIdPointingDevice, ProgIdDevicePacket}) {
        EXPECT_EQ(ServerOf(progId), InstallFolder() + L"\\velsim.dll") << Narrow(progId);
    }
}

TEST_F(Installed, TapdeckRunsASessionOnTheInstalledLibrary) {
    if (!ExpectDemo()) {
        GTEST_SKIP() << "installed without the demo";
    }
    RunFiles files(ScenarioText()
                       .Packet("a=0 pause=300")
                       .Tap(GridButton(8))
                       .Packet("a=0 pause=100")
                       .Tap(ExitButton()));
    KeyHook keys;
    ASSERT_TRUE(keys.Installed());
    ChildProcess::Options options;
    options.environment = {{L"VELSIM_SCENARIO", files.scenario.Path()},
                           {L"VELSIM_JOURNAL", files.journal.Path()}};
    ChildProcess tapdeck = ChildProcess::Start(InstallFolder() + L"\\tapdeck.exe", L"", options);
    ASSERT_TRUE(tapdeck.Started()) << tapdeck.StartError();
    ASSERT_TRUE(tapdeck.Wait(20000));
    EXPECT_EQ(tapdeck.ExitCode(), 0u);
    ASSERT_TRUE(keys.WaitFor(2, 2000));
    EXPECT_EQ(keys.Events(), (std::vector<KeyRecord>{{VK_MEDIA_PLAY_PAUSE, false, true},
                                                     {VK_MEDIA_PLAY_PAUSE, true, true}}));
    EXPECT_EQ(LedWrites(ReadJournal(files.journal.Path())),
              (std::vector<LONG>{ModeLedOn, ModeLedOff}));
}

TEST_F(Installed, DemoRunsToItsEnd) {
    if (!ExpectDemo()) {
        GTEST_SKIP() << "installed without the demo";
    }
    e2e::TempFile journal(L"jnl", "");
    ChildProcess::Options options;
    options.environment = {{L"VELSIM_JOURNAL", journal.Path()}};
    ChildProcess demo = ChildProcess::Start(InstallFolder() + L"\\tapdeck_demo.exe", L"", options);
    ASSERT_TRUE(demo.Started()) << demo.StartError();
    ASSERT_TRUE(demo.Wait(60000));
    EXPECT_EQ(demo.ExitCode(), 0u);
    const std::string output = demo.Output();
    // The demo's own low-level hook reports the keys it sees.
    for (const char* line : {"touchpad mode light: on", "Play/Pause pressed",
                             "touchpad mode light: off", "Tapdeck exited with code 0"}) {
        EXPECT_NE(output.find(line), std::string::npos) << line << "\n" << output;
    }
    EXPECT_EQ(LedWrites(ReadJournal(journal.Path())), (std::vector<LONG>{ModeLedOn, ModeLedOff}));
}

// --- the shipped example override ---------------------------------------------------------------

using Override = PackageTest;

// The example's rectangle is (1632, 1568, 5312, 4288): its exit button covers x 4399..5312 and
// turned-over y 1568..2324 (turned-over y = 5856 - device y). Device point (4800, 3956) lies on
// it; with the touchpad's own edges (1000, 1000, 7000, 5800) the same point is on no button.
constexpr e2e::PadPoint ExitUnderExample = {4800, 3956};

TEST_F(Override, TheShippedExampleIsReadByThisBuild) {
    DWORD use = 0;
    DWORD loX = 0;
    ASSERT_TRUE(RegDword(HKEY_LOCAL_MACHINE, OverrideKey, L"UseUserConfig", &use));
    ASSERT_TRUE(RegDword(HKEY_LOCAL_MACHINE, OverrideKey, L"LoX", &loX));
    EXPECT_EQ(use, 1u);
    EXPECT_EQ(loX, 1632u);

    RunFiles files(ScenarioText().Packet("a=0 pause=300").Tap(ExitUnderExample));
    ChildProcess::Options options;
    options.environment = {{L"VELSIM_SCENARIO", files.scenario.Path()},
                           {L"VELSIM_JOURNAL", files.journal.Path()}};
    ChildProcess tapdeck = ChildProcess::Start(InstallFolder() + L"\\tapdeck.exe", L"", options);
    ASSERT_TRUE(tapdeck.Started());
    ASSERT_TRUE(tapdeck.Wait(20000)) << "the tap did not hit the example's exit button";
    EXPECT_EQ(tapdeck.ExitCode(), 0u);
    for (const auto& call : e2e::DeviceCalls(ReadJournal(files.journal.Path()))) {
        EXPECT_NE(call, "ReadProperty 0x10000115") << "the edges came from the touchpad";
    }
}

// --- upgraded without the demo ------------------------------------------------------------------

using WithoutDemo = PackageTest;

TEST_F(WithoutDemo, TheEarlierDemoIsTakenAway) {
    for (const wchar_t* file : ProgramFiles) {
        EXPECT_TRUE(Exists(InstallFolder() + L"\\" + file)) << Narrow(file);
    }
    for (const wchar_t* file : DemoFiles) {
        EXPECT_FALSE(Exists(InstallFolder() + L"\\" + file)) << Narrow(file);
    }
    EXPECT_TRUE(Exists(MenuFolder() + L"\\Tapdeck.lnk"));
    EXPECT_FALSE(Exists(MenuFolder() + L"\\Tapdeck demo.lnk"));
    EXPECT_EQ(ServerOf(ProgIdDeviceApi), L"");
}

// --- with the Precision Touchpad device library -------------------------------------------------

using AnyTouchpad = PackageTest;

TEST_F(AnyTouchpad, ItsLibraryOwnsTheProgIds) {
    EXPECT_TRUE(Exists(InstallFolder() + L"\\velptp.dll"));
    for (const wchar_t* progId : {ProgIdDeviceApi, ProgIdPointingDevice, ProgIdDevicePacket}) {
        EXPECT_EQ(ServerOf(progId), InstallFolder() + L"\\velptp.dll") << Narrow(progId);
    }
}

// Wine has no touchpad: Tapdeck finds none through the library, beeps once and ends.
TEST_F(AnyTouchpad, WithoutATouchpadTapdeckBeepsAndEnds) {
    ChildProcess::Options options;
    options.traceBeeps = true;
    ChildProcess tapdeck = ChildProcess::Start(InstallFolder() + L"\\tapdeck.exe", L"", options);
    ASSERT_TRUE(tapdeck.Started());
    ASSERT_TRUE(tapdeck.Wait(20000));
    EXPECT_EQ(tapdeck.ExitCode(), 0xFFFFFFFFu);
    EXPECT_EQ(tapdeck.BeepCount(), 1);
}

// --- with the launcher --------------------------------------------------------------------------

std::wstring LauncherPath() {
    return InstallFolder() + L"\\tapdeck-launcher.exe";
}

// The launcher windows of every process: one copy runs in a session.
int LaunchersRunning() {
    int count = 0;
    for (HWND at = FindWindowExW(nullptr, nullptr, LauncherClass, nullptr); at != nullptr;
         at = FindWindowExW(nullptr, at, LauncherClass, nullptr)) {
        ++count;
    }
    return count;
}

using WithLauncher = PackageTest;

TEST_F(WithLauncher, ItIsInstalledRunsAndStartsAtEverySignIn) {
    EXPECT_TRUE(Exists(LauncherPath()));
    EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, RunKey, L"TapdeckLauncher"),
              L"\"" + LauncherPath() + L"\"");
    EXPECT_TRUE(e2e::WaitUntil([] { return LaunchersRunning() == 1; }, 10000))
        << "the installer did not start it";
    // A second copy, as a second sign-in entry would start, ends at once.
    ChildProcess second = ChildProcess::Start(LauncherPath(), L"", {});
    ASSERT_TRUE(second.Started());
    ASSERT_TRUE(second.Wait(10000));
    EXPECT_EQ(second.ExitCode(), 0u);
    EXPECT_EQ(LaunchersRunning(), 1);
}

using WithoutLauncher = PackageTest;

TEST_F(WithoutLauncher, TheEarlierLauncherIsQuitAndTakenAway) {
    EXPECT_EQ(LaunchersRunning(), 0);
    EXPECT_FALSE(Exists(LauncherPath()));
    EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, RunKey, L"TapdeckLauncher"), L"<missing>");
    EXPECT_TRUE(Exists(InstallFolder() + L"\\velptp.dll"));
}

// --- uninstalled --------------------------------------------------------------------------------

using Uninstalled = PackageTest;

TEST_F(Uninstalled, NothingOfTheInstallIsLeft) {
    // The uninstaller runs from a copy of itself in the temporary folder: wait for its end.
    EXPECT_TRUE(e2e::WaitUntil(
        [] { return !Exists(InstallFolder()) && !KeyExists(HKEY_LOCAL_MACHINE, UninstallKey); },
        30000));
    EXPECT_FALSE(Exists(InstallFolder()));
    EXPECT_FALSE(Exists(MenuFolder()));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, UninstallKey));
    // Neither device library is left registered.
    for (const wchar_t* progId : {ProgIdDeviceApi, ProgIdPointingDevice, ProgIdDevicePacket}) {
        EXPECT_EQ(ServerOf(progId), L"") << Narrow(progId);
    }
    // The launcher is quit and starts no more.
    EXPECT_EQ(LaunchersRunning(), 0);
    EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, RunKey, L"TapdeckLauncher"), L"<missing>");
}

TEST_F(Uninstalled, TheUsersOverrideStays) {
    DWORD use = 0;
    EXPECT_TRUE(RegDword(HKEY_LOCAL_MACHINE, OverrideKey, L"UseUserConfig", &use));
    EXPECT_EQ(use, 1u);
}

} // namespace
