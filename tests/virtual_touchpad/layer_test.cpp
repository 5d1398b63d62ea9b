// The library's raw-input and HID layer on virtual pads of real kinds: which devices it takes
// for a touchpad, what it reads of each pad's descriptor, and the frames it decodes from the
// reports a pad sends, through Windows raw input and the HID parser as they are.
#include <gtest/gtest.h>

#include <windows.h>

#include <cmath>
#include <string>
#include <vector>

#include "hid_pad.h"

extern "C" {
#include <hidsdi.h>
}
#include "support/player_window.h"
#include "virtual_pads.h"

namespace {

class VirtualPads : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        vpadtest::RemoveAll();
        for (const auto& [name, file] : Pads) {
            vpadtest::Install(name, file,
                              std::wstring(name) == L"parallel" ? Features()
                                                                : std::vector<vtp::Bytes>{});
        }
    }
    static void TearDownTestSuite() { vpadtest::RemoveAll(); }

    // The parallel pad's answers: contact count maximum 5 and pad type 0 (a clickpad) in
    // report 4, and the 256 bytes of its certification blob in report 0x44.
    static std::vector<vtp::Bytes> Features() {
        vtp::Bytes blob = {0x44};
        for (int i = 0; i < 256; ++i) {
            blob.push_back(static_cast<uint8_t>(i * 7));
        }
        return {{0x04, 0x05}, blob};
    }

    static constexpr std::pair<const wchar_t*, const wchar_t*> Pads[] = {
        {L"screen", L"touch-screen"},
        {L"keys", L"consumer-control"},
        {L"parallel", L"parallel-five-fingers"},
        {L"hybrid1", L"hybrid-one-finger"},
        {L"hybrid2", L"hybrid-two-fingers"},
        {L"offset", L"offset-ranges"},
        {L"inches", L"inches"},
        {L"external", L"external-buttons"},
    };
};

// --- which devices are touchpads ------------------------------------------------------------

struct DiscoveryCase {
    const wchar_t* pad;
    size_t collection;
    USHORT usagePage;
    USHORT usage;
    HRESULT opened;
};

static constexpr DiscoveryCase DiscoveryCases[] = {
    {L"screen", 0, 0x0D, 0x04, E_INVALIDARG},
    {L"keys", 0, 0x0C, 0x01, E_INVALIDARG},
    {L"parallel", 1, 0x0D, 0x05, S_OK},
    {L"parallel", 2, 0x0D, 0x0E, E_INVALIDARG}, // the pad's configuration collection
    {L"hybrid1", 0, 0x0D, 0x05, S_OK},
    {L"hybrid2", 0, 0x0D, 0x05, S_OK},
    {L"offset", 0, 0x0D, 0x05, S_OK},
    {L"inches", 0, 0x0D, 0x05, S_OK},
    {L"external", 0, 0x0D, 0x05, S_OK},
};

TEST_F(VirtualPads, OnlyTouchpadCollectionsOpenAsTouchpads) {
    for (const DiscoveryCase& c : DiscoveryCases) {
        SCOPED_TRACE(testing::Message()
                     << std::string(c.pad, c.pad + wcslen(c.pad)) << " #" << c.collection);
        const HANDLE device = vpadtest::RawInputHandle(c.pad, c.collection);
        ASSERT_NE(device, nullptr) << "not listed by raw input";
        RID_DEVICE_INFO info = {};
        info.cbSize = sizeof info;
        UINT size = sizeof info;
        ASSERT_NE(GetRawInputDeviceInfoW(device, RIDI_DEVICEINFO, &info, &size),
                  static_cast<UINT>(-1));
        EXPECT_EQ(info.hid.usUsagePage, c.usagePage);
        EXPECT_EQ(info.hid.usUsage, c.usage);
        HidPad pad;
        EXPECT_EQ(OpenHidPad(device, pad), c.opened);
    }
}

TEST_F(VirtualPads, ThePadsMouseCollectionIsNoTouchpad) {
    // Raw input may fold a HID mouse into the system's mouse; listed as HID, it is no touchpad.
    const HANDLE mouse = vpadtest::RawInputHandle(L"parallel", 0, 500);
    if (mouse != nullptr) {
        HidPad pad;
        EXPECT_EQ(OpenHidPad(mouse, pad), E_INVALIDARG);
    }
}

