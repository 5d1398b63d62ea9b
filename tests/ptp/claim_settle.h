// A person touches the pad once the panel is there. A contact that lands within a claim's first
// ClaimSettleMicros is taken for one that was down before the claim and is ignored until it
// lifts, so a test that touches the pad after a claim first lets that time pass, on the frames'
// own clock, from the moment Claim returned.
#pragma once

#include <windows.h>

#include "frame_source.h"
#include "translator.h"

namespace ptptest {

inline void WaitOutClaimSettle() {
    const uint32_t claimed = FrameClock();
    while (FrameClock() - claimed <= ptp::ClaimSettleMicros) {
        Sleep(5);
    }
}

} // namespace ptptest
