#include "layout/geometry.h"

PadSizes DeriveSizes(const RECT& pad) {
    const LayoutSizes<Wrap32> sizes =
        SizesFor(Wrap32{pad.left}, Wrap32{pad.top}, Wrap32{pad.right}, Wrap32{pad.bottom});
    return {sizes.colWidth.v, sizes.btnWidth.v, sizes.btnHeight.v, sizes.stripHeight.v};
}

std::array<Zone, ZoneCount> PlaceZones(const RECT& pad, const PadSizes& sizes) {
    const LayoutSizes<Wrap32> wrapped{
        {sizes.colWidth}, {sizes.btnWidth}, {sizes.btnHeight}, {sizes.stripHeight}};
    const auto boxes = ZoneBoxes(Wrap32{pad.left}, Wrap32{pad.top}, Wrap32{pad.right},
                                 Wrap32{pad.bottom}, wrapped);
    std::array<Zone, ZoneCount> zones{};
    for (size_t i = 0; i < ZoneCount; ++i) {
        // The strip and the exit button carry 0; grid button n carries n as id and action.
        const auto id = static_cast<LONG>(i < FirstGridIndex ? 0 : i - FirstGridIndex + 1);
        zones[i].id = id;
        zones[i].rect = {boxes[i].left.v, boxes[i].top.v, boxes[i].right.v, boxes[i].bottom.v};
        zones[i].action = id;
    }
    return zones;
}
