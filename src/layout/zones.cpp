#include <new>

#include "device/pad_app.h"
#include "device/wrap32.h"

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
    const LONG padLeft = padRect.left;
    const LONG padTop = padRect.top;
    const LONG padRight = padRect.right;
    const LONG padBottom = padRect.bottom;
    const LONG column = WrapSub(padRight, colWidth);
    const LONG stripTop = WrapSub(padBottom, stripHeight);

    if (!AddStrip(0, WrapAdd(column, 300), stripTop, padRight, padBottom, 0)) {
        return 0;
    }
    if (!AddButton(0, WrapSub(column, 300), padTop, padRight, WrapSub(stripTop, 150), ExitMode)) {
        return 0;
    }

    // Three rows of three, 300 in from the left and top edges, 600 apart.
    LONG left = WrapAdd(padLeft, 300);
    LONG top = WrapAdd(padTop, 300);
    LONG right = WrapAdd(left, btnWidth);
    LONG bottom = WrapAdd(top, btnHeight);
    LONG id = 0;
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            ++id;
            if (!AddButton(id, left, top, right, bottom, id)) {
                return 0;
            }
            if (col < 2) {
                left = WrapAdd(right, 600);
                right = WrapAdd(left, btnWidth);
            }
        }
        if (row < 2) {
            left = WrapAdd(padLeft, 300);
            top = WrapAdd(bottom, 600);
            right = WrapAdd(left, btnWidth);
            bottom = WrapAdd(top, btnHeight);
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