TEST_F(VirtualPads, TheTouchpadFoundAmongThemAllIsOneOfThePads) {
    const HANDLE found = FindTouchpad();
    ASSERT_NE(found, nullptr);
    bool ours = false;
    for (const wchar_t* pad : {L"hybrid1", L"hybrid2", L"offset", L"inches", L"external"}) {
        ours = ours || found == vpadtest::RawInputHandle(pad, 0);
    }
    ours = ours || found == vpadtest::RawInputHandle(L"parallel", 1);
    EXPECT_TRUE(ours);
    HidPad pad;
    EXPECT_EQ(OpenHidPad(found, pad), S_OK);
}

// --- what is read of each pad ---------------------------------------------------------------

struct CapsCase {
    const wchar_t* pad;
    size_t collection;
    size_t slots;
    bool button;
    int32_t xMin, xMax;
    double xMm;
    int32_t yMin, yMax;
    double yMm;
};

static constexpr CapsCase CapsCases[] = {
    {L"parallel", 1, 5, true, 0, 3200, 105.0, 0, 2112, 69.4},
    {L"hybrid1", 0, 1, true, 0, 4095, 116.8, 0, 2559, 72.0},
    {L"hybrid2", 0, 2, false, 0, 4095, 110.0, 0, 2720, 72.0},
    {L"offset", 0, 1, false, 100, 4195, 112.0, -1200, 1199, 70.0},
    {L"inches", 0, 3, true, 0, 2047, 101.6, 0, 1331, 66.04},
    {L"external", 0, 1, true, 0, 4095, 116.8, 0, 2559, 72.0},
};

TEST_F(VirtualPads, EachPadsSlotsRangesAndSizeAreRead) {
    for (const CapsCase& c : CapsCases) {
        SCOPED_TRACE(std::string(c.pad, c.pad + wcslen(c.pad)));
        HidPad pad;
        ASSERT_EQ(OpenHidPad(vpadtest::RawInputHandle(c.pad, c.collection), pad), S_OK);
        const ptp::PadLayout& layout = pad.layout;
        EXPECT_EQ(layout.slotCount, c.slots);
        EXPECT_EQ(layout.hasButton, c.button);
        EXPECT_TRUE(layout.hasScanTime);
        EXPECT_EQ(layout.geometry.x.logicalMin, c.xMin);
        EXPECT_EQ(layout.geometry.x.logicalMax, c.xMax);
        EXPECT_NEAR(layout.geometry.x.millimetres, c.xMm, 0.01);
        EXPECT_EQ(layout.geometry.y.logicalMin, c.yMin);
        EXPECT_EQ(layout.geometry.y.logicalMax, c.yMax);
        EXPECT_NEAR(layout.geometry.y.millimetres, c.yMm, 0.01);
    }
}

// --- reports to frames ----------------------------------------------------------------------

struct Seen {
    uint32_t id;
    bool tip;
    bool confident;
    int32_t x;
    int32_t y;
};

struct DecodeCase {
    const char* name;
    const wchar_t* pad;
    size_t collection;
    std::vector<const char*> reports;
    // Fed to other devices after the pad's first report, while its contact is down: none of
    // theirs goes on (a touch screen, a keyboard: not touchpads; another touchpad: not the
    // pad in use).
    std::vector<std::pair<const wchar_t*, const char*>> others;
    // The frames, each its button and contacts.
    std::vector<std::pair<bool, std::vector<Seen>>> frames;
};

class FrameLog final : public FrameReceiver {
public:
    void OnFrame(const ptp::Frame& frame) override { frames.push_back(frame); }
    void OnPadChanged(const ptp::PadGeometry&) override { ++changes; }
    void OnPadRemoved() override { ++removals; }
    std::vector<ptp::Frame> frames;
    int changes = 0;
    int removals = 0;
};

