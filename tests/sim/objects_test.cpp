// The three objects made through COM by ProgID: lifetime, scripted answers, creation failures
// and what the journal records of them.
#include "sim_fixture.h"

#include <string>

namespace {

using ObjectsTest = SimTest;

TEST_F(ObjectsTest, ObjectsLiveUntilReleasedAndTheJournalCountsThem) {
    SimScenario scenario("");
    {
        auto api = MakeApi();
        auto device = MakeDevice();
        auto packet = MakePacket();
        ASSERT_TRUE(api && device && packet);
        EXPECT_EQ(SimLiveObjects(), 3);
        // A second reference keeps the object alive past the first Release.
        device->AddRef();
        device->Release();
        EXPECT_EQ(SimLiveObjects(), 3);
    }
    EXPECT_EQ(SimLiveObjects(), 0);

    auto journal = scenario.Journal();
    ASSERT_FALSE(journal.empty());
    EXPECT_EQ(journal[0].event, "Scenario");
    const std::wstring& path = scenario.ScenarioPath();
    EXPECT_EQ(journal[0].Text("path"), std::string(path.begin(), path.end()));
    EXPECT_EQ(journal[0].Num("packets"), 0);
    EXPECT_EQ(journal[0].pid, GetCurrentProcessId());
    EXPECT_EQ(journal[0].tid, GetCurrentThreadId());
    auto creates = FindEvents(journal, "Create");
    auto releases = FindEvents(journal, "Release");
    ASSERT_EQ(creates.size(), 3u);
    ASSERT_EQ(releases.size(), 3u);
    const char* order[] = {"VelAPI", "PointingDevice", "VelPacket"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(creates[i].Text("object"), order[i]);
        EXPECT_EQ(creates[i].Num("live"), i + 1);
        // Released in reverse order of creation.
        EXPECT_EQ(releases[i].Text("object"), order[2 - i]);
        EXPECT_EQ(releases[i].Num("live"), 2 - i);
    }
    for (size_t i = 1; i < journal.size(); ++i) {
        EXPECT_GE(journal[i].usec, journal[i - 1].usec);
    }
}

TEST_F(ObjectsTest, QueryInterfaceGivesOnlyTheObjectsOwnInterfaces) {
    SimScenario scenario("");
    auto device = MakeDevice();
    ASSERT_TRUE(device);
    void* out = nullptr;
    ASSERT_EQ(device->QueryInterface(IID_IUnknown, &out), S_OK);
    static_cast<IUnknown*>(out)->Release();
    ASSERT_EQ(device->QueryInterface(IID_PointingDevice, &out), S_OK);
    EXPECT_EQ(out, device.Get());
    static_cast<IUnknown*>(out)->Release();
    EXPECT_EQ(device->QueryInterface(IID_DeviceApi, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(device->QueryInterface(IID_IClassFactory, &out), E_NOINTERFACE);

    // Asking the class for another object's interface fails without making anything.
    HRESULT hr = S_OK;
    auto wrong = Make<DevicePacket>(ProgIdPointingDevice, IID_DevicePacket, &hr);
    EXPECT_FALSE(wrong);
    EXPECT_EQ(hr, E_NOINTERFACE);
    EXPECT_EQ(SimLiveObjects(), 1);
}

// One scripted operation: the scenario line, and what the call must return.
struct StatusCase {
    const char* scenario;
    const char* event;
    LONG status;
    LONG handle; // LocateDevice's handle after the call (preset to -1)
};

constexpr StatusCase statusCases[] = {
    {"", "Prepare", 0, 1},
    {"status Prepare 5", "Prepare", 5, 1},
    {"status LocateDevice -7", "LocateDevice", -7, -1}, // a failed search leaves the handle
    {"handle -1", "LocateDevice", 0, -1},
    {"handle 0x1234", "LocateDevice", 0, 0x1234},
    {"status Attach 3", "Attach", 3, 1},
    {"status SetPacketSink 0x80004005", "SetPacketSink", static_cast<LONG>(E_FAIL), 1},
    {"status Claim 2", "Claim", 2, 1},
};

struct NullSink final : PacketSink {
    LONG STDMETHODCALLTYPE OnPacket(LONG) override { return 0; }
};

TEST_F(ObjectsTest, OperationsReturnTheScriptedStatusesAndHandle) {
    for (const StatusCase& c : statusCases) {
        SCOPED_TRACE(c.scenario);
        SimScenario scenario(c.scenario);
        auto api = MakeApi();
        auto device = MakeDevice();
        ASSERT_TRUE(api && device);
        NullSink sink;
        LONG handle = -1;
        EXPECT_EQ(api->Prepare(), std::string(c.event) == "Prepare" ? c.status : 0);
        EXPECT_EQ(api->LocateDevice(LocateSelector, LocateSelector, &handle),
                  std::string(c.event) == "LocateDevice" ? c.status : 0);
        EXPECT_EQ(handle, c.handle);
        EXPECT_EQ(device->Attach(handle), std::string(c.event) == "Attach" ? c.status : 0);
        EXPECT_EQ(device->SetPacketSink(&sink),
                  std::string(c.event) == "SetPacketSink" ? c.status : 0);
        EXPECT_EQ(device->Claim(0), std::string(c.event) == "Claim" ? c.status : 0);
        EXPECT_EQ(device->Unclaim(), 0);
        EXPECT_EQ(device->SetPacketSink(nullptr), 0);
        device.Reset();
        api.Reset();

        auto journal = scenario.Journal();
        auto line = FindEvents(journal, c.event);
        ASSERT_FALSE(line.empty());
        EXPECT_EQ(line[0].Num("status"), c.status);
        auto locate = FindEvents(journal, "LocateDevice");
        ASSERT_EQ(locate.size(), 1u);
        EXPECT_EQ(locate[0].Num("a"), LocateSelector);
        EXPECT_EQ(locate[0].Num("b"), LocateSelector);
        EXPECT_EQ(locate[0].Num("handle"), c.handle);
        auto attach = FindEvents(journal, "Attach");
        ASSERT_EQ(attach.size(), 1u);
        EXPECT_EQ(attach[0].Num("handle"), c.handle);
    }
}

TEST_F(ObjectsTest, TheJournalRecordsEachOperationWithItsArguments) {
    SimScenario scenario("property 0x10000400 -9");
    auto device = MakeDevice();
    ASSERT_TRUE(device);
    NullSink sink;
    LONG value = 0;
    device->Attach(42);
    device->ReadProperty(PropXHi, &value);
    device->WriteProperty(PropModeLed, ModeLedOn);
    device->SetPacketSink(&sink);
    device->Claim(0);
    device->Unclaim();
    device->SetPacketSink(nullptr);
    device.Reset();

    auto journal = scenario.Journal();
    struct Expected {
        const char* event;
        const char* key;
        const char* text;
    };
    const Expected expected[] = {
        {"Attach", "handle", "42"},
        {"ReadProperty", "id", "0x10000117"},
        {"WriteProperty", "id", "0x01000292"},
        {"SetPacketSink", "sink", "set"},
        {"Claim", "mode", "0"},
        {"Unclaim", "status", "0"},
        {"SetPacketSink", "sink", "null"},
    };
    size_t at = 0;
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.event);
        long long found = FindEvent(journal, e.event, at);
        ASSERT_GE(found, 0);
        EXPECT_EQ(journal[found].Text(e.key), e.text);
        at = static_cast<size_t>(found) + 1;
    }
    auto read = FindEvents(journal, "ReadProperty");
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].Num("value"), 7000);
    EXPECT_EQ(FindEvents(journal, "WriteProperty")[0].Num("value"), ModeLedOn);
}

