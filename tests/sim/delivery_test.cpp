// Packet delivery: the library's own thread calls the sink once per scripted packet, at the
// scripted rate, until Unclaim, a null sink, the device's destruction or the end of the list.
#include "sim_fixture.h"
#include "support/recording_sink.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace {

class DeliveryTest : public SimTest {
protected:
    // Makes the device and a packet for the sink; the scenario must be in place first.
    void Open() {
        device = MakeDevice();
        packet = MakePacket();
        ASSERT_TRUE(device && packet);
        sink = std::make_unique<RecordingSink>(device.Get(), packet.Get());
    }
    void TearDown() override {
        sink.reset();
        packet.Reset();
        device.Reset();
        SimTest::TearDown();
    }

    // Starts delivery and returns once the sink's first call is running; that call goes on
    // only when `release` is set.
    void StartWithFirstCallHeld(Event& release) {
        sink->HoldFirstCall(firstCallEntered, release);
        device->SetPacketSink(sink.get());
        device->Claim(0);
        ASSERT_TRUE(firstCallEntered.Wait(5000));
    }

    static std::string Packets(int count) {
        std::string text;
        for (int i = 0; i < count; ++i) {
            text += "packet x=" + std::to_string(i) + "\n";
        }
        return text;
    }

    Owned<PointingDevice> device;
    Owned<DevicePacket> packet;
    std::unique_ptr<RecordingSink> sink;
    Event firstCallEntered;
};

TEST_F(DeliveryTest, PacketsArriveInOrderOnTheLibrarysThreadWithTheirValues) {
    SimScenario scenario("rate max\nrepeat 2\n"
                         "packet a=0x2000 b=0x100 x=100 y=200\n"
                         "packet a=0x12000 x=101 y=201 motion=-3\n"
                         "packet a=0x10000 x=102 y=202 motion=4\n");
    ASSERT_NO_FATAL_FAILURE(Open());
    sink->result = 7;
    ASSERT_EQ(device->SetPacketSink(sink.get()), 0);
    ASSERT_EQ(device->Claim(0), 0);
    ASSERT_TRUE(SimWaitDelivery(10000));

    struct Expected {
        LONG a, b, x, y, motion;
    };
    constexpr Expected expected[] = {
        {0x2000, 0x100, 100, 200, 0}, {0x12000, 0, 101, 201, -3}, {0x10000, 0, 102, 202, 4}};
    auto calls = sink->Calls();
    ASSERT_EQ(calls.size(), 6u);
    for (size_t i = 0; i < calls.size(); ++i) {
        SCOPED_TRACE(i);
        const Expected& e = expected[i % 3];
        EXPECT_NE(calls[i].thread, GetCurrentThreadId());
        EXPECT_EQ(calls[i].thread, calls[0].thread);
        EXPECT_EQ(calls[i].a, e.a);
        EXPECT_EQ(calls[i].b, e.b);
        EXPECT_EQ(calls[i].x, e.x);
        EXPECT_EQ(calls[i].y, e.y);
        EXPECT_EQ(calls[i].motion, e.motion);
    }

    // Outside a delivery call FillPacket gives the packet delivered last; CopyPacket all of it.
    auto copy = MakePacket();
    ASSERT_TRUE(copy);
    ASSERT_EQ(device->FillPacket(packet.Get()), 0);
    ASSERT_EQ(copy->CopyPacket(packet.Get()), 0);
    const std::pair<LONG, LONG> fields[] = {
        {PropFlagsA, 0x10000}, {PropFlagsB, 0}, {PropX, 102}, {PropY, 202}, {PropMotion, 4}};
    for (auto [id, value] : fields) {
        LONG got = 0;
        copy->ReadProperty(id, &got);
        EXPECT_EQ(got, value) << std::hex << id;
    }
    copy.Reset();

    auto journal = scenario.Journal();
    long long claim = FindEvent(journal, "Claim");
    long long start = FindEvent(journal, "DeliveryStart");
    ASSERT_GE(claim, 0);
    EXPECT_GT(start, claim);
    auto packets = FindEvents(journal, "Packet");
    ASSERT_EQ(packets.size(), 6u);
    for (size_t i = 0; i < packets.size(); ++i) {
        EXPECT_EQ(packets[i].Num("index"), static_cast<long long>(i));
        EXPECT_EQ(packets[i].Num("result"), 7);
        EXPECT_EQ(packets[i].tid, calls[0].thread);
    }
    auto end = FindEvents(journal, "DeliveryEnd");
    ASSERT_EQ(end.size(), 1u);
    EXPECT_EQ(end[0].Text("reason"), "end");
    EXPECT_EQ(end[0].Num("packets"), 6);
    EXPECT_GT(FindEvent(journal, "DeliveryEnd"), FindEvent(journal, "Packet", 5));
}

