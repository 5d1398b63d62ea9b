#include "pad_app.h"

std::atomic<HWND> padWindow{nullptr};

// The holders create the device objects (api, device, previousPacket in that order) as members.
PadApp::PadApp() = default;

PadApp::~PadApp() {
    // Turn away packets that arrive from now on, and wait for one that is being handled: it
    // may be the packet whose button ended the mode, still finishing after LeaveMode returned.
    closing.store(true);
    const Mode was = SettleMode(Mode::Off);
    WaitForPacketCalls();
    if (was == Mode::On) {
        // The message loop ended without the mode being left (a quit message from elsewhere, or
        // GetMessage failing): let the touchpad go all the same.
        ResetGesture();
        if (device) {
            device->Unclaim();
        }
        SetModeIndicator(0);
    }
    strips.clear();
    buttons.clear();
    previousPacket.Reset();
    packetFactory.Reset();
    // Releasing the device stops the library's delivery; a packet that slips in meanwhile sees
    // `closing` and returns at once.
    device.Reset();
    api.Reset();
}

void PadApp::WaitForPacketCalls() {
    while (packetCalls.load() != 0) {
        // Sends to this thread still complete meanwhile: the running OnPacket may be a LeaveMode
        // waiting in SendMessage for this thread to handle WM_CLOSE, after the loop has ended.
        HANDLE returned = packetReturned.Get();
        MsgWaitForMultipleObjects(1, &returned, FALSE, INFINITE, QS_SENDMESSAGE);
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

void PadApp::LeaveMode() {
    SettleMode(Mode::Off);
    ResetGesture();
    if (device) {
        device->Unclaim();
    }
    SetModeIndicator(0);
    // Waits, from the packet thread, until the main thread has handled WM_CLOSE; a window that
    // is already gone makes this return at once.
    SendMessageA(padWindow.load(), WM_CLOSE, 0, 0);
}

PadApp::Mode PadApp::SettleMode(Mode settled) {
    const Mode was = mode.exchange(settled, std::memory_order_acq_rel);
    SetEvent(modeSettled.Get());
    return was;
}

bool PadApp::PacketsWanted() {
    // Long enough for any mode start; a packet still waiting then is dropped.
    constexpr DWORD ModeStartWaitMs = 2000;
    if (mode.load(std::memory_order_acquire) == Mode::Starting) {
        WaitForSingleObject(modeSettled.Get(), ModeStartWaitMs);
    }
    return !closing.load() && mode.load(std::memory_order_acquire) == Mode::On;
}

LONG PadApp::SetModeIndicator(int on) {
    if (!device) {
        return E_POINTER;
    }
    return device->WriteProperty(PropModeLed, on ? ModeLedOn : ModeLedOff);
}

void PadApp::ResetGesture() {
    std::lock_guard lock(gestureLock);
    ClearGesture();
}

void PadApp::ClearGesture() {
    tapFlag = 0;
    touching = 0;
    motionSum = 0;
}

LONG STDMETHODCALLTYPE PadApp::OnDeviceNotify(LONG reason) {
    if (reason >= 1 && reason <= 2) {
        MessageBeep(0xFFFFFFFF);
        LeaveMode();
    }
    return 0;
}