struct PropertyCase {
    LONG id;
    LONG value;
};

constexpr PropertyCase propertyCases[] = {
    {PropDeviceKind, 12}, {PropXLo, 10},    {PropYLo, 20},   {PropXHi, 30},
    {PropYHi, 40},        {0x10000400, -9}, {0x10000401, 0}, // never set
    {PropModeLed, 0},
};

TEST_F(ObjectsTest, DevicePropertiesReadAsScriptedAndWrittenOnesReadBack) {
    SimScenario scenario("kind 12\nedges 10 20 30 40\nproperty 0x10000400 -9\n");
    auto device = MakeDevice();
    ASSERT_TRUE(device);
    for (const PropertyCase& c : propertyCases) {
        LONG value = 12345;
        EXPECT_EQ(device->ReadProperty(c.id, &value), 0);
        EXPECT_EQ(value, c.value) << std::hex << c.id;
    }
    EXPECT_EQ(device->WriteProperty(PropModeLed, ModeLedOff), 0);
    LONG value = 0;
    device->ReadProperty(PropModeLed, &value);
    EXPECT_EQ(value, ModeLedOff);
}

TEST_F(ObjectsTest, ReservedSlotsAreNotImplemented) {
    SimScenario scenario("");
    auto api = MakeApi();
    auto device = MakeDevice();
    auto packet = MakePacket();
    ASSERT_TRUE(api && device && packet);
    EXPECT_EQ(api->ReservedA(), E_NOTIMPL);
    EXPECT_EQ(packet->ReservedA(), E_NOTIMPL);
    EXPECT_EQ(packet->ReservedB(), E_NOTIMPL);
    EXPECT_EQ(device->ReservedA(), E_NOTIMPL);
    EXPECT_EQ(device->ReservedB(), E_NOTIMPL);
    EXPECT_EQ(device->ReservedC(), E_NOTIMPL);
    EXPECT_EQ(device->ReservedD(), E_NOTIMPL);
    EXPECT_EQ(device->ReservedE(), E_NOTIMPL);
    auto reserved = FindEvents(scenario.Journal(), "Reserved");
    ASSERT_EQ(reserved.size(), 8u);
    EXPECT_EQ(reserved[0].Text("object"), "VelAPI");
    EXPECT_EQ(reserved[7].Text("slot"), "ReservedE");
}

