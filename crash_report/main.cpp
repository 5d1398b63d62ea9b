// crash_report PID EVENT: the post-mortem debugger's command line as AeDebug gives it.
#include <cstdlib>

#include "crash_report.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        return 2;
    }
    const auto pid = static_cast<DWORD>(std::strtoul(argv[1], nullptr, 10));
    // NOLINTNEXTLINE(performance-no-int-to-ptr): AeDebug passes the event handle as a number
    auto* attached = reinterpret_cast<HANDLE>(
        static_cast<uintptr_t>(argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 0));
    return ReportCrash(pid, attached);
}
