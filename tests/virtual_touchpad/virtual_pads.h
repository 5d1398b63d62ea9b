// The tests' virtual touchpads: the pad files under tests/virtual_touchpad/pads installed
// through the virtual touchpad's driver, and their raw-input devices.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "delivery.h"
#include "devices.h"

namespace vpadtest {

// The pad of file `file` (without ".hid") installed as `name`; fails the test on error.
// `features`: what a read of each feature report answers (its id first).
void Install(const std::wstring& name, const std::wstring& file,
             const std::vector<vtp::Bytes>& features = {});
// Every virtual pad removed.
void RemoveAll();
// The pad unplugged, and plugged in again; fail the test on error.
void Unplug(const std::wstring& name);
void Replug(const std::wstring& name);
// The raw-input handle of the pad's collection; null while raw input does not list it as HID.
HANDLE RawInputHandle(const std::wstring& name, size_t collection, DWORD waitMs = 3000);
// Feeds reports (hex, one a string) to the pad; fails the test on error.
void Feed(vtp::PadFeeder& feeder, const char* hex);

// A report of finger 1 of the hybrid-mode clickpad (pads/hybrid-one-finger.hid): confident,
// its tip as given, at logical (x, y), the scan time in 100 us units, one contact.
vtp::Bytes OneFingerReport(bool tip, int x, int y, int scan);

} // namespace vpadtest
