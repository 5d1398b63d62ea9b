// Plays a script's steps to the virtual pads: reports fed in order, waits kept on the clock
// (a wait counts from the step before it, so feeding takes none of it), pads removed and added.
//
// Opening a pad's devices takes time (tens of milliseconds for a pad of many collections), and
// so does Wine's device host at the first report of a device it does not know yet, holding the
// reports behind it too; so every pad is opened, and its devices made known to the host,
// before the clock starts, and a pad added again before its clock starts again. The check that
// the desktop delivers reports is made before the clock starts and then during the waits, so
// no report waits for it either.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "script.h"

namespace vtp {

// `due`, where given, gets for each step when it was due on the performance counter (0 for
// the steps that are no report): what a test compares the reports' arrival with.
bool PlayScript(const std::vector<Step>& steps, const std::wstring& driverDir, std::string& error,
                std::vector<int64_t>* due = nullptr);

} // namespace vtp
