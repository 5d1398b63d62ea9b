#include "hid_pad.h"

// MinGW's header of the HID parser needs NTSTATUS and USAGE declared before it, and declares
// its functions without C linkage.
#include <winternl.h>
#include <hidusage.h>
extern "C" {
#include <hidpi.h>
}

#include <algorithm>
#include <new>
#include <utility>

#include "report_recorder.h"

namespace {

// A range of usages in one cap counts as this many at most: enough for any pad's buttons.
constexpr unsigned MaxUsagesPerCap = 32;

// The HID parser's preparsed data of the raw-input device; false while it cannot be read.
bool PreparsedOf(HANDLE device, std::vector<BYTE>& out) {
    UINT bytes = 0;
    if (GetRawInputDeviceInfoW(device, RIDI_PREPARSEDDATA, nullptr, &bytes) != 0 || bytes == 0) {
        return false;
    }
    out.resize(bytes);
    return GetRawInputDeviceInfoW(device, RIDI_PREPARSEDDATA, out.data(), &bytes) !=
           static_cast<UINT>(-1);
}

bool IsTouchpad(HANDLE device) {
    RID_DEVICE_INFO info = {};
    info.cbSize = sizeof info;
    UINT size = sizeof info;
    if (GetRawInputDeviceInfoW(device, RIDI_DEVICEINFO, &info, &size) == static_cast<UINT>(-1)) {
        return false;
    }
    return info.dwType == RIM_TYPEHID && info.hid.usUsagePage == ptp::PageDigitizer &&
           info.hid.usUsage == ptp::UsageTouchpad;
}

PHIDP_PREPARSED_DATA Preparsed(const HidPad& pad) {
    // The parser takes the data by a non-const pointer but does not write it.
    return reinterpret_cast<PHIDP_PREPARSED_DATA>(const_cast<BYTE*>(pad.preparsed.data()));
}

void AddUsages(std::vector<ptp::UsageCap>& caps, USAGE page, USHORT link, bool isButton,
               BOOLEAN isRange, USAGE first, USAGE last, const ptp::AxisCaps& value) {
    if (!isRange) {
        last = first;
    }
    for (unsigned u = first, n = 0; u <= last && n < MaxUsagesPerCap; ++u, ++n) {
        caps.push_back({page, static_cast<uint16_t>(u), link, isButton, value});
    }
}

std::vector<ptp::UsageCap> ListUsageCaps(PHIDP_PREPARSED_DATA preparsed) {
    std::vector<ptp::UsageCap> caps;
    HIDP_CAPS top = {};
    if (HidP_GetCaps(preparsed, &top) != HIDP_STATUS_SUCCESS) {
        return caps;
    }
    USHORT count = top.NumberInputValueCaps;
    std::vector<HIDP_VALUE_CAPS> values(count);
    if (count != 0 &&
        HidP_GetValueCaps(HidP_Input, values.data(), &count, preparsed) == HIDP_STATUS_SUCCESS) {
        for (USHORT i = 0; i < count; ++i) {
            const HIDP_VALUE_CAPS& v = values[i];
            const ptp::AxisCaps range = {v.LogicalMin, v.LogicalMax, v.PhysicalMin, v.PhysicalMax,
                                         v.Units,      v.UnitsExp,   v.BitSize};
            AddUsages(caps, v.UsagePage, v.LinkCollection, false, v.IsRange,
                      v.IsRange ? v.Range.UsageMin : v.NotRange.Usage, v.Range.UsageMax, range);
        }
    }
    count = top.NumberInputButtonCaps;
    std::vector<HIDP_BUTTON_CAPS> buttons(count);
    if (count != 0 &&
        HidP_GetButtonCaps(HidP_Input, buttons.data(), &count, preparsed) == HIDP_STATUS_SUCCESS) {
        for (USHORT i = 0; i < count; ++i) {
            const HIDP_BUTTON_CAPS& b = buttons[i];
            AddUsages(caps, b.UsagePage, b.LinkCollection, true, b.IsRange,
                      b.IsRange ? b.Range.UsageMin : b.NotRange.Usage, b.Range.UsageMax, {});
        }
    }
    return caps;
}

bool ReadValue(const HidPad& pad, USAGE page, USHORT link, USAGE usage, const BYTE* report,
               ULONG length, ULONG& value) {
    return HidP_GetUsageValue(HidP_Input, page, link, usage, &value, Preparsed(pad),
                              reinterpret_cast<PCHAR>(const_cast<BYTE*>(report)),
                              length) == HIDP_STATUS_SUCCESS;
}

// The one-bit usages of `page` in collection `link` that are on; false when the report has
// none of that collection.
bool ReadButtons(const HidPad& pad, USAGE page, USHORT link, const BYTE* report, ULONG length,
                 USAGE (&on)[16], ULONG& count) {
    count = static_cast<ULONG>(std::size(on));
    const NTSTATUS status =
        HidP_GetUsages(HidP_Input, page, link, on, &count, Preparsed(pad),
                       reinterpret_cast<PCHAR>(const_cast<BYTE*>(report)), length);
    if (status == HIDP_STATUS_BUFFER_TOO_SMALL) {
        count = static_cast<ULONG>(std::size(on));
        return true;
    }
    return status == HIDP_STATUS_SUCCESS;
}

bool Has(const USAGE (&on)[16], ULONG count, USAGE usage) {
    return std::find(on, on + std::min<ULONG>(count, 16), usage) != on + std::min<ULONG>(count, 16);
}

} // namespace

