#include "delivery.h"

#include <windows.h>
#include <winternl.h>
#include <tlhelp32.h>

#include <cstddef>
#include <cstdio>
#include <vector>

#include "devices.h"

namespace vtp {

namespace {

constexpr DWORD ReadyWaitMs = 10000;
constexpr DWORD AskAgainMs = 100;

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) {
        out.push_back(c > 0 && c < 128 ? static_cast<char>(c) : '?');
    }
    return out;
}

std::string ObjectName(HANDLE object) {
    wchar_t name[256] = {};
    DWORD needed = 0;
    if (object == nullptr || !GetUserObjectInformationW(object, UOI_NAME, name,
                                                        sizeof name - sizeof(wchar_t), &needed)) {
        return "(unknown)";
    }
    return Narrow(name);
}

std::string ProcessName(DWORD id) {
    std::string name = "(unknown)";
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return name;
    }
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == id) {
            name = Narrow(entry.szExeFile);
            break;
        }
    }
    CloseHandle(snapshot);
    return name;
}

std::string Window(HWND window) {
    if (window == nullptr) {
        return "none";
    }
    wchar_t className[128] = {};
    GetClassNameW(window, className, 127);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char text[320];
    std::snprintf(text, sizeof text, "%p (class %s, process %lu %s)", static_cast<void*>(window),
                  Narrow(className).c_str(), process, ProcessName(process).c_str());
    return text;
}

// The start of a process's parameters as Windows lays them out, up to the desktop it was
// started on; winternl.h declares only the first fields.
struct StartParameters {
    ULONG maximumLength;
    ULONG length;
    ULONG flags;
    ULONG debugFlags;
    HANDLE console;
    ULONG consoleFlags;
    HANDLE input;
    HANDLE output;
    HANDLE error;
    UNICODE_STRING currentDirectory;
    HANDLE currentDirectoryHandle;
    UNICODE_STRING dllPath;
    UNICODE_STRING imagePath;
    UNICODE_STRING commandLine;
    PVOID environment;
    ULONG startingX;
    ULONG startingY;
    ULONG countX;
    ULONG countY;
    ULONG countCharsX;
    ULONG countCharsY;
    ULONG fillAttribute;
    ULONG windowFlags;
    ULONG showWindow;
    UNICODE_STRING windowTitle;
    UNICODE_STRING desktop;
};

// The window station and desktop a process was started on, from its parameters; only for a
// process of this one's bitness.
std::string StartDesktop(DWORD id) {
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id);
    if (process == nullptr) {
        return "(cannot be opened)";
    }
    std::string desktop = "(cannot be read)";
    BOOL selfWow64 = FALSE;
    BOOL otherWow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &selfWow64);
    IsWow64Process(process, &otherWow64);
    PROCESS_BASIC_INFORMATION basic = {};
    PEB peb = {};
    StartParameters parameters = {};
    std::vector<wchar_t> name;
    if (selfWow64 != otherWow64) {
        desktop = "(a process of another bitness)";
    } else if (NtQueryInformationProcess(process, ProcessBasicInformation, &basic, sizeof basic,
                                         nullptr) == 0 &&
               ReadProcessMemory(process, basic.PebBaseAddress, &peb, sizeof peb, nullptr) &&
               ReadProcessMemory(process, peb.ProcessParameters, &parameters, sizeof parameters,
                                 nullptr)) {
        name.assign(parameters.desktop.Length / sizeof(wchar_t) + 1, 0);
        if (parameters.desktop.Length == 0) {
            desktop = "(none given: the default)";
        } else if (ReadProcessMemory(process, parameters.desktop.Buffer, name.data(),
                                     parameters.desktop.Length, nullptr)) {
            desktop = Narrow(name.data());
        }
    }
    CloseHandle(process);
    return desktop;
}

std::string DeviceHosts() {
    std::string text;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return "device host: the processes cannot be listed\n";
    }
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        if (_wcsicmp(entry.szExeFile, L"winedevice.exe") == 0) {
            char line[256];
            std::snprintf(line, sizeof line, "device host: winedevice.exe (process %lu) on %s\n",
                          entry.th32ProcessID, StartDesktop(entry.th32ProcessID).c_str());
            text += line;
        }
    }
    CloseHandle(snapshot);
    return text.empty() ? "device host: no winedevice.exe runs\n" : text;
}

std::string Registrations() {
    UINT count = 0;
    GetRegisteredRawInputDevices(nullptr, &count, sizeof(RAWINPUTDEVICE));
    std::vector<RAWINPUTDEVICE> devices(count);
    if (count != 0 &&
        GetRegisteredRawInputDevices(devices.data(), &count, sizeof(RAWINPUTDEVICE)) ==
            static_cast<UINT>(-1)) {
        return "this process's raw-input registrations cannot be read\n";
    }
    std::string text = "this process registers for raw input:";
    if (count == 0) {
        text += " nothing";
    }
    for (UINT i = 0; i < count; ++i) {
        char entry[160];
        std::snprintf(entry, sizeof entry, " [usage %02X/%02X, flags 0x%lX, target %p]",
                      devices[i].usUsagePage, devices[i].usUsage, devices[i].dwFlags,
                      static_cast<void*>(devices[i].hwndTarget));
        text += entry;
    }
    return text + "\n";
}

} // namespace

bool DesktopDeliversReports() {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    return GetForegroundWindow() != nullptr && GetGUIThreadInfo(0, &info) &&
           info.hwndFocus != nullptr;
}

bool ReadyDesktopForReports(std::string& error) {
    const DWORD start = GetTickCount();
    DWORD asked = 0;
    for (bool first = true; !DesktopDeliversReports(); first = false) {
        const DWORD now = GetTickCount();
        if (now - start > ReadyWaitMs) {
            error = "the desktop has no foreground window with the focus, so Wine would drop "
                    "every report, and the desktop window did not take it within 10 s";
            return false;
        }
        // The desktop window's thread takes the foreground, then the focus, once it is told
        // and handles the message: told again while it has not, as a desktop process that is
        // still starting handles none.
        if (first || now - asked >= AskAgainMs) {
            SetForegroundWindow(GetDesktopWindow());
            asked = now;
        }
        Sleep(1);
    }
    return true;
}

std::string DescribeDelivery(const std::wstring& pad) {
    std::string text = DescribePadDevices(pad);
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(0, &info);
    text += "this process's desktop: " + ObjectName(GetProcessWindowStation()) + "\\" +
            ObjectName(GetThreadDesktop(GetCurrentThreadId())) +
            "; foreground window: " + Window(GetForegroundWindow()) +
            "; focus: " + Window(info.hwndFocus) +
            (DesktopDeliversReports() ? "" : " (Wine drops HID reports on this desktop)") + "\n";
    text += Registrations();
    text += DeviceHosts();
    return text;
}

} // namespace vtp
