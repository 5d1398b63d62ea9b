#include "source.h"

#include <objbase.h>

#include "device/com_holder.h"
#include "utf8.h"

namespace inspector {

namespace {

void Decide(BoundsOrigin& origin, const BoundsDecision& decision) {
    origin.zeroBound = decision.zeroBound;
    origin.bounds = decision.bounds;
    if (decision.failure == BoundsFailure::ZeroBound) {
        origin.problem = SourceProblem::ZeroBound;
    }
}

// The touchpad, opened as the mode start opens it: its holders live only for this read.
bool ReadTouchpad(BoundsOrigin& origin, BoundValues& edges) {
    DeviceApiHolder api;
    PointingDeviceHolder device;
    if (!api || !device) {
        const wchar_t* progId = !api ? ProgIdDeviceApi : ProgIdPointingDevice;
        CLSID clsid;
        origin.problem = FAILED(CLSIDFromProgID(progId, &clsid))
                             ? SourceProblem::LibraryNotRegistered
                             : SourceProblem::LibraryObjectFailed;
        origin.missingProgId = Utf8(progId);
        return false;
    }
    origin.opening = OpenTouchpad(*api.Get(), device.Get());
    switch (origin.opening.failedAt) {
    case OpenStep::None:
        edges = ReadTouchpadEdges(device.Get());
        return true;
    case OpenStep::Prepare:
        origin.problem = SourceProblem::PrepareFailed;
        break;
    case OpenStep::LocateDevice:
        origin.problem = SourceProblem::NoTouchpad;
        break;
    case OpenStep::NoDeviceObject: // not reached: both objects were made above
        origin.problem = SourceProblem::LibraryObjectFailed;
        origin.missingProgId = Utf8(ProgIdPointingDevice);
        break;
    case OpenStep::Attach:
        origin.problem = SourceProblem::AttachFailed;
        break;
    case OpenStep::DeviceKind:
        origin.problem = SourceProblem::WrongKind;
        break;
    }
    return false;
}

} // namespace

BoundsOrigin GivenBounds(const BoundValues& values) {
    BoundsOrigin origin;
    origin.kind = SourceKind::Given;
    origin.values = values;
    Decide(origin, DecideBounds(values));
    return origin;
}

BoundsOrigin CurrentBounds() {
    BoundsOrigin origin;
    origin.registryView = sizeof(void*) == 8 ? 64 : 32;
    // The setting a freshly built PadApp holds before its first load.
    constexpr LONG ConstructedUseUserConfig = 0;
    const BoundsLoad load = LoadBounds(ConstructedUseUserConfig, [&origin](BoundValues& edges) {
        return ReadTouchpad(origin, edges);
    });
    origin.kind =
        load.source == BoundsSource::Registry ? SourceKind::Registry : SourceKind::Touchpad;
    origin.keyOpened = load.keyOpened;
    origin.useUserConfig = load.useUserConfig;
    origin.defaulted = load.defaulted;
    origin.values = load.values;
    switch (load.decision.failure) {
    case BoundsFailure::None:
    case BoundsFailure::ZeroBound:
        Decide(origin, load.decision);
        break;
    case BoundsFailure::UseUserConfigInvalid:
        origin.problem = SourceProblem::UseUserConfigInvalid;
        break;
    case BoundsFailure::NoTouchpad:
        break; // ReadTouchpad said why
    }
    return origin;
}

} // namespace inspector
