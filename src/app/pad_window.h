// The hidden message window that marks the running instance and carries the mode's lifetime.
#pragma once

#include <windows.h>

inline constexpr char PadWindowClass[] = "VelTapdeckClass";
inline constexpr char PadWindowTitle[] = "VelTapdeckApp";
// Held for the life of the process so that two copies started together cannot both run.
inline constexpr char PadInstanceMutex[] = "Local\\VelTapdeckInstance";

LRESULT CALLBACK PadWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Whether a WM_POWERBROADCAST event leaves the mode: the machine is about to sleep or has
// woken (the claim and the pad may not have survived it); not a change of the power status
// or of a power setting, which come every few minutes on battery.
bool PowerEventEndsMode(WPARAM event);

// The whole run of the program on the main thread; returns the process exit code.
int RunTapdeck(HINSTANCE instance);
