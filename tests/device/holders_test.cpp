// The device objects' holders and the per-thread COM guard, with the simulated touchpad library
// registered, unregistered, and refusing single objects.
#include <gtest/gtest.h>

#include <objbase.h>

#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "device/pad_app.h"
#include "support/sim_scenario.h"

namespace {

struct HolderCase {
    const char* scenario;
    bool api;
    bool device;
    bool packet;
};

constexpr HolderCase holderCases[] = {
    {"", true, true, true},
    {"create VelAPI fail", false, true, true},
    {"create PointingDevice fail", true, false, true},
    {"create VelPacket fail", true, true, false},
    {"create VelAPI fail\ncreate PointingDevice fail\ncreate VelPacket fail", false, false, false},
};

std::vector<std::string> ObjectsOf(const std::vector<JournalRecord>& records) {
    std::vector<std::string> names;
    for (const auto& record : records) {
        names.push_back(record.Text("object"));
    }
    return names;
}

TEST(Holders, CreateWhatTheLibraryGivesAndReleaseAllOfIt) {
    for (const HolderCase& c : holderCases) {
        SCOPED_TRACE(c.scenario);
        SimScenario scenario(c.scenario);
        {
            PadApp app;
            EXPECT_EQ(static_cast<bool>(app.api), c.api);
            EXPECT_EQ(static_cast<bool>(app.device), c.device);
            EXPECT_EQ(static_cast<bool>(app.previousPacket), c.packet);
            EXPECT_EQ(SimLiveObjects(), c.api + c.device + c.packet);
            EXPECT_EQ(app.deviceHandle, -1);
            EXPECT_TRUE(app.buttons.empty());
            EXPECT_TRUE(app.strips.empty());
        }
        EXPECT_EQ(SimLiveObjects(), 0);
        // Made in the order api, device, packet; released in the reverse order.
        std::vector<std::string> made;
        const std::pair<const char*, bool> objects[] = {
            {"VelAPI", c.api}, {"PointingDevice", c.device}, {"VelPacket", c.packet}};
        for (const auto& [name, filled] : objects) {
            if (filled) {
                made.push_back(name);
            }
        }
        const std::vector<std::string> unmade(made.rbegin(), made.rend());
        const auto journal = scenario.Journal();
        EXPECT_EQ(ObjectsOf(FindEvents(journal, "Create")), made);
        EXPECT_EQ(ObjectsOf(FindEvents(journal, "Release")), unmade);
    }
}

using RegistrationCall = HRESULT(STDAPICALLTYPE*)();

RegistrationCall SimExport(const char* name) {
    if (!SimModule()) {
        return nullptr;
    }
    return reinterpret_cast<RegistrationCall>(
        reinterpret_cast<void*>(GetProcAddress(SimModule(), name)));
}

// Takes the library's registration away for one test and puts it back afterwards.
class UnregisteredLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(SimExport("DllUnregisterServer"), nullptr);
        ASSERT_NE(SimExport("DllRegisterServer"), nullptr);
        ASSERT_EQ(SimExport("DllUnregisterServer")(), S_OK);
    }
    void TearDown() override { EXPECT_EQ(SimExport("DllRegisterServer")(), S_OK); }
};

TEST_F(UnregisteredLibrary, ConstructionCompletesWithEveryHolderEmpty) {
    SimScenario scenario("");
    {
        PadApp app;
        EXPECT_FALSE(app.api);
        EXPECT_FALSE(app.device);
        EXPECT_FALSE(app.previousPacket);
        // Nothing to work with: the mode cannot start, and quietly so.
        EXPECT_EQ(app.EnterMode(), 0);
        EXPECT_EQ(app.SetModeIndicator(1), E_POINTER);
        app.LeaveMode();
    }
    EXPECT_TRUE(scenario.Journal().empty());
}

TEST(ComThreadInit, InitialisesComOncePerKindOnEachThread) {
    const ComKind kinds[] = {ComKind::DeviceApi, ComKind::PointingDevice, ComKind::DevicePacket};
    for (int round = 0; round < 2; ++round) {
        std::thread([&] {
            for (ComKind kind : kinds) {
                EXPECT_TRUE(ComThreadInit(kind)) << static_cast<int>(kind);
                EXPECT_FALSE(ComThreadInit(kind)) << static_cast<int>(kind);
            }
            // COM is up on this thread: a further initialisation only counts up.
            EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
            CoUninitialize();
            // And objects can be made here.
            PacketHolder packet;
            EXPECT_TRUE(packet);
        }).join();
    }
}

} // namespace
