#include "packet_delivery.h"

void DeliveryCount::Add(LONG delta) {
    AcquireSRWLockExclusive(&lock);
    running += delta;
    ReleaseSRWLockExclusive(&lock);
    if (delta < 0) {
        WakeAllConditionVariable(&idle);
    }
}

LONG DeliveryCount::Running() {
    AcquireSRWLockShared(&lock);
    const LONG n = running;
    ReleaseSRWLockShared(&lock);
    return n;
}

BOOL DeliveryCount::WaitIdle(DWORD ms) {
    const ULONGLONG deadline = GetTickCount64() + ms;
    AcquireSRWLockExclusive(&lock);
    BOOL quiet = TRUE;
    while (running != 0) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) {
            quiet = FALSE;
            break;
        }
        SleepConditionVariableSRW(&idle, &lock, static_cast<DWORD>(deadline - now), 0);
    }
    ReleaseSRWLockExclusive(&lock);
    return quiet;
}
