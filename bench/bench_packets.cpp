// Packet handling throughput, in process: PadApp on the simulated touchpad at `rate max`, a
// stream of a million packets that press no button and step no volume. Each OnPacket call is
// timed on the delivery thread, next to sinks that make only the device library's calls of the
// same stream, so the program's own share shows. Live objects and private bytes are sampled at
// 0, 10%, 50% and 100% of the stream.
//
//   bench_packets.exe [packets]      (default 1000000; velsim.dll registered in the prefix)
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "bench_util.h"
#include "device/pad_app.h"
#include "support/sim_journal.h"
#include "support/sim_scenario.h"
#include "velsim_core.h"

namespace {

// One cycle of the stream.
constexpr const char* Cycle = bench::NoOpCycle;
constexpr long CyclePackets = 8;

std::string StreamScenario(long cycles, bool journalReads) {
    std::string text = "rate max\nrepeat " + std::to_string(cycles) + "\n";
    if (journalReads) {
        text += "journal packet-reads\n";
    }
    return text + Cycle;
}

HMODULE Velsim() {
    HMODULE module = GetModuleHandleW(L"velsim.dll");
    return module ? module : SimModule();
}

LONG LiveObjects() {
    auto fn = reinterpret_cast<VelSimLiveObjectsFn>(
        reinterpret_cast<void*>(GetProcAddress(Velsim(), "VelSimLiveObjects")));
    return fn ? fn() : -1;
}

bool WaitDelivery(DWORD ms) {
    auto fn = reinterpret_cast<VelSimWaitDeliveryFn>(
        reinterpret_cast<void*>(GetProcAddress(Velsim(), "VelSimWaitDelivery")));
    return fn && fn(ms);
}

LONG Read(DevicePacket* packet, LONG id) {
    LONG value = 0;
    packet->ReadProperty(id, &value);
    return value;
}

// The device library's calls that OnPacket makes for this stream, and nothing else: a fresh
// packet from the kept class factory, FillPacket, the reads of the finger test, the gesture bit,
// the position and the strip motion, CopyPacket into the previous packet, Release.
void LibraryCalls(IClassFactory* factory, PointingDevice* device, DevicePacket* previous,
                  const RECT& strip) {
    PacketHolder packet(factory);
    device->FillPacket(packet.Get());
    bool down = (static_cast<DWORD>(Read(packet.Get(), PropFlagsA)) & FlagsAFinger) != 0 ||
                (static_cast<DWORD>(Read(packet.Get(), PropFlagsB)) & FlagsBFinger) != 0;
    Read(packet.Get(), PropFlagsA); // the gesture bit: never set in this stream, so no tap
    if (down) {
        Read(packet.Get(), PropX);
        Read(packet.Get(), PropY);
        const bool previousDown =
            (static_cast<DWORD>(Read(previous, PropFlagsA)) & FlagsAFinger) != 0 ||
            (static_cast<DWORD>(Read(previous, PropFlagsB)) & FlagsBFinger) != 0;
        if (previousDown) {
            const LONG y = Read(packet.Get(), PropY);
            const LONG x = Read(packet.Get(), PropX);
            if (x >= strip.left && x < strip.right && y >= strip.top && y < strip.bottom) {
                Read(packet.Get(), PropMotion);
            }
        }
    }
    previous->CopyPacket(packet.Get());
}

enum class Work { Nothing, ProgIdLookup, CreateByClsid, PacketOnly, Library, OnPacket };

struct Checkpoint {
    long packets;
    LONG live;
    unsigned long long privateBytes;
    unsigned long long workingSet;
    long long rssAnonKb;
    long long privateDirtyKb;
};

double Mib(unsigned long long bytes) {
    return static_cast<double>(bytes) / 1048576.0;
}

long RoundToCycles(long packets) {
    return packets < CyclePackets ? 1 : (packets + CyclePackets - 1) / CyclePackets;
}

// Times one piece of work per packet on the delivery thread; the samples are preallocated, so
// the measured run allocates nothing of its own.
class TimingSink final : public PacketSink {
public:
    TimingSink(PadApp& a, Work w, long packets, const RECT& strip)
        : app(a), work(w), ticks(static_cast<size_t>(packets), 0u), stripRect(strip) {
        checkAt = {0, packets / 10, packets / 2, packets};
        CLSIDFromProgID(ProgIdDevicePacket, &packetClass);
        if (work == Work::Library) {
            previous.emplace();
        }
        checkpoints.reserve(checkAt.size());
    }

