#include "virtual_pads.h"

#include <gtest/gtest.h>

#include "support/process.h"

namespace vpadtest {

void Install(const std::wstring& name, const std::wstring& file,
             const std::vector<vtp::Bytes>& features) {
    const std::wstring path = EnvironmentValue(L"VTP_PADS") + L"\\" + file + L".hid";
    const std::string text = ReadWholeFile(path);
    ASSERT_FALSE(text.empty()) << "no pad file " << std::string(path.begin(), path.end());
    vtp::PadSpec pad;
    pad.name = name;
    pad.product = L"Virtual " + file;
    pad.features = features;
    std::string error;
    ASSERT_TRUE(vtp::ParseHex(text, pad.descriptor, error)) << error;
    ASSERT_TRUE(vtp::InstallPad(pad, EnvironmentValue(L"VTP_DRIVER_DIR"), error)) << error;
}

void RemoveAll() {
    vtp::RemoveAll();
}

void Unplug(const std::wstring& name) {
    std::string error;
    ASSERT_TRUE(vtp::RemovePad(name, error)) << error;
}

void Replug(const std::wstring& name) {
    std::string error;
    ASSERT_TRUE(vtp::AddPad(name, EnvironmentValue(L"VTP_DRIVER_DIR"), error)) << error;
}

HANDLE RawInputHandle(const std::wstring& name, size_t collection, DWORD waitMs) {
    const DWORD start = GetTickCount();
    do {
        if (HANDLE device = vtp::RawInputDevice(name, collection)) {
            return device;
        }
        // A new device is listed some tens of milliseconds after it arrives.
        Sleep(10);
    } while (GetTickCount() - start < waitMs);
    return nullptr;
}

void Feed(vtp::PadFeeder& feeder, const char* hex) {
    vtp::Bytes report;
    std::string error;
    ASSERT_TRUE(vtp::ParseHex(hex, report, error)) << error;
    ASSERT_TRUE(feeder.Send(report, error)) << error;
}

vtp::Bytes OneFingerReport(bool tip, int x, int y, int scan) {
    const auto low = [](int v) { return static_cast<uint8_t>(v & 0xFF); };
    const auto high = [](int v) { return static_cast<uint8_t>((v >> 8) & 0xFF); };
    return {0x04,      static_cast<uint8_t>(1 | (tip ? 2 : 0) | 1 << 2),
            low(x),    high(x),
            low(y),    high(y),
            low(scan), high(scan),
            1,         0};
}

} // namespace vpadtest
