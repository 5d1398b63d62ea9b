#include "devices.h"

#include <setupapi.h>
#include <newdev.h>
#include <winternl.h>
extern "C" {
#include <hidsdi.h>
}

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <fstream>
#include <utility>

#include "delivery.h"

namespace vtp {

namespace {

constexpr wchar_t Enumerator[] = L"VTOUCHPAD";
constexpr wchar_t ServiceName[] = L"vtouchpad";
constexpr wchar_t PadsKey[] = L"Software\\Velmora\\VirtualTouchpad\\Pads";
// The pads are remembered in the 64-bit view, so that both builds' programs find them.
constexpr REGSAM PadsView = KEY_WOW64_64KEY;
// The class of HID devices, "HIDClass".
constexpr GUID HidClassGuid = {
    0x745a17a0, 0x74d3, 0x11d0, {0xb6, 0xfe, 0x00, 0xa0, 0xc9, 0x0f, 0x57, 0xda}};
// A new device shows in a few tens of milliseconds, about two seconds the first time in a
// new prefix, while Wine's device host starts.
constexpr DWORD StartWaitMs = 20000;
constexpr DWORD RemoveWaitMs = 10000;

constexpr char Inf[] = R"inf([Version]
Signature="$CHICAGO$"
Class=HIDClass
ClassGuid={745a17a0-74d3-11d0-b6fe-00a0c90f57da}
Provider=%Provider%
DriverVer=12/11/2026,1.0.0.0

[Manufacturer]
%Provider%=Pads,NTamd64

[Pads]
%Name%=VirtualTouchpad,VTOUCHPAD

[Pads.NTamd64]
%Name%=VirtualTouchpad,VTOUCHPAD

[VirtualTouchpad.NT]

[VirtualTouchpad.NT.Services]
AddService=vtouchpad,0x00000002,VirtualTouchpadService

[VirtualTouchpadService]
ServiceType=1
StartType=3
ErrorControl=1
ServiceBinary=%12%\vtouchpad.sys

[Strings]
Provider="Tapdeck tests"
Name="Virtual touchpad (tests only)"
)inf";

class DevInfo {
public:
    explicit DevInfo(HDEVINFO owned) : set(owned) {}
    ~DevInfo() {
        if (set != INVALID_HANDLE_VALUE) {
            SetupDiDestroyDeviceInfoList(set);
        }
    }
    DevInfo(const DevInfo&) = delete;
    DevInfo& operator=(const DevInfo&) = delete;
    HDEVINFO Get() const { return set; }
    bool Valid() const { return set != INVALID_HANDLE_VALUE; }

private:
    HDEVINFO set;
};

class Key {
public:
    Key() = default;
    explicit Key(HKEY owned) : key(owned) {}
    ~Key() {
        if (key != nullptr && key != INVALID_HANDLE_VALUE) {
            RegCloseKey(key);
        }
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY Get() const { return key; }
    HKEY* Out() { return &key; }
    bool Valid() const { return key != nullptr && key != INVALID_HANDLE_VALUE; }

private:
    HKEY key = nullptr;
};

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) {
        out.push_back(c < 128 ? static_cast<char>(c) : '?');
    }
    return out;
}

std::string LastError(const char* what) {
    return std::string(what) + " failed (error " + std::to_string(GetLastError()) + ")";
}

bool ValidName(const std::wstring& name) {
    return !name.empty() && name.size() <= 32 &&
           std::all_of(name.begin(), name.end(), [](wchar_t c) {
               return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') ||
                      (c >= L'0' && c <= L'9') || c == L'-' || c == L'_';
           });
}

std::wstring HardwareId(const std::wstring& name, size_t part) {
    return std::wstring(Enumerator) + L"\\" + name + L"-" + std::to_wstring(part);
}

// Each device says who it is by its serial number string.
std::wstring Serial(const std::wstring& name, size_t part) {
    return L"vtp:" + name + L":" + std::to_wstring(part);
}

void SetBinary(HKEY key, const wchar_t* name, const Bytes& bytes) {
    RegSetValueExW(key, name, 0, REG_BINARY, bytes.data(), static_cast<DWORD>(bytes.size()));
}
void SetDword(HKEY key, const wchar_t* name, DWORD value) {
    RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}
void SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}
bool GetBinary(HKEY key, const wchar_t* name, Bytes& out) {
    DWORD size = 0;
    DWORD type = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_BINARY) {
        return false;
    }
    out.resize(size);
    return RegQueryValueExW(key, name, nullptr, nullptr, out.data(), &size) == ERROR_SUCCESS;
}
DWORD GetDword(HKEY key, const wchar_t* name, DWORD fallback) {
    DWORD value = 0;
    DWORD size = sizeof value;
    DWORD type = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD) {
        return fallback;
    }
    return value;
}
std::wstring GetString(HKEY key, const wchar_t* name) {
    wchar_t buffer[512] = {};
    DWORD size = sizeof buffer - sizeof(wchar_t);
    DWORD type = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ) {
        return {};
    }
    return buffer;
}

// The driver's table of feature answers: [id][length, 2 bytes][report] for each.
Bytes FeatureTable(const std::vector<Bytes>& features) {
    Bytes table;
    for (const Bytes& report : features) {
        if (report.empty() || report.size() > 512) {
            continue;
        }
        table.push_back(report[0]);
        table.push_back(static_cast<uint8_t>(report.size() & 0xFF));
        table.push_back(static_cast<uint8_t>(report.size() >> 8));
        table.insert(table.end(), report.begin(), report.end());
    }
    return table;
}
std::vector<Bytes> FeatureList(const Bytes& table) {
    std::vector<Bytes> features;
    for (size_t at = 0; at + 3 <= table.size();) {
        const size_t size = table[at + 1] | static_cast<size_t>(table[at + 2]) << 8;
        if (at + 3 + size > table.size()) {
            break;
        }
        features.emplace_back(table.begin() + static_cast<std::ptrdiff_t>(at + 3),
                              table.begin() + static_cast<std::ptrdiff_t>(at + 3 + size));
        at += 3 + size;
    }
    return features;
}

bool SavePad(const PadSpec& pad) {
    Key key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(PadsKey) + L"\\" + pad.name).c_str(), 0,
                        nullptr, 0, KEY_ALL_ACCESS | PadsView, nullptr, key.Out(),
                        nullptr) != ERROR_SUCCESS) {
        return false;
    }
    SetBinary(key.Get(), L"Descriptor", pad.descriptor);
    SetDword(key.Get(), L"VendorID", pad.vendorId);
    SetDword(key.Get(), L"ProductID", pad.productId);
    SetDword(key.Get(), L"VersionNumber", pad.version);
    SetString(key.Get(), L"Manufacturer", pad.manufacturer);
    SetString(key.Get(), L"Product", pad.product);
    SetBinary(key.Get(), L"FeatureReports", FeatureTable(pad.features));
    return true;
}

bool LoadPad(const std::wstring& name, PadSpec& pad) {
    Key key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(PadsKey) + L"\\" + name).c_str(), 0,
                      KEY_READ | PadsView, key.Out()) != ERROR_SUCCESS) {
        return false;
    }
    pad.name = name;
    Bytes table;
    GetBinary(key.Get(), L"FeatureReports", table);
    pad.features = FeatureList(table);
    pad.vendorId = static_cast<uint16_t>(GetDword(key.Get(), L"VendorID", pad.vendorId));
    pad.productId = static_cast<uint16_t>(GetDword(key.Get(), L"ProductID", pad.productId));
    pad.version = static_cast<uint16_t>(GetDword(key.Get(), L"VersionNumber", pad.version));
    pad.manufacturer = GetString(key.Get(), L"Manufacturer");
    pad.product = GetString(key.Get(), L"Product");
    return GetBinary(key.Get(), L"Descriptor", pad.descriptor);
}

// The pad's collections, each with the feed added, as its devices get them.
bool Parts(const Bytes& descriptor, std::vector<Collection>& collections, std::vector<Feed>& feeds,
           std::string& error) {
    if (!SplitCollections(descriptor, collections, error)) {
        return false;
    }
    feeds.assign(collections.size(), Feed{});
    for (size_t i = 0; i < collections.size(); ++i) {
        // A collection without input reports (a configuration collection) has nothing to feed.
        if (collections[i].inputReports.empty()) {
            continue;
        }
        if (!AddFeed(collections[i], feeds[i], error)) {
            error.insert(0, "collection " + std::to_string(i) + ": ");
            return false;
        }
    }
    return true;
}