HANDLE FindTouchpad() {
    std::vector<RAWINPUTDEVICELIST> list;
    for (int attempt = 0; attempt < 4; ++attempt) {
        UINT count = 0;
        if (GetRawInputDeviceList(nullptr, &count, sizeof(RAWINPUTDEVICELIST)) != 0) {
            return nullptr;
        }
        list.resize(count);
        const UINT got = GetRawInputDeviceList(list.data(), &count, sizeof(RAWINPUTDEVICELIST));
        if (got != static_cast<UINT>(-1)) {
            list.resize(got);
            break;
        }
        list.clear(); // a device came between the two calls: ask again
    }
    for (const RAWINPUTDEVICELIST& entry : list) {
        if (entry.dwType == RIM_TYPEHID && IsTouchpad(entry.hDevice)) {
            return entry.hDevice;
        }
    }
    return nullptr;
}

HRESULT OpenHidPad(HANDLE device, HidPad& pad) {
    RID_DEVICE_INFO info = {};
    info.cbSize = sizeof info;
    UINT size = sizeof info;
    if (device == nullptr ||
        GetRawInputDeviceInfoW(device, RIDI_DEVICEINFO, &info, &size) == static_cast<UINT>(-1)) {
        return HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
    }
    if (info.dwType != RIM_TYPEHID || info.hid.usUsagePage != ptp::PageDigitizer ||
        info.hid.usUsage != ptp::UsageTouchpad) {
        return E_INVALIDARG;
    }
    std::vector<BYTE> preparsed;
    if (!PreparsedOf(device, preparsed)) {
        return HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
    }
    const std::vector<ptp::UsageCap> caps =
        ListUsageCaps(reinterpret_cast<PHIDP_PREPARSED_DATA>(preparsed.data()));
    ptp::PadLayout layout;
    if (ptp::DescribePad(caps, layout) != ptp::PadProblem::None) {
        return HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED);
    }
    pad.device = device;
    pad.preparsed = std::move(preparsed);
    pad.layout = layout;
    return S_OK;
}

bool DecodeReport(const HidPad& pad, const BYTE* report, ULONG length, uint32_t timeUs,
                  ptp::Report& out) {
    const ptp::PadLayout& layout = pad.layout;
    ULONG value = 0;
    if (!ReadValue(pad, ptp::PageDigitizer, layout.contactCountLink, ptp::UsageContactCount, report,
                   length, value)) {
        return false;
    }
    out.timeUs = timeUs;
    out.contactCount = value;
    out.scanTime = 0;
    if (layout.hasScanTime && ReadValue(pad, ptp::PageDigitizer, layout.scanTimeLink,
                                        ptp::UsageScanTime, report, length, value)) {
        out.scanTime = value;
    }
    USAGE on[16];
    ULONG count = 0;
    out.button = false;
    for (size_t b = 0; b < layout.buttonCount && !out.button; ++b) {
        out.button =
            ReadButtons(pad, ptp::PageButton, layout.buttonLinks[b], report, length, on, count) &&
            Has(on, count, layout.buttonUsages[b]);
    }
    out.slotCount = 0;
    for (size_t i = 0; i < layout.slotCount; ++i) {
        const ptp::SlotLayout& slot = layout.slots[i];
        ULONG x = 0;
        ULONG y = 0;
        ULONG id = 0;
        if (!ReadValue(pad, ptp::PageGenericDesktop, slot.link, ptp::UsageX, report, length, x) ||
            !ReadValue(pad, ptp::PageGenericDesktop, slot.link, ptp::UsageY, report, length, y) ||
            !ReadValue(pad, ptp::PageDigitizer, slot.link, ptp::UsageContactId, report, length,
                       id) ||
            !ReadButtons(pad, ptp::PageDigitizer, slot.link, report, length, on, count)) {
            continue;
        }
        ptp::Contact& c = out.slots[out.slotCount++];
        c.id = id;
        c.tip = Has(on, count, ptp::UsageTipSwitch);
        c.confident = !slot.hasConfidence || Has(on, count, ptp::UsageConfidence);
        c.x = ptp::SignedValue(x, slot.x.bitSize, slot.x.logicalMin);
        c.y = ptp::SignedValue(y, slot.y.bitSize, slot.y.logicalMin);
    }
    return true;
}

