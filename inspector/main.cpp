// tapdeck-layout.exe: where Tapdeck's buttons lie on the touchpad, and why one does nothing.
// A console program over the inspector library; docs/layout-inspector.md describes it.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "inspector.h"

int main() {
    std::vector<std::wstring> args;
    int argc = 0;
    if (wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc)) {
        args.assign(argv + (argc > 0 ? 1 : 0), argv + argc);
        LocalFree(argv);
    }
    const inspector::RunResult result = inspector::RunInspector(args);
    std::fwrite(result.out.data(), 1, result.out.size(), stdout);
    std::fflush(stdout);
    std::fwrite(result.err.data(), 1, result.err.size(), stderr);
    return result.exitCode;
}
