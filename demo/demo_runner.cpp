// Tapdeck's demo: runs the real tapdeck.exe on the simulated touchpad with a scripted touch
// session and tells, line by line as it happens, what the desktop received from it: keys,
// commands to a media player window, and the touchpad's mode light.
//
//   tapdeck_demo.exe [--pause] [--feed COMMAND] [TAPDECK_EXE [SCENARIO]]
//
// With --feed the touches come from COMMAND, started once tapdeck.exe is (the virtual
// touchpad's player, for Tapdeck on velptp.dll), and the session is not drawn.
// By default tapdeck.exe is the one beside this program (as installed), else the build tree's
// (..\src beside this program's folder), and the scenario is demo.scenario beside this program.
// The journal goes to a temporary file, or to VELSIM_JOURNAL when that is set (and is kept).
// At the end the layout inspector (tapdeck-layout.exe beside this program, else the build
// tree's ..\inspector) tells where the buttons were and draws the session's touches on a
// picture of the pad: demo-session.svg beside this program in the build tree, or
// tapdeck-demo-session.svg in the temporary folder when installed. --pause waits for Enter at
// the end, so that a console opened for the demo stays readable. The hook and the player window
// here are small copies of the test suite's, so that the demo needs nothing of GoogleTest.
#include <windows.h>
#include <shellapi.h>

#include <cstdarg>
#include <cstdio>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "device/velcom.h"

namespace {

std::mutex printLock;

// Lines come from three threads; each is printed whole and at once.
void Say(const char* format, ...) {
    std::lock_guard guard(printLock);
    va_list args; // NOLINT(cppcoreguidelines-init-variables): va_start sets it
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    putchar('\n');
    fflush(stdout);
}

const char* KeyName(DWORD vk) {
    switch (vk) {
    case VK_MEDIA_PLAY_PAUSE:
        return "Play/Pause";
    case VK_MEDIA_NEXT_TRACK:
        return "Next Track";
    case VK_MEDIA_PREV_TRACK:
        return "Previous Track";
    case VK_MEDIA_STOP:
        return "Stop";
    case VK_VOLUME_UP:
        return "Volume Up";
    case VK_VOLUME_DOWN:
        return "Volume Down";
    case VK_VOLUME_MUTE:
        return "Volume Mute";
    case VK_LAUNCH_MEDIA_SELECT:
        return "Media Select";
    case VK_BROWSER_HOME:
        return "Browser Home";
    case VK_LAUNCH_MAIL:
        return "Mail";
    case VK_LWIN:
        return "Windows";
    case 'F':
        return "F";
    case VK_F8:
        return "F8 (the player's mute)";
    case VK_F9:
        return "F9 (the player's volume down)";
    case VK_F10:
        return "F10 (the player's volume up)";
    case VK_F11:
        return "F11 (the player's mute)";
    case VK_CONTROL:
    case VK_LCONTROL:
        return "Ctrl";
    case VK_UP:
        return "Up";
    case VK_DOWN:
        return "Down";
    default:
        return nullptr;
    }
}

// The keyboard as the system receives it, through a low-level hook on its own thread. The keys
// are kept from going further: the stand-in player is no real player, and F10 would open its
// window menu.
class KeyWatcher {
public:
    KeyWatcher() {
        thread = std::thread([this] { Run(); });
        std::unique_lock guard(lock);
        ready.wait(guard, [this] { return threadId != 0; });
    }
    ~KeyWatcher() {
        PostThreadMessageW(threadId, WM_QUIT, 0, 0);
        thread.join();
    }
    KeyWatcher(const KeyWatcher&) = delete;
    KeyWatcher& operator=(const KeyWatcher&) = delete;

private:
    static LRESULT CALLBACK HookProc(int code, WPARAM wParam, LPARAM lParam) {
        if (code != HC_ACTION) {
            return CallNextHookEx(nullptr, code, wParam, lParam);
        }
        // NOLINTNEXTLINE(performance-no-int-to-ptr): the hook's lParam is the record's address
        const auto* key = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
        const char* verb = (key->flags & LLKHF_UP) ? "released" : "pressed";
        if (const char* name = KeyName(key->vkCode)) {
            Say("%s %s", name, verb);
        } else {
            Say("key 0x%02lX %s", static_cast<unsigned long>(key->vkCode), verb);
        }
        return 1;
    }
    void Run() {
        MSG msg;
        PeekMessageW(&msg, nullptr, WM_USER, WM_USER,
                     PM_NOREMOVE); // the queue, before anyone posts
        HHOOK hook = SetWindowsHookExW(WH_KEYBOARD_LL, HookProc, GetModuleHandleW(nullptr), 0);
        if (!hook) {
            Say("(could not watch the keyboard)");
        }
        {
            std::lock_guard guard(lock);
            threadId = GetCurrentThreadId();
        }
        ready.notify_all();
        // The system calls HookProc from inside this loop.
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
            DispatchMessageW(&msg);
        }
        if (hook) {
            UnhookWindowsHookEx(hook);
        }
    }

