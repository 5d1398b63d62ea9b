// The application object: owns the device library objects, the pad layout and the gesture
// state, and is the packet sink that the library calls.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "com_holder.h"
#include "unique_handle.h"
#include "velcom.h"
#include "layout/zone.h"

// Notifications from the device about itself (lost, removed). Not handed to the library today.
struct DeviceNotifySink {
    virtual LONG STDMETHODCALLTYPE OnDeviceNotify(LONG reason) = 0;

protected:
    ~DeviceNotifySink() = default;
};

// Which media player FindPlayer found.
enum PlayerKind : LONG {
    NoPlayer = 0,
    WmPlayer = 1,     // a "WMPlayerApp" window
    GeminiPlayer = 2, // a "GeminiWindowClass" window
};

// The hidden message window. Set on the main thread when the window is created; LeaveMode
// reads it on either thread.
extern std::atomic<HWND> padWindow;

class PadApp final : public DeviceNotifySink, public PacketSink {
public:
    PadApp();
    // Waits for a running OnPacket to return, then releases the zones and the device objects.
    ~PadApp();
    PadApp(const PadApp&) = delete;
    PadApp& operator=(const PadApp&) = delete;

    // Mode start and end. EnterMode runs on the main thread inside the window's creation;
    // LeaveMode runs on the main thread (window messages) or on the packet thread (buttons).
    int EnterMode();
    void LeaveMode();
    LONG SetModeIndicator(int on);
    void ResetGesture();
    LONG STDMETHODCALLTYPE OnDeviceNotify(LONG reason) override;

    // Called by the device library on its own thread, once per packet.
    LONG STDMETHODCALLTYPE OnPacket(LONG unused) override;

    // Pad bounds and zones; written on the main thread during the mode start only.
    int LoadPadBounds();
    int LayoutZones();
    int AddButton(LONG id, LONG left, LONG top, LONG right, LONG bottom, LONG action);
    int AddStrip(LONG id, LONG left, LONG top, LONG right, LONG bottom, LONG action);
    const Zone* FindButton(LONG x, LONG y) const;
    int InStrip(LONG x, LONG y) const;

    // Key injection and media player control. They touch no member, so any thread may call them.
    static void SendKey(WORD vk, int press);
    static HWND FindPlayer(PlayerKind* kind);
    static bool IsMinimized(HWND window);
    static void TogglePlayerWindow(HWND window);
    static void VolumeStep(LONG sum);
    static void ToggleMute();

    // Performs a button's action; runs on the packet thread.
    void RunAction(const Zone* zone);

    DeviceApiHolder api;
    PointingDeviceHolder device;
    // Copy of the packet the previous OnPacket call handled; packet thread only.
    PacketHolder previousPacket;
    // Makes the packet of each OnPacket call; got on the packet thread at its first packet and
    // used there only, released with PadApp.
    ClassFactoryHolder packetFactory;
    LONG deviceHandle = -1;
    std::vector<std::unique_ptr<Zone>> buttons;
    std::vector<std::unique_ptr<Zone>> strips;
    RECT padRect = {1612, 3748, 5300, 2072};
    LONG colWidth = 922;
    LONG stripHeight = 558;
    LONG btnWidth = 922;
    LONG btnHeight = 558;

    // Gesture state (all but useUserConfig, which the mode start alone uses): written on the
    // packet thread, cleared by ResetGesture from either thread. Every access holds
    // gestureLock, so a reset never lands in the middle of a packet.
    LONG motionSum = 0;
    LONG tapFlag = 0;
    LONG touching = 0;
    LONG useUserConfig = 0;
    LONG lastX = 0;
    LONG lastY = 0;
    DWORD tapState = 0;

private:
    enum class Mode { Starting, On, Off };

    // EnterMode's steps; 1 when the mode is on.
    int StartMode();
    // Ends the mode start (or the mode) and lets packets waiting for it go on; returns the mode
    // it replaced.
    Mode SettleMode(Mode settled);
    // For a packet: waits while the mode is starting; true when the packet is to be handled.
    bool PacketsWanted();
    // ResetGesture's work, for a caller that already holds gestureLock.
    void ClearGesture();
    // For the destructor: waits until no OnPacket runs, handling messages sent to this thread
    // meanwhile (only those), so that a LeaveMode on the packet thread can finish its send.
    void WaitForPacketCalls();

    mutable std::mutex gestureLock;
    // Packets are handled only while the mode is on. One that comes while the mode is still
    // starting (the library may deliver from SetPacketSink or Claim on) waits until the start
    // has ended, so that it neither reads half-made zones nor is lost; the main thread sets the
    // mode (release) when the start ends and when the mode is left.
    std::atomic<Mode> mode{Mode::Starting};
    UniqueHandle modeSettled{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    // Lets the destructor wait out a running OnPacket and turn away later ones. Once `closing`
    // is set, the call that brings the count to 0 sets `packetReturned`.
    std::atomic<int> packetCalls{0};
    std::atomic<bool> closing{false};
    UniqueHandle packetReturned{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
};
