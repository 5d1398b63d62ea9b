// The test prefix's post-mortem debugger: a crashing process ends at once with its exception
// code, and one line names the exception, its address and its module.
#include <gtest/gtest.h>

#include <string>

#include "crash_report.h"
#include "support/process.h"

namespace {

struct LocateCase {
    const char* name;
    uint64_t address;
    const wchar_t* where;
};

const std::vector<LoadedModule>& Modules() {
    static const std::vector<LoadedModule> modules = {
        {0x140000000, 0x21000, L"tapdeck.exe"},
        {0x7b000000, 0x5e5000, L"kernelbase.dll"},
        {0x7b600000, 0, L"kernel32.dll"},
    };
    return modules;
}

constexpr LocateCase LocateCases[] = {
    {"the image's first byte", 0x140000000, L"tapdeck.exe+0x0"},
    {"inside the image", 0x14000156e, L"tapdeck.exe+0x156e"},
    {"just past the image", 0x140021000, L"?"},
    {"below every module", 0x1000, L"?"},
    {"a module of unknown size reaches up to the next one", 0x7b700010, L"kernel32.dll+0x100010"},
    {"the nearest base below wins", 0x7b5e4fff, L"kernelbase.dll+0x5e4fff"},
};

TEST(CrashReport, AnAddressIsNamedByTheModuleThatHoldsIt) {
    for (const LocateCase& c : LocateCases) {
        EXPECT_EQ(Locate(Modules(), c.address), c.where) << c.name;
    }
}

TEST(CrashReport, ACrashingProcessEndsAtOnceWithItsCodeAndWhereItCrashed) {
    const std::wstring probe = EnvironmentValue(L"TAPDECK_BIN") + L"/tests/crash/crash_probe.exe";
    ChildProcess child = ChildProcess::Start(probe, L"", {});
    ASSERT_TRUE(child.Started()) << child.StartError();
    // An interactive debugger would keep it waiting until the test's time-out.
    ASSERT_TRUE(child.Wait(20000)) << "the crashed process did not end";
    EXPECT_EQ(child.ExitCode(), static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));

    // The reporter writes to the standard error it inherits from the crashed process.
    const std::string traces = child.Output();
    const std::string line = "crash: process " + std::to_string(child.Id()) +
                             " (crash_probe.exe) ended by exception 0xc0000005 at 0x";
    const size_t at = traces.find(line);
    ASSERT_NE(at, std::string::npos) << "no crash line in:\n" << traces;
    EXPECT_NE(traces.find(" in crash_probe.exe+0x", at), std::string::npos)
        << traces.substr(at, 200);
}

} // namespace
