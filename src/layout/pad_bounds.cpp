#include <cstdint>

#include "device/pad_app.h"
#include "layout/reg_key.h"

namespace {

// The optional override of the pad's usable area; read only, never created.
constexpr char ConfigPath[] = "Software\\Velmora\\TwinpadApp";

// Bounds used for a registry bound that is absent or unreadable.
constexpr LONG DefaultLoX = 1612;
constexpr LONG DefaultLoY = 2072;
constexpr LONG DefaultHiX = 5300;
constexpr LONG DefaultHiY = 3748;

// Device units are 32-bit two's-complement and sums wrap: compute in uint32_t, where
// wrapping is defined, and turn the result back into a signed coordinate.
uint32_t Bits(LONG value) {
    return static_cast<uint32_t>(value);
}
LONG Signed(uint32_t bits) {
    return static_cast<LONG>(static_cast<int32_t>(bits));
}

} // namespace

int PadApp::LoadPadBounds() {
    RegKey config;
    if (config.Open(HKEY_LOCAL_MACHINE, ConfigPath, false)) {
        // The current setting is its own default, so an absent value keeps it.
        DWORD use = static_cast<DWORD>(useUserConfig);
        const bool read = config.QueryDword("UseUserConfig", &use, &use, nullptr);
        useUserConfig = static_cast<LONG>(use);
        if (!read) {
            return 0;
        }
    }

    LONG left = 0;
    LONG top = 0;
    LONG right = 0;
    LONG bottom = 0;
    if (useUserConfig != 0) {
        // One scratch for the four reads: a read that returns true may have written only
        // part of it.
        DWORD scratch = 0;
        const auto bound = [&](const char* name, LONG fallback) {
            return config.QueryDword(name, &scratch, nullptr, nullptr) ? static_cast<LONG>(scratch)
                                                                       : fallback;
        };
        left = bound("LoX", DefaultLoX);
        top = bound("LoY", DefaultLoY);
        right = bound("HiX", DefaultHiX);
        bottom = bound("HiY", DefaultHiY);
    } else {
        // A property the device does not deliver stays 0; the status is not looked at.
        const auto property = [&](LONG id) {
            LONG value = 0;
            if (device) {
                device->ReadProperty(id, &value);
            }
            return value;
        };
        left = property(PropXLo);
        top = property(PropYLo);
        right = property(PropXHi);
        bottom = property(PropYHi);
    }

    if (left == 0 || top == 0 || right == 0 || bottom == 0) {
        return 0;
    }

    padRect = {left, top, right, bottom};
    // The difference wraps before the signed division.
    colWidth = Signed(Bits(right) - Bits(left)) / 6;
    // Divided as unsigned: a pad too narrow for the grid gets a huge width, not a negative one.
    btnWidth = Signed((Bits(right) - Bits(colWidth) - Bits(left) - 1800u) / 3u);
    btnHeight = Signed(Bits(bottom) - Bits(top) - 1800u) / 3;
    stripHeight = Signed(Bits(bottom) - Bits(btnHeight) - Bits(top) - 600u);
    return 1;
}