    LONG STDMETHODCALLTYPE OnPacket(LONG unused) override {
        if (count < static_cast<long>(ticks.size())) {
            Sample();
        }
        const long long begin = bench::QpcTicks();
        // Like OnPacket, the sink gets the packet class's factory on its first packet.
        if (!factory && (work == Work::PacketOnly || work == Work::Library)) {
            ComThreadInit(ComKind::DevicePacket);
            factory = ClassFactoryHolder(ProgIdDevicePacket);
        }
        switch (work) {
        case Work::Nothing:
            break;
        case Work::ProgIdLookup: {
            ComThreadInit(ComKind::DevicePacket);
            CLSID clsid;
            CLSIDFromProgID(ProgIdDevicePacket, &clsid);
            break;
        }
        case Work::CreateByClsid: {
            ComThreadInit(ComKind::DevicePacket);
            void* object = nullptr;
            if (SUCCEEDED(CoCreateInstance(packetClass, nullptr, CLSCTX_INPROC_SERVER,
                                           IID_DevicePacket, &object))) {
                static_cast<IUnknown*>(object)->Release();
            }
            break;
        }
        case Work::PacketOnly: {
            PacketHolder packet(factory.Get());
            break;
        }
        case Work::Library:
            LibraryCalls(factory.Get(), app.device.Get(), previous->Get(), stripRect);
            break;
        case Work::OnPacket:
            app.OnPacket(unused);
            break;
        }
        const long long end = bench::QpcTicks();
        if (count == 0) {
            firstBegin = begin;
        }
        lastEnd = end;
        if (count < static_cast<long>(ticks.size())) {
            ticks[static_cast<size_t>(count)] = static_cast<uint32_t>(end - begin);
        }
        ++count;
        if (count == static_cast<long>(ticks.size())) {
            Sample();
        }
        return 0;
    }

    long Count() const { return count; }
    double WallSeconds() const { return bench::TicksToMicros(lastEnd - firstBegin) / 1e6; }
    std::vector<double> Micros() const {
        std::vector<double> us;
        us.reserve(ticks.size());
        for (size_t i = 0; i < ticks.size() && i < static_cast<size_t>(count); ++i) {
            us.push_back(bench::TicksToMicros(ticks[i]));
        }
        return us;
    }
    const std::vector<Checkpoint>& Checkpoints() const { return checkpoints; }

private:
    void Sample() {
        for (long at : checkAt) {
            if (at == count) {
                const bench::WinMemory memory = bench::MemoryOf(GetCurrentProcess());
                const bench::LinuxProcess self{0};
                checkpoints.push_back({count, LiveObjects(), memory.privateBytes, memory.workingSet,
                                       self.StatusKb("RssAnon").value_or(-1),
                                       self.SmapsKb("Private_Dirty").value_or(-1)});
            }
        }
    }

