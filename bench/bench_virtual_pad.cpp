// Report to packet on the any-laptop path: an input report fed to a virtual touchpad (the
// driver of docs/virtual-touchpad.md) until velptp's sink gets the packet it makes, through
// Wine's HID class driver, raw input (WM_INPUT on the delivery thread), the HID parser, the
// frame assembler and the translator. One finger slides across the pad, one report at a time,
// each timed from just before it is fed to the sink's OnPacket, 8 ms apart as a pad reports.
//
//   bench_virtual_pad.exe [reports]      (default 2000; VTP_DRIVER_DIR and VTP_PADS as the
//                                         tests have them, set by tools/bench.sh)
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_util.h"
#include "devices.h"
#include "support/process.h"
#include "velptp_core.h"
#include "virtual_pads.h"

namespace {

using namespace bench;

// Counts packets and keeps when the last one came.
class TimingSink final : public PacketSink {
public:
    LONG STDMETHODCALLTYPE OnPacket(LONG) override {
        last.store(QpcTicks());
        count.fetch_add(1);
        return 0;
    }
    std::atomic<long long> last{0};
    std::atomic<size_t> count{0};
};

} // namespace

using namespace bench;

int main() {
    const std::wstring reportsArg = Argument(1);
    const int reports = reportsArg.empty() ? 2000 : _wtoi(reportsArg.c_str());
    vtp::PadSpec pad;
    pad.name = L"bench";
    const std::string text = ReadWholeFile(Env(L"VTP_PADS") + L"\\hybrid-one-finger.hid");
    std::string error;
    if (text.empty() || !vtp::ParseHex(text, pad.descriptor, error)) {
        std::printf("no pad file under VTP_PADS %s\n", error.c_str());
        return 1;
    }
    vtp::RemoveAll();
    if (!vtp::InstallPad(pad, Env(L"VTP_DRIVER_DIR"), error)) {
        std::printf("cannot install the virtual pad: %s\n", error.c_str());
        return 1;
    }
    int status = 1;
    {
        void* made = nullptr;
        PtpCreateObject(PtpObject::VelAPI, IID_DeviceApi, &made);
        auto* api = static_cast<DeviceApi*>(made);
        PtpCreateObject(PtpObject::PointingDevice, IID_PointingDevice, &made);
        auto* device = static_cast<PointingDevice*>(made);
        TimingSink sink;
        LONG handle = 0;
        // A new device is listed by raw input a moment after it starts.
        for (int i = 0; i < 200 && api->LocateDevice(0, 0, &handle) != S_OK; ++i) {
            Sleep(10);
        }
        vtp::PadFeeder feeder;
        if (device->Attach(handle) != S_OK || device->SetPacketSink(&sink) != S_OK ||
            device->Claim(0) != S_OK || !feeder.Open(L"bench", error)) {
            std::printf("cannot claim the virtual pad %s\n", error.c_str());
        } else {
            Sleep(200);
            std::vector<double> latencies;
            std::vector<double> feeds;
            std::vector<double> afterFeed;
            int scan = 0;
            int missed = 0;
            for (int i = -50; i < reports; ++i) {
                // Across the middle of the pad and back, a little each report.
                const int x = 1000 + (i + 50) % 2000;
                const size_t before = sink.count.load();
                const long long fed = QpcTicks();
                feeder.Send(vpadtest::OneFingerReport(true, x, 1200, scan), error);
                const long long sent = QpcTicks();
                scan = (scan + 80) & 0xFFFF;
                const long long deadline = fed + static_cast<long long>(QpcFrequency() / 10);
                while (sink.count.load() == before && QpcTicks() < deadline) {
                    Sleep(0);
                }
                if (sink.count.load() == before) {
                    ++missed;
                } else if (i >= 0) {
                    latencies.push_back(TicksToMicros(sink.last.load() - fed));
                    feeds.push_back(TicksToMicros(sent - fed));
                    afterFeed.push_back(TicksToMicros(sink.last.load() - sent));
                }
                Sleep(8);
            }
            feeder.Send(vpadtest::OneFingerReport(false, 1000, 1200, scan), error);
            // Touch starts after the pad was silent: how long a finger's first report takes
            // to put the pad in use for the mouse hook (its frame is delivered just after),
            // during which the system's own pointer input from the pad is not held back.
            std::vector<double> starts;
            const int touches = reports / 20;
            for (int t = 0; t < touches; ++t) {
                Sleep(400); // longer than PadInUseMs: the hook passes everything
                scan = (scan + 4000) & 0xFFFF;
                const size_t before = sink.count.load();
                const long long fed = QpcTicks();
                feeder.Send(vpadtest::OneFingerReport(true, 1500 + t, 1500, scan), error);
                const long long deadline = fed + static_cast<long long>(QpcFrequency() / 10);
                while (sink.count.load() == before && QpcTicks() < deadline) {
                    Sleep(0);
                }
                if (sink.count.load() != before) {
                    starts.push_back(TicksToMicros(sink.last.load() - fed));
                }
                scan = (scan + 80) & 0xFFFF;
                feeder.Send(vpadtest::OneFingerReport(false, 1500 + t, 1500, scan), error);
            }
            const Percentiles st = Summarise(starts);
            std::printf("a touch's first report to the pad in use, %zu touches: p50 %.0f us, p99 "
                        "%.0f us, max %.0f us\n",
                        starts.size(), st.p50, st.p99, st.max);
            const Percentiles p = Summarise(latencies);
            const Percentiles f = Summarise(feeds);
            const Percentiles a = Summarise(afterFeed);
            std::printf("of which the feed itself (HidD_SetFeature to the driver and back): p50 "
                        "%.0f us, p99 %.0f us\n",
                        f.p50, f.p99);
            std::printf("packet after the feed returned (negative: before): p50 %.0f us, p99 %.0f "
                        "us\n",
                        a.p50, a.p99);
            std::printf("report fed -> OnPacket, %zu reports (%d without a packet): p50 %.0f us, "
                        "p99 %.0f us, max %.0f us\n",
                        latencies.size(), missed, p.p50, p.p99, p.max);
            std::printf("RESULT virtual_pad_report_to_packet_p50_us=%.0f p99_us=%.0f "
                        "touch_start_p99_us=%.0f\n",
                        p.p50, p.p99, st.p99);
            status = 0;
        }
        device->Unclaim();
        PtpWaitDelivery(5000);
        device->Release();
        api->Release();
    }
    vtp::RemoveAll();
    return status;
}
