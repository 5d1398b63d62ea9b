#include "layout/pad_bounds.h"

#include "device/pad_app.h"
#include "layout/reg_key.h"

BoundsDecision DecideBounds(const BoundValues& values) {
    BoundsDecision decision;
    for (int i = 0; i < 4; ++i) {
        if (values[i] == 0) {
            decision.failure = BoundsFailure::ZeroBound;
            decision.zeroBound = i;
            return decision;
        }
    }
    decision.bounds.rect = {values[0], values[1], values[2], values[3]};
    decision.bounds.sizes = DeriveSizes(decision.bounds.rect);
    return decision;
}

BoundsLoad LoadBounds(LONG currentUse, const EdgeReader& readEdges) {
    BoundsLoad load;
    load.useUserConfig = currentUse;
    RegKey config;
    load.keyOpened = config.Open(HKEY_LOCAL_MACHINE, PadConfigPath, false);
    if (load.keyOpened) {
        // The current setting is its own default, so an absent value keeps it.
        DWORD use = static_cast<DWORD>(currentUse);
        const bool read = config.QueryDword("UseUserConfig", &use, &use, nullptr);
        load.useUserConfig = static_cast<LONG>(use);
        if (!read) {
            load.source = BoundsSource::Registry;
            load.decision.failure = BoundsFailure::UseUserConfigInvalid;
            return load;
        }
    }

    if (load.useUserConfig != 0) {
        load.source = BoundsSource::Registry;
        // One scratch for the four reads: a read that returns true may have written only
        // part of it.
        DWORD scratch = 0;
        for (int i = 0; i < 4; ++i) {
            const bool read = config.QueryDword(BoundValueNames[i], &scratch, nullptr, nullptr);
            load.values[i] = read ? static_cast<LONG>(scratch) : DefaultBounds[i];
            load.defaulted[i] = !read;
        }
    } else {
        load.source = BoundsSource::Touchpad;
        if (!readEdges(load.values)) {
            load.decision.failure = BoundsFailure::NoTouchpad;
            return load;
        }
    }
    load.decision = DecideBounds(load.values);
    return load;
}

BoundValues ReadTouchpadEdges(PointingDevice* device) {
    BoundValues edges = {};
    for (int i = 0; i < 4; ++i) {
        if (device) {
            device->ReadProperty(EdgeProperties[i], &edges[i]);
        }
    }
    return edges;
}

int PadApp::LoadPadBounds() {
    const BoundsLoad load = LoadBounds(useUserConfig, [this](BoundValues& edges) {
        edges = ReadTouchpadEdges(device.Get());
        return true;
    });
    useUserConfig = load.useUserConfig;
    if (load.decision.failure != BoundsFailure::None) {
        return 0;
    }
    // padRect and the sizes change only on success.
    padRect = load.decision.bounds.rect;
    colWidth = load.decision.bounds.sizes.colWidth;
    btnWidth = load.decision.bounds.sizes.btnWidth;
    btnHeight = load.decision.bounds.sizes.btnHeight;
    stripHeight = load.decision.bounds.sizes.stripHeight;
    return 1;
}
