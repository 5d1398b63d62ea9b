// Virtual touchpads in this Wine prefix: installed from a descriptor through SetupAPI on root
// devices driven by vtouchpad.sys, fed input reports through their feed feature report, and
// removed. A pad of several top-level collections is one device per collection, as Windows
// would show it. For tests under Wine only: the driver is unsigned and never shipped.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "descriptor.h"
#include "device/unique_handle.h"

namespace vtp {

struct PadSpec {
    std::wstring name; // letters, digits, '-' and '_'
    Bytes descriptor;
    uint16_t vendorId = 0x1209;
    uint16_t productId = 0x7470;
    uint16_t version = 0x0100;
    std::wstring manufacturer = L"Tapdeck tests";
    std::wstring product = L"Virtual touchpad";
    // What a feature read answers, each report as read (its id first).
    std::vector<Bytes> features;
};

// Installs the pad, one device per top-level collection, and waits until each can be fed. The
// directory holds vtouchpad.sys. False, with what went wrong and, for a device that did not
// start, why (the driver's own word where it ran), in `error`. The pad is remembered for
// AddPad by name until RemoveAll.
bool InstallPad(const PadSpec& pad, const std::wstring& driverDir, std::string& error);
// Adds again a pad installed before and removed.
bool AddPad(const std::wstring& name, const std::wstring& driverDir, std::string& error);
// Removes the pad's devices and waits until they are gone; the pad stays remembered.
bool RemovePad(const std::wstring& name, std::string& error);
// Removes every virtual device, forgets every pad and deletes the driver's service.
void RemoveAll();
// The names of the pads that are installed now.
std::vector<std::wstring> InstalledPads();

// The HID device path of the pad's collection (0 the first), as raw input names it; empty
// while it is not there.
std::wstring DevicePath(const std::wstring& name, size_t collection);
// The raw-input handle of the pad's collection; null while raw input does not list it as HID.
HANDLE RawInputDevice(const std::wstring& name, size_t collection);

// What a device has done with the reports fed to it since it started, read through its feed.
struct DeviceCounters {
    uint32_t fed = 0;          // taken into the device
    uint32_t delivered = 0;    // handed to a read of the HID class driver
    uint32_t queued = 0;       // waiting for a read now
    uint32_t pendingReads = 0; // reads waiting for a report now
    uint32_t refused = 0;      // feeds turned away while the queue was full
};
// A line for each of the pad's collections that takes reports: its device's state as the
// driver wrote it, its counters, and whether raw input lists it. For a test that saw no report.
std::string DescribePadDevices(const std::wstring& name);

// Feeds one pad's input reports, each to the device of the collection that declares it.
// Reports reach the device in the order sent; a full queue is waited out, nothing is dropped.
class PadFeeder {
public:
    bool Open(const std::wstring& name, std::string& error);
    // The input report as the device sends it: its report id first where the pad has ids.
    // Makes sure first that the desktop delivers reports (ReadyDesktopForReports).
    bool Send(const Bytes& report, std::string& error);
    // The same without that check, for a caller that made it beforehand, off the report's time.
    bool SendPrepared(const Bytes& report, std::string& error);
    // Has Wine's device host learn the devices there are now, which it does otherwise at the
    // first report of a device it does not know, holding that report and the ones behind it
    // for tens of milliseconds (the driver's VTP_PRIME_MAGIC1). Returns once it has; at once
    // for a pad none of whose collections reports.
    bool Prime(std::string& error);
    void Close() { parts.clear(); }

private:
    struct Part {
        Collection collection;
        Feed feed;
        UniqueHandle file;
    };
    std::wstring name;
    std::vector<Part> parts;
    Bytes buffer;
};

} // namespace vtp
