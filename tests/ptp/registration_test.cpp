// velptp.dll registered next to the simulated touchpad in the test prefix, through both DLLs'
// own exports, observed in the (Wine) registry and by COM's ProgID lookup; and tapdeck.exe on
// the library under Wine, where there is no touchpad. Every test leaves the simulated library
// owning the ProgIDs, as the prefix had it, whatever happened.
#include <gtest/gtest.h>

#include <objbase.h>

#include <string>

#include "support/class_registry.h"

#include "support/process.h"
#include "support/sim_scenario.h"
#include "velptp_core.h"
#include "velsim_core.h"

namespace {

using ServerCall = HRESULT(STDAPICALLTYPE*)();

HMODULE PtpModule() {
    static HMODULE module = [] {
        const std::wstring path = EnvironmentValue(L"VELPTP_DLL");
        return path.empty() ? nullptr : LoadLibraryW(path.c_str());
    }();
    return module;
}

ServerCall Export(HMODULE module, const char* name) {
    return reinterpret_cast<ServerCall>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

bool ClassRegistered(const CLSID& clsid) {
    return ClassesString(L"CLSID\\" + ClsidText(clsid) + L"\\InprocServer32", nullptr) !=
           L"<missing>";
}

// The class a ProgID names, or GUID_NULL when it names none.
CLSID Owner(const wchar_t* progId) {
    CLSID clsid = GUID_NULL;
    if (FAILED(CLSIDFromProgID(progId, &clsid))) {
        return GUID_NULL;
    }
    return clsid;
}

struct Library {
    const char* name;
    const CLSID* classes[3];
};

constexpr Library Sim = {"velsim",
                         {&CLSID_VelSimApi, &CLSID_VelSimPointingDevice, &CLSID_VelSimPacket}};
constexpr Library Ptp = {"velptp",
                         {&CLSID_VelPtpApi, &CLSID_VelPtpPointingDevice, &CLSID_VelPtpPacket}};
constexpr const wchar_t* ProgIds[3] = {ProgIdDeviceApi, ProgIdPointingDevice, ProgIdDevicePacket};

// The three ProgIDs name the library's three classes (none: nothing names any class).
void ExpectProgIdsOf(const Library* library) {
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(ProgIds[i]);
        const std::wstring named = ClsidText(Owner(ProgIds[i]));
        EXPECT_TRUE(IsEqualCLSID(Owner(ProgIds[i]), library ? *library->classes[i] : GUID_NULL))
            << "names " << std::string(named.begin(), named.end());
    }
}

void ExpectClasses(const Library& library, bool registered) {
    for (const CLSID* clsid : library.classes) {
        EXPECT_EQ(ClassRegistered(*clsid), registered) << library.name;
    }
}

class Registration : public testing::Test {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        ASSERT_NE(PtpModule(), nullptr) << "VELPTP_DLL cannot be loaded";
        ASSERT_NE(SimModule(), nullptr) << "VELSIM_DLL cannot be loaded";
        ptpRegister = Export(PtpModule(), "DllRegisterServer");
        ptpUnregister = Export(PtpModule(), "DllUnregisterServer");
        simRegister = Export(SimModule(), "DllRegisterServer");
        simUnregister = Export(SimModule(), "DllUnregisterServer");
        ASSERT_TRUE(ptpRegister && ptpUnregister && simRegister && simUnregister);
    }
    void TearDown() override {
        // The tests after this one find the simulated touchpad, whatever this one did.
        EXPECT_EQ(simRegister(), S_OK);
        ExpectProgIdsOf(&Sim);
        ptpUnregister();
        ExpectClasses(Ptp, false);
    }

    ServerCall ptpRegister = nullptr;
    ServerCall ptpUnregister = nullptr;
    ServerCall simRegister = nullptr;
    ServerCall simUnregister = nullptr;
};