RawInputSource::RawInputSource(std::shared_ptr<const HidPad> attached, std::wstring folder)
    : recordFolder(std::move(folder)) {
    if (attached) {
        announced = attached->device;
        auto pad = std::make_unique<Pad>();
        pad->assembler = ptp::FrameAssembler(attached->layout.scanTimeRange);
        pad->hid = std::move(attached);
        pads.push_back(std::move(pad));
    }
}

RawInputSource::~RawInputSource() = default;

bool RawInputSource::Start(HWND window) {
    RAWINPUTDEVICE device = {ptp::PageDigitizer, ptp::UsageTouchpad,
                             RIDEV_INPUTSINK | RIDEV_DEVNOTIFY, window};
    registered = RegisterRawInputDevices(&device, 1, sizeof device) != FALSE;
    if (registered && !recordFolder.empty()) {
        ReportRecorder::Options options;
        options.folder = recordFolder;
        options.newSubfolder = true;
        try {
            recorder = std::make_unique<ReportRecorder>(options);
        } catch (const std::bad_alloc&) {
            // No recording; the claim goes on.
        }
    }
    return registered;
}

RawInputSource::Pad* RawInputSource::Find(HANDLE device) {
    for (const auto& pad : pads) {
        if (pad->hid->device == device) {
            return pad.get();
        }
    }
    return nullptr;
}

RawInputSource::Pad* RawInputSource::Open(HANDLE device) {
    if (Pad* known = Find(device)) {
        return known;
    }
    if (std::find(unusable.begin(), unusable.end(), device) != unusable.end()) {
        return nullptr;
    }
    auto hid = std::make_shared<HidPad>();
    const HRESULT opened = OpenHidPad(device, *hid);
    if (opened == HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED)) {
        return nullptr; // not ready yet, or gone: asked again at its next report
    }
    if (FAILED(opened)) {
        unusable.push_back(device);
        return nullptr;
    }
    auto pad = std::make_unique<Pad>();
    pad->assembler = ptp::FrameAssembler(hid->layout.scanTimeRange);
    pad->hid = std::move(hid);
    pads.push_back(std::move(pad));
    return pads.back().get();
}

void RawInputSource::OnMessage(UINT message, WPARAM wParam, LPARAM lParam,
                               FrameReceiver& receiver) {
    if (message == WM_INPUT) {
        OnInput(lParam, receiver);
    } else if (message == WM_INPUT_DEVICE_CHANGE) {
        OnDeviceChange(wParam, lParam, receiver);
    }
}

void RawInputSource::OnDeviceChange(WPARAM wParam, LPARAM lParam, FrameReceiver& receiver) {
    // NOLINTNEXTLINE(performance-no-int-to-ptr): the message's lParam is the device's handle
    const auto device = reinterpret_cast<HANDLE>(lParam);
    if (wParam == GIDC_ARRIVAL) {
        Open(device); // where it can be opened already; else at its first report
        return;
    }
    if (wParam != GIDC_REMOVAL) {
        return;
    }
    if (device == inUse) {
        inUse = nullptr;
        receiver.OnPadRemoved();
    }
    if (recorder) {
        recorder->PadRemoved(device, ClockMicros());
        std::erase(recorded, device);
    }
    std::erase_if(pads, [device](const auto& pad) { return pad->hid->device == device; });
    std::erase(unusable, device);
}

