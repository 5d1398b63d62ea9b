// The thin layer over Windows raw input and the HID parser: finding the touchpad, reading what
// its descriptor offers, and decoding its input reports. Only a Precision Touchpad exercises
// it; docs/precision-touchpad.md has the check-list for a laptop.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "frame_assembler.h"
#include "frame_source.h"
#include "pad_caps.h"

class ReportRecorder;

// The first raw-input device that is a Precision Touchpad (usage page 0x0D, usage 0x05); null
// when there is none.
HANDLE FindTouchpad();

// An attached touchpad: its raw-input handle, the HID parser's preparsed data, and the layout
// read from it. Immutable once opened, so the input thread may share it.
struct HidPad {
    HANDLE device = nullptr;
    std::vector<BYTE> preparsed;
    ptp::PadLayout layout;
};

// Opens the raw-input device `device` as a touchpad. A COM status: ERROR_DEVICE_NOT_CONNECTED
// for a handle that names no device, E_INVALIDARG for a device that is not a touchpad,
// ERROR_NOT_SUPPORTED for a touchpad the library cannot use.
HRESULT OpenHidPad(HANDLE device, HidPad& pad);

// Decodes one input report. False when it is not a touch report of the pad (another report
// id, a report that is too short).
bool DecodeReport(const HidPad& pad, const BYTE* report, ULONG length, uint32_t timeUs,
                  ptp::Report& out);

// A pad in use that has been silent this long with a contact down gives way to another.
inline constexpr uint32_t PadSilentMicros = 1'000'000;

// Frames from the touchpads through WM_INPUT, registered with RIDEV_INPUTSINK so that they come
// while other windows have the focus, and with RIDEV_DEVNOTIFY so that a pad's removal is
// known at once. Every touchpad collection is read, each decoded with its own preparsed data,
// assembler and scan clock; its frames go on one pad at a time: the pad in use until its
// contacts are up or it is removed, then whichever reports next. A pad is opened when it first
// reports, not only when it arrives: Wine announces a device before it can be opened, and
// Windows announces the devices present at the registration, Wine not.
//
// With a folder to record in, every raw report of every touchpad collection (those the library
// cannot use too) is handed to a ReportRecorder as it arrives, before it is decoded, with the
// pads' removals: a copy into the recorder's ring, whose own thread writes the files. A
// collection is taken at its first report, with its preparsed data. The recording starts with
// Start and is complete when Stop returns; a folder that cannot take it ends the recording and
// nothing else.
class RawInputSource final : public FrameSource {
public:
    // `attached`: the pad Attach chose, whose geometry the receiver starts with. `recordFolder`:
    // where to record (in a new subfolder), empty for no recording.
    explicit RawInputSource(std::shared_ptr<const HidPad> attached, std::wstring recordFolder = {});
    ~RawInputSource() override;
    RawInputSource(const RawInputSource&) = delete;
    RawInputSource& operator=(const RawInputSource&) = delete;

    bool Start(HWND window) override;
    void OnMessage(UINT message, WPARAM wParam, LPARAM lParam, FrameReceiver& receiver) override;
    bool Pending() const override;
    void OnIdle(uint32_t nowUs, FrameReceiver& receiver) override;
    void Stop() override;

private:
    struct Pad {
        std::shared_ptr<const HidPad> hid;
        ptp::FrameAssembler assembler;
        // A contact of its last frame has the tip down, and when that frame came.
        bool touching = false;
        uint32_t lastUs = 0;
    };
    Pad* Find(HANDLE device);
    Pad* Open(HANDLE device);
    void OnInput(LPARAM lParam, FrameReceiver& receiver);
    void OnDeviceChange(WPARAM wParam, LPARAM lParam, FrameReceiver& receiver);
    // `now`: when the report arrived, on the frames' clock.
    void Forward(Pad& pad, const ptp::FrameBatch& batch, uint32_t now, FrameReceiver& receiver);
    // The device handed to the recorder at its first report, with its preparsed data (`pad`'s,
    // where it is open); whether the recorder may take its reports.
    bool Recording(HANDLE device, const Pad* pad, long long nowUs);

    std::vector<std::unique_ptr<Pad>> pads;
    // Touchpad collections the library cannot use: not opened again at each report.
    std::vector<HANDLE> unusable;
    // The pad whose frames go on, null for none; the one whose geometry the receiver has.
    HANDLE inUse = nullptr;
    HANDLE announced = nullptr;
    bool registered = false;
    std::wstring recordFolder;
    std::unique_ptr<ReportRecorder> recorder;
    // The devices handed to the recorder (whatever it made of them), each once.
    std::vector<HANDLE> recorded;
    // Grows to the largest WM_INPUT seen and is kept, so a report costs no allocation.
    std::vector<BYTE> buffer;
    ptp::Report report;
    ptp::FrameBatch frames;
};
