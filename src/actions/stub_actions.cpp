// Placeholder until the actions land.
#include "device/pad_app.h"
void PadApp::SendKey(WORD, int) {}
HWND PadApp::FindPlayer(PlayerKind*) { return nullptr; }
bool PadApp::IsMinimized(HWND) { return false; }
void PadApp::TogglePlayerWindow(HWND) {}
void PadApp::VolumeStep(LONG) {}
void PadApp::ToggleMute() {}
void PadApp::RunAction(const Zone*) {}