    std::mutex lock;
    std::condition_variable ready;
    DWORD threadId = 0;
    std::thread thread;
};

// A stand-in Windows Media Player: a visible window of the player's class on its own thread,
// telling the window commands it receives and carrying them out.
class PlayerStandIn {
public:
    PlayerStandIn() {
        thread = std::thread([this] { Run(); });
        std::unique_lock guard(lock);
        ready.wait(guard, [this] { return started; });
    }
    ~PlayerStandIn() {
        if (window) {
            PostMessageW(window, WM_CLOSE, 0, 0);
        }
        thread.join();
    }
    PlayerStandIn(const PlayerStandIn&) = delete;
    PlayerStandIn& operator=(const PlayerStandIn&) = delete;

    bool Open() const { return window != nullptr; }

private:
    static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
        if (msg == WM_SYSCOMMAND) {
            switch (wParam & 0xFFF0) {
            case SC_MINIMIZE:
                Say("player window: minimize");
                break;
            case SC_RESTORE:
                Say("player window: restore");
                break;
            default:
                break;
            }
        } else if (msg == WM_DESTROY) {
            PostQuitMessage(0);
        }
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    void Run() {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = WndProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"WMPlayerApp";
        RegisterClassW(&wc);
        HWND hwnd = CreateWindowExW(0, wc.lpszClassName, L"Windows Media Player (stand-in)",
                                    WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 640, 480,
                                    nullptr, nullptr, wc.hInstance, nullptr);
        if (hwnd) {
            ShowWindow(hwnd, SW_SHOWNORMAL);
        }
        {
            std::lock_guard guard(lock);
            window = hwnd;
            started = true;
        }
        ready.notify_all();
        MSG msg;
        while (hwnd && GetMessageW(&msg, nullptr, 0, 0) > 0) {
            DispatchMessageW(&msg);
        }
    }

    std::mutex lock;
    std::condition_variable ready;
    bool started = false;
    HWND window = nullptr;
    std::thread thread;
};

// Follows the simulated touchpad's journal as it grows and tells when the mode light changes.
class JournalFollower {
public:
    explicit JournalFollower(std::wstring journalPath) : path(std::move(journalPath)) {}

    // Reads what was appended since the last call.
    void Poll() {
        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return;
        }
        LARGE_INTEGER at;
        at.QuadPart = offset;
        SetFilePointerEx(file, at, nullptr, FILE_BEGIN);
        char buffer[65536];
        DWORD got = 0;
        while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
            offset += got;
            pending.append(buffer, got);
        }
        CloseHandle(file);
        for (size_t end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
            Line(pending.substr(0, end));
            pending.erase(0, end + 1);
        }
    }

