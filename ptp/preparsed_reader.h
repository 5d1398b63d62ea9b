// What Windows' HID parser holds of a top-level collection, read from its preparsed data
// through the documented HidP_* calls into the model of hid_descriptor.h, from which the
// collection's report descriptor is rebuilt.
//
// The calls give every capability but not where its field sits in the report. That is found
// by writing: for each usage, HidP_SetUsageValue (all ones, the field's width) or HidP_SetUsages
// in a report of zeros with only the report id set, and seeing which bits the parser set (a
// value array through HidP_SetUsageValueArray). The parser addresses a field by usage page,
// link collection and usage, so where two fields share those, the write may land on the
// other one; so each field found is checked by reading: a report with only its bits set must
// read back, through HidP_GetData, as that field at its full value and nothing else. A field
// that fails the check is looked for bit by bit, each bit alone read through HidP_GetData,
// which names fields by data index and so cannot mistake one for another.
#pragma once

#include <windows.h>

#include <string>

#include "hid_descriptor.h"

// `preparsed`: the data as GetRawInputDeviceInfo (RIDI_PREPARSEDDATA) or HidD_GetPreparsedData
// gives it. False, with why, for data that is not the parser's, for arrays (a keyboard's keys)
// and aliased usages, which a touchpad collection does not have, and for a field whose bits
// cannot be found.
bool ReadPreparsed(const void* preparsed, ptp::hid::ParsedCollection& out, std::string& error);
