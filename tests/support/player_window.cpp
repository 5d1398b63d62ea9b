#include "support/player_window.h"

#include <chrono>

namespace {

// Posted by Flush; posted messages are handled in order, so its arrival means every earlier
// post has been handled.
constexpr UINT FlushMessage = WM_APP + 1;
// Posted by the destructor: the window destroys itself on its own thread.
constexpr UINT QuitMessage = WM_APP + 2;

bool RegisterPlayerClass(const char* className) {
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = className;
    return RegisterClassExA(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

int ShowCommand(PlayerShow show) {
    switch (show) {
    case PlayerShow::Minimized:
        return SW_SHOWMINNOACTIVE;
    case PlayerShow::Maximized:
        return SW_SHOWMAXIMIZED;
    case PlayerShow::Normal:
        break;
    }
    return SW_SHOWNORMAL;
}

} // namespace

StandInPlayer::StandInPlayer(const char* className, PlayerShow show) {
    thread = std::thread([this, name = std::string(className), show] { Run(name, show); });
    std::unique_lock guard(lock);
    changed.wait(guard, [this] { return started; });
    if (window == nullptr) {
        guard.unlock();
        thread.join();
    }
}

StandInPlayer::~StandInPlayer() {
    if (thread.joinable()) {
        PostMessageA(window, QuitMessage, 0, 0);
        thread.join();
    }
}

void StandInPlayer::Run(std::string className, PlayerShow show) {
    HWND hwnd = nullptr;
    if (RegisterPlayerClass(className.c_str())) {
        hwnd = CreateWindowExA(0, className.c_str(), "Stand-in player", WS_OVERLAPPEDWINDOW,
                               CW_USEDEFAULT, CW_USEDEFAULT, 640, 480, nullptr, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
    }
    if (hwnd != nullptr) {
        // The class is shared by every stand-in of that name, so the procedure is set per window.
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WndProc));
        ShowWindow(hwnd, ShowCommand(show));
    }
    {
        std::lock_guard guard(lock);
        window = hwnd;
        started = true;
    }
    changed.notify_all();
    if (hwnd == nullptr) {
        return;
    }
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

LRESULT CALLBACK StandInPlayer::WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<StandInPlayer*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    switch (msg) {
    case WM_SYSCOMMAND: {
        {
            std::lock_guard guard(self->lock);
            self->commands.push_back(wParam & 0xFFF0);
        }
        self->changed.notify_all();
        break;
    }
    case FlushMessage: {
        {
            std::lock_guard guard(self->lock);
            ++self->flushesHandled;
        }
        self->changed.notify_all();
        return 0;
    }
    case QuitMessage:
        DestroyWindow(hwnd);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

std::vector<WPARAM> StandInPlayer::Commands() const {
    std::lock_guard guard(lock);
    return commands;
}

bool StandInPlayer::WaitForCommands(std::size_t count, DWORD timeoutMs) const {
    std::unique_lock guard(lock);
    return changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                            [&] { return commands.size() >= count; });
}

bool StandInPlayer::Flush(DWORD timeoutMs) const {
    std::unique_lock guard(lock);
    const unsigned target = ++flushesPosted;
    if (!PostMessageA(window, FlushMessage, 0, 0)) {
        return false;
    }
    return changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                            [&] { return flushesHandled >= target; });
}
