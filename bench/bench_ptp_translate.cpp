// Translation cost per touchpad report in velptp: a decoded report put into a frame
// (FrameAssembler) and the frame turned into packets (Translator), in process, without Windows
// input. The stream is a pad's day in miniature, in parallel-mode reports of five slots at 125 Hz:
// a finger sliding, a second finger resting beside it, taps, the button, palms, empty reports.
// Each report is timed with the time-stamp counter (calibrated against QueryPerformanceCounter,
// which under Wine ticks only every 0.1 us), next to an empty timed region for the timer's own
// cost. The HID parser's decoding of the raw report comes before this and is not measured: it
// needs a touchpad.
//
//   bench_ptp_translate.exe [reports]      (default 2000000)
#include <windows.h>

#include <x86intrin.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench_util.h"
#include "frame_assembler.h"
#include "translator.h"

namespace {

constexpr size_t Slots = 5;

ptp::Axis TestAxis(int32_t max, int32_t physical) {
    return ptp::MakeAxis({0, max, 0, physical, ptp::UnitCentimetre, 0xE, 16}, 0);
}

// A report of these contacts in a pad's five slots.
ptp::Report MakeReport(std::initializer_list<ptp::Contact> contacts, bool button = false) {
    ptp::Report r;
    r.button = button;
    r.contactCount = static_cast<uint32_t>(contacts.size());
    r.slotCount = Slots;
    size_t i = 0;
    for (const ptp::Contact& c : contacts) {
        r.slots[i++] = c;
    }
    return r;
}

// A cycle of 1000 reports (8 s of touching at 125 Hz).
std::vector<ptp::Report> Cycle() {
    std::vector<ptp::Report> reports;
    // A finger slides up and down the pad's right side: 300 reports.
    for (int i = 0; i < 300; ++i) {
        const int32_t y = 1300 + (i < 150 ? -4 * i : 4 * (i - 300));
        reports.push_back(MakeReport({{1, true, true, 3900, y}}));
    }
    reports.push_back(MakeReport({{1, false, true, 3900, 1300}}));
    // A second finger rests while the first moves about: 300 reports.
    for (int i = 0; i < 300; ++i) {
        reports.push_back(
            MakeReport({{2, true, true, 1000 + 3 * i, 1000 + i}, {3, true, true, 2000, 2000}}));
    }
    reports.push_back(MakeReport({{2, false, true, 1900, 1300}, {3, false, true, 2000, 2000}}));
    // Taps, with a palm resting at the edge; a press of the button under a finger.
    while (reports.size() < 900) {
        for (int k = 0; k < 3; ++k) {
            reports.push_back(
                MakeReport({{4, true, true, 1700, 2100}, {5, true, false, 300, 2500}}));
        }
        reports.push_back(MakeReport({{4, false, true, 1700, 2100}, {5, true, false, 300, 2500}}));
        reports.push_back(MakeReport({{6, true, true, 2600, 1300}}, true));
        reports.push_back(MakeReport({{6, false, true, 2600, 1300}}));
        reports.push_back(MakeReport({}));
    }
    // Nothing on the pad.
    while (reports.size() < 1000) {
        reports.push_back(MakeReport({}));
    }
    return reports;
}

double TicksPerMicro() {
    const long long q0 = bench::QpcTicks();
    const unsigned long long t0 = __rdtsc();
    Sleep(200);
    const long long q1 = bench::QpcTicks();
    const unsigned long long t1 = __rdtsc();
    return static_cast<double>(t1 - t0) / bench::TicksToMicros(q1 - q0);
}

} // namespace

int main(int argc, char** argv) {
    const long reports = argc > 1 ? std::atol(argv[1]) : 2000000;
    const std::vector<ptp::Report> cycle = Cycle();
    const ptp::PadGeometry pad{TestAxis(4000, 1000), TestAxis(2600, 650)};
    ptp::FrameAssembler assembler;
    ptp::Translator translator(pad);
    ptp::FrameBatch frames;
    ptp::PacketBatch batch;

    const double perMicro = TicksPerMicro();
    std::vector<double> cost(static_cast<size_t>(reports));
    std::vector<double> timer(static_cast<size_t>(reports));
    long packets = 0;
    long taps = 0;
    const long long wallStart = bench::QpcTicks();
    for (long i = 0; i < reports; ++i) {
        ptp::Report report = cycle[static_cast<size_t>(i) % cycle.size()];
        report.timeUs = static_cast<uint32_t>(i) * 8000u;
        report.scanTime = static_cast<uint32_t>(i) * 80u;

        unsigned int aux = 0;
        const unsigned long long e0 = __rdtscp(&aux);
        const unsigned long long e1 = __rdtscp(&aux);

        const unsigned long long t0 = __rdtscp(&aux);
        assembler.Add(report, frames);
        for (size_t f = 0; f < frames.count; ++f) {
            batch.Clear();
            translator.OnFrame(frames.frames[f], batch);
            packets += static_cast<long>(batch.count);
            for (const ptp::Packet& p : batch) {
                taps += (p.flagsA & ptp::PacketGesture) != 0;
            }
        }
        const unsigned long long t1 = __rdtscp(&aux);
        cost[static_cast<size_t>(i)] = static_cast<double>(t1 - t0) / perMicro;
        timer[static_cast<size_t>(i)] = static_cast<double>(e1 - e0) / perMicro;
    }
    const double wallUs = bench::TicksToMicros(bench::QpcTicks() - wallStart);

    const bench::Percentiles c = bench::Summarise(cost);
    const bench::Percentiles t = bench::Summarise(timer);
    std::printf("reports: %ld (cycles of %zu), packets: %ld, taps: %ld, TSC %.0f MHz\n", reports,
                cycle.size(), packets, taps, perMicro);
    std::printf("per report, us:   p50 %.3f  p99 %.3f  p99.9 %.3f  max %.1f  mean %.3f\n", c.p50,
                c.p99, c.p999, c.max, c.mean);
    std::printf("timer only, us:   p50 %.3f  p99 %.3f  p99.9 %.3f  max %.1f  mean %.3f\n", t.p50,
                t.p99, t.p999, t.max, t.mean);
    std::printf("whole loop: %.3f us per report (with both timed regions and the copying)\n",
                wallUs / static_cast<double>(reports));
    std::printf("RESULT ptp_translate: p99 %.3f us per report (target <= 5 us, a report every "
                "8000 us) %s\n",
                c.p99, bench::Verdict(c.p99 <= 5.0));
    return 0;
}
