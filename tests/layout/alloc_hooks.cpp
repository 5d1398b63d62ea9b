#include "alloc_hooks.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<int> nothrowCountdown{0};
std::atomic<int> throwingCountdown{0};
std::atomic<void*> latestNothrowBlock{nullptr};
std::atomic<bool> latestNothrowFreed{false};

// Counts one allocation against an armed countdown; true for the one that must fail.
bool Tick(std::atomic<int>& countdown) {
    int left = countdown.load();
    while (left > 0 && !countdown.compare_exchange_weak(left, left - 1)) {
    }
    return left == 1;
}

} // namespace

namespace alloc_hooks {

void FailNothrowNew(int n) {
    nothrowCountdown.store(n);
}
void FailThrowingNew(int n) {
    throwingCountdown.store(n);
}
bool Fired() {
    return nothrowCountdown.load() == 0 && throwingCountdown.load() == 0;
}
bool LatestNothrowBlockFreed() {
    return latestNothrowFreed.load();
}

} // namespace alloc_hooks

void* operator new(std::size_t size) {
    if (Tick(throwingCountdown)) {
        throw std::bad_alloc();
    }
    if (void* block = std::malloc(size ? size : 1)) {
        return block;
    }
    throw std::bad_alloc();
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (Tick(nothrowCountdown)) {
        return nullptr;
    }
    void* block = std::malloc(size ? size : 1);
    latestNothrowBlock.store(block);
    latestNothrowFreed.store(false);
    return block;
}

void operator delete(void* block) noexcept {
    if (block && block == latestNothrowBlock.load()) {
        latestNothrowFreed.store(true);
    }
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept {
    ::operator delete(block);
}