// Copies the driver where its service looks for it, and writes the .inf; its path.
bool PrepareDriver(const std::wstring& driverDir, std::wstring& infPath, std::string& error) {
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring target = std::wstring(system) + L"\\drivers\\vtouchpad.sys";
    const std::wstring source = driverDir + L"\\vtouchpad.sys";
    if (GetFileAttributesW(source.c_str()) == INVALID_FILE_ATTRIBUTES) {
        error = "no driver at " + Narrow(source);
        return false;
    }
    // The device host is 64-bit: a 32-bit program must write the real system32, not the
    // folder WoW64 shows it under that name. A driver in use by the host stays as it is.
    PVOID redirection = nullptr;
    const BOOL unredirected = Wow64DisableWow64FsRedirection(&redirection);
    const bool copied = CopyFileW(source.c_str(), target.c_str(), FALSE) ||
                        GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (unredirected) {
        Wow64RevertWow64FsRedirection(redirection);
    }
    if (!copied) {
        error = LastError("copying the driver to system32\\drivers");
        return false;
    }
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    infPath = std::wstring(temp) + L"vtouchpad.inf";
    FILE* file = _wfopen(infPath.c_str(), L"wb");
    if (file == nullptr) {
        error = "cannot write " + Narrow(infPath);
        return false;
    }
    const bool written = std::fwrite(Inf, 1, sizeof Inf - 1, file) == sizeof Inf - 1;
    std::fclose(file);
    if (!written) {
        error = "cannot write " + Narrow(infPath);
    }
    return written;
}

// Calls `visit(set, device, hardwareId)` for each virtual device; stops when it returns false.
template <typename Visit> void ForEachDevice(Visit visit) {
    DevInfo set(SetupDiGetClassDevsW(nullptr, L"ROOT", nullptr, DIGCF_ALLCLASSES));
    if (!set.Valid()) {
        return;
    }
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set.Get(), i, &device); ++i) {
        wchar_t ids[512] = {};
        if (!SetupDiGetDeviceRegistryPropertyW(set.Get(), &device, SPDRP_HARDWAREID, nullptr,
                                               reinterpret_cast<BYTE*>(ids), sizeof ids - 4,
                                               nullptr)) {
            continue;
        }
        const std::wstring id = ids;
        if (id.rfind(std::wstring(Enumerator) + L"\\", 0) == 0 && !visit(set.Get(), device, id)) {
            return;
        }
    }
}

// An open device, or none (CreateFile's failure is not a handle to own).
UniqueHandle OpenDevice(const std::wstring& path, DWORD access) {
    HANDLE file = CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    return UniqueHandle(file == INVALID_HANDLE_VALUE ? nullptr : file);
}

// The HID device path whose serial number string is `serial`; empty when none is there.
std::wstring FindBySerial(const std::wstring& serial) {
    GUID hid = {};
    HidD_GetHidGuid(&hid);
    DevInfo set(
        SetupDiGetClassDevsW(&hid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!set.Valid()) {
        return {};
    }
    SP_DEVICE_INTERFACE_DATA iface{};
    iface.cbSize = sizeof iface;
    for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set.Get(), nullptr, &hid, i, &iface); ++i) {
        DWORD size = 0;
        SetupDiGetDeviceInterfaceDetailW(set.Get(), &iface, nullptr, 0, &size, nullptr);
        std::vector<BYTE> buffer(size + sizeof(wchar_t));
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
        detail->cbSize = sizeof *detail;
        if (!SetupDiGetDeviceInterfaceDetailW(set.Get(), &iface, detail, size, nullptr, nullptr)) {
            continue;
        }
        const UniqueHandle file = OpenDevice(detail->DevicePath, 0);
        wchar_t text[128] = {};
        if (file && HidD_GetSerialNumberString(file.Get(), text, sizeof text - sizeof(wchar_t)) &&
            serial == text) {
            return detail->DevicePath;
        }
    }
    return {};
}

// What the driver wrote in the device's key about its start; empty where it never ran.
std::wstring DriverState(const std::wstring& hardwareId) {
    std::wstring state;
    ForEachDevice([&](HDEVINFO set, SP_DEVINFO_DATA& device, const std::wstring& id) {
        if (id != hardwareId) {
            return true;
        }
        Key key(SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ));
        if (key.Valid()) {
            state = GetString(key.Get(), L"DriverState");
        }
        return false;
    });
    return state;
}

// Why a device did not start, from what the driver wrote in its key.
std::string WhyNotStarted(const std::wstring& hardwareId) {
    const std::wstring state = DriverState(hardwareId);
    if (state == L"started") {
        return "the driver started it, but the HID class driver did not make a device of it "
               "(does Wine's HID parser take its descriptor?)";
    }
    if (!state.empty()) {
        return "the driver says: " + Narrow(state);
    }
    return "the driver never ran for it (is the vtouchpad service installed and the prefix's "
           "device host running?)";
}

