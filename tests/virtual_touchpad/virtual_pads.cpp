#include "virtual_pads.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cwctype>
#include <vector>

namespace vpadtest {

namespace {

std::wstring Env(const wchar_t* name) {
    wchar_t value[MAX_PATH] = {};
    GetEnvironmentVariableW(name, value, MAX_PATH);
    return value;
}

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) {
        c = static_cast<wchar_t>(std::towlower(c));
    }
    return text;
}

} // namespace

void Install(const std::wstring& name, const std::wstring& file,
             const std::vector<vtp::Bytes>& features) {
    const std::wstring path = Env(L"VTP_PADS") + L"\\" + file + L".hid";
    FILE* in = _wfopen(path.c_str(), L"rb");
    ASSERT_NE(in, nullptr) << "no pad file " << std::string(path.begin(), path.end());
    std::string text;
    char chunk[4096];
    for (size_t got = 0; (got = std::fread(chunk, 1, sizeof chunk, in)) > 0;) {
        text.append(chunk, got);
    }
    std::fclose(in);
    vtp::PadSpec pad;
    pad.name = name;
    pad.product = L"Virtual " + file;
    pad.features = features;
    std::string error;
    ASSERT_TRUE(vtp::ParseHex(text, pad.descriptor, error)) << error;
    ASSERT_TRUE(vtp::InstallPad(pad, Env(L"VTP_DRIVER_DIR"), error)) << error;
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
    ASSERT_TRUE(vtp::AddPad(name, Env(L"VTP_DRIVER_DIR"), error)) << error;
}

HANDLE RawInputHandle(const std::wstring& name, size_t collection, DWORD waitMs) {
    const std::wstring path = Lower(vtp::DevicePath(name, collection));
    const DWORD start = GetTickCount();
    do {
        UINT count = 0;
        GetRawInputDeviceList(nullptr, &count, sizeof(RAWINPUTDEVICELIST));
        std::vector<RAWINPUTDEVICELIST> list(count + 8);
        count = static_cast<UINT>(list.size());
        const UINT got = GetRawInputDeviceList(list.data(), &count, sizeof(RAWINPUTDEVICELIST));
        for (UINT i = 0; i < got && got != static_cast<UINT>(-1); ++i) {
            if (list[i].dwType != RIM_TYPEHID) {
                continue;
            }
            wchar_t device[512] = {};
            UINT size = 511;
            if (GetRawInputDeviceInfoW(list[i].hDevice, RIDI_DEVICENAME, device, &size) !=
                    static_cast<UINT>(-1) &&
                !path.empty() && Lower(device) == path) {
                return list[i].hDevice;
            }
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

} // namespace vpadtest