// When delivery starts: the scenario's `deliver` and the statuses of the calls that start it.
struct StartCase {
    const char* scenario;
    bool claim;
    bool delivers;
};

constexpr StartCase startCases[] = {
    {"deliver after-claim", true, true},
    {"deliver after-claim", false, false},
    {"deliver after-sink", false, true},
    {"deliver after-claim\nstatus Claim 1", true, false},
    {"deliver after-sink\nstatus SetPacketSink 1", true, false},
};

TEST_F(DeliveryTest, DeliveryStartsAsTheScenarioSays) {
    for (const StartCase& c : startCases) {
        SCOPED_TRACE(c.scenario);
        {
            SimScenario scenario(std::string(c.scenario) + "\nrate max\npacket x=1\npacket x=2\n");
            ASSERT_NO_FATAL_FAILURE(Open());
            device->SetPacketSink(sink.get());
            if (c.claim) {
                device->Claim(0);
            }
            // A run that starts is counted before the starting call returns.
            EXPECT_EQ(SimWaitDelivery(0), !c.delivers);
            ASSERT_TRUE(SimWaitDelivery(10000));
            EXPECT_EQ(sink->Count(), c.delivers ? 2u : 0u);
            device->SetPacketSink(nullptr);
            TearDown();
            auto journal = scenario.Journal();
            EXPECT_EQ(FindEvents(journal, "Packet").size(), c.delivers ? 2u : 0u);
        }
    }
}

TEST_F(DeliveryTest, PacketsComeAtTheScriptedRate) {
    SimScenario scenario("rate 125\n" + Packets(50));
    ASSERT_NO_FATAL_FAILURE(Open());
    device->SetPacketSink(sink.get());
    device->Claim(0);
    ASSERT_TRUE(SimWaitDelivery(10000));
    auto packets = FindEvents(scenario.Journal(), "Packet");
    ASSERT_EQ(packets.size(), 50u);
    // 49 intervals of 8 ms; generous, as the machine is shared.
    long long span = packets[49].usec - packets[0].usec;
    EXPECT_GT(span, 392000 * 3 / 4);
    EXPECT_LT(span, 392000 * 5 / 4);
}

TEST_F(DeliveryTest, PauseWaitsBeforeItsPacket) {
    SimScenario scenario("rate max\npacket x=1\npacket x=2 pause=150\npacket x=3\n");
    ASSERT_NO_FATAL_FAILURE(Open());
    device->SetPacketSink(sink.get());
    device->Claim(0);
    ASSERT_TRUE(SimWaitDelivery(10000));
    auto packets = FindEvents(scenario.Journal(), "Packet");
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_GE(packets[1].usec - packets[0].usec, 149000);
}

TEST_F(DeliveryTest, RateMaxDeliversEveryPacketInOrder) {
    SimScenario scenario("rate max\nrepeat 500\npacket x=1\npacket x=2\npacket x=3\npacket x=4\n");
    ASSERT_NO_FATAL_FAILURE(Open());
    device->SetPacketSink(sink.get());
    device->Claim(0);
    ASSERT_TRUE(SimWaitDelivery(30000));
    auto calls = sink->Calls();
    ASSERT_EQ(calls.size(), 2000u);
    for (size_t i = 0; i < calls.size(); ++i) {
        ASSERT_EQ(calls[i].x, static_cast<LONG>(i % 4 + 1)) << i;
    }
    auto packets = FindEvents(scenario.Journal(), "Packet");
    ASSERT_EQ(packets.size(), 2000u);
    EXPECT_EQ(packets.back().Num("index"), 1999);
}

// Checks the journal after a stopped run: one run, ended for `reason`, no Packet line after
// its end, and as many Packet lines as the sink saw calls.
void ExpectStopped(const SimScenario& scenario, const char* reason, size_t calls) {
    auto journal = scenario.Journal();
    std::string tail;
    for (size_t i = journal.size() > 8 ? journal.size() - 8 : 0; i < journal.size(); ++i) {
        tail +=
            journal[i].event + " " + journal[i].Text("index") + journal[i].Text("reason") + "\n";
    }
    SCOPED_TRACE("journal ends with\n" + tail);
    auto ends = FindEvents(journal, "DeliveryEnd");
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(ends[0].Text("reason"), reason);
    EXPECT_EQ(ends[0].Num("packets"), static_cast<long long>(calls));
    EXPECT_EQ(FindEvent(journal, "Packet", static_cast<size_t>(FindEvent(journal, "DeliveryEnd"))),
              -1);
    EXPECT_EQ(FindEvents(journal, "Packet").size(), calls);
}

