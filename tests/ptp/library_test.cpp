// velptp's objects in this process under Wine: what they answer without a touchpad, and, with
// frames a test hands to a device in place of the touchpad's raw input, delivery on the
// library's own thread as Tapdeck expects it, the mouse hook of a claim, and recording.
#include <gtest/gtest.h>

#include <objbase.h>

#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "ptp/claim_settle.h"
#include "hid_pad.h"
#include "mouse_hook.h"
#include "overlay_window.h"
#include "ptp/scripted_frames.h"
#include "ptp/test_pad.h"
#include "sim/sim_fixture.h"
#include "support/process.h"
#include "support/recording_sink.h"
#include "velptp_core.h"
#include "velsim_core.h"

namespace {

using namespace ptptest;

template <class Interface> Owned<Interface> MakePtp(PtpObject object, REFIID iid) {
    void* made = nullptr;
    if (FAILED(PtpCreateObject(object, iid, &made))) {
        return Owned<Interface>();
    }
    return Owned<Interface>(static_cast<Interface*>(made));
}

// Every test starts and must end with no live object and no delivery thread of the library.
class PtpTest : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        ASSERT_EQ(PtpLiveObjects(), 0);
    }
    void TearDown() override {
        EXPECT_TRUE(PtpWaitDelivery(5000));
        EXPECT_EQ(PtpLiveObjects(), 0);
    }
};

// ---- Without a touchpad ----

TEST_F(PtpTest, UnderWineThereIsNoTouchpadToLocate) {
    auto api = MakePtp<DeviceApi>(PtpObject::VelAPI, IID_DeviceApi);
    ASSERT_TRUE(api);
    EXPECT_EQ(api->Prepare(), 0);
    LONG handle = 5;
    EXPECT_EQ(api->LocateDevice(LocateSelector, LocateSelector, &handle), NoTouchpad);
    EXPECT_EQ(handle, NoDeviceHandle);
    EXPECT_EQ(api->LocateDevice(LocateSelector, LocateSelector, nullptr), E_POINTER);
}

// A raw-input device of the given type, as a LocateDevice handle; -1 when there is none.
LONG RawInputDevice(DWORD type) {
    UINT count = 0;
    GetRawInputDeviceList(nullptr, &count, sizeof(RAWINPUTDEVICELIST));
    std::vector<RAWINPUTDEVICELIST> list(count);
    GetRawInputDeviceList(list.data(), &count, sizeof(RAWINPUTDEVICELIST));
    for (const auto& entry : list) {
        if (entry.dwType == type) {
            return HandleToLong(entry.hDevice);
        }
    }
    return -1;
}

TEST_F(PtpTest, AttachRefusesAnythingButATouchpadAndClaimNeedsAnAttachedOne) {
    const LONG mouse = RawInputDevice(RIM_TYPEMOUSE);
    const LONG keyboard = RawInputDevice(RIM_TYPEKEYBOARD);
    ASSERT_NE(mouse, -1) << "Wine lists a mouse";
    ASSERT_NE(keyboard, -1) << "Wine lists a keyboard";
    const struct {
        const char* name;
        LONG handle;
        HRESULT status;
    } cases[] = {
        {"no device", NoDeviceHandle, NoTouchpad},
        {"a handle of nothing", 0x7123, NoTouchpad},
        {"the mouse", mouse, E_INVALIDARG},
        {"the keyboard", keyboard, E_INVALIDARG},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto device = MakePtp<PointingDevice>(PtpObject::PointingDevice, IID_PointingDevice);
        ASSERT_TRUE(device);
        EXPECT_EQ(device->Attach(c.handle), c.status);
        EXPECT_EQ(device->Claim(0), NotAttached);
    }
}

TEST_F(PtpTest, DevicePropertiesAreFixedAndWrittenOnesReadBack) {
    auto device = MakePtp<PointingDevice>(PtpObject::PointingDevice, IID_PointingDevice);
    ASSERT_TRUE(device);
    const struct {
        LONG id;
        LONG value;
    } fixed[] = {{PropDeviceKind, DeviceKindTouchpad},
                 {PropXLo, 1000},
                 {PropYLo, 1000},
                 {PropXHi, 7000},
                 {PropYHi, 5800},
                 {PropModeLed, 0},
                 {0x12345678, 0}};
    for (const auto& p : fixed) {
        LONG value = -7;
        EXPECT_EQ(device->ReadProperty(p.id, &value), 0);
        EXPECT_EQ(value, p.value) << std::hex << p.id;
    }
    EXPECT_EQ(device->ReadProperty(PropX, nullptr), E_POINTER);
    // The pad has no mode LED: the value is kept and reads back.
    for (LONG led : {ModeLedOn, ModeLedOff}) {
        EXPECT_EQ(device->WriteProperty(PropModeLed, led), 0);
        LONG value = 0;
        device->ReadProperty(PropModeLed, &value);
        EXPECT_EQ(value, led);
    }
    // The fixed properties are the library's; writing them changes nothing.
    EXPECT_EQ(device->WriteProperty(PropDeviceKind, 7), 0);
    LONG kind = 0;
    device->ReadProperty(PropDeviceKind, &kind);
    EXPECT_EQ(kind, DeviceKindTouchpad);
}

// A DevicePacket that is not the library's.
class ForeignPacket final : public DevicePacket {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override {
        *ppv = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_DevicePacket) ? this : nullptr;
        return *ppv ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    LONG STDMETHODCALLTYPE ReadProperty(LONG, LONG* value) override {
        *value = 0;
        return 0;
    }
    LONG STDMETHODCALLTYPE ReservedA() override { return E_NOTIMPL; }
    LONG STDMETHODCALLTYPE CopyPacket(DevicePacket*) override { return 0; }
    LONG STDMETHODCALLTYPE ReservedB() override { return E_NOTIMPL; }
};