bool ReadCounters(HANDLE file, const Feed& feed, DeviceCounters& out) {
    Bytes status(1 + feed.payloadBytes, 0);
    status[0] = feed.reportId;
    if (!HidD_GetFeature(file, status.data(), static_cast<ULONG>(status.size())) ||
        status[1] != FeedMagic[0] || status[2] != FeedMagic[1]) {
        return false;
    }
    uint32_t values[FeedCounters] = {};
    std::memcpy(values, status.data() + 3, sizeof values);
    out = {values[0], values[1], values[2], values[3], values[4]};
    return true;
}

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) {
        c = static_cast<wchar_t>(std::towlower(c));
    }
    return text;
}

bool InstallPart(const PadSpec& pad, size_t part, const Collection& collection, const Feed& feed,
                 const std::wstring& infPath, std::string& error) {
    DevInfo set(SetupDiCreateDeviceInfoList(&HidClassGuid, nullptr));
    if (!set.Valid()) {
        error = LastError("SetupDiCreateDeviceInfoList");
        return false;
    }
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    if (!SetupDiCreateDeviceInfoW(set.Get(), Enumerator, &HidClassGuid, pad.product.c_str(),
                                  nullptr, DICD_GENERATE_ID, &device)) {
        error = LastError("SetupDiCreateDeviceInfo");
        return false;
    }
    const std::wstring hardwareId = HardwareId(pad.name, part);
    // Its own id, so that installing the driver touches no other device, then the one the
    // driver's .inf names.
    std::wstring ids = hardwareId + L'\0' + Enumerator + L'\0' + L'\0';
    if (!SetupDiSetDeviceRegistryPropertyW(set.Get(), &device, SPDRP_HARDWAREID,
                                           reinterpret_cast<const BYTE*>(ids.data()),
                                           static_cast<DWORD>(ids.size() * sizeof(wchar_t))) ||
        !SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set.Get(), &device)) {
        error = LastError("registering the device");
        return false;
    }
    const auto fail = [&](std::string why) {
        error = std::move(why);
        SetupDiCallClassInstaller(DIF_REMOVE, set.Get(), &device);
        return false;
    };
    {
        Key key(SetupDiCreateDevRegKeyW(set.Get(), &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, nullptr,
                                        nullptr));
        if (!key.Valid()) {
            return fail(LastError("creating the device's key"));
        }
        SetBinary(key.Get(), L"ReportDescriptor", collection.descriptor);
        SetDword(key.Get(), L"FeedReportID", feed.reportId);
        SetDword(key.Get(), L"VendorID", pad.vendorId);
        SetDword(key.Get(), L"ProductID", pad.productId);
        SetDword(key.Get(), L"VersionNumber", pad.version);
        SetString(key.Get(), L"Manufacturer", pad.manufacturer);
        SetString(key.Get(), L"Product", pad.product);
        SetString(key.Get(), L"SerialNumber", Serial(pad.name, part));
        SetBinary(key.Get(), L"FeatureReports", FeatureTable(pad.features));
    }
    BOOL reboot = FALSE;
    if (!UpdateDriverForPlugAndPlayDevicesW(nullptr, hardwareId.c_str(), infPath.c_str(),
                                            INSTALLFLAG_FORCE, &reboot)) {
        return fail(LastError("installing the driver on the device"));
    }
    const DWORD start = GetTickCount();
    while (FindBySerial(Serial(pad.name, part)).empty()) {
        if (GetTickCount() - start > StartWaitMs) {
            return fail("collection " + std::to_string(part) + " (usage page 0x" +
                        [](unsigned v) {
                            char text[8];
                            std::snprintf(text, sizeof text, "%02X", v);
                            return std::string(text);
                        }(collection.usagePage) +
                        ") did not start within " + std::to_string(StartWaitMs / 1000) +
                        " s: " + WhyNotStarted(hardwareId));
        }
        Sleep(10);
    }
    return true;
}

bool InstallSpec(const PadSpec& pad, const std::wstring& driverDir, std::string& error) {
    std::vector<Collection> collections;
    std::vector<Feed> feeds;
    std::wstring infPath;
    if (!Parts(pad.descriptor, collections, feeds, error) ||
        !PrepareDriver(driverDir, infPath, error)) {
        return false;
    }
    for (size_t i = 0; i < collections.size(); ++i) {
        if (!InstallPart(pad, i, collections[i], feeds[i], infPath, error)) {
            std::string ignored;
            RemovePad(pad.name, ignored);
            error.insert(0, Narrow(pad.name) + ": ");
            return false;
        }
    }
    return true;
}

} // namespace

