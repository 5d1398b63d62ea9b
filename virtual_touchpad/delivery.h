// Whether a virtual pad's reports can reach raw input, and what to look at when none does.
//
// Wine 8 queues a HID device's report, for each process that registered for its usage, on that
// process's own desktop, and only while that desktop has a foreground window whose thread has
// the focus; without one the report is dropped for every process, RIDEV_INPUTSINK or not.
// A desktop gets one when its desktop window starts (it takes the foreground) and loses it
// when a process that took the foreground ends; a process that starts within the second the
// desktop outlives its last user joins it as it is. Windows delivers whatever the foreground.
#pragma once

#include <string>

namespace vtp {

// Whether this process's desktop has a foreground window whose thread has the focus.
bool DesktopDeliversReports();

// Makes the desktop deliver reports, where it does not, as its own process does at its start:
// the desktop window takes the foreground. Waits until it holds; false, with why, when it does
// not within 10 seconds.
bool ReadyDesktopForReports(std::string& error);

// Everything that decides whether the pad's reports reach this process, one line each: its
// devices (DescribePadDevices), the desktop and its foreground window, this process's raw-input
// registrations, and the desktop of the device host.
std::string DescribeDelivery(const std::wstring& pad);

} // namespace vtp
