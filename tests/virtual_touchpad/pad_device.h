// velptp's device in this process, attached through raw input to a virtual pad, with a sink
// that records its packets: what the device tests and the pointer tests start from.
#pragma once

#include <memory>

#include "sim/sim_fixture.h"
#include "support/recording_sink.h"

namespace vpadtest {

class PadDevice {
public:
    PadDevice() = default;
    // Unclaims, waits for the delivery to end and releases the objects.
    ~PadDevice();
    PadDevice(const PadDevice&) = delete;
    PadDevice& operator=(const PadDevice&) = delete;

    // Locates the touchpad, attaches the device to it and gives it the sink; fails the test on
    // error. The pad must be installed and listed.
    void Attach();
    // The same with the touchpad collection `touchpad` (a raw-input handle) in place of the
    // first one listed.
    void Attach(HANDLE touchpad);

    Owned<DeviceApi> api;
    Owned<PointingDevice> device;
    Owned<DevicePacket> packet;
    std::unique_ptr<RecordingSink> sink;
};

} // namespace vpadtest