bool InstallPad(const PadSpec& pad, const std::wstring& driverDir, std::string& error) {
    if (!ValidName(pad.name)) {
        error = "a pad's name is 1 to 32 letters, digits, '-' or '_'";
        return false;
    }
    std::string ignored;
    RemovePad(pad.name, ignored);
    if (!SavePad(pad)) {
        error = LastError("remembering the pad");
        return false;
    }
    return InstallSpec(pad, driverDir, error);
}

bool AddPad(const std::wstring& name, const std::wstring& driverDir, std::string& error) {
    PadSpec pad;
    if (!LoadPad(name, pad)) {
        error = "no pad named " + Narrow(name) + " was installed";
        return false;
    }
    std::string ignored;
    RemovePad(name, ignored);
    return InstallSpec(pad, driverDir, error);
}

bool RemovePad(const std::wstring& name, std::string& error) {
    const std::wstring prefix = std::wstring(Enumerator) + L"\\" + name + L"-";
    std::vector<std::wstring> serials;
    bool ok = true;
    ForEachDevice([&](HDEVINFO set, SP_DEVINFO_DATA& device, const std::wstring& id) {
        if (id.rfind(prefix, 0) == 0) {
            serials.push_back(Serial(name, std::stoul(id.substr(prefix.size()))));
            if (!SetupDiCallClassInstaller(DIF_REMOVE, set, &device)) {
                error = LastError("removing a device");
                ok = false;
            }
        }
        return true;
    });
    const DWORD start = GetTickCount();
    for (const std::wstring& serial : serials) {
        while (!FindBySerial(serial).empty()) {
            if (GetTickCount() - start > RemoveWaitMs) {
                error = Narrow(serial) + " still there " + std::to_string(RemoveWaitMs / 1000) +
                        " s after its removal";
                return false;
            }
            Sleep(10);
        }
    }
    return ok;
}

void RemoveAll() {
    std::vector<std::wstring> names = InstalledPads();
    for (const std::wstring& name : names) {
        std::string ignored;
        RemovePad(name, ignored);
    }
    // Devices of a pad no longer remembered, or half made.
    ForEachDevice([](HDEVINFO set, SP_DEVINFO_DATA& device, const std::wstring&) {
        SetupDiCallClassInstaller(DIF_REMOVE, set, &device);
        return true;
    });
    Key parent;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Velmora\\VirtualTouchpad", 0,
                      KEY_ALL_ACCESS | PadsView, parent.Out()) == ERROR_SUCCESS) {
        RegDeleteTreeW(parent.Get(), L"Pads");
    }
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager != nullptr) {
        SC_HANDLE service = OpenServiceW(manager, ServiceName, SERVICE_ALL_ACCESS);
        if (service != nullptr) {
            SERVICE_STATUS status = {};
            ControlService(service, SERVICE_CONTROL_STOP, &status);
            DeleteService(service);
            CloseServiceHandle(service);
        }
        CloseServiceHandle(manager);
    }
}

std::vector<std::wstring> InstalledPads() {
    std::vector<std::wstring> names;
    ForEachDevice([&](HDEVINFO, SP_DEVINFO_DATA&, const std::wstring& id) {
        const size_t slash = id.find(L'\\');
        const size_t dash = id.rfind(L'-');
        if (slash != std::wstring::npos && dash != std::wstring::npos && dash > slash) {
            const std::wstring name = id.substr(slash + 1, dash - slash - 1);
            if (std::find(names.begin(), names.end(), name) == names.end()) {
                names.push_back(name);
            }
        }
        return true;
    });
    return names;
}

std::wstring DevicePath(const std::wstring& name, size_t collection) {
    return FindBySerial(Serial(name, collection));
}

HANDLE RawInputDevice(const std::wstring& name, size_t collection) {
    const std::wstring path = Lower(DevicePath(name, collection));
    if (path.empty()) {
        return nullptr;
    }
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
            Lower(device) == path) {
            return list[i].hDevice;
        }
    }
    return nullptr;
}

