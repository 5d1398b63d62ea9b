#include "pad_caps.h"

#include <algorithm>

namespace ptp {

namespace {

const UsageCap* Find(std::span<const UsageCap> caps, uint16_t page, uint16_t usage, uint16_t link,
                     bool isButton) {
    for (const UsageCap& cap : caps) {
        if (cap.page == page && cap.usage == usage && cap.link == link &&
            cap.isButton == isButton) {
            return &cap;
        }
    }
    return nullptr;
}

// Any collection: the first cap of the usage.
const UsageCap* FindAnywhere(std::span<const UsageCap> caps, uint16_t page, uint16_t usage,
                             bool isButton) {
    for (const UsageCap& cap : caps) {
        if (cap.page == page && cap.usage == usage && cap.isButton == isButton) {
            return &cap;
        }
    }
    return nullptr;
}

} // namespace

const char* Describe(PadProblem problem) {
    switch (problem) {
    case PadProblem::None:
        return "usable";
    case PadProblem::NoContacts:
        return "no contact with X, Y, contact id and tip switch";
    case PadProblem::EmptyXRange:
        return "X has an empty logical range";
    case PadProblem::EmptyYRange:
        return "Y has an empty logical range";
    case PadProblem::NoContactCount:
        return "no contact count";
    }
    return "unknown";
}

PadProblem DescribePad(std::span<const UsageCap> caps, PadLayout& layout) {
    layout = PadLayout{};
    // Slots in the order of their collections' first X, which is the order of the report.
    for (const UsageCap& cap : caps) {
        if (layout.slotCount == MaxSlots) {
            break;
        }
        if (cap.isButton || cap.page != PageGenericDesktop || cap.usage != UsageX) {
            continue;
        }
        const uint16_t link = cap.link;
        const bool seen = std::any_of(layout.slots.begin(), layout.slots.begin() + layout.slotCount,
                                      [link](const SlotLayout& s) { return s.link == link; });
        const UsageCap* y = Find(caps, PageGenericDesktop, UsageY, link, false);
        if (seen || y == nullptr || !Find(caps, PageDigitizer, UsageContactId, link, false) ||
            !Find(caps, PageDigitizer, UsageTipSwitch, link, true)) {
            continue;
        }
        SlotLayout& slot = layout.slots[layout.slotCount++];
        slot.link = link;
        slot.hasConfidence = Find(caps, PageDigitizer, UsageConfidence, link, true) != nullptr;
        slot.x = cap.value;
        slot.y = y->value;
    }
    if (layout.slotCount == 0) {
        return PadProblem::NoContacts;
    }
    layout.geometry.x = MakeAxis(layout.slots[0].x, FallbackWidthMm);
    layout.geometry.y = MakeAxis(layout.slots[0].y, FallbackHeightMm);
    if (layout.geometry.x.Empty()) {
        return PadProblem::EmptyXRange;
    }
    if (layout.geometry.y.Empty()) {
        return PadProblem::EmptyYRange;
    }
    const UsageCap* count = FindAnywhere(caps, PageDigitizer, UsageContactCount, false);
    if (count == nullptr) {
        return PadProblem::NoContactCount;
    }
    layout.contactCountLink = count->link;
    if (const UsageCap* scan = FindAnywhere(caps, PageDigitizer, UsageScanTime, false)) {
        layout.hasScanTime = true;
        layout.scanTimeLink = scan->link;
        const uint16_t bits = std::min<uint16_t>(scan->value.bitSize, 32);
        const uint64_t fieldRange = bits == 0 ? 0x10000 : uint64_t{1} << bits;
        const uint64_t declared =
            static_cast<uint64_t>(static_cast<uint32_t>(scan->value.logicalMax)) + 1;
        layout.scanTimeRange = static_cast<uint32_t>(
            std::min<uint64_t>(scan->value.logicalMax > 0 ? declared : fieldRange,
                               std::min<uint64_t>(fieldRange, 0xFFFFFFFF)));
    }
    for (const uint16_t usage : {UsageButton1, UsageButton2}) {
        if (const UsageCap* button = FindAnywhere(caps, PageButton, usage, true)) {
            layout.buttonUsages[layout.buttonCount] = usage;
            layout.buttonLinks[layout.buttonCount] = button->link;
            ++layout.buttonCount;
        }
    }
    layout.hasButton = layout.buttonCount != 0;
    return PadProblem::None;
}

} // namespace ptp
