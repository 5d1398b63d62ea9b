#include "e2e/beep_counter.h"

#include <cstring>
#include <map>
#include <set>

namespace {

constexpr BYTE Int3 = 0xCC;
constexpr DWORD TrapFlag = 0x100;

// The child's environment: this process's own, with `extra` set over it.
std::wstring BuildEnvironment(const std::vector<std::pair<std::wstring, std::wstring>>& extra) {
    std::map<std::wstring, std::wstring> vars;
    if (wchar_t* block = GetEnvironmentStringsW()) {
        for (const wchar_t* p = block; *p; p += wcslen(p) + 1) {
            const std::wstring entry(p);
            const size_t eq = entry.find(L'=', 1);
            if (eq != std::wstring::npos) {
                vars[entry.substr(0, eq)] = entry.substr(eq + 1);
            }
        }
        FreeEnvironmentStringsW(block);
    }
    for (const auto& [name, value] : extra) {
        vars[name] = value;
    }
    std::wstring result;
    for (const auto& [name, value] : vars) {
        result += name + L"=" + value;
        result.push_back(L'\0');
    }
    result.push_back(L'\0');
    return result;
}

template <class T> bool ReadRemote(HANDLE process, ULONG_PTR address, T* value) {
    SIZE_T got = 0;
    return ReadProcessMemory(process, reinterpret_cast<LPCVOID>(address), value, sizeof(T), &got) &&
           got == sizeof(T);
}

std::string ReadRemoteName(HANDLE process, ULONG_PTR address) {
    char name[64] = {};
    SIZE_T got = 0;
    ReadProcessMemory(process, reinterpret_cast<LPCVOID>(address), name, sizeof name - 1, &got);
    return std::string(name, strnlen(name, sizeof name - 1));
}

// The address of `function` in the module loaded at `base` when that module is `module`
// (by its export directory's name); 0 otherwise.
ULONG_PTR FindExport(HANDLE process, ULONG_PTR base, const char* module, const char* function) {
    IMAGE_DOS_HEADER dos;
    IMAGE_NT_HEADERS nt;
    if (!ReadRemote(process, base, &dos) || dos.e_magic != IMAGE_DOS_SIGNATURE ||
        !ReadRemote(process, base + dos.e_lfanew, &nt) || nt.Signature != IMAGE_NT_SIGNATURE) {
        return 0;
    }
    const IMAGE_DATA_DIRECTORY dir = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    IMAGE_EXPORT_DIRECTORY exports;
    if (dir.VirtualAddress == 0 || !ReadRemote(process, base + dir.VirtualAddress, &exports) ||
        _stricmp(ReadRemoteName(process, base + exports.Name).c_str(), module) != 0) {
        return 0;
    }
    for (DWORD i = 0; i < exports.NumberOfNames; ++i) {
        DWORD nameRva = 0;
        WORD ordinal = 0;
        DWORD functionRva = 0;
        if (!ReadRemote(process, base + exports.AddressOfNames + i * sizeof(DWORD), &nameRva) ||
            ReadRemoteName(process, base + nameRva) != function ||
            !ReadRemote(process, base + exports.AddressOfNameOrdinals + i * sizeof(WORD),
                        &ordinal) ||
            !ReadRemote(process, base + exports.AddressOfFunctions + ordinal * sizeof(DWORD),
                        &functionRva)) {
            continue;
        }
        // An address inside the export directory is a forwarder, not code.
        if (functionRva >= dir.VirtualAddress && functionRva < dir.VirtualAddress + dir.Size) {
            return 0;
        }
        return base + functionRva;
    }
    return 0;
}

bool WriteByte(HANDLE process, ULONG_PTR address, BYTE value) {
    SIZE_T done = 0;
    const bool ok =
        WriteProcessMemory(process, reinterpret_cast<LPVOID>(address), &value, 1, &done) &&
        done == 1;
    FlushInstructionCache(process, reinterpret_cast<LPCVOID>(address), 1);
    return ok;
}

// Puts the thread back at `address` and makes it stop again after one instruction.
void StepFrom(HANDLE thread, ULONG_PTR address) {
    alignas(16) CONTEXT context = {};
    context.ContextFlags = CONTEXT_CONTROL;
    if (!GetThreadContext(thread, &context)) {
        return;
    }
#ifdef _WIN64
    context.Rip = address;
#else
    context.Eip = static_cast<DWORD>(address);
#endif
    context.EFlags |= TrapFlag;
    SetThreadContext(thread, &context);
}

} // namespace

