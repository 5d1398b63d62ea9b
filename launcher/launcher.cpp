#include "launcher.h"

#include <utility>

#include "hid_pad.h"
#include "hold_settings.h"
#include "overlay_window.h"

namespace launcher {

namespace {

constexpr UINT_PTR HoldTimer = 1;  // one-shot, at the hold's end
constexpr UINT_PTR RingTimer = 2;  // while a hold is counted: the ring's next picture
constexpr UINT_PTR PanelTimer = 3; // after a start: until Tapdeck's panel takes the ring's place
constexpr UINT RingFrameMs = 33;
constexpr UINT PanelCheckMs = 50;
// A started Tapdeck that shows no panel within this long (its panel switched off, or no pad):
// the ring goes anyway.
constexpr DWORD PanelWaitMs = 3000;

} // namespace

Launcher::Launcher(LauncherOptions chosen) : options(std::move(chosen)) {}

Launcher::~Launcher() {
    ring.reset();
    tray.reset();
    if (source) {
        source->Stop();
    }
    if (window != nullptr) {
        DestroyWindow(window);
    }
}

bool Launcher::Create() {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WndProc;
    wc.hInstance = instance;
    wc.lpszClassName = LauncherClass;
    if (RegisterClassExW(&wc) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        return false;
    }
    window = CreateWindowExW(WS_EX_TOOLWINDOW, LauncherClass, L"Tapdeck launcher", WS_POPUP, 0, 0,
                             0, 0, nullptr, nullptr, instance, this);
    if (window == nullptr) {
        return false;
    }
    taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
    ReadSettingsAgain();
    WatchSettings();
    padPresent = FindTouchpad() != nullptr;
    source = std::make_unique<RawInputSource>(nullptr);
    if (!source->Start(window)) {
        return false;
    }
    ring.emplace();
    if (options.tray) {
        tray.emplace(window, L"Tapdeck launcher");
    }
    UpdateTray();
    return true;
}

void Launcher::Run() {
    for (;;) {
        HANDLE waits[2];
        DWORD count = 0;
        if (settingsChanged) {
            waits[count++] = settingsChanged.Get();
        }
        if (tapdeck.WaitHandle() != nullptr) {
            waits[count++] = tapdeck.WaitHandle();
        }
        const DWORD woke =
            MsgWaitForMultipleObjectsEx(count, waits, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (woke < WAIT_OBJECT_0 + count) {
            if (waits[woke - WAIT_OBJECT_0] == settingsChanged.Get()) {
                ReadSettingsAgain();
                WatchSettings();
            } else {
                tapdeck.Ended(GetTickCount());
            }
            continue;
        }
        if (woke != WAIT_OBJECT_0 + count) {
            return; // the wait failed
        }
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                return;
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

LRESULT CALLBACK Launcher::WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        // NOLINTNEXTLINE(performance-no-int-to-ptr): WM_NCCREATE's lParam is the creation record
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    // NOLINTNEXTLINE(performance-no-int-to-ptr): the user data is where WM_NCCREATE put it
    auto* self = reinterpret_cast<Launcher*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr || self->window != window) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    return self->Handle(message, wParam, lParam);
}

LRESULT Launcher::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INPUT:
    case WM_INPUT_DEVICE_CHANGE:
        source->OnMessage(message, wParam, lParam, *this);
        if (message == WM_INPUT_DEVICE_CHANGE) {
            const bool present = FindTouchpad() != nullptr;
            if (present != padPresent) {
                padPresent = present;
                UpdateTray();
            }
        }
        // WM_INPUT too: the default handling frees the system's copy of the input.
        return DefWindowProcW(window, message, wParam, lParam);
    case WM_TIMER:
        if (wParam == HoldTimer) {
            KillTimer(window, HoldTimer);
            Apply(detector.OnTimer(FrameClock()));
        } else if (wParam == RingTimer) {
            ring->Show(detector.Progress(FrameClock()));
        } else if (wParam == PanelTimer) {
            const DWORD id = tapdeck.ProcessId();
            if (id == 0 || overlay::FindPanelWindow(id) != nullptr ||
                GetTickCount() - lastStartMs >= PanelWaitMs) {
                KillTimer(window, PanelTimer);
                ring->Hide();
            }
        }
        return 0;
    case WM_COMMAND:
        Command(LOWORD(wParam));
        return 0;
    case TrayMessage:
        if (LOWORD(lParam) == WM_RBUTTONUP || LOWORD(lParam) == WM_CONTEXTMENU) {
            tray->ShowMenu(settings.enabled);
        } else if (LOWORD(lParam) == WM_LBUTTONDBLCLK) {
            Command(CommandStartNow);
        }
        return 0;
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_ENDSESSION:
        if (wParam != 0) {
            DestroyWindow(window);
        }
        return 0;
    case WM_DESTROY:
        window = nullptr;
        PostQuitMessage(0);
        return 0;
    default:
        if (message == taskbarCreated && taskbarCreated != 0 && tray) {
            tray->Restore();
            return 0;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

void Launcher::OnFrame(const ptp::Frame& frame) {
    frames.fetch_add(1);
    const uint32_t now = FrameClock();
    // Whether Tapdeck may be started is asked only when a touch lands: the one moment it counts.
    const bool allowed = !detector.Idle() || frame.count == 0 || tapdeck.MayStart(GetTickCount());
    Apply(detector.OnFrame(frame, now, allowed));
}

void Launcher::OnPadChanged(const ptp::PadGeometry& geometry) {
    Apply(detector.ChangePad(geometry));
}

void Launcher::OnPadRemoved() {
    Apply(detector.LosePad());
}

void Launcher::Apply(HoldChange change) {
    switch (change) {
    case HoldChange::None:
        return;
    case HoldChange::Began: {
        holds.fetch_add(1);
        KillTimer(window, PanelTimer);
        const uint32_t left = detector.DeadlineUs() - FrameClock();
        SetTimer(window, HoldTimer, left / 1000 + 1, nullptr);
        SetTimer(window, RingTimer, RingFrameMs, nullptr);
        ring->Show(0);
        break;
    }
    case HoldChange::Cancelled:
        KillTimer(window, HoldTimer);
        KillTimer(window, RingTimer);
        ring->Hide();
        break;
    case HoldChange::Reached:
        KillTimer(window, HoldTimer);
        KillTimer(window, RingTimer);
        ring->Show(1);
        StartTapdeck();
        break;
    }
    counting.store(detector.Counting());
}

void Launcher::StartTapdeck() {
    if (!tapdeck.MayStart(GetTickCount())) {
        ring->Hide();
        return;
    }
    if (!tapdeck.Start(options.tapdeckPath, startError)) {
        ring->Hide();
        UpdateTray();
        return;
    }
    starts.fetch_add(1);
    lastStartMs = GetTickCount();
    // The ring stays full until Tapdeck's panel takes its place.
    SetTimer(window, PanelTimer, PanelCheckMs, nullptr);
    UpdateTray();
}

void Launcher::Command(UINT id) {
    switch (id) {
    case CommandStartNow:
        if (tapdeck.MayStart(GetTickCount())) {
            StartTapdeck();
        }
        break;
    case CommandToggleHold:
        // The key's change notification brings the new setting back here.
        WriteEnabled(!settings.enabled);
        break;
    case CommandQuit:
        DestroyWindow(window);
        break;
    default:
        break;
    }
}

void Launcher::ReadSettingsAgain() {
    settings = ReadSettings();
    detector.Use(settings);
    settingsRead.fetch_add(1);
    UpdateTray();
}

void Launcher::WatchSettings() {
    if (!settingsKey) {
        HKEY created = nullptr;
        // The launcher's own key, made empty where it is not there, so that its change is seen.
        if (RegCreateKeyExW(HKEY_CURRENT_USER, LauncherKeyPath, 0, nullptr, 0, KEY_NOTIFY, nullptr,
                            &created, nullptr) != ERROR_SUCCESS) {
            return;
        }
        settingsKey.Reset(created);
        settingsChanged = UniqueHandle(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    }
    if (!settingsChanged ||
        RegNotifyChangeKeyValue(settingsKey.Get(), FALSE, REG_NOTIFY_CHANGE_LAST_SET,
                                settingsChanged.Get(), TRUE) != ERROR_SUCCESS) {
        settingsChanged = UniqueHandle();
    }
}

void Launcher::UpdateTray() {
    if (!tray) {
        return;
    }
    std::wstring tip;
    if (startError != 0) {
        tip = L"Tapdeck could not be started (error " + std::to_wstring(startError) + L")";
    } else if (!padPresent) {
        tip = L"Tapdeck launcher: no Precision Touchpad; waiting for one";
    } else if (!settings.enabled) {
        tip = L"Tapdeck launcher: the corner hold is off";
    } else {
        constexpr const wchar_t* names[] = {L"top-left", L"top-right", L"bottom-left",
                                            L"bottom-right"};
        tip = L"Tapdeck launcher: hold a finger in the touchpad's " +
              std::wstring(names[static_cast<int>(settings.corner)]) + L" corner to start Tapdeck";
    }
    tray->Tip(tip);
}

} // namespace launcher
