// The on-screen panel of one claimed device: the screen is the Precision Touchpad's mode light.
// Made when PropModeLed is written ModeLedOn (unless the settings, read at each claim, turn it
// off), hidden at ModeLedOff, and destroyed at Unclaim and at the device's release, whatever
// came before.
//
// Threads: the device's callers (Claim, WriteProperty, Unclaim, release) and its delivery thread
// (Packet) may call at once. Packet never waits for the panel's thread; Close waits for it to
// end, outside the lock.
#pragma once

#include <windows.h>

#include <memory>

#include "overlay_window.h"
#include "settings.h"
#include "translator.h"

class PanelLink {
public:
    PanelLink() = default;
    ~PanelLink() { Close(); }
    PanelLink(const PanelLink&) = delete;
    PanelLink& operator=(const PanelLink&) = delete;
    PanelLink(PanelLink&&) = delete;
    PanelLink& operator=(PanelLink&&) = delete;

    // At each claim: the settings as they are now.
    void Claimed();
    // A write of PropModeLed: ModeLedOn shows the panel while claimed, ModeLedOff hides it.
    void ModeLed(LONG value);
    // A packet the sink took.
    void Packet(const ptp::Packet& packet);
    // Unclaim and release: the panel is gone when this returns.
    void Close();

    // The panel's window, for tests: null when there is none.
    HWND Window(DWORD waitMs);

private:
    SRWLOCK lock = SRWLOCK_INIT;
    bool claimed = false;
    overlay::OverlaySettings settings;
    std::unique_ptr<overlay::Overlay> panel;
};