BeepCountingProcess::BeepCountingProcess(
    const std::wstring& program,
    const std::vector<std::pair<std::wstring, std::wstring>>& environment) {
    auto vars = environment;
    vars.emplace_back(L"WINEDEBUG", L"-all");
    debugger =
        std::thread([this, program, block = BuildEnvironment(vars)] { Debug(program, block); });
    std::unique_lock guard(lock);
    changed.wait(guard, [this] { return launched; });
}

BeepCountingProcess::~BeepCountingProcess() {
    if (process && ExitCode() == STILL_ACTIVE) {
        TerminateProcess(process, 1);
    }
    debugger.join();
    if (process) {
        CloseHandle(process);
    }
}

bool BeepCountingProcess::Wait(DWORD ms) const {
    return process && WaitForSingleObject(process, ms) == WAIT_OBJECT_0;
}

DWORD BeepCountingProcess::ExitCode() const {
    DWORD code = STILL_ACTIVE;
    if (process) {
        GetExitCodeProcess(process, &code);
    }
    return code;
}

int BeepCountingProcess::BeepCount() const {
    std::lock_guard guard(lock);
    return beepFound ? beeps : -1;
}

void BeepCountingProcess::Debug(std::wstring program, std::wstring environmentBlock) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    std::wstring commandLine = L"\"" + program + L"\"";
    const BOOL created = CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr,
                                        FALSE, DEBUG_ONLY_THIS_PROCESS | CREATE_UNICODE_ENVIRONMENT,
                                        environmentBlock.data(), nullptr, &startup, &info);
    {
        std::lock_guard guard(lock);
        process = created ? info.hProcess : nullptr;
        processId = created ? info.dwProcessId : 0;
        launched = true;
    }
    changed.notify_all();
    if (!created) {
        return;
    }
    CloseHandle(info.hThread);

    // The event's thread handles belong to the system; they are only borrowed here.
    std::map<DWORD, HANDLE> threads;
    std::set<DWORD> stepping;
    ULONG_PTR beepAt = 0;
    BYTE original = 0;
    for (bool ended = false; !ended;) {
        DEBUG_EVENT event;
        if (!WaitForDebugEvent(&event, INFINITE)) {
            return;
        }
        DWORD reply = DBG_CONTINUE;
        switch (event.dwDebugEventCode) {
        case CREATE_PROCESS_DEBUG_EVENT:
            if (event.u.CreateProcessInfo.hFile) {
                CloseHandle(event.u.CreateProcessInfo.hFile);
            }
            threads[event.dwThreadId] = event.u.CreateProcessInfo.hThread;
            break;
        case CREATE_THREAD_DEBUG_EVENT:
            threads[event.dwThreadId] = event.u.CreateThread.hThread;
            break;
        case EXIT_THREAD_DEBUG_EVENT:
            threads.erase(event.dwThreadId);
            break;
        case LOAD_DLL_DEBUG_EVENT:
            if (event.u.LoadDll.hFile) {
                CloseHandle(event.u.LoadDll.hFile);
            }
            if (beepAt == 0) {
                const auto base = reinterpret_cast<ULONG_PTR>(event.u.LoadDll.lpBaseOfDll);
                beepAt = FindExport(info.hProcess, base, "user32.dll", "MessageBeep");
                if (beepAt && ReadRemote(info.hProcess, beepAt, &original) &&
                    WriteByte(info.hProcess, beepAt, Int3)) {
                    std::lock_guard guard(lock);
                    beepFound = true;
                }
            }
            break;
        case EXCEPTION_DEBUG_EVENT: {
            const EXCEPTION_RECORD& record = event.u.Exception.ExceptionRecord;
            const auto at = reinterpret_cast<ULONG_PTR>(record.ExceptionAddress);
            if (record.ExceptionCode == EXCEPTION_BREAKPOINT && beepAt &&
                (at == beepAt || at == beepAt + 1)) {
                {
                    std::lock_guard guard(lock);
                    ++beeps;
                }
                // Run the real first instruction, then put the breakpoint back.
                WriteByte(info.hProcess, beepAt, original);
                StepFrom(threads[event.dwThreadId], beepAt);
                stepping.insert(event.dwThreadId);
            } else if (record.ExceptionCode == EXCEPTION_SINGLE_STEP &&
                       stepping.erase(event.dwThreadId)) {
                WriteByte(info.hProcess, beepAt, Int3);
            } else if (record.ExceptionCode != EXCEPTION_BREAKPOINT) {
                // The loader's own first breakpoint is passed over; all else is the child's.
                reply = DBG_EXCEPTION_NOT_HANDLED;
            }
            break;
        }
        case EXIT_PROCESS_DEBUG_EVENT:
            ended = true;
            break;
        default:
            break;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, reply);
    }
}
