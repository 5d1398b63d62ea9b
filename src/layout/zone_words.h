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

// The panel's icons (overlay/icons.cpp draws each from vector shapes of its own).
enum class ZoneIcon {
    Browser,
    Search,
    Mail,
    Stop,
    Player,
    Mute,
    Previous,
    PlayPause,
    Next,
    Exit,
    Volume,
};

// What the on-screen panel shows of a zone: its icon and short word, and what it says once a
// tap there (or a slide, for the strip) has done its work.
struct PanelWords {
    ZoneIcon icon;
    const char* word;    // "Play/Pause"; null for the strip, whose ends show + and -
    const char* caption; // "Next track"; the strip's is for a step up, StripCaptionDown down
};

// The three kinds of zone, in this order wherever a table is indexed by kind.
enum class ZoneClass { Strip, Exit, Grid };

struct ZoneClassLook {
    const char* name; // "volume strip"; a grid button's is followed by its id
    const char* key;  // for scripts: "strip", "exit", "button" + id
    const char* does; // what a tap (or a slide) there does; a grid button's comes by action
    PanelWords panel; // a grid button's come by action
    Rgb fill;
};

inline constexpr ZoneClassLook ZoneClassLooks[] = {
    {"volume strip",
     "strip",
     "steps the volume",
     {ZoneIcon::Volume, nullptr, "Volume up"},
     {0xa1, 0xd9, 0x9b}},
    {"exit button", "exit", "ends Tapdeck", {ZoneIcon::Exit, "Exit", "Exit"}, {0xfd, 0xae, 0x6b}},
    {"button ", "button", nullptr, {ZoneIcon::Browser, nullptr, nullptr}, {0x9e, 0xca, 0xe1}},
};

inline constexpr const char* StripCaptionDown = "Volume down";

constexpr const ZoneClassLook& LookOf(ZoneClass kind) {
    return ZoneClassLooks[static_cast<int>(kind)];
}

// A grid button's action in words: in full, and on the panel. `endsTapdeck`: the program
// leaves its mode after the action's key, as after the exit button.
struct ActionWords {
    const char* does;
    PanelWords panel;
    bool endsTapdeck;
};

// Indexed by action - BrowserHome.
inline constexpr ActionWords GridActionWords[] = {
    {"browser home", {ZoneIcon::Browser, "Browser", "Browser home"}, true},
    {"Win+F search", {ZoneIcon::Search, "Search", "Search"}, true},
    {"mail", {ZoneIcon::Mail, "Mail", "Mail"}, true},
    {"stop", {ZoneIcon::Stop, "Stop", "Stopped"}, false},
    {"player show/hide", {ZoneIcon::Player, "Show player", "Show/hide player"}, false},
    {"mute", {ZoneIcon::Mute, "Mute", "Mute on/off"}, false},
    {"previous track", {ZoneIcon::Previous, "Previous", "Previous track"}, false},
    {"play or pause", {ZoneIcon::PlayPause, "Play/Pause", "Play/pause"}, false},
    {"next track", {ZoneIcon::Next, "Next", "Next track"}, false},
};
static_assert(std::size(GridActionWords) == NextTrack - BrowserHome + 1);

// The words of a grid button's action, or null for a number that is no grid action.
constexpr const ActionWords* WordsOfAction(LONG action) {
    return action >= BrowserHome && action <= NextTrack ? &GridActionWords[action - BrowserHome]
                                                        : nullptr;
}
