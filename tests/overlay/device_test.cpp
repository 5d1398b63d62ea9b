// The panel of a velptp device in this process under Wine, fed frames by the test in place of a
// touchpad: no window before PropModeLed is written 200, shown from 200, hidden at 208, and
// gone at Unclaim, at the device's release (also from inside the sink) and after a held sink;
// it follows the finger and shows the tapped button pressed; its thread answers while the sink
// holds the delivery thread for 2 s; the settings, read at each claim, turn it off or move it.
#include <gtest/gtest.h>

#include <objbase.h>

#include <string>
#include <vector>

#include "overlay_window.h"
#include "ptp/claim_settle.h"
#include "ptp/scripted_frames.h"
#include "ptp/test_pad.h"
#include "settings.h"
#include "sim/sim_fixture.h"
#include "support/recording_sink.h"
#include "velptp_core.h"

namespace {

using namespace ptptest;
using overlay::DrawnSummary;

constexpr DWORD PatienceMs = 10'000;

template <class Condition> bool WaitFor(Condition done) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > PatienceMs) {
            return false;
        }
        Sleep(5);
    }
    return true;
}

// The panel's window of this process, shown or not; null when there is none.
HWND FindPanel() {
    return overlay::FindPanelWindow(GetCurrentProcessId());
}

bool PanelShown() {
    HWND panel = FindPanel();
    return panel != nullptr && IsWindowVisible(panel) != FALSE;
}

DrawnSummary Drawn() {
    HWND panel = FindPanel();
    DWORD_PTR answer = 0;
    if (panel == nullptr || SendMessageTimeoutW(panel, overlay::QueryMessage, 0, 0,
                                                SMTO_ABORTIFHUNG, 1000, &answer) == 0) {
        return {};
    }
    return overlay::UnpackDrawn(static_cast<uint32_t>(answer));
}

void StoreSetting(const wchar_t* name, DWORD value) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, overlay::SettingsKeyPath, 0, nullptr, 0,
                              KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    RegCloseKey(key);
}

void ClearSettings() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, overlay::SettingsKeyPath, 0, KEY_SET_VALUE, &key) ==
        ERROR_SUCCESS) {
        for (const wchar_t* name :
             {L"Overlay", L"OverlayCorner", L"OverlaySize", L"OverlayOpacity"}) {
            RegDeleteValueW(key, name);
        }
        RegCloseKey(key);
    }
}

// Frames of a finger held at device point (x, y), from `ms` on the frames' clock.
std::vector<ptp::Frame> Held(uint32_t id, int32_t x, int32_t y, uint32_t ms, int count) {
    std::vector<ptp::Frame> frames;
    for (int i = 0; i < count; ++i) {
        frames.push_back(MakeFrame(ms + 8 * i, {{id, LogicalX(x), LogicalY(y)}}));
    }
    return frames;
}

std::vector<ptp::Frame> TapAt(uint32_t id, int32_t x, int32_t y, uint32_t ms) {
    std::vector<ptp::Frame> frames = Held(id, x, y, ms, 2);
    frames.push_back(MakeFrame(ms + 16, {{id, LogicalX(x), LogicalY(y), false}}));
    return frames;
}

uint32_t NowMs() {
    return FrameClock() / 1000;
}

class PanelDevice : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        ClearSettings();
        void* made = nullptr;
        ASSERT_EQ(PtpCreateObject(PtpObject::PointingDevice, IID_PointingDevice, &made), S_OK);
        device = Owned<PointingDevice>(static_cast<PointingDevice*>(made));
        ASSERT_EQ(PtpCreateObject(PtpObject::VelPacket, IID_DevicePacket, &made), S_OK);
        packet = Owned<DevicePacket>(static_cast<DevicePacket*>(made));
        ASSERT_EQ(PtpAttachSource(device.Get(), TestPad(), script->Maker()), S_OK);
        sink = std::make_unique<RecordingSink>(device.Get(), packet.Get());
    }
    void TearDown() override {
        device.Reset();
        packet.Reset();
        sink.reset();
        EXPECT_TRUE(PtpWaitDelivery(5000));
        EXPECT_EQ(FindPanel(), nullptr) << "the panel outlived its device";
        ClearSettings();
    }
    void Claim() {
        ASSERT_EQ(device->SetPacketSink(sink.get()), 0);
        ASSERT_EQ(device->Claim(0), 0);
        ptptest::WaitOutClaimSettle();
    }

    std::shared_ptr<ScriptedFrames> script = ScriptedFrames::Make();
    Owned<PointingDevice> device;
    Owned<DevicePacket> packet;
    std::unique_ptr<RecordingSink> sink;
};