TEST_F(PtpTest, PacketsAreFilledAndCopiedOnlyBetweenTheLibrarysOwn) {
    auto device = MakePtp<PointingDevice>(PtpObject::PointingDevice, IID_PointingDevice);
    auto packet = MakePtp<DevicePacket>(PtpObject::VelPacket, IID_DevicePacket);
    ASSERT_TRUE(device && packet);
    ForeignPacket foreign;
    EXPECT_EQ(device->FillPacket(nullptr), E_POINTER);
    EXPECT_EQ(device->FillPacket(&foreign), E_INVALIDARG);
    EXPECT_EQ(packet->CopyPacket(&foreign), E_INVALIDARG);
    EXPECT_EQ(packet->CopyPacket(nullptr), E_POINTER);
    // Before any delivery: no finger, at the pad's low corner.
    ASSERT_EQ(device->FillPacket(packet.Get()), 0);
    const struct {
        LONG id;
        LONG value;
    } fields[] = {{PropFlagsA, 0}, {PropFlagsB, 0}, {PropX, 1000}, {PropY, 1000}, {PropMotion, 0}};
    for (const auto& f : fields) {
        LONG value = -7;
        EXPECT_EQ(packet->ReadProperty(f.id, &value), 0);
        EXPECT_EQ(value, f.value) << std::hex << f.id;
    }
}

TEST_F(PtpTest, TheClassFactoryMakesOnlyItsOwnClasses) {
    void* out = nullptr;
    EXPECT_EQ(PtpGetClassObject(CLSID_VelSimApi, IID_IClassFactory, &out),
              CLASS_E_CLASSNOTAVAILABLE);
    ASSERT_EQ(PtpGetClassObject(CLSID_VelPtpPointingDevice, IID_IClassFactory, &out), S_OK);
    auto* factory = static_cast<IClassFactory*>(out);
    EXPECT_EQ(factory->CreateInstance(factory, IID_PointingDevice, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_DeviceApi, &out), E_NOINTERFACE);
    EXPECT_EQ(PtpLiveObjects(), 0);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_PointingDevice, &out), S_OK);
    EXPECT_EQ(PtpLiveObjects(), 1);
    EXPECT_EQ(PtpCanUnloadNow(), S_FALSE);
    static_cast<PointingDevice*>(out)->Release();
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(PtpCanUnloadNow(), S_FALSE);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(PtpCanUnloadNow(), S_OK);
    factory->Release();
}

// ---- Delivery, with frames of the test's own ----

constexpr int32_t Ax = 1000, Ay = 1300; // device point (2500, 3400)
constexpr int32_t Bx = 2000, By = 650;

// A tap at A, starting at `ms` on the frames' clock.
std::vector<ptp::Frame> TapFrames(uint32_t ms) {
    return {MakeFrame(ms, {{1, Ax, Ay}}), MakeFrame(ms + 8, {{1, Ax, Ay}}),
            MakeFrame(ms + 16, {{1, Ax, Ay, false}})};
}

// Its packets: finger down twice, the lift with the gesture bit, both bits clear.
constexpr Call TapCalls[] = {{0, 0x2000, 0, 2500, 3400, 0},
                             {0, 0x2000, 0, 2500, 3400, 0},
                             {0, 0x10000, 0, 2500, 3400, 0},
                             {0, 0, 0, 2500, 3400, 0}};

uint32_t NowMs() {
    return FrameClock() / 1000;
}

class DeliveryTest : public PtpTest {
protected:
    void Open(bool failStart = false) {
        device = MakePtp<PointingDevice>(PtpObject::PointingDevice, IID_PointingDevice);
        packet = MakePtp<DevicePacket>(PtpObject::VelPacket, IID_DevicePacket);
        ASSERT_TRUE(device && packet);
        ASSERT_EQ(PtpAttachSource(device.Get(), TestPad(), script->Maker(failStart)), S_OK);
        sink = std::make_unique<RecordingSink>(device.Get(), packet.Get());
    }
    void TearDown() override {
        device.Reset();
        packet.Reset();
        sink.reset();
        PtpTest::TearDown();
    }

    // Starts delivery of a tap; returns once the sink's first call is running, which goes on
    // only when `release` is set.
    void StartWithFirstCallHeld(Event& release) {
        sink->HoldFirstCall(firstCallEntered, release);
        ASSERT_EQ(device->SetPacketSink(sink.get()), 0);
        ASSERT_EQ(device->Claim(0), 0);
        ptptest::WaitOutClaimSettle();
        ASSERT_TRUE(script->Push(TapFrames(NowMs())));
        ASSERT_TRUE(firstCallEntered.Wait(5000));
    }

    static void ExpectTap(const std::vector<Call>& calls, size_t from = 0) {
        ASSERT_GE(calls.size(), from + std::size(TapCalls));
        for (size_t i = 0; i < std::size(TapCalls); ++i) {
            SCOPED_TRACE(i);
            const Call& got = calls[from + i];
            EXPECT_EQ(got.a, TapCalls[i].a);
            EXPECT_EQ(got.b, 0);
            EXPECT_EQ(got.x, TapCalls[i].x);
            EXPECT_EQ(got.y, TapCalls[i].y);
            EXPECT_EQ(got.motion, TapCalls[i].motion);
        }
    }

    std::shared_ptr<ScriptedFrames> script = ScriptedFrames::Make();
    Owned<PointingDevice> device;
    Owned<DevicePacket> packet;
    std::unique_ptr<RecordingSink> sink;
    Event firstCallEntered;
};

