// Button actions: what a tap on each grid button and the exit button does. Runs on the packet
// thread; the launch and exit actions end the mode there too.
#include <array>
#include <iterator>

#include "device/pad_app.h"

namespace {

struct KeyEvent {
    WORD vk;
    bool press;
};

// What an action does besides its own key events.
enum class Step { KeysOnly, ToggleOrLaunchPlayer, ToggleMute };

struct ActionRow {
    std::array<KeyEvent, 4> keys;
    int keyCount;
    Step step;
    // Leaving comes after the keys, so they are in the input stream before the device is
    // released and the window closes.
    bool leavesMode;
};

constexpr ActionRow Stroke(WORD vk, bool leavesMode) {
    return {{{{vk, true}, {vk, false}}}, 2, Step::KeysOnly, leavesMode};
}

constexpr WORD VkF = 0x46;

// The system's search shortcut: Windows logo key held around F.
constexpr ActionRow SearchRow = {
    {{{VK_LWIN, true}, {VkF, true}, {VkF, false}, {VK_LWIN, false}}}, 4, Step::KeysOnly, true};

// Indexed by PadAction.
constexpr ActionRow Actions[] = {
    {{}, 0, Step::KeysOnly, true},              // ExitMode
    Stroke(VK_BROWSER_HOME, true),              // BrowserHome
    SearchRow,                                  // Search
    Stroke(VK_LAUNCH_MAIL, true),               // Mail
    Stroke(VK_MEDIA_STOP, false),               // MediaStop
    {{}, 0, Step::ToggleOrLaunchPlayer, false}, // PlayerWindow
    {{}, 0, Step::ToggleMute, false},           // Mute
    Stroke(VK_MEDIA_PREV_TRACK, false),         // PrevTrack
    Stroke(VK_MEDIA_PLAY_PAUSE, false),         // PlayPause
    Stroke(VK_MEDIA_NEXT_TRACK, false),         // NextTrack
};
static_assert(std::size(Actions) == std::size_t{NextTrack} + 1);

} // namespace

void PadApp::RunAction(const Zone* zone) {
    if (zone == nullptr || zone->action < 0 || zone->action >= LONG(std::size(Actions))) {
        return;
    }
    const ActionRow& row = Actions[zone->action];
    for (int i = 0; i < row.keyCount; ++i) {
        SendKey(row.keys[i].vk, row.keys[i].press ? 1 : 0);
    }
    switch (row.step) {
    case Step::KeysOnly:
        break;
    case Step::ToggleOrLaunchPlayer: {
        PlayerKind kind = NoPlayer;
        if (HWND player = FindPlayer(&kind)) {
            TogglePlayerWindow(player);
        } else {
            SendKey(VK_LAUNCH_MEDIA_SELECT, 1);
            SendKey(VK_LAUNCH_MEDIA_SELECT, 0);
        }
        break;
    }
    case Step::ToggleMute:
        ToggleMute();
        break;
    }
    if (row.leavesMode) {
        LeaveMode();
    }
}