// The layer listening on a message-only window of this thread, as the delivery thread does.
class Listener {
public:
    explicit Listener(const wchar_t* pad, size_t collection) {
        HidPad opened;
        EXPECT_EQ(OpenHidPad(vpadtest::RawInputHandle(pad, collection), opened), S_OK);
        source = std::make_unique<RawInputSource>(std::make_shared<const HidPad>(opened));
        window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                                 nullptr);
        EXPECT_TRUE(source->Start(window));
    }
    ~Listener() {
        source->Stop();
        DestroyWindow(window);
    }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    // Handles what comes until `done` holds or `ms` have passed.
    template <typename Done> void PumpUntil(Done done, DWORD ms) {
        const DWORD start = GetTickCount();
        do {
            MSG msg;
            while (PeekMessageW(&msg, window, 0, 0, PM_REMOVE)) {
                source->OnMessage(msg.message, msg.wParam, msg.lParam, log);
                DispatchMessageW(&msg);
            }
            if (done()) {
                return;
            }
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        } while (GetTickCount() - start < ms);
    }
    void PumpFrames(size_t count) {
        PumpUntil([&] { return log.frames.size() >= count; }, 3000);
        // Anything more that comes is a frame too many.
        PumpUntil([] { return false; }, 100);
    }

    FrameLog log;

private:
    std::unique_ptr<RawInputSource> source;
    HWND window = nullptr;
};

void FeedTo(const wchar_t* pad, const char* report) {
    vtp::PadFeeder feeder;
    std::string error;
    ASSERT_TRUE(feeder.Open(pad, error)) << error;
    vpadtest::Feed(feeder, report);
}

// Feeds the reports to the pad and collects the frames the layer makes of them; where fewer
// came, `delivery` says how the pad's reports went while the layer still listened.
std::vector<ptp::Frame> Decode(const DecodeCase& c, size_t expected, std::string& delivery) {
    Listener listener(c.pad, c.collection);
    for (size_t i = 0; i < c.reports.size(); ++i) {
        FeedTo(c.pad, c.reports[i]);
        for (const auto& [other, report] : i == 0 ? c.others : decltype(c.others){}) {
            FeedTo(other, report);
        }
    }
    listener.PumpFrames(expected);
    if (listener.log.frames.size() < expected) {
        delivery = vtp::DescribeDelivery(c.pad);
    }
    return listener.log.frames;
}

const DecodeCase DecodeCases[] = {
    {"two contacts in two hybrid reports, then the lift with the button down",
     L"hybrid1",
     0,
     {"04 07 E8 03 F4 01 00 01 02 00", "04 0B B8 0B D0 07 00 01 00 00",
      "04 05 E8 03 F4 01 10 01 01 01"},
     {},
     {{false, {{1, true, true, 1000, 500}, {2, true, true, 3000, 2000}}},
      {true, {{1, false, true, 1000, 500}}}}},
    {"a palm: confidence cleared with the tip down",
     L"hybrid1",
     0,
     {"04 06 10 00 20 00 00 02 01 00"},
     {},
     {{false, {{1, true, false, 16, 32}}}}},
    {"five slots in one parallel report, two of them contacts at the range's ends",
     L"parallel",
     1,
     {"03 0F 64 00 C8 00 17 80 0C 40 08 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 34 12 02 "
      "00"},
     {},
     {{false, {{3, true, true, 100, 200}, {5, true, true, 3200, 2112}}}}},
    {"three contacts in two reports of two fingers, 12-bit X and Y packed across bytes",
     L"hybrid2",
     0,
     {"01 03 23 61 45 07 BC 0A 9F 00 05 03", "01 0B 01 20 00 00 00 00 00 00 05 00"},
     {},
     {{false,
       {{0, true, true, 0x123, 0x456}, {1, true, true, 0xABC, 0x9F0}, {2, true, true, 1, 2}}}}},
    {"a pad without report ids whose ranges do not start at 0: the ends, negative Y",
     L"offset",
     0,
     {"03 09 64 00 50 FB 00 02 01", "03 09 63 10 AF 04 10 02 01"},
     {},
     {{false, {{9, true, true, 100, -1200}}}, {false, {{9, true, true, 4195, 1199}}}}},
    {"inches: the button before the fingers",
     L"inches",
     0,
     {"07 01 1B FF 07 33 05 00 00 00 00 00 00 00 00 00 00 00 02 01"},
     {},
     {{true, {{6, true, true, 2047, 1331}}}}},
    // Button 2 is an external button's primary click, a press as Button 1's; Button 3 is the
    // secondary click, no press.
    {"Buttons 2 and 3 inside the finger collection: Button 2 is the pad's button, 3 is none",
     L"external",
     0,
     {"04 23 E8 03 F4 01 00 07 01", "04 43 E8 03 F4 01 50 07 01", "04 63 E8 03 F4 01 A0 07 01"},
     {},
     {{true, {{0, true, true, 1000, 500}}},
      {false, {{0, true, true, 1000, 500}}},
      {true, {{0, true, true, 1000, 500}}}}},
    {"reports of a touch screen, a keyboard and another touchpad are not the pad's",
     L"hybrid1",
     0,
     {"04 07 E8 03 F4 01 00 03 01 00", "04 05 E8 03 F4 01 50 03 01 00"},
     {{L"screen", "01 03 01 00 10 00 10 01"},
      {L"keys", "01 CD 00"},
      {L"hybrid2", "01 03 23 61 45 00 00 00 00 00 06 01"}},
     {{false, {{1, true, true, 1000, 500}}}, {false, {{1, false, true, 1000, 500}}}}},
};