TEST_F(PanelDevice, IsThereOnlyFromModeLedOnToModeLedOffAndGoneAtUnclaim) {
    ASSERT_NO_FATAL_FAILURE(Claim());
    EXPECT_EQ(FindPanel(), nullptr) << "no window before the mode light is on";
    ASSERT_EQ(device->WriteProperty(PropModeLed, ModeLedOn), 0);
    EXPECT_TRUE(WaitFor(PanelShown));
    ASSERT_EQ(device->WriteProperty(PropModeLed, ModeLedOff), 0);
    EXPECT_TRUE(WaitFor([] { return !PanelShown(); }));
    ASSERT_EQ(device->WriteProperty(PropModeLed, ModeLedOn), 0);
    EXPECT_TRUE(WaitFor(PanelShown));
    HWND panel = FindPanel();
    ASSERT_EQ(device->Unclaim(), 0);
    EXPECT_FALSE(IsWindow(panel)) << "still there when Unclaim returned";
    // As Tapdeck leaves the mode: Unclaim, then the light off; a light on while unclaimed
    // makes nothing.
    ASSERT_EQ(device->WriteProperty(PropModeLed, ModeLedOff), 0);
    ASSERT_EQ(device->WriteProperty(PropModeLed, ModeLedOn), 0);
    Sleep(200);
    EXPECT_EQ(FindPanel(), nullptr);
}

TEST_F(PanelDevice, IsGoneWhenTheClaimedDeviceIsReleased) {
    ASSERT_NO_FATAL_FAILURE(Claim());
    ASSERT_EQ(device->WriteProperty(PropModeLed, ModeLedOn), 0);
    ASSERT_TRUE(WaitFor(PanelShown));
    HWND panel = FindPanel();
    device.Reset();
    EXPECT_FALSE(IsWindow(panel));
}

TEST_F(PanelDevice, FollowsTheFingerAndPressesTheTappedButton) {
    ASSERT_NO_FATAL_FAILURE(Claim());
    ASSERT_EQ(device->WriteProperty(PropModeLed, ModeLedOn), 0);
    ASSERT_TRUE(WaitFor(PanelShown));

    // Near the pad's top left (high device Y), then near its bottom right.
    struct Place {
        int32_t x, y;
        int across, up;
    };
    constexpr Place places[] = {{2000, 5000, 42, 212}, {6000, 1500, 212, 26}};
    uint32_t id = 1;
    for (const Place& p : places) {
        SCOPED_TRACE(p.x);
        ASSERT_TRUE(script->Push(Held(id, p.x, p.y, NowMs(), 3)));
        EXPECT_TRUE(WaitFor([&] {
            const DrawnSummary d = Drawn();
            return d.touching && std::abs(d.across - p.across) <= 2 && std::abs(d.up - p.up) <= 2;
        })) << "drawn at "
            << Drawn().across << ", " << Drawn().up;
        ASSERT_TRUE(script->Push(MakeFrame(NowMs(), {{id, LogicalX(p.x), LogicalY(p.y), false}})));
        ++id;
    }
    EXPECT_TRUE(WaitFor([] { return !Drawn().touching; }));

    // Button 5, in the middle of the grid.
    const overlay::PanelLayout layout = overlay::LayoutFor({1000, 1000, 7000, 5800});
    const RECT five = layout.zones[FirstGridIndex + 4].rect;
    const LONG x = (five.left + five.right) / 2;
    const LONG y = overlay::TurnY(layout, (five.top + five.bottom) / 2);
    ASSERT_TRUE(script->Push(TapAt(id, x, y, NowMs())));
    EXPECT_TRUE(WaitFor([] { return Drawn().pressed == FirstGridIndex + 4; }));
}

