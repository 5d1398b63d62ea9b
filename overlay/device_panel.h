// The on-screen panel of one claimed device of a device library: the screen is the pad's mode
// light. Made when PropModeLed is written ModeLedOn (unless the settings, read at each claim,
// turn it off), hidden at ModeLedOff, and destroyed at Unclaim and at the device's release,
// whatever came before.
//
// Threads: the device's callers (Claim, WriteProperty, Unclaim, release) and its delivery thread
// (Packet) may call at once. Packet never waits for the panel's thread; Close waits for it to
// end, outside the lock.
#pragma once

#include <windows.h>

#include <memory>

#include "overlay_window.h"
#include "panel.h"
#include "settings.h"

namespace overlay {

class DevicePanel {
public:
    // For a device's whole life, shared with its delivery runs (a run may make its last call
    // after the device is released); null without memory for it, and the device works on.
    static std::shared_ptr<DevicePanel> Make() noexcept;

    DevicePanel() = default;
    ~DevicePanel() { Close(); }
    DevicePanel(const DevicePanel&) = delete;
    DevicePanel& operator=(const DevicePanel&) = delete;
    DevicePanel(DevicePanel&&) = delete;
    DevicePanel& operator=(DevicePanel&&) = delete;

    // At each claim: the pad's edges, and the settings as they are now. With `wanted` false
    // (a library whose pad shows its panel itself) no panel is made until the next claim.
    void Claimed(const RECT& pad, bool wanted = true);
    // A write of PropModeLed: ModeLedOn shows the panel while claimed, ModeLedOff hides it.
    void ModeLed(LONG value);
    // A packet the sink took.
    void Packet(const PacketView& packet);
    // Unclaim and release: the panel is gone when this returns.
    void Close();

private:
    SRWLOCK lock = SRWLOCK_INIT;
    bool claimed = false;
    RECT padEdges{};
    OverlaySettings settings;
    std::unique_ptr<Overlay> panel;
};

} // namespace overlay
