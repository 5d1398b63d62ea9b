#include "crash_report.h"

#include <cstdio>
#include <cwchar>

namespace {

std::wstring FileName(HANDLE file) {
    wchar_t path[MAX_PATH] = {};
    if (file == nullptr || GetFinalPathNameByHandleW(file, path, MAX_PATH, 0) == 0) {
        return L"?";
    }
    const wchar_t* slash = std::wcsrchr(path, L'\\');
    return slash != nullptr ? slash + 1 : path;
}

uint64_t ImageSize(HANDLE process, uint64_t base) {
    IMAGE_DOS_HEADER dos = {};
    IMAGE_NT_HEADERS nt = {};
    SIZE_T got = 0;
    // NOLINTBEGIN(performance-no-int-to-ptr): addresses in the other process
    if (!ReadProcessMemory(process, reinterpret_cast<const void*>(base), &dos, sizeof dos, &got) ||
        dos.e_magic != IMAGE_DOS_SIGNATURE ||
        !ReadProcessMemory(process, reinterpret_cast<const void*>(base + dos.e_lfanew), &nt,
                           sizeof nt, &got)) {
        return 0;
    }
    // NOLINTEND(performance-no-int-to-ptr)
    return nt.OptionalHeader.SizeOfImage;
}

void Remember(std::vector<LoadedModule>& modules, HANDLE process, HANDLE file, void* base) {
    const auto at = reinterpret_cast<uintptr_t>(base);
    modules.push_back({at, ImageSize(process, at), FileName(file)});
    if (file != nullptr) {
        CloseHandle(file);
    }
}

} // namespace

std::wstring Locate(const std::vector<LoadedModule>& modules, uint64_t address) {
    // The module with the nearest base at or below the address holds it, if it reaches so far.
    const LoadedModule* best = nullptr;
    for (const LoadedModule& m : modules) {
        if (address >= m.base && (best == nullptr || m.base > best->base)) {
            best = &m;
        }
    }
    if (best == nullptr || (best->size != 0 && address - best->base >= best->size)) {
        return L"?";
    }
    wchar_t offset[32] = {};
    std::swprintf(offset, std::size(offset), L"+0x%llx",
                  static_cast<unsigned long long>(address - best->base));
    return best->name + offset;
}

std::wstring CrashLine(DWORD pid, const std::wstring& image, DWORD code, uint64_t address,
                       const std::wstring& where) {
    wchar_t line[512] = {};
    std::swprintf(line, std::size(line),
                  L"crash: process %lu (%ls) ended by exception 0x%08lx at 0x%llx in %ls",
                  static_cast<unsigned long>(pid), image.c_str(), static_cast<unsigned long>(code),
                  static_cast<unsigned long long>(address), where.c_str());
    return line;
}

int ReportCrash(DWORD pid, HANDLE attached) {
    if (!DebugActiveProcess(pid)) {
        std::fwprintf(stderr, L"crash: process %lu crashed; could not attach (error %lu)\n",
                      static_cast<unsigned long>(pid), GetLastError());
        if (attached != nullptr) {
            SetEvent(attached);
        }
        return 1;
    }
    DebugSetProcessKillOnExit(TRUE);
    std::vector<LoadedModule> modules;
    std::wstring image = L"?";
    HANDLE process = nullptr;
    bool signalled = false;
    const auto signal = [&] {
        if (!signalled && attached != nullptr) {
            SetEvent(attached);
        }
        signalled = true;
    };
    DEBUG_EVENT event = {};
    // The events of the attach come first (the process, its modules and threads, a break-in);
    // once they are through, the crashing thread is let go and hands its exception over.
    for (;;) {
        if (!WaitForDebugEvent(&event, signalled ? 30000 : 500)) {
            if (signalled) {
                break;
            }
            signal();
            continue;
        }
        switch (event.dwDebugEventCode) {
        case CREATE_PROCESS_DEBUG_EVENT:
            process = event.u.CreateProcessInfo.hProcess;
            image = FileName(event.u.CreateProcessInfo.hFile);
            Remember(modules, process, event.u.CreateProcessInfo.hFile,
                     event.u.CreateProcessInfo.lpBaseOfImage);
            break;
        case LOAD_DLL_DEBUG_EVENT:
            Remember(modules, process, event.u.LoadDll.hFile, event.u.LoadDll.lpBaseOfDll);
            break;
        case EXCEPTION_DEBUG_EVENT: {
            const EXCEPTION_RECORD& record = event.u.Exception.ExceptionRecord;
            if (record.ExceptionCode == EXCEPTION_BREAKPOINT && !signalled) {
                signal(); // the break-in of the attach
                break;
            }
            const auto address = reinterpret_cast<uintptr_t>(record.ExceptionAddress);
            std::fwprintf(
                stderr, L"%ls\n",
                CrashLine(pid, image, record.ExceptionCode, address, Locate(modules, address))
                    .c_str());
            std::fflush(stderr);
            // Not handled: the process ends itself with the exception's code once let go.
            ContinueDebugEvent(event.dwProcessId, event.dwThreadId, DBG_EXCEPTION_NOT_HANDLED);
            DebugSetProcessKillOnExit(FALSE);
            DebugActiveProcessStop(pid);
            return 0;
        }
        case EXIT_PROCESS_DEBUG_EVENT:
            return 1;
        default:
            break;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, DBG_CONTINUE);
    }
    std::fwprintf(stderr, L"crash: process %lu crashed; no exception came to the debugger\n",
                  static_cast<unsigned long>(pid));
    if (process != nullptr) {
        TerminateProcess(process, 0xDEAD);
    }
    return 1;
}
