// Recording a touchpad as it is, for a replay on a virtual touchpad under Wine: every raw report
// of its touchpad collections with its arrival time, and the pads arriving and removed, handed
// by the caller's thread to a writer thread of the recorder's own, which writes into a folder:
//   NAME.hid         each touchpad collection's report descriptor, rebuilt from what Windows'
//                    HID parser holds of it (hid_descriptor.h), with a comment header
//   NAME.args        the arguments of `vtpctl install` for it: its identity and the feature
//                    reports a replay must answer (contact count maximum and pad type), as read
//   session.script   the session in vtpctl's script format: one report a step, `wait` steps
//                    from the arrival times, `remove` and `add` where a pad went and came back
// NAME is made from the pad's product string (recording_format.h). A pad's files are written at
// its first report: a collection that never reports is not recorded. Only touchpad collections
// (usage page 0x0D, usage 0x05) are taken, so nothing typed is ever recorded.
//
// The caller's cost is a copy into a ring buffer: no lock, no allocation, no system call while
// reports flow (docs/performance.md, "Recording a touchpad's reports"). The writer drains it
// every 50 ms while reports come and sleeps once they stop, to be woken by the next one.
//
// Recording never harms the caller: a folder that cannot be made or written, a full disk, or a
// session file grown to its cap (64 MiB) ends the recording, with a last comment line that says
// why where the file can still take one; the calls go on costing nothing. Should the writer fall
// behind, a report that finds the ring full is not recorded, and the script says how many.
//
// velptp records at each claim where the setting names a folder (RecordReportsFolder in
// recorder.h), from the claim's input thread as raw input hands it the reports (RawInputSource,
// hid_pad.h), each claim into a subfolder of its own.
//
// Threads: PadArrived, PadRemoved and Report from one thread (velptp's input thread); the
// constructor and destructor from any one thread, not while those run. The destructor writes
// what is queued and ends the writer.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device/unique_handle.h"

class ReportRecorder {
public:
    inline static constexpr uint64_t DefaultCapBytes = 64ull << 20;
    static const char* const VelptpVersion;

    struct Options {
        std::wstring folder; // made where it is not there
        // Records into a new subfolder of `folder` named after the local date and time when the
        // recording starts ("2026-12-11_08-04-16"), "-2", "-3"... added where that is taken.
        bool newSubfolder = false;
        uint64_t capBytes = DefaultCapBytes;
        size_t ringBytes = 1u << 20;
        std::string velptpVersion = VelptpVersion;
    };

    explicit ReportRecorder(const Options& options);
    ~ReportRecorder();
    ReportRecorder(const ReportRecorder&) = delete;
    ReportRecorder& operator=(const ReportRecorder&) = delete;

    // A touchpad collection opened, with its raw-input handle and the parser's preparsed data as
    // raw input gives it. Taken only for a touchpad collection. `nowUs`: when, on a clock in
    // microseconds that does not wrap (velptp's ClockMicros).
    void PadArrived(HANDLE device, const BYTE* preparsed, size_t length, int64_t nowUs);
    void PadRemoved(HANDLE device, int64_t nowUs);
    // One raw report (RAWHID bRawData, dwSizeHid bytes) as it arrived; of a device that did not
    // arrive as a touchpad, nothing.
    void Report(HANDLE device, const BYTE* report, size_t length, int64_t nowUs) {
        if (ended.load(std::memory_order_relaxed) || !Accepted(device)) {
            return;
        }
        Push(EventKind::Report, device, nowUs, report, length);
    }

    // Whether the recording has ended before the recorder did, and why; for tests.
    bool Ended() const { return ended.load(std::memory_order_acquire); }
    std::string EndReason() const;
    // Waits until the writer has handled everything handed to it so far; false on time-out.
    // For tests, which unplug a pad only once its arrival is written.
    bool WaitWritten(DWORD ms);

private:
    enum class EventKind : uint8_t { Arrived, Removed, Report };
    struct Writer;

    bool Accepted(HANDLE device) const {
        for (HANDLE known : accepted) {
            if (known == device) {
                return true;
            }
        }
        return false;
    }
    void Push(EventKind kind, HANDLE device, int64_t nowUs, const BYTE* bytes, size_t length);
    static DWORD WINAPI WriterMain(void* self);

    // The ring: written by the caller's thread, read by the writer's.
    std::vector<uint8_t> ring;
    std::atomic<uint64_t> head{0};
    std::atomic<uint64_t> tail{0};
    std::atomic<uint64_t> handled{0}; // the events before it are written
    std::atomic<uint32_t> lost{0};
    std::atomic<bool> writerAsleep{false};
    std::atomic<bool> ended{false};
    std::atomic<bool> stopping{false};
    // The devices taken, by the caller's thread only.
    std::vector<HANDLE> accepted;

    std::unique_ptr<Writer> writer;
    UniqueHandle wake;
    UniqueHandle thread;
};