TEST_F(DeliveryTest, PacketsArriveFromTheClaimOnTheLibrarysThreadWithTheirValues) {
    ASSERT_NO_FATAL_FAILURE(Open());
    ASSERT_EQ(device->SetPacketSink(sink.get()), 0);
    EXPECT_EQ(script->Made(), 0) << "nothing is delivered before the claim";
    ASSERT_EQ(device->Claim(0), 0);
    ptptest::WaitOutClaimSettle();
    EXPECT_EQ(script->Started(), 1) << "Claim returns once the input is set up";

    ASSERT_TRUE(script->Push(TapFrames(NowMs())));
    ASSERT_TRUE(sink->WaitForCalls(std::size(TapCalls)));
    Sleep(50);
    const auto calls = sink->Calls();
    EXPECT_EQ(calls.size(), std::size(TapCalls));
    ExpectTap(calls);
    for (const Call& call : calls) {
        EXPECT_NE(call.thread, GetCurrentThreadId());
        EXPECT_EQ(call.thread, calls[0].thread);
    }
    EXPECT_NE(calls[0].thread, script->LastThread())
        << "the frames are read on a thread that never waits for the sink";

    // Outside a delivery call FillPacket gives the packet delivered last.
    LONG flags = -1;
    LONG x = 0;
    ASSERT_EQ(device->FillPacket(packet.Get()), 0);
    packet->ReadProperty(PropFlagsA, &flags);
    packet->ReadProperty(PropX, &x);
    EXPECT_EQ(flags, 0);
    EXPECT_EQ(x, 2500);

    EXPECT_EQ(device->Unclaim(), 0);
    EXPECT_TRUE(PtpWaitDelivery(5000));
    EXPECT_FALSE(script->Listening());
}

TEST_F(DeliveryTest, ASinkGivenToAClaimedDeviceStartsDelivery) {
    ASSERT_NO_FATAL_FAILURE(Open());
    ASSERT_EQ(device->Claim(0), 0);
    EXPECT_EQ(script->Made(), 0) << "no sink, nothing to deliver to";
    ASSERT_EQ(device->SetPacketSink(sink.get()), 0);
    EXPECT_EQ(script->Started(), 1);
    // The claim's input starts with the sink.
    ptptest::WaitOutClaimSettle();
    ASSERT_TRUE(script->Push(TapFrames(NowMs())));
    ASSERT_TRUE(sink->WaitForCalls(std::size(TapCalls)));
    ExpectTap(sink->Calls());
}

TEST_F(DeliveryTest, UnclaimDoesNotWaitForARunningCallAndNoCallStartsAfterIt) {
    ASSERT_NO_FATAL_FAILURE(Open());
    Event release;
    ASSERT_NO_FATAL_FAILURE(StartWithFirstCallHeld(release));
    // The sink may be waiting for this very thread, as Tapdeck's can: Unclaim must not wait.
    EXPECT_EQ(device->Unclaim(), 0);
    EXPECT_EQ(sink->inside.load(), 1);
    release.Set();
    EXPECT_TRUE(PtpWaitDelivery(5000));
    EXPECT_EQ(sink->Count(), 1u) << "the tap's other three packets came after Unclaim";
    EXPECT_FALSE(script->Push(TapFrames(NowMs()))) << "nothing listens after the run";
}

TEST_F(DeliveryTest, ANullSinkReturnsOnlyAfterTheRunningCall) {
    ASSERT_NO_FATAL_FAILURE(Open());
    Event release;
    ASSERT_NO_FATAL_FAILURE(StartWithFirstCallHeld(release));
    HANDLE releaser = CreateThread(nullptr, 0, SetAfterAWhile, &release, 0, nullptr);
    ASSERT_NE(releaser, nullptr);
    EXPECT_EQ(device->SetPacketSink(nullptr), 0);
    EXPECT_EQ(sink->inside.load(), 0) << "returned while the call was still running";
    EXPECT_EQ(sink->Count(), 1u);
    EXPECT_TRUE(PtpWaitDelivery(0)) << "the run's thread has ended";
    WaitForSingleObject(releaser, INFINITE);
    CloseHandle(releaser);
}

TEST_F(DeliveryTest, TheSinkMayReleaseTheDeviceFromInsideItsCall) {
    ASSERT_NO_FATAL_FAILURE(Open());
    PointingDevice* raw = device.Get();
    raw->AddRef();
    device.Reset();
    sink->during = [raw](size_t index) {
        if (index == 0) {
            raw->Release(); // the last reference, on the delivery thread
        }
    };
    ASSERT_EQ(raw->SetPacketSink(sink.get()), 0);
    ASSERT_EQ(raw->Claim(0), 0);
    ptptest::WaitOutClaimSettle();
    ASSERT_TRUE(script->Push(TapFrames(NowMs())));
    EXPECT_TRUE(PtpWaitDelivery(5000));
    EXPECT_EQ(sink->Count(), 1u);
    EXPECT_EQ(PtpLiveObjects(), 1) << "only the packet";
}

TEST_F(DeliveryTest, AClaimAfterUnclaimStartsAFreshRun) {
    ASSERT_NO_FATAL_FAILURE(Open());
    ASSERT_EQ(device->SetPacketSink(sink.get()), 0);
    ASSERT_EQ(device->Claim(0), 0);
    ptptest::WaitOutClaimSettle();
    // A finger put down and left there when the claim ends...
    ASSERT_TRUE(script->Push(MakeFrame(NowMs(), {{1, Ax, Ay}})));
    ASSERT_TRUE(sink->WaitForCalls(1));
    EXPECT_EQ(device->Unclaim(), 0);
    ASSERT_TRUE(PtpWaitDelivery(5000));
    // ...is new to the next claim, whose run starts from nothing.
    ASSERT_EQ(device->Claim(0), 0);
    ptptest::WaitOutClaimSettle();
    EXPECT_EQ(script->Started(), 2);
    ASSERT_TRUE(script->Push(TapFrames(NowMs())));
    ASSERT_TRUE(sink->WaitForCalls(1 + std::size(TapCalls)));
    ExpectTap(sink->Calls(), 1);
}