TEST_F(VirtualPads, ReportsBecomeExactlyTheFramesTheyHold) {
    for (const DecodeCase& c : DecodeCases) {
        SCOPED_TRACE(c.name);
        std::string delivery;
        const std::vector<ptp::Frame> frames = Decode(c, c.frames.size(), delivery);
        ASSERT_EQ(frames.size(), c.frames.size()) << delivery;
        for (size_t f = 0; f < frames.size(); ++f) {
            const auto& [button, contacts] = c.frames[f];
            EXPECT_EQ(frames[f].button, button) << "frame " << f;
            ASSERT_EQ(frames[f].count, contacts.size()) << "frame " << f;
            for (size_t i = 0; i < contacts.size(); ++i) {
                const ptp::Contact& got = frames[f].contacts[i];
                const Seen& want = contacts[i];
                EXPECT_EQ(got.id, want.id) << "frame " << f << " contact " << i;
                EXPECT_EQ(got.tip, want.tip) << "frame " << f << " contact " << i;
                EXPECT_EQ(got.confident, want.confident) << "frame " << f << " contact " << i;
                EXPECT_EQ(got.x, want.x) << "frame " << f << " contact " << i;
                EXPECT_EQ(got.y, want.y) << "frame " << f << " contact " << i;
            }
        }
    }
}

// Wine queues a pad's reports only on a desktop whose foreground window has the focus. A window
// that takes the foreground and goes with its thread leaves the desktop without one, as a test
// program that showed a window and ended leaves it for the next: the feed makes it deliver.
TEST_F(VirtualPads, ReportsArriveAfterTheWindowInFrontHasGone) {
    {
        StandInPlayer front(WmPlayerWindowClass, PlayerShow::Normal);
        ASSERT_NE(front.Handle(), nullptr);
        SetForegroundWindow(front.Handle());
    }
    ASSERT_FALSE(vtp::DesktopDeliversReports()) << "the window in front left no foreground";
    Listener listener(L"hybrid1", 0);
    FeedTo(L"hybrid1", "04 07 E8 03 F4 01 00 05 01 00");
    FeedTo(L"hybrid1", "04 05 E8 03 F4 01 50 05 01 00");
    listener.PumpFrames(2);
    EXPECT_EQ(listener.log.frames.size(), 2u) << vtp::DescribeDelivery(L"hybrid1");
}

// --- pads that come and go -----------------------------------------------------------------

TEST_F(VirtualPads, AnotherTouchpadIsTakenOnceThePadInUseHasNoContactDown) {
    Listener listener(L"hybrid1", 0);
    FeedTo(L"hybrid1", "04 07 E8 03 F4 01 00 04 01 00");
    listener.PumpFrames(1);
    // A contact on the other pad while the first one's is down: not taken.
    FeedTo(L"hybrid2", "01 03 23 61 45 00 00 00 00 00 06 01");
    FeedTo(L"hybrid1", "04 05 E8 03 F4 01 50 04 01 00");
    listener.PumpFrames(2);
    EXPECT_EQ(listener.log.changes, 0);
    // Once it is up, the other pad's next contact is, with the other pad's geometry.
    FeedTo(L"hybrid2", "01 03 23 61 45 00 00 00 00 00 07 01");
    listener.PumpFrames(3);
    ASSERT_EQ(listener.log.frames.size(), 3u)
        << vtp::DescribeDelivery(L"hybrid1") << vtp::DescribeDelivery(L"hybrid2");
    EXPECT_EQ(listener.log.changes, 1);
    EXPECT_EQ(listener.log.frames[2].contacts[0].x, 0x123);
    EXPECT_EQ(listener.log.frames[2].contacts[0].y, 0x456);
}

