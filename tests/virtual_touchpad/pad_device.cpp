#include "pad_device.h"

#include <gtest/gtest.h>

#include "velptp_core.h"

namespace vpadtest {

void PadDevice::Attach() {
    Attach(nullptr);
}

void PadDevice::Attach(HANDLE touchpad) {
    void* made = nullptr;
    ASSERT_EQ(PtpCreateObject(PtpObject::VelAPI, IID_DeviceApi, &made), S_OK);
    api = Owned<DeviceApi>(static_cast<DeviceApi*>(made));
    ASSERT_EQ(PtpCreateObject(PtpObject::PointingDevice, IID_PointingDevice, &made), S_OK);
    device = Owned<PointingDevice>(static_cast<PointingDevice*>(made));
    ASSERT_EQ(PtpCreateObject(PtpObject::VelPacket, IID_DevicePacket, &made), S_OK);
    packet = Owned<DevicePacket>(static_cast<DevicePacket*>(made));
    sink = std::make_unique<RecordingSink>(device.Get(), packet.Get());
    LONG handle = HandleToLong(touchpad);
    if (touchpad == nullptr) {
        ASSERT_EQ(api->LocateDevice(0, 0, &handle), S_OK);
    }
    ASSERT_EQ(device->Attach(handle), S_OK);
    ASSERT_EQ(device->SetPacketSink(sink.get()), S_OK);
}

PadDevice::~PadDevice() {
    if (device) {
        device->Unclaim();
        EXPECT_TRUE(PtpWaitDelivery(5000));
    }
    device.Reset();
    packet.Reset();
    api.Reset();
}

} // namespace vpadtest
