#include "pad_run.h"

#include <cstdio>
#include <optional>
#include <utility>
#include <vector>

#include "mouse_hook.h"
#include "pad_input.h"
#include "recorder.h"

PadRun::PadRun(const ptp::PadGeometry& pad, std::unique_ptr<FrameSource> frames,
               std::shared_ptr<overlay::DevicePanel> panelLink)
    : DeliveryRun(/*launcherWaits=*/true), geometry(pad), source(std::move(frames)),
      panel(std::move(panelLink)) {}

void PadRun::Body() {
    std::optional<PadInput> input;
    input.emplace(geometry, std::move(source), &Live());
    const HRESULT status = input->Start();
    std::optional<SessionRecorder> recorder;
    MouseHookCounts hookAtStart;
    if (SUCCEEDED(status)) {
        hookAtStart = MouseHookTotals();
        recorder.emplace(RecordPath(), geometry, ClockMicros());
    }
    Ready(status);

    if (SUCCEEDED(status)) {
        // Kept from one batch to the next, so that a packet costs no allocation.
        std::vector<ptp::Packet> packets;
        const HANDLE waits[] = {StopEvent(), input->PacketsWaiting()};
        bool running = true;
        while (running && WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
            input->Take(packets);
            for (const ptp::Packet& packet : packets) {
                const long long at = ClockMicros();
                if (!Deliver(packet)) {
                    running = false;
                    break;
                }
                if (panel) {
                    panel->Packet({packet.flagsA, packet.x, packet.y, packet.motion});
                }
                if (recorder) {
                    recorder->Write(packet, at);
                }
            }
        }
    }

    input.reset(); // the hook is gone, the source stopped
    if (recorder && recorder->On()) {
        // What the claim's hook did, for a report from a laptop: the calls it had, those while
        // the pad was in use, those it swallowed, those for injected input, its reinstalls.
        const MouseHookCounts end = MouseHookTotals();
        char line[160];
        snprintf(line, sizeof line,
                 "mouse hook: %ld calls, %ld while the pad was in use, %ld swallowed, %ld "
                 "injected, %ld reinstalls",
                 end.seen - hookAtStart.seen, end.inUse - hookAtStart.inUse,
                 end.swallowed - hookAtStart.swallowed, end.injected - hookAtStart.injected,
                 end.reinstalls - hookAtStart.reinstalls);
        recorder->Comment(line);
    }
    recorder.reset();
    Finish("end");
}