// Whether this process is registered for a touchpad's raw input.
bool RegisteredForTouchpads() {
    UINT count = 0;
    GetRegisteredRawInputDevices(nullptr, &count, sizeof(RAWINPUTDEVICE));
    std::vector<RAWINPUTDEVICE> devices(count);
    if (count != 0 &&
        GetRegisteredRawInputDevices(devices.data(), &count, sizeof(RAWINPUTDEVICE)) ==
            static_cast<UINT>(-1)) {
        ADD_FAILURE() << "GetRegisteredRawInputDevices failed: " << GetLastError();
    }
    for (UINT i = 0; i < count; ++i) {
        if (devices[i].usUsagePage == ptp::PageDigitizer &&
            devices[i].usUsage == ptp::UsageTouchpad) {
            return true;
        }
    }
    return false;
}

// After a failed claim the device holds nothing of it: no run, no sink call to come, and no
// panel for the mode light that Tapdeck would switch on next.
// `made` counts the sources the device has made.
template <class Made>
void ExpectNothingHeld(PointingDevice& device, RecordingSink& sink, const Made& made) {
    EXPECT_TRUE(PtpWaitDelivery(0));
    ASSERT_EQ(device.SetPacketSink(&sink), 0);
    EXPECT_EQ(made(), 1) << "a sink given later started a run";
    EXPECT_TRUE(PtpWaitDelivery(0));
    EXPECT_EQ(device.WriteProperty(PropModeLed, ModeLedOn), 0);
    Sleep(300); // a panel, were there one, has its window by now
    EXPECT_EQ(overlay::FindPanelWindow(GetCurrentProcessId()), nullptr)
        << "the failed claim left the panel claimed";
}

