// Key injection and media player control. Nothing here keeps state: every call looks the player
// up afresh, so any thread may call these (in practice the packet thread).
#include "device/pad_app.h"

namespace {

constexpr char WmPlayerClass[] = "WMPlayerApp";
constexpr char GeminiPlayerClass[] = "GeminiWindowClass";

// System volume keys per step: one step through the system is three strokes.
constexpr int SystemVolumeStrokes = 3;

void Keystroke(WORD vk) {
    PadApp::SendKey(vk, 1);
    PadApp::SendKey(vk, 0);
}

// The players' own shortcuts go through keybd_event, one event per call.
void PlayerKey(BYTE vk, bool press) {
    keybd_event(vk, 0, press ? 0 : KEYEVENTF_KEYUP, 0);
}

// The player to drive with its own shortcuts, or null when none is open or it is minimized.
HWND UsablePlayer(PlayerKind* kind) {
    HWND player = PadApp::FindPlayer(kind);
    if (player == nullptr || PadApp::IsMinimized(player)) {
        return nullptr;
    }
    return player;
}

void BringForward(HWND player) {
    SetForegroundWindow(player);
    SetFocus(player);
}

} // namespace

void PadApp::SendKey(WORD vk, int press) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = vk;
    input.ki.dwFlags = press ? 0 : KEYEVENTF_KEYUP;
    SendInput(1, &input, sizeof(INPUT));
}

HWND PadApp::FindPlayer(PlayerKind* kind) {
    *kind = NoPlayer;
    if (HWND wmp = FindWindowA(WmPlayerClass, nullptr)) {
        *kind = WmPlayer;
        return wmp;
    }
    HWND gemini = FindWindowA(GeminiPlayerClass, nullptr);
    if (gemini != nullptr) {
        *kind = GeminiPlayer;
    }
    return gemini;
}

bool PadApp::IsMinimized(HWND window) {
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof(placement);
    return GetWindowPlacement(window, &placement) && placement.showCmd == SW_SHOWMINIMIZED;
}

void PadApp::TogglePlayerWindow(HWND window) {
    if (window == nullptr) {
        return;
    }
    PostMessageA(window, WM_SYSCOMMAND, IsMinimized(window) ? SC_RESTORE : SC_MINIMIZE, 0);
}

void PadApp::VolumeStep(LONG sum) {
    const bool up = sum > 0;
    PlayerKind kind = NoPlayer;
    HWND player = UsablePlayer(&kind);
    if (player == nullptr) {
        for (int i = 0; i < SystemVolumeStrokes; ++i) {
            Keystroke(up ? VK_VOLUME_UP : VK_VOLUME_DOWN);
        }
        return;
    }
    BringForward(player);
    if (kind == GeminiPlayer) {
        const BYTE arrow = up ? VK_UP : VK_DOWN;
        PlayerKey(VK_CONTROL, true);
        PlayerKey(arrow, true);
        PlayerKey(arrow, false);
        PlayerKey(VK_CONTROL, false);
    } else {
        const BYTE key = up ? VK_F10 : VK_F9;
        PlayerKey(key, true);
        PlayerKey(key, false);
    }
}

void PadApp::ToggleMute() {
    PlayerKind kind = NoPlayer;
    HWND player = UsablePlayer(&kind);
    if (player == nullptr) {
        Keystroke(VK_VOLUME_MUTE);
        return;
    }
    BringForward(player);
    const BYTE key = kind == GeminiPlayer ? VK_F11 : VK_F8;
    PlayerKey(key, true);
    PlayerKey(key, false);
}
