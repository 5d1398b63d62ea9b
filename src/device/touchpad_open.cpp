#include "device/touchpad_open.h"

TouchpadOpening OpenTouchpad(DeviceApi& api, PointingDevice* device) {
    TouchpadOpening opening;
    const auto fail = [&opening](OpenStep step, LONG status) {
        opening.failedAt = step;
        opening.status = status;
        return opening;
    };
    if (const LONG status = api.Prepare(); status != 0) {
        return fail(OpenStep::Prepare, status);
    }
    LONG handle = NoDeviceHandle;
    if (const LONG status = api.LocateDevice(LocateSelector, LocateSelector, &handle);
        status != 0 || handle == NoDeviceHandle) {
        return fail(OpenStep::LocateDevice, status);
    }
    opening.handle = handle;
    if (device == nullptr) {
        return fail(OpenStep::NoDeviceObject, 0);
    }
    if (const LONG status = device->Attach(handle); status != 0) {
        return fail(OpenStep::Attach, status);
    }
    device->ReadProperty(PropDeviceKind, &opening.kind);
    if (opening.kind != DeviceKindTouchpad) {
        return fail(OpenStep::DeviceKind, 0);
    }
    return opening;
}
