// Plays a script's steps to the virtual pads: reports fed in order, waits kept on the clock
// (a wait counts from the step before it, so feeding takes none of it), pads removed and added.
#pragma once

#include <string>
#include <vector>

#include "script.h"

namespace vtp {

bool PlayScript(const std::vector<Step>& steps, const std::wstring& driverDir, std::string& error);

} // namespace vtp
