// One run of a velptp device's delivery, from a claim to Unclaim: its thread (the delivery
// thread) starts the claim's input (PadInput: the frames, their translation, the mouse hook)
// and hands each packet the input makes to the sink, then to the on-screen panel and the
// recording. The input goes on while the sink holds this thread.
#pragma once

#include <memory>

#include "device_panel.h"
#include "frame_source.h"
#include "packet_delivery.h"
#include "translator.h"

class PadRun final : public DeliveryRun<ptp::Packet> {
public:
    // `panel`: the device's on-screen panel, shared, for the run may finish its last call
    // after the device is gone; null for none.
    PadRun(const ptp::PadGeometry& geometry, std::unique_ptr<FrameSource> source,
           std::shared_ptr<overlay::DevicePanel> panel);

private:
    void Body() override;

    ptp::PadGeometry geometry;
    // Handed to the input when the run starts.
    std::unique_ptr<FrameSource> source;
    std::shared_ptr<overlay::DevicePanel> panel;
};