TEST_F(PanelDevice, ItsThreadAnswersWhileTheSinkHoldsTheDeliveryThreadFor2s) {
    Event entered;
    Event release;
    sink->HoldFirstCall(entered, release);
    ASSERT_NO_FATAL_FAILURE(Claim());
    ASSERT_EQ(device->WriteProperty(PropModeLed, ModeLedOn), 0);
    ASSERT_TRUE(WaitFor(PanelShown));
    HWND panel = FindPanel();
    ASSERT_TRUE(script->Push(TapAt(1, 3000, 3000, NowMs())));
    ASSERT_TRUE(entered.Wait(5000));
    const DWORD start = GetTickCount();
    int asked = 0;
    int answered = 0;
    while (GetTickCount() - start < 2000) {
        DWORD_PTR result = 0;
        ++asked;
        if (SendMessageTimeoutW(panel, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 100, &result) != 0) {
            ++answered;
        }
        Sleep(50);
    }
    release.Set();
    EXPECT_GT(asked, 10);
    EXPECT_EQ(answered, asked);
    // The session ends after the stall: the panel goes with the claim.
    ASSERT_EQ(device->Unclaim(), 0);
    EXPECT_FALSE(IsWindow(panel));
}

TEST_F(PanelDevice, IsGoneWhenTheSinkReleasesTheDeviceFromInsideItsCall) {
    PointingDevice* raw = device.Get();
    raw->AddRef();
    device.Reset();
    Event lightOn;
    sink->during = [raw, &lightOn](size_t index) {
        if (index == 0) {
            lightOn.Wait(5000);
            raw->Release(); // the last reference, on the delivery thread
        }
    };
    ASSERT_EQ(raw->SetPacketSink(sink.get()), 0);
    ASSERT_EQ(raw->Claim(0), 0);
    ptptest::WaitOutClaimSettle();
    ASSERT_EQ(raw->WriteProperty(PropModeLed, ModeLedOn), 0);
    ASSERT_TRUE(WaitFor(PanelShown));
    ASSERT_TRUE(script->Push(TapAt(1, 3000, 3000, NowMs())));
    lightOn.Set();
    EXPECT_TRUE(PtpWaitDelivery(5000));
    EXPECT_TRUE(WaitFor([] { return FindPanel() == nullptr; }));
}

TEST_F(PanelDevice, NoWindowIsMadeWhenTheSettingIsOffAndItIsReadAtEachClaim) {
    StoreSetting(L"Overlay", 0);
    ASSERT_NO_FATAL_FAILURE(Claim());
    ASSERT_EQ(device->WriteProperty(PropModeLed, ModeLedOn), 0);
    Sleep(300);
    EXPECT_EQ(FindPanel(), nullptr);
    ASSERT_EQ(device->Unclaim(), 0);
    ASSERT_TRUE(PtpWaitDelivery(5000));

    StoreSetting(L"Overlay", 1);
    StoreSetting(L"OverlayCorner", 3); // top-left
    ASSERT_EQ(device->Claim(0), 0);
    ASSERT_EQ(device->WriteProperty(PropModeLed, ModeLedOn), 0);
    ASSERT_TRUE(WaitFor(PanelShown));
    RECT work{};
    RECT r{};
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0));
    ASSERT_TRUE(GetWindowRect(FindPanel(), &r));
    EXPECT_GE(r.left, work.left);
    EXPECT_LE(r.left, work.left + 40);
    EXPECT_GE(r.top, work.top);
    EXPECT_LE(r.top, work.top + 40);
    ASSERT_EQ(device->Unclaim(), 0);
}

} // namespace
