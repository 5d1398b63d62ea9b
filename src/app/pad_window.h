// The hidden message window that marks the running instance and carries the mode's lifetime.
#pragma once

#include <windows.h>

inline constexpr char PadWindowClass[] = "VelTapdeckClass";
inline constexpr char PadWindowTitle[] = "VelTapdeckApp";
// Held for the life of the process so that two copies started together cannot both run.
inline constexpr char PadInstanceMutex[] = "Local\\VelTapdeckInstance";

LRESULT CALLBACK PadWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The whole run of the program on the main thread; returns the process exit code.
int RunTapdeck(HINSTANCE instance);
