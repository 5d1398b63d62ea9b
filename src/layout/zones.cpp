#include <new>

#include "device/pad_app.h"
#include "layout/geometry.h"

namespace {

int AddZone(std::vector<std::unique_ptr<Zone>>& list, LONG id, LONG left, LONG top, LONG right,
            LONG bottom, LONG action) {
    std::unique_ptr<Zone> zone(new (std::nothrow) Zone);
    if (!zone) {
        return 0;
    }
    zone->id = id;
    SetRect(&zone->rect, left, top, right, bottom);
    zone->action = action;
    try {
        list.push_back(std::move(zone));
    } catch (const std::bad_alloc&) {
        return 0;
    }
    return 1;
}

} // namespace

int PadApp::AddButton(LONG id, LONG left, LONG top, LONG right, LONG bottom, LONG action) {
    return AddZone(buttons, id, left, top, right, bottom, action);
}

int PadApp::AddStrip(LONG id, LONG left, LONG top, LONG right, LONG bottom, LONG action) {
    return AddZone(strips, id, left, top, right, bottom, action);
}

int PadApp::LayoutZones() {
    const auto zones = PlaceZones(padRect, {colWidth, btnWidth, btnHeight, stripHeight});
    // The strip first, then the exit button and the grid buttons in order; the first add that
    // fails ends the layout, leaving the zones added before it.
    for (size_t i = 0; i < ZoneCount; ++i) {
        const Zone& zone = zones[i];
        const RECT& r = zone.rect;
        const int added = i == StripIndex
                              ? AddStrip(zone.id, r.left, r.top, r.right, r.bottom, zone.action)
                              : AddButton(zone.id, r.left, r.top, r.right, r.bottom, zone.action);
        if (!added) {
            return 0;
        }
    }
    return 1;
}

// No lock: the lists are complete before the mode is switched on and only read after.
const Zone* PadApp::FindButton(LONG x, LONG y) const {
    const POINT point{x, y};
    for (const auto& zone : buttons) {
        if (zone && PtInRect(&zone->rect, point)) {
            return zone.get();
        }
    }
    return nullptr;
}

int PadApp::InStrip(LONG x, LONG y) const {
    const POINT point{x, y};
    for (const auto& zone : strips) {
        if (zone && PtInRect(&zone->rect, point)) {
            return 1;
        }
    }
    return 0;
}