TEST_F(DeliveryTest, UnclaimStopsAnEndlessStream) {
    SimScenario scenario("rate 1000\nrepeat 0\npacket x=1\npacket x=2\n");
    ASSERT_NO_FATAL_FAILURE(Open());
    device->SetPacketSink(sink.get());
    device->Claim(0);
    ASSERT_TRUE(sink->WaitForCalls(20));
    EXPECT_EQ(device->Unclaim(), 0);
    ASSERT_TRUE(SimWaitDelivery(5000));
    size_t calls = sink->Count();
    Sleep(30);
    EXPECT_EQ(sink->Count(), calls);
    ExpectStopped(scenario, "unclaim", calls);
}

TEST_F(DeliveryTest, UnclaimFromInsideTheSinkEndsAfterThatPacket) {
    SimScenario scenario("rate max\nrepeat 0\npacket x=1\n");
    ASSERT_NO_FATAL_FAILURE(Open());
    sink->during = [this](size_t index) {
        if (index == 5) {
            device->Unclaim();
        }
    };
    device->SetPacketSink(sink.get());
    device->Claim(0);
    ASSERT_TRUE(SimWaitDelivery(5000));
    EXPECT_EQ(sink->Count(), 6u);
    ExpectStopped(scenario, "unclaim", 6);
}

TEST_F(DeliveryTest, UnclaimDoesNotWaitForARunningCall) {
    SimScenario scenario("rate max\nrepeat 0\npacket x=1\n");
    ASSERT_NO_FATAL_FAILURE(Open());
    Event release;
    // The sink stands for one that waits on the thread that calls Unclaim.
    ASSERT_NO_FATAL_FAILURE(StartWithFirstCallHeld(release));
    device->Unclaim();
    EXPECT_EQ(sink->inside.load(), 1);
    release.Set();
    ASSERT_TRUE(SimWaitDelivery(5000));
    EXPECT_EQ(sink->Count(), 1u);
    ExpectStopped(scenario, "unclaim", 1);
}

TEST_F(DeliveryTest, NullSinkReturnsOnlyAfterTheRunningCall) {
    SimScenario scenario("rate max\nrepeat 0\npacket x=1\n");
    ASSERT_NO_FATAL_FAILURE(Open());
    Event release;
    ASSERT_NO_FATAL_FAILURE(StartWithFirstCallHeld(release));
    // Let the call go on for a while after SetPacketSink(null) has started waiting.
    HANDLE releaser = CreateThread(nullptr, 0, SetAfterAWhile, &release, 0, nullptr);
    ASSERT_NE(releaser, nullptr);
    EXPECT_EQ(device->SetPacketSink(nullptr), 0);
    EXPECT_EQ(sink->inside.load(), 0);
    EXPECT_TRUE(SimWaitDelivery(0));
    WaitForSingleObject(releaser, INFINITE);
    CloseHandle(releaser);
    EXPECT_EQ(sink->Count(), 1u);
    ExpectStopped(scenario, "sink", 1);
    auto journal = scenario.Journal();
    EXPECT_LT(
        FindEvent(journal, "DeliveryEnd"),
        FindEvent(journal, "SetPacketSink", static_cast<size_t>(FindEvent(journal, "Claim"))));
}

TEST_F(DeliveryTest, AnotherSinkReturnsOnlyAfterTheRunningCallIntoTheOldOne) {
    SimScenario scenario("rate max\nrepeat 0\npacket x=1\n");
    ASSERT_NO_FATAL_FAILURE(Open());
    Event release;
    ASSERT_NO_FATAL_FAILURE(StartWithFirstCallHeld(release));
    // The caller may let the old sink go once the swap returns: the call into it must be over.
    HANDLE releaser = CreateThread(nullptr, 0, SetAfterAWhile, &release, 0, nullptr);
    ASSERT_NE(releaser, nullptr);
    RecordingSink other(device.Get(), packet.Get());
    EXPECT_EQ(device->SetPacketSink(&other), 0);
    EXPECT_EQ(sink->inside.load(), 0) << "returned while the old sink's call was still running";
    EXPECT_EQ(sink->Count(), 1u);
    WaitForSingleObject(releaser, INFINITE);
    CloseHandle(releaser);
    // The run goes on with the new sink.
    EXPECT_TRUE(other.WaitForCalls(5));
    EXPECT_EQ(sink->Count(), 1u);
    device->SetPacketSink(nullptr);
    EXPECT_TRUE(SimWaitDelivery(0));
}

