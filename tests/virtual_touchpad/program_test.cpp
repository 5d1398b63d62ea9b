// The whole any-laptop path: tapdeck.exe on velptp.dll on a virtual touchpad, from the reports a
// pad sends to the keys a low-level keyboard hook sees. Every kind of pad gives the same keys
// for the same touches; with no touchpad among the devices, Tapdeck beeps once and ends.
#include <gtest/gtest.h>

#include <windows.h>

#include <array>
#include <atomic>
#include <cmath>
#include <functional>
#include <thread>
#include <string>
#include <vector>

#include "layout/geometry.h"
#include "overlay_window.h"
#include "support/key_hook.h"
#include "support/process.h"
#include "support/sim_scenario.h"
#include "virtual_pads.h"

namespace {

using ServerCall = HRESULT(STDAPICALLTYPE*)();

ServerCall Export(HMODULE module, const char* name) {
    return reinterpret_cast<ServerCall>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// One finger as a pad reports it, in the pad's logical units.
struct Finger {
    uint8_t id;
    bool tip;
    int32_t x;
    int32_t y;
    uint16_t scan; // 100 us units
};

void Put16(std::vector<uint8_t>& out, int32_t value) {
    out.push_back(static_cast<uint8_t>(value & 0xFF));
    out.push_back(static_cast<uint8_t>((value >> 8) & 0xFF));
}

// How each kind of pad lays a one-finger frame out (its descriptor under pads/), and its axes.
struct PadKind {
    const wchar_t* file;
    size_t collection;
    int32_t xMin, xMax, yMin, yMax;
    double heightMm;
    std::vector<uint8_t> (*report)(const Finger&);
};

const PadKind Kinds[] = {
    {L"hybrid-one-finger", 0, 0, 4095, 0, 2559, 72.0,
     [](const Finger& f) {
         std::vector<uint8_t> r = {0x04, static_cast<uint8_t>(1 | f.tip << 1 | f.id << 2)};
         Put16(r, f.x);
         Put16(r, f.y);
         Put16(r, f.scan);
         r.push_back(1);
         r.push_back(0);
         return r;
     }},
    {L"parallel-five-fingers", 1, 0, 3200, 0, 2112, 69.4,
     [](const Finger& f) {
         std::vector<uint8_t> r = {0x03, static_cast<uint8_t>(1 | f.tip << 1 | f.id << 2)};
         Put16(r, f.x);
         Put16(r, f.y);
         r.resize(r.size() + 20, 0);
         Put16(r, f.scan);
         r.push_back(1);
         r.push_back(0);
         return r;
     }},
    {L"hybrid-two-fingers", 0, 0, 4095, 0, 2720, 72.0,
     [](const Finger& f) {
         std::vector<uint8_t> r = {0x01, static_cast<uint8_t>(f.tip | 1 << 1 | (f.id & 3) << 2),
                                   static_cast<uint8_t>(f.x & 0xFF),
                                   static_cast<uint8_t>((f.x >> 8) | (f.y & 0xF) << 4),
                                   static_cast<uint8_t>(f.y >> 4)};
         r.resize(r.size() + 4, 0);
         Put16(r, f.scan);
         r.push_back(1);
         return r;
     }},
    {L"offset-ranges", 0, 100, 4195, -1200, 1199, 70.0,
     [](const Finger& f) {
         std::vector<uint8_t> r = {static_cast<uint8_t>(f.tip | 1 << 1), f.id};
         Put16(r, f.x);
         Put16(r, f.y);
         Put16(r, f.scan);
         r.push_back(1);
         return r;
     }},
    {L"inches", 0, 0, 2047, 0, 1331, 66.04,
     [](const Finger& f) {
         std::vector<uint8_t> r = {0x07, 0x00,
                                   static_cast<uint8_t>(1 | f.tip << 1 | (f.id & 7) << 2)};
         Put16(r, f.x);
         Put16(r, f.y);
         r.resize(r.size() + 10, 0);
         Put16(r, f.scan);
         r.push_back(1);
         return r;
     }},
};

// Touches on the pad as the user sees it, in fractions of its width and height from its left
// and bottom edges, turned into the pad's reports 8 ms apart, as a pad sends them.
class Toucher {
public:
    Toucher(const PadKind& padKind, vtp::PadFeeder& padFeeder) : kind(padKind), feeder(padFeeder) {}

    void Tap(double across, double up) {
        Frame(across, up, true);
        Frame(across, up, true);
        Frame(across, up, true);
        Frame(across, up, false);
        Next();
    }
    // A finger resting at one place for a report, and its lift.
    void Hold(double across, double up) { Frame(across, up, true); }
    void Lift(double across, double up) {
        Frame(across, up, false);
        Next();
    }
    // A slide from `up` by `mm` millimetres (the volume steps by distance), a millimetre a frame.
    void Slide(double across, double up, int mm) {
        const double by = mm / kind.heightMm;
        const int steps = mm < 0 ? -mm : mm;
        Frame(across, up, true);
        for (int i = 1; i <= steps; ++i) {
            Frame(across, up + by * i / steps, true);
        }
        Frame(across, up + by, false);
        Next();
    }

private:
    void Frame(double across, double up, bool tip) {
        const Finger finger = {
            id, tip,
            kind.xMin + static_cast<int32_t>(std::lround(across * (kind.xMax - kind.xMin))),
            // The pad's Y grows toward the user, from its top edge.
            kind.yMin + static_cast<int32_t>(std::lround((1 - up) * (kind.yMax - kind.yMin))),
            scan};
        std::string error;
        EXPECT_TRUE(feeder.Send(kind.report(finger), error)) << error;
        scan = static_cast<uint16_t>(scan + 80);
        Sleep(8);
    }
    void Next() {
        id = static_cast<uint8_t>(id % 3 + 1);
        Sleep(200);
        scan = static_cast<uint16_t>(scan + 2000);
    }

    const PadKind& kind;
    vtp::PadFeeder& feeder;
    uint8_t id = 1;
    uint16_t scan = 0xFF00; // wraps during the session
};

// Where Tapdeck's zones are, as fractions of the pad (its device units 1000..7000 across,
// 1000..5800 up): play/pause in the bottom row's middle, exit at the top right, the strip
// along the right edge.
constexpr double PlayAcross = 2500.0 / 6000, PlayUp = 800.0 / 4800;
constexpr double ExitAcross = 5000.0 / 6000, ExitUp = 4100.0 / 4800;
constexpr double StripAcross = 5600.0 / 6000, StripUp = 2000.0 / 4800;

// Tapdeck takes the pad when it is ready, and reports before that are nobody's: taps play/pause
// until the key comes.
bool TapUntilTapdeckAnswers(Toucher& touch, const KeyHook& hook) {
    for (int i = 0; i < 10; ++i) {
        touch.Tap(PlayAcross, PlayUp);
        if (hook.WaitFor(2, 2500)) {
            return true;
        }
    }
    return false;
}

class OnVirtualPad : public testing::Test {
protected:
    void SetUp() override {
        ptp = LoadLibraryW(EnvironmentValue(L"VELPTP_DLL").c_str());
        ASSERT_NE(ptp, nullptr) << "VELPTP_DLL cannot be loaded";
        ASSERT_NE(SimModule(), nullptr) << "VELSIM_DLL cannot be loaded";
        // Tapdeck finds velptp.dll by its ProgIDs.
        ASSERT_EQ(Export(ptp, "DllRegisterServer")(), S_OK);
        vpadtest::RemoveAll();
    }
    void TearDown() override {
        vpadtest::RemoveAll();
        // The tests after these find the simulated touchpad.
        Export(ptp, "DllUnregisterServer")();
        EXPECT_EQ(Export(SimModule(), "DllRegisterServer")(), S_OK);
    }

    static ChildProcess StartTapdeck(bool traceBeeps = false,
                                     std::vector<std::pair<std::wstring, std::wstring>> env = {}) {
        ChildProcess::Options options;
        options.traceBeeps = traceBeeps;
        options.environment = std::move(env);
        return ChildProcess::Start(EnvironmentValue(L"TAPDECK_EXE"), L"", options);
    }

    HMODULE ptp = nullptr;
};

std::vector<KeyRecord> Strokes(DWORD vk, int times) {
    std::vector<KeyRecord> keys;
    for (int i = 0; i < times; ++i) {
        keys.push_back({vk, false, true});
        keys.push_back({vk, true, true});
    }
    return keys;
}

TEST_F(OnVirtualPad, EveryKindOfPadGivesTheSameKeysForTheSameTouches) {
    // Play/pause; 18 mm up the strip and 9 mm down; the exit.
    const std::vector<KeyRecord> play = Strokes(VK_MEDIA_PLAY_PAUSE, 1);
    std::vector<KeyRecord> first;
    for (const PadKind& kind : Kinds) {
        SCOPED_TRACE(std::string(kind.file, kind.file + wcslen(kind.file)));
        vpadtest::RemoveAll();
        // A touch screen and a keyboard beside the pad: Tapdeck must take the pad.
        vpadtest::Install(L"screen", L"touch-screen");
        vpadtest::Install(L"keys", L"consumer-control");
        vpadtest::Install(L"pad", kind.file);
        ASSERT_FALSE(HasFatalFailure());
        ASSERT_NE(vpadtest::RawInputHandle(L"pad", kind.collection), nullptr);
        vtp::PadFeeder feeder;
        std::string error;
        ASSERT_TRUE(feeder.Open(L"pad", error)) << error;

        KeyHook hook;
        ASSERT_TRUE(hook.Installed());
        ChildProcess app = StartTapdeck();
        ASSERT_TRUE(app.Started());
        Toucher touch(kind, feeder);
        const bool answered = TapUntilTapdeckAnswers(touch, hook);
        ASSERT_TRUE(answered) << "Tapdeck never answered a tap: " << app.Output() << "\n"
                              << vtp::DescribeDelivery(L"pad");
        // The session starts on a clean slate.
        Sleep(300);
        hook.Clear();

        touch.Tap(PlayAcross, PlayUp);
        touch.Slide(StripAcross, StripUp, 18);
        touch.Slide(StripAcross, StripUp + 0.25, -9);
        hook.WaitFor(2, 3000);
        Sleep(500);
        const std::vector<KeyRecord> keys = hook.Events();
        touch.Tap(ExitAcross, ExitUp);
        ASSERT_TRUE(app.Wait(10000)) << "the exit button did not end Tapdeck";
        EXPECT_EQ(app.ExitCode(), 0u);

        // A volume step for every 4 mm (three volume-key strokes a step, as no player is open).
        std::vector<KeyRecord> expected = play;
        for (const KeyRecord& key : Strokes(VK_VOLUME_UP, 4 * 3)) {
            expected.push_back(key);
        }
        for (const KeyRecord& key : Strokes(VK_VOLUME_DOWN, 2 * 3)) {
            expected.push_back(key);
        }
        EXPECT_EQ(keys, expected);
        if (first.empty()) {
            first = keys;
        } else {
            EXPECT_EQ(keys, first) << "not the keys the first kind of pad gave";
        }
    }
}

TEST_F(OnVirtualPad, ASessionRecordedOnTheVirtualPadReplaysOnTheSimulatorWithTheSameKeys) {
    const PadKind& kind = Kinds[0];
    vpadtest::Install(L"pad", kind.file);
    ASSERT_FALSE(HasFatalFailure());
    vtp::PadFeeder feeder;
    std::string error;
    ASSERT_TRUE(feeder.Open(L"pad", error)) << error;
    const std::wstring recording = TempFilePath(L"vps");
    std::vector<KeyRecord> live;
    {
        KeyHook hook;
        ASSERT_TRUE(hook.Installed());
        ChildProcess app = StartTapdeck(false, {{L"VELPTP_RECORD", recording}});
        ASSERT_TRUE(app.Started());
        Toucher touch(kind, feeder);
        const bool answered = TapUntilTapdeckAnswers(touch, hook);
        ASSERT_TRUE(answered) << app.Output() << "\n" << vtp::DescribeDelivery(L"pad");
        touch.Slide(StripAcross, StripUp, 18);
        touch.Tap(ExitAcross, ExitUp);
        ASSERT_TRUE(app.Wait(10000));
        EXPECT_EQ(app.ExitCode(), 0u);
        Sleep(200);
        live = hook.Events();
    }
    ASSERT_GE(live.size(), 2u + 4 * 3 * 2);
    // The recording ends with what the claim's mouse hook did, for a report from a laptop.
    const std::string recorded = ReadWholeFile(recording);
    EXPECT_NE(recorded.find("\n# mouse hook: "), std::string::npos) << recorded;
    EXPECT_NE(recorded.find(" swallowed, "), std::string::npos);

    // The recording, played by the simulated touchpad to the same tapdeck.exe.
    Export(ptp, "DllUnregisterServer")();
    ASSERT_EQ(Export(SimModule(), "DllRegisterServer")(), S_OK);
    KeyHook hook;
    ASSERT_TRUE(hook.Installed());
    ChildProcess replay =
        StartTapdeck(false, {{L"VELSIM_SCENARIO", recording}, {L"VELSIM_JOURNAL", L""}});
    ASSERT_TRUE(replay.Started());
    ASSERT_TRUE(replay.Wait(20000)) << "the recorded exit did not end Tapdeck";
    EXPECT_EQ(replay.ExitCode(), 0u);
    hook.WaitFor(live.size(), 2000);
    Sleep(200);
    EXPECT_EQ(hook.Events(), live);
    if (!HasFailure()) {
        DeleteFileW(recording.c_str());
    }
}

HWND PanelOf(DWORD pid) {
    return overlay::FindPanelWindow(pid);
}

TEST_F(OnVirtualPad, ThePanelOnScreenFollowsTheFingerAndGoesWithTheSession) {
    // A pad without printed buttons: velptp.dll shows the panel while the mode is on.
    const PadKind& kind = Kinds[0];
    vpadtest::Install(L"pad", kind.file);
    ASSERT_FALSE(HasFatalFailure());
    vtp::PadFeeder feeder;
    std::string error;
    ASSERT_TRUE(feeder.Open(L"pad", error)) << error;
    KeyHook hook;
    ASSERT_TRUE(hook.Installed());
    ChildProcess app = StartTapdeck();
    ASSERT_TRUE(app.Started());

    // Watched from outside the process while the session runs.
    constexpr size_t PlayPause = FirstGridIndex + 7;
    std::atomic<bool> watching{true};
    std::atomic<bool> shown{false};
    std::atomic<bool> fingerOnPlay{false};
    std::atomic<bool> playPressed{false};
    std::thread watcher([&] {
        while (watching.load()) {
            const HWND panel = PanelOf(app.Id());
            DWORD_PTR answer = 0;
            if (panel != nullptr && SendMessageTimeoutW(panel, overlay::QueryMessage, 0, 0,
                                                        SMTO_ABORTIFHUNG, 1000, &answer) != 0) {
                const overlay::DrawnSummary d = overlay::UnpackDrawn(static_cast<uint32_t>(answer));
                shown = shown || d.shown;
                fingerOnPlay = fingerOnPlay || (d.shown && d.touching && d.under == PlayPause);
                playPressed = playPressed || (d.shown && d.pressed == PlayPause);
            }
            Sleep(5);
        }
    });
    Toucher touch(kind, feeder);
    const bool answered = TapUntilTapdeckAnswers(touch, hook);
    // A finger resting on play/pause for half a second, then a tap there.
    for (int i = 0; i < 60; ++i) {
        touch.Hold(PlayAcross, PlayUp);
    }
    touch.Lift(PlayAcross, PlayUp);
    touch.Tap(PlayAcross, PlayUp);
    Sleep(300);
    touch.Tap(ExitAcross, ExitUp);
    const bool ended = app.Wait(10000);
    Sleep(100);
    watching = false;
    watcher.join();
    ASSERT_TRUE(answered) << vtp::DescribeDelivery(L"pad");
    ASSERT_TRUE(ended);
    EXPECT_EQ(app.ExitCode(), 0u);
    EXPECT_TRUE(shown);
    EXPECT_TRUE(fingerOnPlay);
    EXPECT_TRUE(playPressed);
    EXPECT_EQ(PanelOf(app.Id()), nullptr) << "left on the screen";
}

// ---- A laptop's day: what goes wrong on real pads, through tapdeck.exe ----

// The one-finger clickpad's reports (pads/hybrid-one-finger.hid), 8 ms apart as a pad sends
// them, with the pad's Scan Time as each case wants it: running, standing still, or silent.
class OneFingerPad {
public:
    explicit OneFingerPad(vtp::PadFeeder& padFeeder) : feeder(padFeeder) {}

    // Finger `id` at a fraction of the pad as the user sees it (as Toucher has them), or at
    // logical units of the pad; the Scan Time then advances by `scanStep` (100 us units).
    void At(uint8_t id, bool tip, double across, double up, uint16_t scanStep = 80) {
        Logical(id, tip, LogicalX(across), LogicalY(up), scanStep);
    }
    void Logical(uint8_t id, bool tip, int32_t x, int32_t y, uint16_t scanStep = 80) {
        Send(Kind().report({id, tip, x, y, scan}), scanStep);
    }
    // A report of the button alone: a contact count of 0, as a pad sends at a click.
    void Button(bool down) {
        std::vector<uint8_t> r = {0x04, 0, 0, 0, 0, 0};
        Put16(r, scan);
        r.push_back(0);
        r.push_back(down ? 1 : 0);
        Send(r, 80);
    }
    // The pad says nothing for `ms`; its clock runs on.
    void Silence(DWORD ms) {
        Sleep(ms);
        scan = static_cast<uint16_t>(scan + ms * 10);
    }
    void Tap(uint8_t id, double across, double up) {
        for (int i = 0; i < 3; ++i) {
            At(id, true, across, up);
        }
        At(id, false, across, up);
        Silence(300);
    }

    static const PadKind& Kind() { return Kinds[0]; }
    static int32_t LogicalX(double across) {
        return Kind().xMin +
               static_cast<int32_t>(std::lround(across * (Kind().xMax - Kind().xMin)));
    }
    static int32_t LogicalY(double up) {
        return Kind().yMin +
               static_cast<int32_t>(std::lround((1 - up) * (Kind().yMax - Kind().yMin)));
    }
    // Logical Y units of `mm` millimetres of the pad.
    static int32_t UnitsY(double mm) {
        return static_cast<int32_t>(
            std::lround(mm / Kind().heightMm * (Kind().yMax - Kind().yMin)));
    }

private:
    void Send(const std::vector<uint8_t>& report, uint16_t scanStep) {
        std::string error;
        EXPECT_TRUE(feeder.Send(report, error)) << error;
        scan = static_cast<uint16_t>(scan + scanStep);
        Sleep(8);
    }

    vtp::PadFeeder& feeder;
    uint16_t scan = 0x4000;
};

void HoldOnExitWithAStuckScanClock(OneFingerPad& pad) {
    // Two seconds still on the exit button, the pad's Scan Time standing still all along.
    for (int i = 0; i < 250; ++i) {
        pad.At(1, true, ExitAcross, ExitUp, 0);
    }
    pad.At(1, false, ExitAcross, ExitUp, 0);
    pad.Silence(300);
    pad.Tap(2, PlayAcross, PlayUp); // Tapdeck is still there to take it
}

void LostLiftThenATap(OneFingerPad& pad) {
    // A slide of 9 mm up the strip whose lift never comes: the pad falls silent.
    const int32_t x = OneFingerPad::LogicalX(StripAcross);
    const int32_t y = OneFingerPad::LogicalY(StripUp);
    for (int mm = 0; mm <= 9; ++mm) {
        pad.Logical(1, true, x, y - OneFingerPad::UnitsY(mm));
    }
    pad.Silence(1000);
    // The next touch, with the same contact id, is a tap.
    pad.Tap(1, PlayAcross, PlayUp);
}

void SlidePausedAfterASmallMove(OneFingerPad& pad) {
    // 7 mm up the strip (a volume step, and 19 units of motion towards the next), one unit
    // more, a second of silence while the finger rests, then on to 10 mm: the slide goes on
    // from where it was, and makes its second step. Taken for a new touch, its last 3 mm would
    // make none.
    const int32_t x = OneFingerPad::LogicalX(StripAcross);
    const int32_t y = OneFingerPad::LogicalY(StripUp);
    for (int mm = 0; mm <= 7; ++mm) {
        pad.Logical(1, true, x, y - OneFingerPad::UnitsY(mm));
    }
    pad.Logical(1, true, x, y - OneFingerPad::UnitsY(7) - 1);
    pad.Silence(1000);
    for (int mm = 8; mm <= 10; ++mm) {
        pad.Logical(1, true, x, y - OneFingerPad::UnitsY(mm));
    }
    pad.Logical(1, false, x, y - OneFingerPad::UnitsY(10));
    pad.Silence(300);
}

void ButtonPressWhileAFingerRests(OneFingerPad& pad) {
    // A finger resting on play/pause, a click of the pad's button (reported alone, with a
    // contact count of 0), and the finger lifted soon after.
    for (int i = 0; i < 40; ++i) {
        pad.At(1, true, PlayAcross, PlayUp);
    }
    pad.Button(true);
    pad.Button(false);
    for (int i = 0; i < 3; ++i) {
        pad.At(1, true, PlayAcross, PlayUp);
    }
    pad.At(1, false, PlayAcross, PlayUp);
    pad.Silence(300);
}

// The keys the touches give: strokes of one key, then of another.
struct DayCase {
    const char* name;
    void (*touch)(OneFingerPad&);
    std::array<std::pair<DWORD, int>, 2> keys;
};

// A volume step is three volume-key strokes, as no player is open.
const DayCase DayCases[] = {
    {"a 2 s hold on the exit button with a stuck scan clock is no tap",
     HoldOnExitWithAStuckScanClock,
     {{{VK_MEDIA_PLAY_PAUSE, 1}}}},
    {"a lost lift followed by a tap gives the tap",
     LostLiftThenATap,
     {{{VK_VOLUME_UP, 2 * 3}, {VK_MEDIA_PLAY_PAUSE, 1}}}},
    {"a slide paused after a small move goes on",
     SlidePausedAfterASmallMove,
     {{{VK_VOLUME_UP, 2 * 3}}}},
    {"a button press while a finger rests is one tap",
     ButtonPressWhileAFingerRests,
     {{{VK_MEDIA_PLAY_PAUSE, 1}}}},
};

TEST_F(OnVirtualPad, ALaptopsDayWithoutSurprises) {
    for (const DayCase& c : DayCases) {
        SCOPED_TRACE(c.name);
        vpadtest::RemoveAll();
        vpadtest::Install(L"pad", OneFingerPad::Kind().file);
        ASSERT_FALSE(HasFatalFailure());
        vtp::PadFeeder feeder;
        std::string error;
        ASSERT_TRUE(feeder.Open(L"pad", error)) << error;
        KeyHook hook;
        ASSERT_TRUE(hook.Installed());
        ChildProcess app = StartTapdeck();
        ASSERT_TRUE(app.Started());
        Toucher touch(OneFingerPad::Kind(), feeder);
        const bool answered = TapUntilTapdeckAnswers(touch, hook);
        ASSERT_TRUE(answered) << "Tapdeck never answered a tap: " << app.Output() << "\n"
                              << vtp::DescribeDelivery(L"pad");
        Sleep(300);
        hook.Clear();

        OneFingerPad pad(feeder);
        c.touch(pad);
        std::vector<KeyRecord> expected;
        for (const auto& [vk, times] : c.keys) {
            for (const KeyRecord& key : Strokes(vk, times)) {
                expected.push_back(key);
            }
        }
        hook.WaitFor(expected.size(), 3000);
        Sleep(300); // and any key too many
        EXPECT_EQ(hook.Events(), expected);
        ASSERT_EQ(app.ExitCode(), STILL_ACTIVE) << "Tapdeck ended during the touches";
        pad.Tap(3, ExitAcross, ExitUp);
        ASSERT_TRUE(app.Wait(10000)) << "the exit button did not end Tapdeck";
        EXPECT_EQ(app.ExitCode(), 0u);
    }
}

TEST_F(OnVirtualPad, WithOnlyDevicesThatAreNoTouchpadItBeepsOnceAndEnds) {
    vpadtest::Install(L"screen", L"touch-screen");
    vpadtest::Install(L"keys", L"consumer-control");
    ASSERT_NE(vpadtest::RawInputHandle(L"screen", 0), nullptr);
    ChildProcess app = StartTapdeck(/*traceBeeps=*/true);
    ASSERT_TRUE(app.Started());
    ASSERT_TRUE(app.Wait(20000));
    EXPECT_EQ(app.ExitCode(), static_cast<DWORD>(-1));
    EXPECT_EQ(app.BeepCount(), 1);
}

} // namespace
