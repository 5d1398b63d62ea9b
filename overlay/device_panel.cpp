#include "device_panel.h"

#include <new>
#include <utility>

#include "device/velcom.h"

namespace overlay {

std::shared_ptr<DevicePanel> DevicePanel::Make() noexcept {
    try {
        return std::make_shared<DevicePanel>();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void DevicePanel::Claimed(const RECT& pad, bool wanted) {
    OverlaySettings read = ReadOverlaySettings();
    read.enabled = read.enabled && wanted;
    AcquireSRWLockExclusive(&lock);
    settings = read;
    padEdges = pad;
    claimed = true;
    ReleaseSRWLockExclusive(&lock);
}

void DevicePanel::ModeLed(LONG value) {
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
                panel = std::make_unique<Overlay>(settings);
            } catch (const std::bad_alloc&) {
                panel.reset();
            }
        }
        if (panel) {
            panel->Show(LayoutFor(padEdges));
        }
    }
    ReleaseSRWLockExclusive(&lock);
}

void DevicePanel::Packet(const PacketView& packet) {
    AcquireSRWLockShared(&lock);
    if (panel) {
        panel->Update(packet);
    }
    ReleaseSRWLockShared(&lock);
}

void DevicePanel::Close() {
    AcquireSRWLockExclusive(&lock);
    std::unique_ptr<Overlay> ending = std::move(panel);
    claimed = false;
    ReleaseSRWLockExclusive(&lock);
    ending.reset(); // waits for the panel's thread, with no lock held
}

} // namespace overlay
