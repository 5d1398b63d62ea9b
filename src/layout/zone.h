// A zone of the pad and the action numbers zones carry.
#pragma once

#include <windows.h>

// A rectangle on the pad with the action a tap on it performs.
struct Zone {
    LONG id;
    RECT rect;
    LONG action;
};

// Action numbers carried by zones.
enum PadAction : LONG {
    ExitMode = 0,
    BrowserHome = 1,
    Search = 2,
    Mail = 3,
    MediaStop = 4,
    PlayerWindow = 5,
    Mute = 6,
    PrevTrack = 7,
    PlayPause = 8,
    NextTrack = 9,
};