private:
    static long Field(const std::string& line, const char* key) {
        const size_t at = line.find(key);
        return at == std::string::npos ? -1
                                       : std::strtol(line.c_str() + at + strlen(key), nullptr, 0);
    }
    void Line(const std::string& line) {
        if (line.find(" WriteProperty ") == std::string::npos ||
            Field(line, " id=") != PropModeLed) {
            return;
        }
        const long value = Field(line, " value=");
        if (value == ModeLedOn) {
            Say("touchpad mode light: on (Tapdeck has taken the touchpad)");
        } else if (value == ModeLedOff) {
            Say("touchpad mode light: off (Tapdeck has let the touchpad go)");
        }
    }

    std::wstring path;
    long long offset = 0;
    std::string pending;
};

// Runs the layout inspector on the session: its report goes to this console, its picture to
// `picture`. The touchpad it reads is the simulated one Tapdeck used (same scenario).
bool DrawSession(const std::wstring& layoutExe, const std::wstring& scenario,
                 const std::wstring& picture) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info = {};
    std::wstring commandLine =
        L"\"" + layoutExe + L"\" --touches \"" + scenario + L"\" --svg \"" + picture + L"\"";
    if (!CreateProcessW(layoutExe.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        nullptr, &startup, &info)) {
        Say("Could not start %ls (error %lu).", layoutExe.c_str(), GetLastError());
        return false;
    }
    CloseHandle(info.hThread);
    WaitForSingleObject(info.hProcess, 60000);
    DWORD exitCode = 2;
    GetExitCodeProcess(info.hProcess, &exitCode);
    CloseHandle(info.hProcess);
    // 0: every zone can be hit; 1: some cannot (the report says which). 2: no picture.
    return exitCode != 2;
}

// Under Wine, the Unix name of a Windows path, for a browser outside; empty elsewhere.
std::string UnixPath(const std::wstring& path) {
    using UnixName = char*(CDECL*)(const wchar_t*);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    auto toUnix = kernel ? reinterpret_cast<UnixName>(reinterpret_cast<void*>(
                               GetProcAddress(kernel, "wine_get_unix_file_name")))
                         : nullptr;
    char* name = toUnix ? toUnix(path.c_str()) : nullptr;
    if (!name) {
        return {};
    }
    std::string unixName(name);
    HeapFree(GetProcessHeap(), 0, name);
    return unixName;
}

std::wstring OwnFolder() {
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, n);
    return folder.substr(0, folder.find_last_of(L"\\/"));
}

std::wstring TempFolder() {
    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    return folder;
}

bool FileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Waits for Enter when asked to, so that a console window opened for the demo stays open.
int End(int code, bool pause) {
    if (pause) {
        Say("\nPress Enter to close this window.");
        getchar();
    }
    return code;
}

} // namespace