// A DevicePacket that is not the library's.
struct ForeignPacket final : DevicePacket {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    LONG STDMETHODCALLTYPE ReadProperty(LONG, LONG* value) override {
        *value = 99;
        return 0;
    }
    LONG STDMETHODCALLTYPE ReservedA() override { return 0; }
    LONG STDMETHODCALLTYPE CopyPacket(DevicePacket*) override { return 0; }
    LONG STDMETHODCALLTYPE ReservedB() override { return 0; }
};

TEST_F(ObjectsTest, PacketsReadZeroUntilFilledAndTakeOnlyTheLibrarysPackets) {
    SimScenario scenario("");
    auto device = MakeDevice();
    auto packet = MakePacket();
    auto copy = MakePacket();
    ASSERT_TRUE(device && packet && copy);
    const LONG ids[] = {PropFlagsA, PropFlagsB, PropX, PropY, PropMotion, 0x10000999};
    for (LONG id : ids) {
        LONG value = 5;
        EXPECT_EQ(packet->ReadProperty(id, &value), 0);
        EXPECT_EQ(value, 0);
    }
    // No packet has been delivered yet: FillPacket gives zeros.
    EXPECT_EQ(device->FillPacket(packet.Get()), 0);
    LONG value = 5;
    packet->ReadProperty(PropX, &value);
    EXPECT_EQ(value, 0);

    ForeignPacket foreign;
    EXPECT_EQ(device->FillPacket(&foreign), E_INVALIDARG);
    EXPECT_EQ(copy->CopyPacket(&foreign), E_INVALIDARG);
    EXPECT_EQ(device->FillPacket(nullptr), E_POINTER);
    EXPECT_EQ(copy->CopyPacket(nullptr), E_POINTER);
}

