// Expected keyboard events for the action tests, and the check that exactly those arrived.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <initializer_list>
#include <vector>

#include "support/key_hook.h"

// Everything the program sends is injected (SendInput and keybd_event alike).
constexpr KeyRecord Press(DWORD vk) {
    return {vk, false, true};
}
constexpr KeyRecord Release(DWORD vk) {
    return {vk, true, true};
}

// A short sequence of events that fits in a constexpr table row.
struct KeySeq {
    std::array<KeyRecord, 6> items{};
    std::size_t count = 0;

    constexpr KeySeq() = default;
    constexpr KeySeq(std::initializer_list<KeyRecord> list) {
        for (const KeyRecord& key : list) {
            items[count++] = key;
        }
    }
    std::vector<KeyRecord> ToVector() const {
        return {items.begin(), items.begin() + static_cast<std::ptrdiff_t>(count)};
    }
};

// `times` keystrokes (press, release) of one key.
constexpr KeySeq Strokes(DWORD vk, int times = 1) {
    KeySeq seq;
    for (int i = 0; i < times; ++i) {
        seq.items[seq.count++] = Press(vk);
        seq.items[seq.count++] = Release(vk);
    }
    return seq;
}

// Waits for the expected number of events, then a little longer, and checks that exactly the
// expected events arrived, in order, none twice and none missing.
inline void ExpectKeys(const KeyHook& hook, const KeySeq& expected) {
    hook.WaitFor(expected.count, 2000);
    Sleep(100);
    EXPECT_EQ(hook.Events(), expected.ToVector());
}

// Every key pressed in the record was released afterwards, so nothing is left held down.
inline void ExpectNothingHeld(const KeyHook& hook) {
    std::array<int, 256> held{};
    for (const KeyRecord& key : hook.Events()) {
        held[key.vk & 0xFF] += key.up ? -1 : 1;
    }
    for (std::size_t vk = 0; vk < held.size(); ++vk) {
        EXPECT_EQ(held[vk], 0) << "key 0x" << std::hex << vk << " left held down";
    }
}
