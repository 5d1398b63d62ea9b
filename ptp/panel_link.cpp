#include "panel_link.h"

#include <new>
#include <utility>

#include "device/velcom.h"
#include "pad_geometry.h"

void PanelLink::Claimed() {
    const overlay::OverlaySettings read = overlay::ReadOverlaySettings();
    AcquireSRWLockExclusive(&lock);
    settings = read;
    claimed = true;
    ReleaseSRWLockExclusive(&lock);
}

void PanelLink::ModeLed(LONG value) {
    if (value == ModeLedOff) {
        AcquireSRWLockShared(&lock);
        if (panel) {
            panel->Hide();
        }
        ReleaseSRWLockShared(&lock);
        return;
    }
    if (value != ModeLedOn) {
        return;
    }
    AcquireSRWLockExclusive(&lock);
    // Only while claimed: after Unclaim the panel stays gone.
    if (claimed && settings.enabled) {
        if (!panel) {
            // Without memory for it there is no panel; the device works on.
            try {
                panel = std::make_unique<overlay::Overlay>(settings);
            } catch (const std::bad_alloc&) {
                panel.reset();
            }
        }
        if (panel) {
            panel->Show(overlay::LayoutFor(
                {ptp::DeviceXLo, ptp::DeviceYLo, ptp::DeviceXHi, ptp::DeviceYHi}));
        }
    }
    ReleaseSRWLockExclusive(&lock);
}

void PanelLink::Packet(const ptp::Packet& packet) {
    AcquireSRWLockShared(&lock);
    if (panel) {
        panel->Update({packet.flagsA, packet.x, packet.y, packet.motion});
    }
    ReleaseSRWLockShared(&lock);
}

void PanelLink::Close() {
    AcquireSRWLockExclusive(&lock);
    std::unique_ptr<overlay::Overlay> ending = std::move(panel);
    claimed = false;
    ReleaseSRWLockExclusive(&lock);
    ending.reset(); // waits for the panel's thread, with no lock held
}

HWND PanelLink::Window(DWORD waitMs) {
    AcquireSRWLockShared(&lock);
    HWND window = panel ? panel->WaitForWindow(waitMs) : nullptr;
    ReleaseSRWLockShared(&lock);
    return window;
}