std::string DescribePadDevices(const std::wstring& name) {
    PadSpec pad;
    std::vector<Collection> collections;
    std::vector<Feed> feeds;
    std::string text;
    if (!LoadPad(name, pad) || !Parts(pad.descriptor, collections, feeds, text)) {
        return "pad " + Narrow(name) + ": not installed " + text + "\n";
    }
    for (size_t i = 0; i < collections.size(); ++i) {
        if (collections[i].inputReports.empty()) {
            continue;
        }
        char line[320];
        std::snprintf(line, sizeof line,
                      "pad %s, collection %zu (usage %02X/%02X): ", Narrow(name).c_str(), i,
                      collections[i].usagePage, collections[i].usage);
        text += line;
        const std::wstring state = DriverState(HardwareId(name, i));
        text += state.empty() ? "the driver never ran for it" : "driver: " + Narrow(state);
        const std::wstring path = FindBySerial(Serial(name, i));
        const UniqueHandle file =
            path.empty() ? UniqueHandle() : OpenDevice(path, GENERIC_READ | GENERIC_WRITE);
        DeviceCounters counters;
        if (!file) {
            text += "; no HID device";
        } else if (ReadCounters(file.Get(), feeds[i], counters)) {
            std::snprintf(line, sizeof line,
                          "; reports fed %u, delivered to reads %u, queued %u, reads pending "
                          "%u, feeds refused %u",
                          counters.fed, counters.delivered, counters.queued, counters.pendingReads,
                          counters.refused);
            text += line;
        } else {
            text += "; its counters cannot be read";
        }
        HANDLE listed = RawInputDevice(name, i);
        std::snprintf(line, sizeof line, "; raw input %s %p\n",
                      listed != nullptr ? "lists it as" : "does not list it",
                      static_cast<void*>(listed));
        text += line;
    }
    return text;
}

bool PadFeeder::Open(const std::wstring& padName, std::string& error) {
    Close();
    PadSpec pad;
    if (!LoadPad(padName, pad)) {
        error = "no pad named " + Narrow(padName) + " was installed";
        return false;
    }
    std::vector<Collection> collections;
    std::vector<Feed> feeds;
    if (!Parts(pad.descriptor, collections, feeds, error)) {
        return false;
    }
    name = padName;
    for (size_t i = 0; i < collections.size(); ++i) {
        Part part;
        part.collection = std::move(collections[i]);
        part.feed = feeds[i];
        if (!part.collection.inputReports.empty()) {
            const std::wstring path = FindBySerial(Serial(name, i));
            part.file =
                path.empty() ? UniqueHandle() : OpenDevice(path, GENERIC_READ | GENERIC_WRITE);
            if (!part.file) {
                error = Narrow(name) + ": collection " + std::to_string(i) + " is not there";
                parts.clear();
                return false;
            }
        }
        parts.push_back(std::move(part));
    }
    return true;
}

bool PadFeeder::Prime(std::string& error) {
    for (Part& part : parts) {
        if (!part.file) {
            continue;
        }
        Bytes request(1 + part.feed.payloadBytes, 0);
        request[0] = part.feed.reportId;
        request[1] = FeedMagic[0];
        request[2] = 'P';
        if (!HidD_SetFeature(part.file.Get(), request.data(), static_cast<ULONG>(request.size()))) {
            error = LastError("asking Wine's device host to learn the devices");
            return false;
        }
        return true;
    }
    return true; // none of its devices reports: nothing of it for the host to learn
}

bool PadFeeder::Send(const Bytes& report, std::string& error) {
    return ReadyDesktopForReports(error) && SendPrepared(report, error);
}

bool PadFeeder::SendPrepared(const Bytes& report, std::string& error) {
    if (report.empty()) {
        error = "an empty report";
        return false;
    }
    for (Part& part : parts) {
        const uint8_t id = part.collection.reportIds ? report[0] : 0;
        const size_t length = InputReportLength(part.collection, id);
        if (length == 0 || !part.file) {
            continue;
        }
        if (report.size() != length) {
            error = "a report of " + std::to_string(report.size()) + " bytes where report " +
                    std::to_string(id) + " has " + std::to_string(length) +
                    " (Wine drops a report of the wrong length)";
            return false;
        }
        if (!FeedReport(part.feed, report, buffer)) {
            error = "a report too long for the feed";
            return false;
        }
        // The device's queue is full when the reader lags: wait for it, drop nothing.
        for (int attempt = 0; attempt < 2000; ++attempt) {
            if (HidD_SetFeature(part.file.Get(), buffer.data(),
                                static_cast<ULONG>(buffer.size()))) {
                return true;
            }
            Sleep(1);
        }
        error = LastError("feeding the report");
        return false;
    }
    error = "no collection of " + Narrow(name) + " declares input report " +
            std::to_string(report[0]) + " (the report's first byte)";
    return false;
}

} // namespace vtp