int main() {
    std::wstring tapdeckExe = OwnFolder() + L"\\tapdeck.exe";
    if (!FileExists(tapdeckExe)) {
        tapdeckExe = OwnFolder() + L"\\..\\src\\tapdeck.exe";
    }
    std::wstring scenario = OwnFolder() + L"\\demo.scenario";
    bool pause = false;
    std::wstring feed;
    int argc = 0;
    if (wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc)) {
        int first = 1;
        if (argc > first && std::wstring(argv[first]) == L"--pause") {
            pause = true;
            ++first;
        }
        if (argc > first + 1 && std::wstring(argv[first]) == L"--feed") {
            feed = argv[first + 1];
            first += 2;
        }
        if (argc > first) {
            tapdeckExe = argv[first];
        }
        if (argc > first + 1) {
            scenario = argv[first + 1];
        }
        LocalFree(argv);
    }
    wchar_t journal[MAX_PATH] = {};
    const DWORD journalLength = GetEnvironmentVariableW(L"VELSIM_JOURNAL", journal, MAX_PATH);
    const bool keepJournal = journalLength > 0 && journalLength < MAX_PATH;
    if (!keepJournal) {
        GetTempFileNameW(TempFolder().c_str(), L"tdj", 0, journal);
    }
    // tapdeck.exe inherits these and hands them to the simulated touchpad library.
    SetEnvironmentVariableW(L"VELSIM_SCENARIO", scenario.c_str());
    SetEnvironmentVariableW(L"VELSIM_JOURNAL", journal);

    PlayerStandIn player;
    KeyWatcher keys;
    JournalFollower follower(journal);
    Say("Tapdeck demo. A stand-in Windows Media Player window is %s.",
        player.Open() ? "open" : "NOT open");
    if (feed.empty()) {
        Say("Starting tapdeck.exe on the simulated touchpad. A finger taps Play/Pause and Next "
            "Track,\nslides the volume up and down, hides and shows the player, mutes, and taps "
            "the exit button.\nWhat the system receives:\n");
    } else {
        Say("Starting tapdeck.exe; its touchpad is the one velptp.dll finds through raw input. "
            "A finger\non it taps Play/Pause and Next Track, slides the volume up and down, mutes "
            "and taps the\nexit button.\nWhat the system receives:\n");
    }

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    std::wstring commandLine = L"\"" + tapdeckExe + L"\"";
    if (!CreateProcessW(tapdeckExe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info)) {
        Say("Could not start %ls (error %lu).", tapdeckExe.c_str(), GetLastError());
        if (!keepJournal) {
            DeleteFileW(journal);
        }
        return End(2, pause);
    }
    CloseHandle(info.hThread);
    PROCESS_INFORMATION feeder = {};
    if (!feed.empty()) {
        STARTUPINFOW feederStartup = {};
        feederStartup.cb = sizeof feederStartup;
        if (!CreateProcessW(nullptr, feed.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &feederStartup, &feeder)) {
            Say("Could not start the touches: %ls (error %lu).", feed.c_str(), GetLastError());
        } else {
            CloseHandle(feeder.hThread);
        }
    }
    DWORD waited = WAIT_TIMEOUT;
    for (int tick = 0; tick < 3000 && waited == WAIT_TIMEOUT; ++tick) {
        waited = WaitForSingleObject(info.hProcess, 20);
        follower.Poll();
    }
    if (waited == WAIT_TIMEOUT) {
        Say("Tapdeck did not end within a minute; stopping it.");
        TerminateProcess(info.hProcess, 1);
        WaitForSingleObject(info.hProcess, 5000);
    }
    Sleep(100); // the last keys reach the hook
    follower.Poll();
    DWORD exitCode = 0;
    GetExitCodeProcess(info.hProcess, &exitCode);
    CloseHandle(info.hProcess);
    Say("Tapdeck exited with code %ld", static_cast<long>(exitCode));
    if (feeder.hProcess != nullptr) {
        WaitForSingleObject(feeder.hProcess, 5000);
        CloseHandle(feeder.hProcess);
    }
    if (!feed.empty()) {
        return End(exitCode == 0 ? 0 : 1, pause);
    }

    Say("\nWhere the buttons were, and where the finger touched, by tapdeck-layout.exe:\n");
    // Installed, the inspector is beside this program, whose folder is not for writing.
    std::wstring layoutExe = OwnFolder() + L"\\tapdeck-layout.exe";
    std::wstring picture = TempFolder() + L"tapdeck-demo-session.svg";
    if (!FileExists(layoutExe)) {
        layoutExe = OwnFolder() + L"\\..\\inspector\\tapdeck-layout.exe";
        picture = OwnFolder() + L"\\demo-session.svg";
    }
    if (DrawSession(layoutExe, scenario, picture)) {
        const std::string unixName = UnixPath(picture);
        const std::string where =
            unixName.empty() ? "" : "\n  (open it in a browser: " + unixName + ")";
        Say("\nThe picture of this session: %ls%s", picture.c_str(), where.c_str());
    }
    if (!keepJournal) {
        DeleteFileW(journal);
    }
    return End(exitCode == 0 ? 0 : 1, pause);
}
