// The zones' words and colours: one table for everything that shows the pad to a person, the
// layout inspector's picture and report and the on-screen panel (overlay/). Pure constants.
#pragma once

#include <array>
#include <cstdint>

#include "layout/zone.h"

// A colour as red, green and blue bytes.
struct Rgb {
    uint8_t r;
    uint8_t g;
    uint8_t b;

    bool operator==(const Rgb&) const = default;
    // "#rrggbb", lower case, with its terminating zero.
    constexpr std::array<char, 8> Hex() const {
        constexpr char digits[] = "0123456789abcdef";
        return {'#',
                digits[r >> 4],
                digits[r & 15],
                digits[g >> 4],
                digits[g & 15],
                digits[b >> 4],
                digits[b & 15],
                '\0'};
    }
};

// The three kinds of zone, in this order wherever a table is indexed by kind.
enum class ZoneClass { Strip, Exit, Grid };

struct ZoneClassLook {
    const char* name;  // "volume strip"; a grid button's is followed by its id
    const char* key;   // for scripts: "strip", "exit", "button" + id
    const char* does;  // what a tap (or a slide) there does; a grid button's comes by action
    const char* label; // the panel's word; a grid button's comes by action
    Rgb fill;
};

inline constexpr ZoneClassLook ZoneClassLooks[] = {
    {"volume strip", "strip", "steps the volume", "volume", {0xa1, 0xd9, 0x9b}},
    {"exit button", "exit", "ends Tapdeck", "exit", {0xfd, 0xae, 0x6b}},
    {"button ", "button", nullptr, nullptr, {0x9e, 0xca, 0xe1}},
};

constexpr const ZoneClassLook& LookOf(ZoneClass kind) {
    return ZoneClassLooks[static_cast<int>(kind)];
}

// A grid button's action in words: in full, and the panel's short word.
struct ActionWords {
    const char* does;
    const char* label;
};

// Indexed by action - BrowserHome.
inline constexpr ActionWords GridActionWords[] = {
    {"browser home", "home"},   {"Win+F search", "search"},     {"mail", "mail"},
    {"stop", "stop"},           {"player show/hide", "player"}, {"mute", "mute"},
    {"previous track", "prev"}, {"play or pause", "play"},      {"next track", "next"},
};
static_assert(std::size(GridActionWords) == NextTrack - BrowserHome + 1);

// The words of a grid button's action, or null for a number that is no grid action.
constexpr const ActionWords* WordsOfAction(LONG action) {
    return action >= BrowserHome && action <= NextTrack ? &GridActionWords[action - BrowserHome]
                                                        : nullptr;
}