TEST_F(DeliveryTest, AClaimWhoseInputCannotStartFailsAndLeavesNothingRunning) {
    ASSERT_NO_FATAL_FAILURE(Open(/*failStart=*/true));
    ASSERT_EQ(device->SetPacketSink(sink.get()), 0);
    EXPECT_EQ(device->Claim(0), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
    ExpectNothingHeld(*device.Get(), *sink, [this] { return script->Made(); });
}

TEST_F(DeliveryTest, AClaimWhoseHookIsRefusedFailsAndLeavesNoRawInputRegistration) {
    device = MakePtp<PointingDevice>(PtpObject::PointingDevice, IID_PointingDevice);
    packet = MakePtp<DevicePacket>(PtpObject::VelPacket, IID_DevicePacket);
    ASSERT_TRUE(device && packet);
    sink = std::make_unique<RecordingSink>(device.Get(), packet.Get());
    // The raw-input layer as Attach makes it, registering for touchpads at the start.
    int made = 0;
    ASSERT_EQ(PtpAttachSource(device.Get(), TestPad(),
                              [&made] {
                                  ++made;
                                  return std::make_unique<RawInputSource>(nullptr);
                              }),
              S_OK);
    ASSERT_FALSE(RegisteredForTouchpads());
    ASSERT_EQ(device->SetPacketSink(sink.get()), 0);
    RefuseMouseHooks(true);
    const HRESULT claimed = device->Claim(0);
    RefuseMouseHooks(false);
    EXPECT_EQ(claimed, HRESULT_FROM_WIN32(ERROR_HOOK_NOT_INSTALLED));
    EXPECT_FALSE(RegisteredForTouchpads()) << "the registration outlived the failed claim";
    ExpectNothingHeld(*device.Get(), *sink, [&made] { return made; });
    // The same device claims once the hook can be had.
    ASSERT_EQ(device->Claim(0), S_OK);
    ptptest::WaitOutClaimSettle();
    EXPECT_TRUE(RegisteredForTouchpads());
    EXPECT_EQ(device->Unclaim(), 0);
    ASSERT_TRUE(PtpWaitDelivery(5000));
    EXPECT_FALSE(RegisteredForTouchpads());
}

TEST_F(DeliveryTest, AMovingFingerNoLongerReportedIsLiftedByTheDeliveryThread) {
    ASSERT_NO_FATAL_FAILURE(Open());
    ASSERT_EQ(device->SetPacketSink(sink.get()), 0);
    ASSERT_EQ(device->Claim(0), 0);
    ptptest::WaitOutClaimSettle();
    const uint32_t now = NowMs();
    ASSERT_TRUE(script->Push(MakeFrame(now, {{1, Ax, Ay + 40}})));
    ASSERT_TRUE(script->Push(MakeFrame(now + 8, {{1, Ax, Ay}})));
    // No more frames: the pad has stopped reporting the moving finger. It must not stay down.
    ASSERT_TRUE(sink->WaitForCalls(3));
    const auto calls = sink->Calls();
    EXPECT_EQ(calls[0].a, 0x2000);
    EXPECT_EQ(calls[1].a, 0x2000);
    EXPECT_EQ(calls[2].a, 0) << "lifted, without a tap";
    EXPECT_EQ(calls[2].x, 2500);
}

TEST_F(DeliveryTest, ARestingFingerThatGoesUnreportedStaysDown) {
    // A pad need not report a contact that does not move.
    ASSERT_NO_FATAL_FAILURE(Open());
    ASSERT_EQ(device->SetPacketSink(sink.get()), 0);
    ASSERT_EQ(device->Claim(0), 0);
    ptptest::WaitOutClaimSettle();
    ASSERT_TRUE(script->Push(MakeFrame(NowMs(), {{1, Ax, Ay}})));
    ASSERT_TRUE(sink->WaitForCalls(1));
    Sleep(ptp::ContactLostMicros / 1000 * 3);
    EXPECT_EQ(sink->Count(), 1u) << "not lifted";
}

// ---- The claim's mouse hook ----

void MoveMouse() {
    INPUT move = {};
    move.type = INPUT_MOUSE;
    move.mi.dx = 3;
    move.mi.dy = 2;
    move.mi.dwFlags = MOUSEEVENTF_MOVE;
    SendInput(1, &move, sizeof move);
}

bool WaitHookSees(long count, int ms = 2000) {
    for (int i = 0; i < ms; ++i) {
        if (MouseHookTotals().seen >= count) {
            return true;
        }
        Sleep(1);
    }
    return false;
}

// Opens and claims a device with a sink, and sees its hook take an injected move; `before` gets
// the counts from before the claim.
class HookTest : public DeliveryTest {
protected:
    void ClaimWithTheHookInPlace(MouseHookCounts& before) {
        ASSERT_NO_FATAL_FAILURE(Open());
        ASSERT_EQ(device->SetPacketSink(sink.get()), 0);
        before = MouseHookTotals();
        ASSERT_EQ(device->Claim(0), 0);
        ptptest::WaitOutClaimSettle();
        MoveMouse();
        ASSERT_TRUE(WaitHookSees(before.seen + 1)) << "the hook is not in place";
    }
};

TEST_F(HookTest, TheClaimHooksMouseInputUntilUnclaimAndPassesInjectedInput) {
    MouseHookCounts before;
    ASSERT_NO_FATAL_FAILURE(ClaimWithTheHookInPlace(before));
    EXPECT_EQ(MouseHookTotals().swallowed, before.swallowed) << "injected input must pass";

    EXPECT_EQ(device->Unclaim(), 0);
    ASSERT_TRUE(PtpWaitDelivery(5000));
    const long seen = MouseHookTotals().seen;
    MoveMouse();
    Sleep(300);
    EXPECT_EQ(MouseHookTotals().seen, seen) << "the hook outlived the claim";
}

// A claimed pad that reports nothing (still in mouse mode, a silent collection, unplugged)
// must not take the mouse away: the hook holds input back only shortly after a contact.
TEST_F(HookTest, TheHookHoldsInputBackOnlyShortlyAfterThePadReportedAContact) {
    MouseHookCounts before;
    ASSERT_NO_FATAL_FAILURE(ClaimWithTheHookInPlace(before));
    EXPECT_EQ(MouseHookTotals().inUse, before.inUse) << "a pad that never reported holds input";

    ASSERT_TRUE(script->Push(MakeFrame(NowMs(), {{1, Ax, Ay}})));
    ASSERT_TRUE(sink->WaitForCalls(1));
    MouseHookCounts now = MouseHookTotals();
    MoveMouse();
    ASSERT_TRUE(WaitHookSees(now.seen + 1));
    EXPECT_EQ(MouseHookTotals().inUse, now.inUse + 1) << "a finger on the pad must hold input";

    Sleep(PadInUseMs + 200);
    now = MouseHookTotals();
    MoveMouse();
    ASSERT_TRUE(WaitHookSees(now.seen + 1));
    EXPECT_EQ(MouseHookTotals().inUse, now.inUse) << "a pad gone silent still holds input";
}

// Windows moves no pointer for a palm: a palm resting on the pad holds no mouse back.
TEST_F(HookTest, APalmOnThePadHoldsNoMouseBack) {
    MouseHookCounts before;
    ASSERT_NO_FATAL_FAILURE(ClaimWithTheHookInPlace(before));
    ASSERT_TRUE(script->Push(MakeFrame(NowMs(), {{1, Ax, Ay}})));
    ASSERT_TRUE(sink->WaitForCalls(1));
    Sleep(PadInUseMs + 100); // the finger's mark runs out
    // The finger gives way to a palm: its lift is the packet that shows the frame was read.
    ASSERT_TRUE(script->Push(MakeFrame(NowMs(), {{2, Bx, By, true, false}})));
    ASSERT_TRUE(sink->WaitForCalls(2));
    const MouseHookCounts now = MouseHookTotals();
    MoveMouse();
    ASSERT_TRUE(WaitHookSees(now.seen + 1));
    EXPECT_EQ(MouseHookTotals().inUse, now.inUse) << "a palm held the mouse back";
}

// Windows calls a low-level hook by sending to its thread and skips (and may remove) one that
// does not answer in time: the hook must answer while the sink holds the delivery thread, as
// Tapdeck's does while its mode starts.
TEST_F(DeliveryTest, TheHookAnswersWhileTheSinkHoldsTheDeliveryThread) {
    ASSERT_NO_FATAL_FAILURE(Open());
    Event release;
    const long before = MouseHookTotals().seen;
    ASSERT_NO_FATAL_FAILURE(StartWithFirstCallHeld(release));
    MoveMouse();
    const bool answered = WaitHookSees(before + 1, 500);
    release.Set();
    EXPECT_TRUE(answered) << "the hook did not answer within 0.5 s while the sink was held";
}

// Tapdeck holds its first packets for up to 2 s while its mode starts: a finger that comes
// meanwhile must put the pad in use as its frame arrives, or the pad moves the pointer.
TEST_F(DeliveryTest, AFramePutsThePadInUseAsItArrivesWhileTheSinkHoldsTheDeliveryThread) {
    ASSERT_NO_FATAL_FAILURE(Open());
    Event release;
    ASSERT_NO_FATAL_FAILURE(StartWithFirstCallHeld(release));
    // The first frame's mark runs out while the sink holds the thread...
    Sleep(PadInUseMs + 100);
    MouseHookCounts before = MouseHookTotals();
    MoveMouse();
    ASSERT_TRUE(WaitHookSees(before.seen + 1));
    EXPECT_EQ(MouseHookTotals().inUse, before.inUse);
    // ...and a finger that comes now puts the pad in use again.
    ASSERT_TRUE(script->Push(MakeFrame(NowMs(), {{2, Bx, By}})));
    bool inUse = false;
    for (int i = 0; i < 300 && !inUse; ++i) {
        before = MouseHookTotals();
        MoveMouse();
        ASSERT_TRUE(WaitHookSees(before.seen + 1));
        inUse = MouseHookTotals().inUse > before.inUse;
    }
    release.Set();
    EXPECT_TRUE(inUse) << "the frame was not read while the sink held the delivery thread";
    // The packets made meanwhile are delivered once the sink returns.
    EXPECT_TRUE(sink->WaitForCalls(std::size(TapCalls) + 1));
}

// A finger moving on a real pad makes pointer input that the hook sees: a hook that sees
// nothing for a second while the pad reports a moving finger is taken as removed by Windows.
TEST_F(DeliveryTest, AHookThatSeesNothingWhileAFingerMovesIsInstalledAgain) {
    ASSERT_NO_FATAL_FAILURE(Open());
    ASSERT_EQ(device->SetPacketSink(sink.get()), 0);
    const long before = MouseHookTotals().reinstalls;
    ASSERT_EQ(device->Claim(0), 0);
    ptptest::WaitOutClaimSettle();
    const auto slide = [&](bool withPointerInput) {
        const uint32_t start = NowMs();
        for (int i = 0; i < 16; ++i) {
            if (withPointerInput) {
                MoveMouse();
            }
            ASSERT_TRUE(script->Push(MakeFrame(start + 100 * i, {{1, Ax, Ay - 10 * i}})));
            Sleep(100);
        }
        ASSERT_TRUE(script->Push(MakeFrame(start + 1600, {{1, Ax, Ay - 160, false}})));
    };
    ASSERT_NO_FATAL_FAILURE(slide(true));
    EXPECT_EQ(MouseHookTotals().reinstalls, before) << "a hook that sees input was installed again";

    ASSERT_NO_FATAL_FAILURE(slide(false));
    for (int i = 0; i < 2000 && MouseHookTotals().reinstalls == before; ++i) {
        Sleep(1);
    }
    EXPECT_GT(MouseHookTotals().reinstalls, before) << "a finger moved 1.6 s without pointer input";
    const long seen = MouseHookTotals().seen;
    MoveMouse();
    EXPECT_TRUE(WaitHookSees(seen + 1)) << "the hook installed again does not see input";
}

TEST_F(DeliveryTest, ReleasingAClaimedDeviceRemovesTheHook) {
    ASSERT_NO_FATAL_FAILURE(Open());
    ASSERT_EQ(device->SetPacketSink(sink.get()), 0);
    const long before = MouseHookTotals().seen;
    ASSERT_EQ(device->Claim(0), 0);
    ptptest::WaitOutClaimSettle();
    MoveMouse();
    ASSERT_TRUE(WaitHookSees(before + 1));
    device.Reset();
    EXPECT_TRUE(PtpWaitDelivery(0)) << "releasing the device joins its run";
    const long seen = MouseHookTotals().seen;
    MoveMouse();
    Sleep(300);
    EXPECT_EQ(MouseHookTotals().seen, seen);
}

// One call of the hook, with the buttons whose press it swallowed before and after it.
struct HookCase {
    const char* name;
    int code;
    WPARAM message;
    DWORD flags;
    DWORD data;
    bool claimed;
    bool inUse;
    uint8_t heldBefore;
    MouseVerdict verdict;
    uint8_t heldAfter;
};

constexpr MouseVerdict Swallow = MouseVerdict::Swallow, Pass = MouseVerdict::Pass;
constexpr uint8_t Left = 1, Right = 2, Middle = 4, X1 = 8, X2 = 16;
constexpr DWORD X1Data = XBUTTON1 << 16, X2Data = XBUTTON2 << 16;

constexpr HookCase HookCases[] = {
    {"a move while claimed", HC_ACTION, WM_MOUSEMOVE, 0, 0, true, true, 0, Swallow, 0},
    {"left button down", HC_ACTION, WM_LBUTTONDOWN, 0, 0, true, true, 0, Swallow, Left},
    {"left button up after its down was swallowed", HC_ACTION, WM_LBUTTONUP, 0, 0, true, true, Left,
     Swallow, 0},
    {"right button down", HC_ACTION, WM_RBUTTONDOWN, 0, 0, true, true, Left, Swallow, Left | Right},
    {"right button up after its down was swallowed", HC_ACTION, WM_RBUTTONUP, 0, 0, true, true,
     Left | Right, Swallow, Left},
    {"middle button down", HC_ACTION, WM_MBUTTONDOWN, 0, 0, true, true, 0, Swallow, Middle},
    {"middle button up after its down was swallowed", HC_ACTION, WM_MBUTTONUP, 0, 0, true, true,
     Middle, Swallow, 0},
    {"x button 1 down", HC_ACTION, WM_XBUTTONDOWN, 0, X1Data, true, true, 0, Swallow, X1},
    {"x button 2 down", HC_ACTION, WM_XBUTTONDOWN, 0, X2Data, true, true, X1, Swallow, X1 | X2},
    {"x button 2 up: only its own down counts", HC_ACTION, WM_XBUTTONUP, 0, X2Data, true, true, X1,
     Pass, X1},
    {"x button 1 up after its down was swallowed", HC_ACTION, WM_XBUTTONUP, 0, X1Data, true, true,
     X1, Swallow, 0},
    {"the wheel", HC_ACTION, WM_MOUSEWHEEL, 0, 0, true, true, 0, Swallow, 0},
    {"the horizontal wheel", HC_ACTION, WM_MOUSEHWHEEL, 0, 0, true, true, 0, Swallow, 0},
    {"an injected move", HC_ACTION, WM_MOUSEMOVE, LLMHF_INJECTED, 0, true, true, 0, Pass, 0},
    {"an injected click", HC_ACTION, WM_LBUTTONDOWN, LLMHF_INJECTED, 0, true, true, 0, Pass, 0},
    {"an injected release leaves the held press alone", HC_ACTION, WM_LBUTTONUP, LLMHF_INJECTED, 0,
     true, true, Left, Pass, Left},
    {"injected from a lower integrity level", HC_ACTION, WM_MOUSEMOVE,
     LLMHF_INJECTED | LLMHF_LOWER_IL_INJECTED, 0, true, true, 0, Pass, 0},
    {"a move while the pad is silent", HC_ACTION, WM_MOUSEMOVE, 0, 0, true, false, 0, Pass, 0},
    {"a click while the pad is silent", HC_ACTION, WM_LBUTTONDOWN, 0, 0, true, false, 0, Pass, 0},
    {"the wheel while the pad is silent", HC_ACTION, WM_MOUSEWHEEL, 0, 0, true, false, 0, Pass, 0},
    // A drag of another mouse that started while the pad was silent and ends while a finger
    // touches it: Windows must see the button go up.
    {"a release whose press passed, while the pad is in use", HC_ACTION, WM_LBUTTONUP, 0, 0, true,
     true, 0, Pass, 0},
    {"a right release whose press passed, while the pad is in use", HC_ACTION, WM_RBUTTONUP, 0, 0,
     true, true, Left, Pass, Left},
    // And one whose press was held back must not reach Windows alone.
    {"a release whose press was swallowed, once the pad is silent", HC_ACTION, WM_LBUTTONUP, 0, 0,
     true, false, Left, Swallow, 0},
    {"a release whose press was swallowed, once unclaimed", HC_ACTION, WM_LBUTTONUP, 0, 0, false,
     false, Left, Swallow, 0},
    {"a press that passes forgets an earlier swallowed one", HC_ACTION, WM_LBUTTONDOWN, 0, 0, true,
     false, Left, Pass, 0},
    {"a move once unclaimed", HC_ACTION, WM_MOUSEMOVE, 0, 0, false, true, 0, Pass, 0},
    {"a click once unclaimed", HC_ACTION, WM_LBUTTONDOWN, 0, 0, false, true, 0, Pass, 0},
    {"a negative code is passed on untouched", -1, WM_LBUTTONUP, 0, 0, true, true, Left, Pass,
     Left},
    {"another message", HC_ACTION, WM_USER + 5, 0, 0, true, true, 0, Pass, 0},
};

TEST(MouseHookDecision, SwallowsRealMouseInputWhileClaimedAndInUseAndAReleaseAsItsPress) {
    for (const HookCase& c : HookCases) {
        HeldButtons held{c.heldBefore};
        EXPECT_EQ(DecideMouse(c.code, c.message, c.flags, c.data, c.claimed, c.inUse, held),
                  c.verdict)
            << c.name;
        EXPECT_EQ(held.bits, c.heldAfter) << c.name;
    }
}

// Which frames put the pad in use: what makes the system move the pointer or click.
struct FrameUseCase {
    const char* name;
    ptp::Frame frame;
    bool inUse;
};

ptp::Frame FrameOf(std::initializer_list<Touch> touches, bool button = false,
                   bool buttonOnly = false) {
    ptp::Frame frame = MakeFrame(0, touches, button);
    frame.buttonOnly = buttonOnly;
    return frame;
}

const FrameUseCase FrameUseCases[] = {
    {"a finger", FrameOf({{1, Ax, Ay}}), true},
    {"a finger lifting (the system clicks for a tap after the lift)", FrameOf({{1, Ax, Ay, false}}),
     true},
    {"a palm", FrameOf({{1, Ax, Ay, true, false}}), false},
    {"a palm lifting", FrameOf({{1, Ax, Ay, false, false}}), false},
    {"a palm beside a finger", FrameOf({{1, Ax, Ay, true, false}, {2, Bx, By}}), true},
    {"the button under a palm", FrameOf({{1, Ax, Ay, true, false}}, true), true},
    {"the button alone", FrameOf({}, true, true), true},
    {"the button's release alone", FrameOf({}, false, true), false},
    {"no contact", FrameOf({}), false},
};

TEST(MouseHookDecision, OnlyConfidentContactsAndTheButtonPutThePadInUse) {
    for (const FrameUseCase& c : FrameUseCases) {
        EXPECT_EQ(FramePutsPadInUse(c.frame), c.inUse) << c.name;
    }
}

struct InUseCase {
    const char* name;
    DWORD lastContactMs;
    DWORD nowMs;
    bool inUse;
};

constexpr InUseCase InUseCases[] = {
    {"no contact yet", 0, 5000, false},
    {"a contact just now", 5000, 5000, true},
    {"a contact at the limit", 5000, 5000 + PadInUseMs, true},
    {"silent just over the limit", 5000, 5001 + PadInUseMs, false},
    {"silent for a minute", 5000, 65000, false},
    {"across the tick count's wrap", 0xFFFFFF00, 0x10, true},
    {"silent across the wrap", 0xFFFFFF00, 0x10 + PadInUseMs, false},
    {"stamped by the other thread just after now was read", 5002, 5000, true},
    {"a first contact at tick 0 is kept as 1", ContactTick(0), 200, true},
};

TEST(MouseHookDecision, ThePadIsInUseOnlyWithinTheLimitOfItsLastContact) {
    for (const InUseCase& c : InUseCases) {
        EXPECT_EQ(PadInUse(c.lastContactMs, c.nowMs), c.inUse) << c.name;
    }
}

struct HookGoneCase {
    const char* name;
    bool moving;
    DWORD lastCallMs;
    DWORD lastAskMs;
    DWORD nowMs;
    bool gone;
};

constexpr HookGoneCase HookGoneCases[] = {
    {"a finger moving, the hook silent for over a second", true, 1000, 0, 2001, true},
    {"the hook silent just a second", true, 1000, 0, 2000, false},
    {"a finger resting", false, 1000, 0, 5000, false},
    {"asked again within a second of the last ask", true, 1000, 4500, 5000, false},
    {"asked again over a second after the last ask", true, 1000, 4000, 5001, true},
    {"across the tick count's wrap", true, 0xFFFFFF00, 0, 0x200, false},
    {"silent across the wrap", true, 0xFFFFFF00, 0, 0x500, true},
};

TEST(MouseHookDecision, AHookSilentWhileAFingerMovesIsAskedForAgainAtMostOnceASecond) {
    for (const HookGoneCase& c : HookGoneCases) {
        EXPECT_EQ(HookMayBeGone(c.moving, c.lastCallMs, c.lastAskMs, c.nowMs), c.gone) << c.name;
    }
}

// ---- Recording ----

class RecordingTest : public DeliveryTest {
protected:
    void TearDown() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, SettingsKey);
        DeleteFileW(path.c_str());
        DeliveryTest::TearDown();
    }

    // Claims, delivers a tap and a short slide, unclaims; returns the recorded scenario.
    Scenario RecordASession() {
        sink->during = nullptr;
        EXPECT_EQ(device->SetPacketSink(sink.get()), 0);
        EXPECT_EQ(device->Claim(0), 0);
        ptptest::WaitOutClaimSettle();
        Sleep(40);
        const uint32_t start = NowMs();
        std::vector<ptp::Frame> frames = TapFrames(start);
        for (int i = 0; i < 4; ++i) {
            frames.push_back(MakeFrame(start + 100 + 8 * i, {{2, 3900, 1300 - 40 * i}}));
        }
        frames.push_back(MakeFrame(start + 132, {{2, 3900, 1180, false}}));
        EXPECT_TRUE(script->Push(frames));
        EXPECT_TRUE(sink->WaitForCalls(9));
        EXPECT_EQ(device->Unclaim(), 0);
        EXPECT_TRUE(PtpWaitDelivery(5000));
        const auto parsed = ParseScenario(ReadWholeFile(path));
        if (!std::holds_alternative<Scenario>(parsed)) {
            ADD_FAILURE() << "not a scenario: " << std::get<ScenarioError>(parsed).message;
            return {};
        }
        return std::get<Scenario>(parsed);
    }

    void ExpectRecorded(const Scenario& s) {
        EXPECT_EQ(s.kind, DeviceKindTouchpad);
        EXPECT_EQ(s.edges[0], 1000);
        EXPECT_EQ(s.edges[3], 5800);
        EXPECT_EQ(s.rateHz, 0);
        const auto calls = sink->Calls();
        ASSERT_EQ(s.packets.size(), calls.size());
        LONG paused = 0;
        for (size_t i = 0; i < calls.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(s.packets[i].a, calls[i].a);
            EXPECT_EQ(s.packets[i].x, calls[i].x);
            EXPECT_EQ(s.packets[i].y, calls[i].y);
            EXPECT_EQ(s.packets[i].motion, calls[i].motion);
            paused += s.packets[i].pauseMs;
        }
        // The claim came 40 ms or more before the first packet.
        EXPECT_GE(s.packets[0].pauseMs, 30);
        EXPECT_GE(paused, 40);
    }

    std::wstring path = TempFilePath(L"rec");
};