    PadApp& app;
    Work work;
    std::vector<uint32_t> ticks;
    RECT stripRect;
    CLSID packetClass = {};
    ClassFactoryHolder factory;
    // The previous packet of the library-only sink; empty for the others.
    std::optional<PacketHolder> previous;
    std::vector<long> checkAt;
    std::vector<Checkpoint> checkpoints;
    long count = 0;
    long long firstBegin = 0;
    long long lastEnd = 0;
};

// Hands the device to `sink` and plays the scenario once more from its first packet. The run that
// EnterMode's Claim started, into PadApp itself, is stopped first: a sink set while that run
// still went on would take its next packet too.
bool Replay(PadApp& app, PacketSink* sink) {
    return app.device->Unclaim() == 0 && app.device->SetPacketSink(sink) == 0 &&
           app.device->Claim(0) == 0;
}

RECT StripOf(const PadApp& app) {
    return app.strips.empty() ? RECT{0, 0, 0, 0} : app.strips.front()->rect;
}

// The sequence of packet reads ("index id") of a run after its first call, whose reads of
// the previous packet depend on what came before the run.
std::vector<std::string> ReadsAfterFirstCall(const std::vector<JournalRecord>& records) {
    long long start = -1;
    for (size_t i = 0; i < records.size(); ++i) {
        if (records[i].event == "DeliveryStart") {
            start = static_cast<long long>(i);
        }
    }
    std::vector<std::string> reads;
    bool afterFirst = false;
    for (size_t i = static_cast<size_t>(start + 1); start >= 0 && i < records.size(); ++i) {
        if (records[i].event == "Packet") {
            afterFirst = true;
        } else if (afterFirst && records[i].event == "PacketRead") {
            reads.push_back(records[i].Text("index") + " " + records[i].Text("id"));
        }
    }
    return reads;
}

// Runs one short stream with packet reads journalled through `work`; the reads of calls 1..n.
std::vector<std::string> JournalledReads(Work work) {
    SimScenario scenario(StreamScenario(2, true));
    {
        PadApp app;
        if (!app.EnterMode()) {
            return {};
        }
        TimingSink sink(app, work, 2 * CyclePackets, StripOf(app));
        if (!Replay(app, &sink) || !WaitDelivery(10000)) {
            return {};
        }
        app.device->SetPacketSink(nullptr);
    }
    return ReadsAfterFirstCall(scenario.Journal());
}

struct RunResult {
    bench::Percentiles cost;
    double wallSeconds = 0;
    long packets = 0;
    std::vector<Checkpoint> checkpoints;
    // The per-packet costs, kept for pooling rounds.
    std::vector<double> micros;
};

bool TimedRun(PadApp& app, Work work, long packets, RunResult& result) {
    TimingSink sink(app, work, packets, StripOf(app));
    if (!Replay(app, &sink) || !WaitDelivery(30 * 60 * 1000)) {
        return false;
    }
    result.packets += sink.Count();
    result.wallSeconds += sink.WallSeconds();
    result.checkpoints = sink.Checkpoints();
    std::vector<double> us = sink.Micros();
    result.micros.insert(result.micros.end(), us.begin(), us.end());
    std::vector<double> all = result.micros;
    result.cost = bench::Summarise(all);
    if (sink.Count() != packets) {
        std::printf("bench_packets: %ld packets delivered to the timing sink, %ld expected\n",
                    sink.Count(), packets);
        return false;
    }
    return true;
}

void PrintCost(const char* name, const RunResult& r) {
    std::printf("  %-34s p50 %7.2f  p99 %7.2f  p99.9 %7.2f  max %8.1f  mean %6.2f us; "
                "%.0f packets/s\n",
                name, r.cost.p50, r.cost.p99, r.cost.p999, r.cost.max, r.cost.mean,
                static_cast<double>(r.packets) / r.wallSeconds);
}

} // namespace

