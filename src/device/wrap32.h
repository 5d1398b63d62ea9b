// Device coordinates are signed 32-bit numbers whose sums wrap, as the pad's own arithmetic
// does. The sums go through uint32_t, where wrapping is defined.
#pragma once

#include <windows.h>

#include <cstdint>

inline LONG WrapAdd(LONG a, LONG b) {
    return static_cast<LONG>(
        static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b)));
}

inline LONG WrapSub(LONG a, LONG b) {
    return static_cast<LONG>(
        static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b)));
}