TEST_F(VirtualPads, APadInUseThatFallsSilentWithAContactDownGivesWay) {
    Listener listener(L"hybrid1", 0);
    FeedTo(L"hybrid1", "04 07 E8 03 F4 01 00 06 01 00");
    listener.PumpFrames(1);
    // Its contact stays down, its lift never comes: once it has been silent that long, the
    // other pad's contact is taken.
    Sleep(PadSilentMicros / 1000 + 100);
    FeedTo(L"hybrid2", "01 03 23 61 45 00 00 00 00 00 08 01");
    listener.PumpFrames(2);
    ASSERT_EQ(listener.log.frames.size(), 2u)
        << vtp::DescribeDelivery(L"hybrid1") << vtp::DescribeDelivery(L"hybrid2");
    EXPECT_EQ(listener.log.changes, 1);
    EXPECT_EQ(listener.log.frames[1].contacts[0].x, 0x123);
}

TEST_F(VirtualPads, APadUnpluggedMidTouchIsLiftedAndUsedAgainWhenPluggedBackIn) {
    Listener listener(L"inches", 0);
    FeedTo(L"inches", "07 00 1B FF 07 33 05 00 00 00 00 00 00 00 00 00 00 00 02 01");
    listener.PumpFrames(1);
    ASSERT_EQ(listener.log.frames.size(), 1u) << vtp::DescribeDelivery(L"inches");
    vpadtest::Unplug(L"inches");
    listener.PumpUntil([&] { return listener.log.removals > 0; }, 3000);
    EXPECT_EQ(listener.log.removals, 1) << "the removal of the pad in use is told at once";
    vpadtest::Replug(L"inches");
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_NE(vpadtest::RawInputHandle(L"inches", 0), nullptr);
    FeedTo(L"inches", "07 00 0B 00 01 00 01 00 00 00 00 00 00 00 00 00 00 00 03 01");
    listener.PumpFrames(2);
    ASSERT_EQ(listener.log.frames.size(), 2u) << "the pad plugged back in is read\n"
                                              << vtp::DescribeDelivery(L"inches");
    EXPECT_EQ(listener.log.frames[1].contacts[0].x, 256);
    EXPECT_EQ(listener.log.changes, 1) << "a new device, announced";
}

// --- the pad's feature reports --------------------------------------------------------------

// The HID device of the pad's collection, opened for feature reports.
HANDLE OpenCollection(const wchar_t* pad, size_t collection) {
    const std::wstring path = vtp::DevicePath(pad, collection);
    return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
}

TEST_F(VirtualPads, ThePadAnswersItsFeatureReportsAndKeepsItsInputMode) {
    const HANDLE touchpad = OpenCollection(L"parallel", 1);
    ASSERT_NE(touchpad, INVALID_HANDLE_VALUE);
    BYTE maximum[2] = {0x04, 0};
    ASSERT_TRUE(HidD_GetFeature(touchpad, maximum, sizeof maximum));
    EXPECT_EQ(maximum[1], 0x05);
    BYTE blob[257] = {0x44};
    ASSERT_TRUE(HidD_GetFeature(touchpad, blob, sizeof blob));
    EXPECT_EQ(vtp::Bytes(blob, blob + sizeof blob), Features()[1]);
    CloseHandle(touchpad);

    // The host switches the pad to reporting as a touchpad: Input Mode 3, read back as set.
    const HANDLE configuration = OpenCollection(L"parallel", 2);
    ASSERT_NE(configuration, INVALID_HANDLE_VALUE);
    BYTE mode[2] = {0x05, 0};
    ASSERT_TRUE(HidD_GetFeature(configuration, mode, sizeof mode));
    EXPECT_EQ(mode[1], 0) << "mouse mode until told";
    BYTE set[2] = {0x05, 0x03};
    ASSERT_TRUE(HidD_SetFeature(configuration, set, sizeof set));
    ASSERT_TRUE(HidD_GetFeature(configuration, mode, sizeof mode));
    EXPECT_EQ(mode[1], 0x03);
    CloseHandle(configuration);
}

} // namespace
