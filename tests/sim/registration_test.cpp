// Self-registration through the DLL's own exports, observed in the (Wine) registry and by
// COM's ProgID lookup. Every test leaves the library registered, as the prefix had it.
#include "sim_fixture.h"

#include <string>

#include "support/class_registry.h"

#include "velsim_core.h"

namespace {

using ServerCall = HRESULT(STDAPICALLTYPE*)();

ServerCall Export(const char* name) {
    return reinterpret_cast<ServerCall>(reinterpret_cast<void*>(GetProcAddress(SimModule(), name)));
}

bool Resolves(const wchar_t* progId) {
    CLSID clsid;
    return SUCCEEDED(CLSIDFromProgID(progId, &clsid));
}

class RegistrationTest : public SimTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(SimTest::SetUp());
        registerServer = Export("DllRegisterServer");
        unregisterServer = Export("DllUnregisterServer");
        ASSERT_NE(registerServer, nullptr);
        ASSERT_NE(unregisterServer, nullptr);
    }
    void TearDown() override {
        // Whatever a test did, the prefix keeps the library registered.
        EXPECT_EQ(registerServer(), S_OK);
        EXPECT_TRUE(Resolves(ProgIdPointingDevice));
        SimTest::TearDown();
    }

    ServerCall registerServer = nullptr;
    ServerCall unregisterServer = nullptr;
};

struct ClassCase {
    const CLSID* clsid;
    const wchar_t* progId;
};

constexpr ClassCase classCases[] = {
    {&CLSID_VelSimApi, ProgIdDeviceApi},
    {&CLSID_VelSimPointingDevice, ProgIdPointingDevice},
    {&CLSID_VelSimPacket, ProgIdDevicePacket},
};

TEST_F(RegistrationTest, RegisteringWritesTheClassesAndTheirProgIds) {
    ASSERT_EQ(registerServer(), S_OK);
    ASSERT_EQ(registerServer(), S_OK); // twice is fine
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(SimModule(), path, MAX_PATH);
    for (const ClassCase& c : classCases) {
        const std::wstring key = L"CLSID\\" + ClsidText(*c.clsid);
        EXPECT_EQ(CompareStringOrdinal(ClassesString(key + L"\\InprocServer32", nullptr).c_str(),
                                       -1, path, -1, TRUE),
                  CSTR_EQUAL);
        EXPECT_EQ(ClassesString(key + L"\\InprocServer32", L"ThreadingModel"), L"Both");
        EXPECT_EQ(ClassesString(key + L"\\ProgID", nullptr), c.progId);
        EXPECT_EQ(ClassesString(std::wstring(c.progId) + L"\\CLSID", nullptr), ClsidText(*c.clsid));
        CLSID found;
        ASSERT_EQ(CLSIDFromProgID(c.progId, &found), S_OK);
        EXPECT_TRUE(IsEqualCLSID(found, *c.clsid));
    }
}

TEST_F(RegistrationTest, UnregisteringRemovesTheProgIdsAndReregisteringRestoresThem) {
    ASSERT_EQ(unregisterServer(), S_OK);
    for (const ClassCase& c : classCases) {
        EXPECT_FALSE(Resolves(c.progId));
        EXPECT_EQ(ClassesString(L"CLSID\\" + ClsidText(*c.clsid) + L"\\InprocServer32", nullptr),
                  L"<missing>");
    }
    HRESULT hr = S_OK;
    EXPECT_FALSE(MakeDevice(&hr));
    EXPECT_TRUE(FAILED(hr));
    EXPECT_EQ(unregisterServer(), S_OK); // already gone: not an error

    ASSERT_EQ(registerServer(), S_OK);
    SimScenario scenario("");
    for (const ClassCase& c : classCases) {
        EXPECT_TRUE(Resolves(c.progId));
    }
    EXPECT_TRUE(MakeDevice());
}

TEST_F(RegistrationTest, TheLibraryCanUnloadOnlyWhenNothingOfItLives) {
    auto canUnload = Export("DllCanUnloadNow");
    ASSERT_NE(canUnload, nullptr);
    EXPECT_EQ(canUnload(), S_OK);
    SimScenario scenario("");
    {
        auto device = MakeDevice();
        ASSERT_TRUE(device);
        EXPECT_EQ(canUnload(), S_FALSE);
    }
    EXPECT_EQ(canUnload(), S_OK);
}

TEST_F(RegistrationTest, TheClassFactoryMakesOnlyItsOwnClass) {
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto get = reinterpret_cast<GetClassObject>(
        reinterpret_cast<void*>(GetProcAddress(SimModule(), "DllGetClassObject")));
    ASSERT_NE(get, nullptr);
    void* out = nullptr;
    EXPECT_EQ(get(IID_DeviceApi, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
    ASSERT_EQ(get(CLSID_VelSimApi, IID_IClassFactory, &out), S_OK);
    auto* factory = static_cast<IClassFactory*>(out);
    SimScenario scenario("");
    EXPECT_EQ(factory->CreateInstance(factory, IID_DeviceApi, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_PointingDevice, &out), E_NOINTERFACE);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_DeviceApi, &out), S_OK);
    EXPECT_EQ(SimLiveObjects(), 1);
    static_cast<DeviceApi*>(out)->Release();
    factory->Release();
}

} // namespace
