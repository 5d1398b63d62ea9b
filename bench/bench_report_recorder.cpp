// What recording a touchpad's reports adds to the thread that delivers them: the cost of one
// ReportRecorder::Report call, the copy into the ring that its writer thread drains, measured
// in process on a virtual touchpad's collection (its raw-input handle and preparsed data are
// real, so the writer writes the descriptor, the arguments and the script as it would on a
// laptop). Two streams: reports 40 us apart (the ring and the writer busy, most samples), and
// reports at a pad's 125 per second for 8 s (the writer asleep between them, caches cold).
// Each call is timed with the time-stamp counter, next to an empty timed region for the
// timer's own cost. Afterwards the script must hold every report: none was lost.
//
//   bench_report_recorder.exe [reports]   (default 200000; VTP_DRIVER_DIR and VTP_PADS as the
//                                          tests have them)
#include <windows.h>

#include <x86intrin.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_util.h"
#include "report_recorder.h"
#include "support/process.h"
#include "virtual_pads.h"

namespace {

double TicksPerMicro() {
    const long long q0 = bench::QpcTicks();
    const unsigned long long t0 = __rdtsc();
    Sleep(200);
    const long long q1 = bench::QpcTicks();
    const unsigned long long t1 = __rdtsc();
    return static_cast<double>(t1 - t0) / bench::TicksToMicros(q1 - q0);
}

struct Stream {
    std::vector<double> cost;
    std::vector<double> timer;
};

// `count` reports `apartUs` apart, each call timed.
Stream Play(ReportRecorder& recorder, HANDLE device, long count, double apartUs, double perMicro,
            int64_t& clockUs) {
    Stream s;
    s.cost.reserve(static_cast<size_t>(count));
    s.timer.reserve(static_cast<size_t>(count));
    unsigned int aux = 0;
    unsigned long long next = __rdtscp(&aux);
    for (long i = 0; i < count; ++i) {
        next += static_cast<unsigned long long>(apartUs * perMicro);
        if (apartUs >= 2000) {
            const unsigned long long now = __rdtscp(&aux);
            if (next > now) {
                Sleep(static_cast<DWORD>(static_cast<double>(next - now) / perMicro / 1000));
            }
        }
        while (__rdtscp(&aux) < next) {
        }
        const vtp::Bytes report =
            vpadtest::OneFingerReport(true, static_cast<int>(i % 4000), 900, static_cast<int>(i));
        clockUs += static_cast<int64_t>(apartUs);
        const unsigned long long e0 = __rdtscp(&aux);
        const unsigned long long e1 = __rdtscp(&aux);
        const unsigned long long t0 = __rdtscp(&aux);
        recorder.Report(device, report.data(), report.size(), clockUs);
        const unsigned long long t1 = __rdtscp(&aux);
        s.cost.push_back(static_cast<double>(t1 - t0) / perMicro);
        s.timer.push_back(static_cast<double>(e1 - e0) / perMicro);
    }
    return s;
}

void Print(const char* name, Stream& s) {
    const bench::Percentiles c = bench::Summarise(s.cost);
    const bench::Percentiles t = bench::Summarise(s.timer);
    std::printf("%s: %zu reports\n", name, c.count);
    std::printf("  per Report call, us: p50 %.3f  p99 %.3f  p99.9 %.3f  max %.1f  mean %.3f\n",
                c.p50, c.p99, c.p999, c.max, c.mean);
    std::printf("  timer only, us:      p50 %.3f  p99 %.3f  p99.9 %.3f  max %.1f\n", t.p50, t.p99,
                t.p999, t.max);
}

} // namespace

int main(int argc, char** argv) {
    const long reports = argc > 1 ? std::atol(argv[1]) : 200000;
    vtp::RemoveAll();
    vtp::PadSpec pad;
    pad.name = L"bench";
    pad.product = L"Bench pad";
    std::string error;
    if (!vtp::ParseHex(ReadWholeFile(EnvironmentValue(L"VTP_PADS") + L"\\hybrid-one-finger.hid"),
                       pad.descriptor, error) ||
        !vtp::InstallPad(pad, EnvironmentValue(L"VTP_DRIVER_DIR"), error)) {
        std::printf("no virtual pad: %s\n", error.c_str());
        return 1;
    }
    const HANDLE device = vpadtest::RawInputHandle(L"bench", 0);
    UINT size = 0;
    std::vector<BYTE> preparsed;
    if (device != nullptr &&
        GetRawInputDeviceInfoW(device, RIDI_PREPARSEDDATA, nullptr, &size) == 0) {
        preparsed.resize(size);
        GetRawInputDeviceInfoW(device, RIDI_PREPARSEDDATA, preparsed.data(), &size);
    }
    if (preparsed.empty()) {
        std::printf("the virtual pad is not listed by raw input\n");
        return 1;
    }
    std::wstring folder = TempFilePath(L"rec");
    DeleteFileW(folder.c_str());

    const double perMicro = TicksPerMicro();
    Stream busy;
    Stream paced;
    std::string script;
    {
        ReportRecorder::Options options;
        options.folder = folder;
        ReportRecorder recorder(options);
        int64_t clockUs = 1000000;
        recorder.PadArrived(device, preparsed.data(), preparsed.size(), clockUs);
        recorder.WaitWritten(5000);
        busy = Play(recorder, device, reports, 40, perMicro, clockUs);
        paced = Play(recorder, device, 1000, 8000, perMicro, clockUs);
        if (recorder.Ended()) {
            std::printf("the recording ended: %s\n", recorder.EndReason().c_str());
        }
    }
    script = ReadWholeFile(folder + L"\\session.script");
    size_t recorded = 0;
    for (size_t at = script.find("\nBench-pad "); at != std::string::npos;
         at = script.find("\nBench-pad ", at + 1)) {
        ++recorded;
    }
    vtp::RemoveAll();

    Print("reports 40 us apart", busy);
    Print("reports 8 ms apart", paced);
    std::printf("reports in the script: %zu of %ld; session.script %zu bytes\n", recorded,
                reports + 1000, script.size());
    std::vector<double> all = busy.cost;
    all.insert(all.end(), paced.cost.begin(), paced.cost.end());
    const bench::Percentiles c = bench::Summarise(all);
    std::printf("RESULT report_recorder: p99 %.3f us added per report, %zu of %ld recorded "
                "(target <= 2 us, none lost) %s\n",
                c.p99, recorded, reports + 1000,
                bench::Verdict(c.p99 <= 2.0 && recorded == static_cast<size_t>(reports + 1000)));
    return 0;
}