int main(int argc, char** argv) {
    const long cycles = RoundToCycles(argc > 1 ? std::strtol(argv[1], nullptr, 10) : 1000000);
    // The comparison runs take turns in rounds, so that a change of the machine's load
    // between them falls on every kind of work alike.
    constexpr long Rounds = 10;
    const long compareCycles =
        RoundToCycles((argc > 2 ? std::strtol(argv[2], nullptr, 10) : 50000) / Rounds);
    const long packets = cycles * CyclePackets;
    const long roundPackets = compareCycles * CyclePackets;
    std::setvbuf(stdout, nullptr, _IONBF, 0);

    HKEY config = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Velmora\\TwinpadApp", 0, KEY_READ, &config) ==
        ERROR_SUCCESS) {
        RegCloseKey(config);
        std::printf("bench_packets: HKLM\\Software\\Velmora\\TwinpadApp exists; the stream is "
                    "laid out for the device's default edges, remove the key first\n");
        return 2;
    }

    // The same library calls as OnPacket, checked read by read in the journal.
    const auto appReads = JournalledReads(Work::OnPacket);
    const auto libraryReads = JournalledReads(Work::Library);
    if (appReads.empty() || appReads != libraryReads) {
        std::printf("bench_packets: the library-only sink does not make OnPacket's reads "
                    "(%zu reads against %zu)\n",
                    libraryReads.size(), appReads.size());
        return 1;
    }
    std::printf("packet reads per packet (journal packet-reads, same for both sinks): %.2f\n",
                static_cast<double>(appReads.size()) / static_cast<double>(2 * CyclePackets - 1));

    // The measured runs: no journal, so the library costs what it costs without one. The
    // device's run plays the whole scenario, so the short comparison runs get a file of their
    // own and a PadApp of their own.
    SetEnvironmentVariableW(L"VELSIM_JOURNAL", nullptr);
    RunResult nothing, progId, byClsid, packetOnly, library, onPacketShort, onPacket;
    {
        const bench::TextFile file(L"bsc", StreamScenario(compareCycles, false));
        SetEnvironmentVariableW(L"VELSIM_SCENARIO", file.Path().c_str());
        PadApp app;
        if (!app.EnterMode()) {
            std::printf("bench_packets: the mode did not start\n");
            return 1;
        }
        std::printf("comparison runs: %ld rounds of %ld packets for each kind of work, rate "
                    "max, no journal\n",
                    Rounds, roundPackets);
        for (long round = 0; round < Rounds; ++round) {
            if (!TimedRun(app, Work::Nothing, roundPackets, nothing) ||
                !TimedRun(app, Work::ProgIdLookup, roundPackets, progId) ||
                !TimedRun(app, Work::CreateByClsid, roundPackets, byClsid) ||
                !TimedRun(app, Work::PacketOnly, roundPackets, packetOnly) ||
                !TimedRun(app, Work::Library, roundPackets, library) ||
                !TimedRun(app, Work::OnPacket, roundPackets, onPacketShort)) {
                std::printf("bench_packets: a run did not deliver every packet\n");
                return 1;
            }
        }
        app.device->SetPacketSink(nullptr);
    }
    LONG liveBefore = -1;
    std::optional<long long> rssAnonBefore;
    {
        const bench::TextFile file(L"bsc", StreamScenario(cycles, false));
        SetEnvironmentVariableW(L"VELSIM_SCENARIO", file.Path().c_str());
        PadApp app;
        if (!app.EnterMode()) {
            std::printf("bench_packets: the mode did not start\n");
            return 1;
        }
        liveBefore = LiveObjects();
        std::printf("OnPacket run: %ld packets, rate max, no journal\n", packets);
        if (!TimedRun(app, Work::OnPacket, packets, onPacket)) {
            std::printf("bench_packets: the run did not deliver every packet\n");
            return 1;
        }
        app.device->SetPacketSink(nullptr);
    }
    SetEnvironmentVariableW(L"VELSIM_SCENARIO", nullptr);

    std::printf("per-packet cost, QPC around the call on the delivery thread (resolution %.3f "
                "us):\n",
                1e6 / bench::QpcFrequency());
    PrintCost("timer only (empty sink)", nothing);
    // A packet made by ProgID pays for these two on every call; OnPacket keeps the factory.
    PrintCost("CLSIDFromProgID(VelCom.VelPacket)", progId);
    PrintCost("CoCreateInstance + Release", byClsid);
    PrintCost("PacketHolder from factory+Release", packetOnly);
    PrintCost("library calls of OnPacket", library);
    PrintCost("PadApp::OnPacket", onPacketShort);
    std::printf("  OnPacket's own share, p50: %.2f us of %.2f us\n",
                onPacketShort.cost.p50 - library.cost.p50, onPacketShort.cost.p50);
    std::printf("the long run, %ld packets:\n", onPacket.packets);
    PrintCost("PadApp::OnPacket", onPacket);
    std::printf("memory during the OnPacket run (Windows figures from GetProcessMemoryInfo; "
                "Linux figures of this Wine process from /proc/self):\n");
    for (const auto& c : onPacket.checkpoints) {
        std::printf("  after %8ld packets: live objects %ld, PrivateUsage %.2f MiB, "
                    "WorkingSetSize %.2f MiB, RssAnon %.2f MiB, Private_Dirty %.2f MiB\n",
                    c.packets, static_cast<long>(c.live), Mib(c.privateBytes), Mib(c.workingSet),
                    c.rssAnonKb / 1024.0, c.privateDirtyKb / 1024.0);
    }
    std::printf("live objects with the mode on, before the run: %ld\n",
                static_cast<long>(liveBefore));

    const bool costOk = onPacket.cost.p99 <= 50.0;
    // A page or two of slack: the figures are sampled from the running process.
    bool flat = onPacket.checkpoints.size() == 4;
    for (const auto& c : onPacket.checkpoints) {
        const auto& base = onPacket.checkpoints[flat ? 1 : 0];
        flat = flat && c.live == onPacket.checkpoints.front().live &&
               c.privateBytes <= base.privateBytes + 65536 && c.rssAnonKb <= base.rssAnonKb + 64 &&
               c.privateDirtyKb <= base.privateDirtyKb + 64;
    }
    std::printf("RESULT packets: OnPacket p99 %.2f us (target <= 50) %s; %.0f packets/s; no "
                "growth of live objects or memory from %ld to %ld packets: %s\n",
                onPacket.cost.p99, bench::Verdict(costOk),
                static_cast<double>(onPacket.packets) / onPacket.wallSeconds, packets / 10, packets,
                bench::Verdict(flat));
    return 0;
}
