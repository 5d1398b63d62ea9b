// The first steps of the mode start: prepare the library, locate the touchpad, attach the
// device object to it and check that it is a touchpad. Shared with tools that only read the
// touchpad, which stop there (no packet sink, no claim).
#pragma once

#include "velcom.h"

// NoDeviceObject: Prepare and LocateDevice ran, but there is no device object to attach.
enum class OpenStep { None, Prepare, LocateDevice, NoDeviceObject, Attach, DeviceKind };

struct TouchpadOpening {
    // The step that failed; None when the touchpad is attached and of the right kind.
    OpenStep failedAt = OpenStep::None;
    // The failed call's status (0 for a LocateDevice that found no touchpad, or a wrong kind).
    LONG status = 0;
    LONG handle = NoDeviceHandle;
    LONG kind = 0;
};

// Stops at the first failure: a status other than 0, no handle from LocateDevice, no device
// object (null `device`; the steps before need only `api`), a kind other than
// DeviceKindTouchpad (whose status is not looked at).
TouchpadOpening OpenTouchpad(DeviceApi& api, PointingDevice* device);