bool RawInputSource::Recording(HANDLE device, const Pad* pad, long long nowUs) {
    if (!recorder || recorder->Ended()) {
        return false;
    }
    if (std::find(recorded.begin(), recorded.end(), device) != recorded.end()) {
        return true;
    }
    if (pad != nullptr) {
        recorder->PadArrived(device, pad->hid->preparsed.data(), pad->hid->preparsed.size(), nowUs);
    } else {
        // A collection the library cannot use, whose reports a bug report needs all the more.
        std::vector<BYTE> preparsed;
        if (!PreparsedOf(device, preparsed)) {
            return false; // not ready yet, or gone: taken at its next report
        }
        recorder->PadArrived(device, preparsed.data(), preparsed.size(), nowUs);
    }
    recorded.push_back(device);
    return true;
}

void RawInputSource::OnInput(LPARAM lParam, FrameReceiver& receiver) {
    // NOLINTNEXTLINE(performance-no-int-to-ptr): WM_INPUT's lParam is the input's handle
    const auto input = reinterpret_cast<HRAWINPUT>(lParam);
    UINT size = 0;
    if (GetRawInputData(input, RID_INPUT, nullptr, &size, sizeof(RAWINPUTHEADER)) != 0) {
        return;
    }
    if (buffer.size() < size) {
        buffer.resize(size);
    }
    if (GetRawInputData(input, RID_INPUT, buffer.data(), &size, sizeof(RAWINPUTHEADER)) ==
            static_cast<UINT>(-1) ||
        size < sizeof(RAWINPUTHEADER)) {
        return;
    }
    const auto* raw = reinterpret_cast<const RAWINPUT*>(buffer.data());
    if (raw->header.dwType != RIM_TYPEHID) {
        return;
    }
    HANDLE device = raw->header.hDevice;
    Pad* pad = Open(device);
    const long long arrivedUs = ClockMicros();
    const bool recording = recorder && Recording(device, pad, arrivedUs);
    if (pad == nullptr && !recording) {
        return;
    }
    const DWORD reportSize = raw->data.hid.dwSizeHid;
    const BYTE* first = raw->data.hid.bRawData;
    const BYTE* end = buffer.data() + size;
    const auto now = static_cast<uint32_t>(arrivedUs); // the frames' clock
    for (DWORD i = 0; i < raw->data.hid.dwCount; ++i) {
        const BYTE* bytes = first + static_cast<size_t>(i) * reportSize;
        if (reportSize == 0 || bytes + reportSize > end) {
            break;
        }
        if (recording) {
            recorder->Report(device, bytes, reportSize, arrivedUs); // a copy into its ring
        }
        if (pad == nullptr || !DecodeReport(*pad->hid, bytes, reportSize, now, report)) {
            continue;
        }
        pad->assembler.Add(report, frames);
        Forward(*pad, frames, now, receiver);
    }
}

void RawInputSource::Forward(Pad& pad, const ptp::FrameBatch& batch, uint32_t now,
                             FrameReceiver& receiver) {
    for (size_t f = 0; f < batch.count; ++f) {
        const ptp::Frame& frame = batch.frames[f];
        pad.lastUs = now;
        if (!frame.buttonOnly) { // a frame of the button alone leaves the contacts as they were
            pad.touching = false;
            for (size_t c = 0; c < std::min(frame.count, ptp::MaxContacts); ++c) {
                pad.touching = pad.touching || frame.contacts[c].tip;
            }
        }
        HANDLE device = pad.hid->device;
        if (inUse != device) {
            // Another pad in use keeps it while a contact of it is down, unless it fell silent.
            const Pad* other = inUse != nullptr ? Find(inUse) : nullptr;
            if (other != nullptr && other->touching && now - other->lastUs < PadSilentMicros) {
                continue;
            }
            inUse = device;
            if (announced != device) {
                announced = device;
                receiver.OnPadChanged(pad.hid->layout.geometry);
            }
        }
        receiver.OnFrame(frame);
    }
}

bool RawInputSource::Pending() const {
    return std::any_of(pads.begin(), pads.end(),
                       [](const auto& pad) { return pad->assembler.Pending(); });
}

void RawInputSource::OnIdle(uint32_t nowUs, FrameReceiver& receiver) {
    for (const auto& pad : pads) {
        pad->assembler.Flush(nowUs, frames);
        Forward(*pad, frames, nowUs, receiver);
    }
}

void RawInputSource::Stop() {
    if (registered) {
        RAWINPUTDEVICE device = {ptp::PageDigitizer, ptp::UsageTouchpad, RIDEV_REMOVE, nullptr};
        RegisterRawInputDevices(&device, 1, sizeof device);
        registered = false;
    }
    // Writes what is queued and the last line: the recording is whole when the claim has ended.
    recorder.reset();
    recorded.clear();
}