TEST_F(ObjectsTest, CreateFailsAsScripted) {
    const char* objects[] = {"VelAPI", "PointingDevice", "VelPacket"};
    for (int failing = 0; failing < 3; ++failing) {
        SCOPED_TRACE(objects[failing]);
        SimScenario scenario(std::string("create ") + objects[failing] + " fail\n");
        HRESULT hr[3] = {};
        auto api = MakeApi(&hr[0]);
        auto device = MakeDevice(&hr[1]);
        auto packet = MakePacket(&hr[2]);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(SUCCEEDED(hr[i]), i != failing) << objects[i];
        }
        EXPECT_EQ(SimLiveObjects(), 2);
        api.Reset();
        device.Reset();
        packet.Reset();
        auto failed = FindEvents(scenario.Journal(), "CreateFailed");
        ASSERT_EQ(failed.size(), 1u);
        EXPECT_EQ(failed[0].Text("object"), objects[failing]);
    }
}

TEST_F(ObjectsTest, CreateFailsAfterTheScriptedCountAndTheCountRestartsWithTheScenario) {
    SimScenario scenario("create VelPacket fail after 2");
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        auto first = MakePacket();
        auto second = MakePacket();
        HRESULT hr = S_OK;
        auto third = MakePacket(&hr);
        EXPECT_TRUE(first && second);
        EXPECT_FALSE(third);
        EXPECT_TRUE(FAILED(hr));
        // Releasing one does not make room: the count is of creations, not of live packets.
        second.Reset();
        EXPECT_FALSE(MakePacket());
    }
    auto journal = scenario.Journal();
    EXPECT_EQ(FindEvents(journal, "Scenario").size(), 2u);
    EXPECT_EQ(FindEvents(journal, "Create").size(), 4u);
    EXPECT_EQ(FindEvents(journal, "CreateFailed").size(), 4u);
}

TEST_F(ObjectsTest, AMalformedScenarioFileMakesEveryCreationFailUntilAGoodOneIsRead) {
    {
        SimScenario bad("kind 13\nedges 1 2 3\n");
        HRESULT hr = S_OK;
        EXPECT_FALSE(MakeApi(&hr));
        EXPECT_TRUE(FAILED(hr));
        EXPECT_FALSE(MakePacket());
        auto journal = bad.Journal();
        auto errors = FindEvents(journal, "ScenarioError");
        ASSERT_FALSE(errors.empty());
        EXPECT_EQ(errors[0].Num("line"), 2);
        EXPECT_NE(errors[0].Text("message").find("missing"), std::string::npos);
        EXPECT_EQ(FindEvents(journal, "CreateFailed").size(), 2u);
        EXPECT_TRUE(FindEvents(journal, "Create").empty());
        EXPECT_EQ(SimLiveObjects(), 0);
    }
    SimScenario good("kind 13\n");
    EXPECT_TRUE(MakeApi());
}

TEST_F(ObjectsTest, AMissingScenarioFileIsAnErrorNotTheDefault) {
    SimScenario scenario("");
    std::wstring missing = scenario.ScenarioPath() + L".missing";
    SetEnvironmentVariableW(L"VELSIM_SCENARIO", missing.c_str());
    EXPECT_FALSE(MakeApi());
    EXPECT_EQ(FindEvents(scenario.Journal(), "ScenarioError").size(), 1u);
}

TEST_F(ObjectsTest, WithoutAScenarioFileTheDefaultScenarioIsUsed) {
    SimScenario scenario = SimScenario::Default();
    auto device = MakeDevice();
    ASSERT_TRUE(device);
    LONG kind = 0;
    device->ReadProperty(PropDeviceKind, &kind);
    EXPECT_EQ(kind, DeviceKindTouchpad);
    device.Reset();
    auto journal = scenario.Journal();
    ASSERT_FALSE(journal.empty());
    EXPECT_EQ(journal[0].Text("path"), "default");
}

} // namespace
