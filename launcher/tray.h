// The launcher's place in the notification area: an icon drawn here, a tooltip that says what
// the launcher does or why it cannot, and its menu. On the launcher's thread only.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>

namespace launcher {

// The icon's messages come to the launcher's window as this.
inline constexpr UINT TrayMessage = WM_APP + 1;

class Tray {
public:
    Tray(HWND window, const std::wstring& tip);
    ~Tray();
    Tray(const Tray&) = delete;
    Tray& operator=(const Tray&) = delete;

    void Tip(const std::wstring& tip);
    // The taskbar was made again (Explorer restarted): the icon goes back in.
    void Restore();
    // The menu at the pointer; its choice comes as WM_COMMAND.
    void ShowMenu(bool holdOn) const;

private:
    NOTIFYICONDATAW data{};
    HICON icon = nullptr;
    bool added = false;
};

} // namespace launcher
