// tapdeck-launcher.exe: starts Tapdeck when a finger rests in a corner of the touchpad. One copy
// runs in a session; a second one ends at once.
#include <windows.h>

#include "device/unique_handle.h"
#include "launcher.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    const UniqueHandle once(CreateMutexW(nullptr, FALSE, L"Local\\VelTapdeckLauncher"));
    if (!once || GetLastError() == ERROR_ALREADY_EXISTS) {
        return 0;
    }
    launcher::Launcher launcher{launcher::LauncherOptions{}};
    if (!launcher.Create()) {
        return 1;
    }
    launcher.Run();
    return 0;
}
