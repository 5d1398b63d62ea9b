// The thin layer over Windows raw input and the HID parser: finding the touchpad, reading what
// its descriptor offers, and decoding its input reports. Only a Precision Touchpad exercises
// it; docs/precision-touchpad.md has the check-list for a laptop.
#pragma once

#include <windows.h>

#include <memory>
#include <vector>

#include "frame_assembler.h"
#include "frame_source.h"
#include "pad_caps.h"

// The first raw-input device that is a Precision Touchpad (usage page 0x0D, usage 0x05); null
// when there is none.
HANDLE FindTouchpad();

// An attached touchpad: its raw-input handle, the HID parser's preparsed data, and the layout
// read from it. Immutable once opened, so the delivery thread may share it.
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

// Frames from the touchpad through WM_INPUT, registered with RIDEV_INPUTSINK so that they come
// while other windows have the focus.
class RawInputSource final : public FrameSource {
public:
    explicit RawInputSource(std::shared_ptr<const HidPad> pad);

    bool Start(HWND window) override;
    void OnMessage(UINT message, WPARAM wParam, LPARAM lParam, FrameReceiver& receiver) override;
    void Stop() override;

private:
    std::shared_ptr<const HidPad> pad;
    bool registered = false;
    // Grows to the largest WM_INPUT seen and is kept, so a report costs no allocation.
    std::vector<BYTE> buffer;
    ptp::FrameAssembler assembler;
    ptp::Report report;
    ptp::FrameBatch frames;
};