TEST_F(RecordingTest, TheEnvironmentVariableRecordsTheDeliveredPacketsAsAScenario) {
    ScopedVariable record(RecordVariable, path);
    ASSERT_NO_FATAL_FAILURE(Open());
    ExpectRecorded(RecordASession());
}

TEST_F(RecordingTest, TheSettingUnderHkcuRecordsWithEnvironmentStringsExpanded) {
    ScopedVariable none(RecordVariable, L"");
    wchar_t dir[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, dir);
    ScopedVariable folder(L"PTP_TEST_FOLDER", dir);
    path = std::wstring(dir) + L"ptp-recorded.scenario";
    const std::wstring setting = L"%PTP_TEST_FOLDER%ptp-recorded.scenario";
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, SettingsKey, RecordValue, REG_EXPAND_SZ,
                              setting.c_str(),
                              static_cast<DWORD>((setting.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
    ASSERT_NO_FATAL_FAILURE(Open());
    ExpectRecorded(RecordASession());
}

TEST_F(RecordingTest, WithoutASettingNothingIsWritten) {
    ScopedVariable none(RecordVariable, L"");
    DeleteFileW(path.c_str());
    ASSERT_NO_FATAL_FAILURE(Open());
    ASSERT_EQ(device->SetPacketSink(sink.get()), 0);
    ASSERT_EQ(device->Claim(0), 0);
    ptptest::WaitOutClaimSettle();
    ASSERT_TRUE(script->Push(TapFrames(NowMs())));
    ASSERT_TRUE(sink->WaitForCalls(std::size(TapCalls)));
    EXPECT_EQ(device->Unclaim(), 0);
    ASSERT_TRUE(PtpWaitDelivery(5000));
    EXPECT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
}

} // namespace