TEST_F(DeliveryTest, AnotherSinkFromInsideTheSinkDoesNotWaitForItself) {
    SimScenario scenario("rate max\nrepeat 0\npacket x=1\n");
    ASSERT_NO_FATAL_FAILURE(Open());
    RecordingSink other(device.Get(), packet.Get());
    sink->during = [this, &other](size_t index) {
        if (index == 2) {
            device->SetPacketSink(&other);
        }
    };
    device->SetPacketSink(sink.get());
    device->Claim(0);
    EXPECT_TRUE(other.WaitForCalls(3));
    EXPECT_EQ(sink->Count(), 3u);
    device->SetPacketSink(nullptr);
    EXPECT_TRUE(SimWaitDelivery(0));
}

TEST_F(DeliveryTest, NullSinkFromInsideTheSinkDoesNotWaitForItself) {
    SimScenario scenario("rate max\nrepeat 0\npacket x=1\n");
    ASSERT_NO_FATAL_FAILURE(Open());
    sink->during = [this](size_t index) {
        if (index == 2) {
            device->SetPacketSink(nullptr);
        }
    };
    device->SetPacketSink(sink.get());
    device->Claim(0);
    ASSERT_TRUE(SimWaitDelivery(5000));
    EXPECT_EQ(sink->Count(), 3u);
    ExpectStopped(scenario, "sink", 3);
}

TEST_F(DeliveryTest, DestroyingTheDeviceStopsDeliveryFirst) {
    SimScenario scenario("rate 1000\nrepeat 0\npacket x=1\n");
    ASSERT_NO_FATAL_FAILURE(Open());
    device->SetPacketSink(sink.get());
    device->Claim(0);
    ASSERT_TRUE(sink->WaitForCalls(10));
    sink->device = nullptr;
    device.Reset();
    // The destruction waited for the delivery thread.
    EXPECT_TRUE(SimWaitDelivery(0));
    size_t calls = sink->Count();
    ExpectStopped(scenario, "release", calls);
    auto journal = scenario.Journal();
    long long end = FindEvent(journal, "DeliveryEnd");
    long long release = FindEvent(journal, "Release");
    ASSERT_GE(release, 0);
    EXPECT_EQ(journal[release].Text("object"), "PointingDevice");
    EXPECT_LT(end, release);
}

TEST_F(DeliveryTest, DestroyingTheDeviceFromInsideTheSinkEndsDelivery) {
    SimScenario scenario("rate max\nrepeat 0\npacket x=1\n");
    ASSERT_NO_FATAL_FAILURE(Open());
    sink->during = [this](size_t index) {
        if (index == 3) {
            sink->device = nullptr;
            device.Reset();
        }
    };
    sink->device->SetPacketSink(sink.get());
    sink->device->Claim(0);
    ASSERT_TRUE(SimWaitDelivery(5000));
    EXPECT_EQ(sink->Count(), 4u);
    ExpectStopped(scenario, "release", 4);
}

TEST_F(DeliveryTest, ClaimAfterUnclaimPlaysTheListAgain) {
    SimScenario scenario("rate max\npacket x=1\npacket x=2\n");
    ASSERT_NO_FATAL_FAILURE(Open());
    device->SetPacketSink(sink.get());
    device->Claim(0);
    ASSERT_TRUE(SimWaitDelivery(5000));
    device->Unclaim();
    device->Claim(0);
    ASSERT_TRUE(SimWaitDelivery(5000));
    auto calls = sink->Calls();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[2].x, 1);
    EXPECT_EQ(FindEvents(scenario.Journal(), "DeliveryStart").size(), 2u);
}

TEST_F(DeliveryTest, PacketReadsAreJournaledWhenAskedFor) {
    SimScenario scenario("journal packet-reads\nrate max\npacket x=5 y=6\n");
    ASSERT_NO_FATAL_FAILURE(Open());
    device->SetPacketSink(sink.get());
    device->Claim(0);
    ASSERT_TRUE(SimWaitDelivery(5000));
    auto reads = FindEvents(scenario.Journal(), "PacketRead");
    ASSERT_EQ(reads.size(), 5u); // the sink reads five properties
    EXPECT_EQ(reads[2].Text("id"), "0x10000309");
    EXPECT_EQ(reads[2].Num("value"), 5);
    EXPECT_EQ(reads[2].Num("index"), 0);
}

} // namespace