TEST_F(Registration, RegisteringTheLibraryTakesTheProgIds) {
    ASSERT_EQ(ptpRegister(), S_OK);
    ASSERT_EQ(ptpRegister(), S_OK); // twice is fine
    ExpectProgIdsOf(&Ptp);
    ExpectClasses(Ptp, true);
    ExpectClasses(Sim, true); // the other library's classes stay, unused
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(PtpModule(), path, MAX_PATH);
    for (const CLSID* clsid : Ptp.classes) {
        const std::wstring key = L"CLSID\\" + ClsidText(*clsid);
        EXPECT_EQ(CompareStringOrdinal(ClassesString(key + L"\\InprocServer32", nullptr).c_str(),
                                       -1, path, -1, TRUE),
                  CSTR_EQUAL);
        EXPECT_EQ(ClassesString(key + L"\\InprocServer32", L"ThreadingModel"), L"Both");
    }
    // Tapdeck's way to its objects now makes this library's.
    CLSID device = Owner(ProgIdPointingDevice);
    void* object = nullptr;
    ASSERT_EQ(CoCreateInstance(device, nullptr, 0x15, IID_PointingDevice, &object), S_OK);
    LONG kind = 0;
    static_cast<PointingDevice*>(object)->ReadProperty(PropDeviceKind, &kind);
    EXPECT_EQ(kind, DeviceKindTouchpad);
    static_cast<PointingDevice*>(object)->Release();
    // Registering the other library takes them back.
    ASSERT_EQ(simRegister(), S_OK);
    ExpectProgIdsOf(&Sim);
}

TEST_F(Registration, UnregisteringALibraryLeavesTheProgIdsAnotherOneTook) {
    // The simulator registered, then this library: unregistering the simulator must not take
    // this library's ProgIDs away.
    ASSERT_EQ(ptpRegister(), S_OK);
    ASSERT_EQ(simUnregister(), S_OK);
    ExpectProgIdsOf(&Ptp);
    ExpectClasses(Sim, false);
    // And the other way round.
    ASSERT_EQ(simRegister(), S_OK);
    ASSERT_EQ(ptpUnregister(), S_OK);
    ExpectProgIdsOf(&Sim);
    ExpectClasses(Ptp, false);
    ExpectClasses(Sim, true);
}

TEST_F(Registration, UnregisteringTheOwnerRestoresNothing) {
    ASSERT_EQ(ptpRegister(), S_OK);
    ASSERT_EQ(ptpUnregister(), S_OK);
    ExpectProgIdsOf(nullptr);
    ExpectClasses(Ptp, false);
    ExpectClasses(Sim, true);
    EXPECT_EQ(ptpUnregister(), S_OK); // already gone: not an error
}

TEST_F(Registration, TheDllAnswersForItsClassesAndCanUnloadWhenNothingLives) {
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto get = reinterpret_cast<GetClassObject>(
        reinterpret_cast<void*>(GetProcAddress(PtpModule(), "DllGetClassObject")));
    ServerCall canUnload = Export(PtpModule(), "DllCanUnloadNow");
    ASSERT_TRUE(get && canUnload);
    EXPECT_EQ(canUnload(), S_OK);
    void* out = nullptr;
    EXPECT_EQ(get(CLSID_VelSimPacket, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
    ASSERT_EQ(get(CLSID_VelPtpPacket, IID_IClassFactory, &out), S_OK);
    auto* factory = static_cast<IClassFactory*>(out);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_DevicePacket, &out), S_OK);
    EXPECT_EQ(canUnload(), S_FALSE);
    static_cast<DevicePacket*>(out)->Release();
    EXPECT_EQ(canUnload(), S_OK);
    factory->Release();
}

// tapdeck.exe's exit code for a failed mode start: -1 as a 32-bit exit code.
constexpr DWORD FailedStartExitCode = 0xFFFFFFFF;

TEST_F(Registration, TapdeckOnThisLibraryWithoutATouchpadBeepsOnceAndEnds) {
    ASSERT_EQ(ptpRegister(), S_OK);
    const std::wstring tapdeck = EnvironmentValue(L"TAPDECK_EXE");
    ASSERT_FALSE(tapdeck.empty());
    ChildProcess::Options options;
    options.traceBeeps = true;
    ChildProcess app = ChildProcess::Start(tapdeck, L"", options);
    ASSERT_TRUE(app.Started()) << app.StartError();
    ASSERT_TRUE(app.Wait(20000)) << "still running without a touchpad";
    EXPECT_EQ(app.ExitCode(), FailedStartExitCode);
    EXPECT_EQ(app.BeepCount(), 1);
}

} // namespace
