#include "app/pad_window.h"

#include "device/pad_app.h"
#include "device/touchpad_open.h"
#include "device/unique_handle.h"

namespace {

// The window's user data holds the PadApp; pointer-sized, so 64-bit builds keep it whole.
PadApp* AppOf(HWND window) {
    // NOLINTNEXTLINE(performance-no-int-to-ptr): the user data is where WM_CREATE put the pointer
    return reinterpret_cast<PadApp*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

} // namespace

bool PowerEventEndsMode(WPARAM event) {
    switch (event) {
    case PBT_APMQUERYSUSPEND:
    case PBT_APMQUERYSTANDBY:
    case PBT_APMSUSPEND:
    case PBT_APMSTANDBY:
    case PBT_APMRESUMECRITICAL:
    case PBT_APMRESUMESUSPEND:
    case PBT_APMRESUMESTANDBY:
    case PBT_APMRESUMEAUTOMATIC:
        return true;
    default:
        // The charger plugged in or out, the battery's level or a power setting changing
        // (which Windows sends every few minutes on battery), and whatever else.
        return false;
    }
}

int PadApp::EnterMode() {
    const int on = StartMode();
    SettleMode(on ? Mode::On : Mode::Off);
    return on;
}

int PadApp::StartMode() {
    auto failWithBeep = [] {
        MessageBeep(0xFFFFFFFF);
        return 0;
    };
    // A step that needs an object that could not be made fails quietly; the steps before it
    // still run, each with its own beep.
    if (!api) {
        return 0;
    }
    const TouchpadOpening opening = OpenTouchpad(*api.Get(), device.Get());
    if (opening.failedAt == OpenStep::DeviceKind || opening.failedAt == OpenStep::NoDeviceObject) {
        return 0; // not a touchpad, or no device object to attach: quietly
    }
    if (opening.failedAt != OpenStep::None) {
        return failWithBeep();
    }
    // Packets may arrive from here on; OnPacket holds them until the mode start has ended, so
    // the bounds and zones written below are never read half-made.
    if (device->SetPacketSink(this) != 0) {
        return failWithBeep();
    }
    if (!LoadPadBounds() || !LayoutZones()) {
        return failWithBeep();
    }
    if (device->Claim(0) != 0) {
        return failWithBeep();
    }
    deviceHandle = opening.handle;
    SetModeIndicator(1);
    return 1;
}

LRESULT CALLBACK PadWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    PadApp* app = AppOf(window);
    switch (message) {
    case WM_CREATE:
        // NOLINTNEXTLINE(performance-no-int-to-ptr): WM_CREATE's lParam is the creation record
        app = static_cast<PadApp*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(app));
        // Known before the mode starts, so a LeaveMode from any thread finds the window.
        padWindow.store(window);
        if (!app->EnterMode()) {
            DestroyWindow(window);
        }
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_ENDSESSION:
        if (app) {
            app->LeaveMode();
        }
        return 0;
    case WM_POWERBROADCAST:
        if (app && PowerEventEndsMode(wParam)) {
            app->LeaveMode();
        }
        return TRUE; // a suspend is never denied

    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

int RunTapdeck(HINSTANCE instance) {
    if (FindWindowA(PadWindowClass, PadWindowTitle)) {
        return 0;
    }
    // The window alone cannot tell two copies started at the same moment apart: the mutex can.
    HANDLE mutex = CreateMutexA(nullptr, FALSE, PadInstanceMutex);
    const DWORD mutexError = GetLastError();
    UniqueHandle mutexOwner(mutex);
    // Access denied means another copy made it under other rights; any other failure to make
    // it leaves the window check alone to guard, as before.
    if (mutexError == ERROR_ALREADY_EXISTS || (!mutex && mutexError == ERROR_ACCESS_DENIED)) {
        return 0;
    }

    PadApp app;
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = PadWndProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = PadWindowClass;
    RegisterClassA(&windowClass);

    HWND window = CreateWindowExA(WS_EX_TOOLWINDOW, PadWindowClass, PadWindowTitle, WS_POPUP, -100,
                                  -100, 0, 0, nullptr, nullptr, instance, &app);
    if (!window) {
        padWindow.store(nullptr);
        return -1;
    }
    padWindow.store(window);

    MSG message;
    // GetMessage returns -1 on an error; only the quit message (0) or an error ends the loop.
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        DispatchMessageA(&message);
    }
    padWindow.store(nullptr);
    return 0;
}
