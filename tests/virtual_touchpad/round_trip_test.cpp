// A pad recorded by velptp and replayed, on every kind of pad the tests have: the session (taps,
// a slide, a palm, three fingers at once over several reports where the pad is hybrid, a press
// of its button where it has one, an unplug and a replug) played to the pad while velptp's
// raw-input layer reads it with recording on; then the recording installed with `vtpctl install
// @NAME.args` and its script played by vtpctl's player. The rebuilt pad must read as the
// original, field for field and bit for bit, and the replay must give exactly the frames the
// session gave at the layer. Through tapdeck.exe, with `vtpctl play` as the docs give it: the
// replay gives the keys the session gave, and every recorded laptop under pads/laptops/ (one a
// recording of a pad with a mouse collection first) gives the keys it must give.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "ptp/claim_settle.h"
#include "hid_descriptor.h"
#include "pad_session.h"
#include "player.h"
#include "preparsed_reader.h"
#include "recording_format.h"
#include "support/key_hook.h"
#include "support/process.h"
#include "support/sim_scenario.h"
#include "velptp_core.h"
#include "virtual_pads.h"

namespace {

using namespace vpadtest;

// velptp's raw-input layer on a message-only window of this thread, as the claim's input thread
// has it, recording into a folder: the frames it makes, in words, and the reports it was handed.
class Layer final : public FrameReceiver {
public:
    Layer(HANDLE device, const std::wstring& folder) {
        auto pad = std::make_shared<HidPad>();
        opened = OpenHidPad(device, *pad);
        source = std::make_unique<RawInputSource>(pad, folder);
        window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                                 nullptr);
        started = SUCCEEDED(opened) && source->Start(window);
    }
    // Stops the source: the recording is whole.
    ~Layer() {
        source->Stop();
        DestroyWindow(window);
    }
    Layer(const Layer&) = delete;
    Layer& operator=(const Layer&) = delete;

    bool Started() const { return started; }
    // Handles what comes until `done` holds (looked at between messages) or `ms` have passed.
    template <typename Done> bool PumpUntil(Done done, DWORD ms) {
        const DWORD start = GetTickCount();
        while (!done()) {
            if (GetTickCount() - start > ms) {
                return false;
            }
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
            MSG msg;
            while (PeekMessageW(&msg, window, 0, 0, PM_REMOVE)) {
                if (msg.message == WM_INPUT) {
                    Count(msg.lParam);
                }
                source->OnMessage(msg.message, msg.wParam, msg.lParam, *this);
                DispatchMessageW(&msg);
            }
        }
        return true;
    }

    void OnFrame(const ptp::Frame& frame) override {
        std::string text = "frame: button " + std::to_string(frame.button) +
                           (frame.buttonOnly ? " alone" : "") + ", contacts";
        for (size_t i = 0; i < frame.count; ++i) {
            const ptp::Contact& c = frame.contacts[i];
            char contact[96];
            std::snprintf(contact, sizeof contact, " [id %u%s%s at %d, %d]", c.id,
                          c.tip ? " tip" : "", c.confident ? " confident" : "", c.x, c.y);
            text += contact;
        }
        events.push_back(text);
        ++frames;
    }
    void OnPadChanged(const ptp::PadGeometry&) override { events.emplace_back("another pad"); }
    void OnPadRemoved() override { events.emplace_back("the pad in use removed"); }

    std::vector<std::string> events;
    size_t frames = 0;
    size_t reports = 0; // raw reports that came

private:
    void Count(LPARAM lParam) {
        // NOLINTNEXTLINE(performance-no-int-to-ptr): WM_INPUT's lParam is the input's handle
        const auto input = reinterpret_cast<HRAWINPUT>(lParam);
        UINT size = 0;
        GetRawInputData(input, RID_INPUT, nullptr, &size, sizeof(RAWINPUTHEADER));
        std::vector<BYTE> buffer(size);
        if (GetRawInputData(input, RID_INPUT, buffer.data(), &size, sizeof(RAWINPUTHEADER)) !=
            static_cast<UINT>(-1)) {
            reports += reinterpret_cast<const RAWINPUT*>(buffer.data())->data.hid.dwCount;
        }
    }

    HRESULT opened = E_FAIL;
    bool started = false;
    std::unique_ptr<RawInputSource> source;
    HWND window = nullptr;
};

// The script played by vtpctl's player on a thread while the layer takes what comes; until every
// report has come, or the player failed.
void PlayTo(Layer& layer, const std::string& script, size_t reports) {
    std::vector<vtp::Step> steps;
    std::string error;
    ASSERT_TRUE(vtp::ParseScript(script, steps, error)) << error;
    std::atomic<bool> done = false;
    bool played = false;
    std::thread player([&] {
        played = vtp::PlayScript(steps, EnvironmentValue(L"VTP_DRIVER_DIR"), error);
        done = true;
    });
    const bool all =
        layer.PumpUntil([&] { return done && (!played || layer.reports >= reports); }, 60000);
    player.join();
    ASSERT_TRUE(played) << error;
    ASSERT_TRUE(all) << layer.reports << " of " << reports << " reports came";
}

// The one recording a claim made in `folder`: its subfolder, the pad's name and its files.
struct Recording {
    std::wstring folder;
    std::string name;
    std::string script;
    std::wstring Path(const std::string& file) const { return folder + L"\\" + Wide(file); }
};

Recording OnlyRecordingIn(const std::wstring& folder) {
    Recording r;
    const std::vector<std::wstring> subfolders = SubfoldersOf(folder);
    EXPECT_EQ(subfolders.size(), 1u);
    if (subfolders.empty()) {
        return r;
    }
    r.folder = folder + L"\\" + subfolders[0];
    for (const std::wstring& file : FilesIn(r.folder)) {
        if (file.size() > 5 && file.substr(file.size() - 5) == L".args") {
            r.name = Narrow(file.substr(0, file.size() - 5));
        }
    }
    r.script = ReadWholeFile(r.folder + L"\\session.script");
    return r;
}

// What the parser holds of a raw-input device's collection.
ptp::hid::ParsedCollection ModelOf(HANDLE device) {
    std::vector<BYTE> preparsed;
    UINT size = 0;
    ptp::hid::ParsedCollection model;
    std::string error;
    if (GetRawInputDeviceInfoW(device, RIDI_PREPARSEDDATA, nullptr, &size) == 0) {
        preparsed.resize(size);
        GetRawInputDeviceInfoW(device, RIDI_PREPARSEDDATA, preparsed.data(), &size);
    }
    EXPECT_TRUE(!preparsed.empty() && ReadPreparsed(preparsed.data(), model, error)) << error;
    return model;
}

// The model without the feed report that installing the descriptor file added. (The recorded
// descriptor holds the original pad's feed as a feature report of the pad's; a collection
// without report ids is fed through that one again, and gets none added.)
ptp::hid::ParsedCollection WithoutItsFeed(ptp::hid::ParsedCollection model,
                                          const std::wstring& descriptorFile) {
    vtp::Bytes descriptor;
    std::vector<vtp::Collection> parts;
    vtp::Feed feed;
    std::string error;
    EXPECT_TRUE(vtp::ParseHex(ReadWholeFile(descriptorFile), descriptor, error) &&
                vtp::SplitCollections(descriptor, parts, error))
        << error;
    const size_t length = parts.empty() ? 0 : parts[0].descriptor.size();
    EXPECT_TRUE(!parts.empty() && vtp::AddFeed(parts[0], feed, error)) << error;
    if (parts.empty() || parts[0].descriptor.size() == length) {
        return model;
    }
    std::erase_if(model.fields, [&](const ptp::hid::Field& f) {
        return f.kind == ptp::hid::ReportKind::Feature && f.usagePage == 0xFF00 &&
               f.reportId == feed.reportId;
    });
    return model;
}

// The recorded descriptor made wrong: the contact id of the first finger one bit later.
void MoveAField(const std::wstring& descriptorFile) {
    vtp::Bytes descriptor;
    ptp::hid::ParsedCollection model;
    std::string error;
    ASSERT_TRUE(vtp::ParseHex(ReadWholeFile(descriptorFile), descriptor, error)) << error;
    ASSERT_TRUE(ptp::hid::ReadDescriptor(descriptor, model, error)) << error;
    for (ptp::hid::Field& f : model.fields) {
        if (f.link == 1 && f.usagePage == ptp::PageDigitizer && f.usageMin == 0x51) {
            ++f.bit; // into the padding after it
        }
    }
    std::vector<ptp::hid::Item> items;
    ASSERT_TRUE(ptp::hid::BuildItems(model, items, error)) << error;
    const std::string text = ptp::hid::DescriptorFile(items, model, {});
    const HANDLE file =
        CreateFileW(descriptorFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

std::vector<std::string> Renamed(std::vector<std::string> steps, const std::string& from,
                                 const std::string& to) {
    for (std::string& step : steps) {
        for (const std::string& head :
             {std::string(), std::string("remove "), std::string("add ")}) {
            if (step.rfind(head + from + " ", 0) == 0 || step == head + from) {
                step = head + to + step.substr(head.size() + from.size());
                break;
            }
        }
    }
    return steps;
}

struct RoundTripCase {
    const wchar_t* file;
    size_t collection; // the touch pad's
    // What the pad answers for its contact count maximum (the report, its id first), or none.
    const char* feature;
    // The recording replayed once more with its descriptor made wrong (a field moved by a bit):
    // that round trip must fail.
    bool alsoWithAFieldMoved;
};

// Every touchpad under pads/ (EveryTouchpadFileIsInTheTable keeps it so).
static constexpr RoundTripCase RoundTrips[] = {
    {L"hybrid-one-finger", 0, "05 55", true},      {L"hybrid-two-fingers", 0, "02 05", false},
    {L"offset-ranges", 0, nullptr, false},         {L"inches", 0, "08 03", false},
    {L"parallel-five-fingers", 1, "04 05", false}, {L"external-buttons", 0, "05 15", false},
    {L"many-collections", 1, "06 05", false},
};

TEST(RoundTrip, EveryTouchpadFileIsInTheTable) {
    const std::wstring pads = EnvironmentValue(L"VTP_PADS");
    size_t touchpads = 0;
    for (const std::wstring& file : FilesIn(pads)) {
        if (file.size() < 4 || file.substr(file.size() - 4) != L".hid") {
            continue;
        }
        vtp::Bytes descriptor;
        std::vector<vtp::Collection> parts;
        std::string error;
        ASSERT_TRUE(vtp::ParseHex(ReadWholeFile(pads + L"\\" + file), descriptor, error) &&
                    vtp::SplitCollections(descriptor, parts, error))
            << Narrow(file) << ": " << error;
        for (size_t i = 0; i < parts.size(); ++i) {
            if (parts[i].usagePage != ptp::PageDigitizer || parts[i].usage != ptp::UsageTouchpad) {
                continue;
            }
            ++touchpads;
            const std::wstring name = file.substr(0, file.size() - 4);
            EXPECT_TRUE(std::any_of(
                std::begin(RoundTrips), std::end(RoundTrips),
                [&](const RoundTripCase& c) { return c.file == name && c.collection == i; }))
                << Narrow(file) << " #" << i << " is no case of the round trips";
        }
    }
    EXPECT_EQ(touchpads, std::size(RoundTrips));
}

// What the recording alone gives: installed by `vtpctl install @NAME.args` in place of what is
// there, its capabilities against `before` (the first difference, empty where none), and its
// script played to the layer on it (recording again).
struct Replay {
    std::string difference;
    std::vector<std::string> events;
    std::string script; // what the replay's own recording holds
};

void ReplayRecording(const Recording& recording, const ptp::hid::ParsedCollection& before,
                     size_t reports, Replay& out) {
    RemoveAll();
    const std::string& name = recording.name;
    std::string output;
    ASSERT_EQ(RunVtpctl(L"install \"@" + recording.Path(name + ".args") + L"\"", output), 0u)
        << output;
    const HANDLE rebuilt = RawInputHandle(Wide(name), 0);
    ASSERT_NE(rebuilt, nullptr) << vtp::DescribeDelivery(Wide(name));
    // Value and button capabilities field by field, link collections, report lengths and the
    // bit of every field, as the parser reads them.
    out.difference = ptp::hid::FirstDifference(
        before, WithoutItsFeed(ModelOf(rebuilt), recording.Path(name + ".hid")));

    const std::wstring again = NewFolder(L"rt");
    {
        Layer layer(rebuilt, again);
        ASSERT_TRUE(layer.Started());
        ASSERT_NO_FATAL_FAILURE(PlayTo(layer, recording.script, reports))
            << vtp::DescribeDelivery(Wide(name));
        out.events = layer.events;
    }
    out.script = OnlyRecordingIn(again).script;
}

void RoundTripOn(const RoundTripCase& c) {
    RemoveAll();
    std::vector<vtp::Bytes> features;
    std::string error;
    if (c.feature != nullptr) {
        features.emplace_back();
        ASSERT_TRUE(vtp::ParseHex(c.feature, features.back(), error)) << error;
    }
    ASSERT_NO_FATAL_FAILURE(Install(L"pad", c.file, features));
    const HANDLE original = RawInputHandle(L"pad", c.collection);
    ASSERT_NE(original, nullptr) << vtp::DescribeDelivery(L"pad");
    PadReports reports;
    ASSERT_TRUE(reports.Open(original, error)) << error;
    const Session session = SessionScript(reports, "pad", error);
    ASSERT_TRUE(error.empty()) << error;
    const ptp::hid::ParsedCollection before = ModelOf(original);

    // The session, read by the layer with recording on.
    const std::wstring folder = NewFolder(L"rt");
    std::vector<std::string> live;
    {
        Layer layer(original, folder);
        ASSERT_TRUE(layer.Started());
        ASSERT_NO_FATAL_FAILURE(PlayTo(layer, session.script, session.reports))
            << vtp::DescribeDelivery(L"pad");
        ASSERT_EQ(layer.frames, session.frames);
        live = layer.events;
    }
    EXPECT_EQ(std::count(live.begin(), live.end(), "the pad in use removed"), 1);
    EXPECT_EQ(std::count(live.begin(), live.end(), "another pad"), 1);

    // The folder: the pad's descriptor and install arguments, and every report as it was sent.
    const Recording recording = OnlyRecordingIn(folder);
    // Named after the product string (the virtual pad's is "Virtual FILE").
    const std::string name = ptp::recording::PadName("Virtual " + Narrow(c.file), {});
    ASSERT_EQ(recording.name, name);
    EXPECT_EQ(
        FilesIn(recording.folder),
        (std::vector<std::wstring>{Wide(name + ".args"), Wide(name + ".hid"), L"session.script"}));
    EXPECT_EQ(StepsWithoutWaits(recording.script),
              Renamed(StepsWithoutWaits(session.script), "pad", name));
    if (c.feature != nullptr) {
        const std::string arguments = ReadWholeFile(recording.Path(name + ".args"));
        EXPECT_NE(arguments.find("--feature \"" + std::string(c.feature) + "\""), std::string::npos)
            << arguments;
    }

    Replay replay;
    ASSERT_NO_FATAL_FAILURE(ReplayRecording(recording, before, session.reports, replay));
    EXPECT_EQ(replay.difference, "");
    EXPECT_EQ(replay.events, live);
    EXPECT_EQ(StepsWithoutWaits(replay.script), StepsWithoutWaits(recording.script))
        << "what the replay sent is what was recorded";

    if (c.alsoWithAFieldMoved) {
        SCOPED_TRACE("a field moved");
        ASSERT_NO_FATAL_FAILURE(MoveAField(recording.Path(name + ".hid")));
        Replay wrong;
        ASSERT_NO_FATAL_FAILURE(ReplayRecording(recording, before, session.reports, wrong));
        EXPECT_NE(wrong.difference.find("usage 0D:51, collection 1): bit 10 against 11"),
                  std::string::npos)
            << wrong.difference;
        EXPECT_NE(wrong.events, live) << "the contact ids read one bit later";
    }
}

TEST(RoundTrip, EveryPadRecordedAndReplayedReadsAsTheOriginalAndGivesTheSameFrames) {
    for (const RoundTripCase& c : RoundTrips) {
        SCOPED_TRACE(Narrow(c.file));
        RoundTripOn(c);
    }
    RemoveAll();
}

// ---- Through tapdeck.exe ----

using ServerCall = HRESULT(STDAPICALLTYPE*)();

ServerCall Export(HMODULE module, const char* name) {
    return reinterpret_cast<ServerCall>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// The string value under velptp's key of HKEY_CURRENT_USER, for the object's lifetime.
class ScopedSetting {
public:
    ScopedSetting(const wchar_t* name, const std::wstring& value) : valueName(name) {
        EXPECT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, SettingsKey, name, REG_SZ, value.c_str(),
                                  static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }
    ~ScopedSetting() { RegDeleteKeyValueW(HKEY_CURRENT_USER, SettingsKey, valueName); }
    ScopedSetting(const ScopedSetting&) = delete;
    ScopedSetting& operator=(const ScopedSetting&) = delete;

private:
    const wchar_t* valueName;
};

class ThroughTapdeck : public testing::Test {
protected:
    void SetUp() override {
        ptp = LoadLibraryW(EnvironmentValue(L"VELPTP_DLL").c_str());
        ASSERT_NE(ptp, nullptr) << "VELPTP_DLL cannot be loaded";
        ASSERT_NE(SimModule(), nullptr) << "VELSIM_DLL cannot be loaded";
        // Tapdeck finds velptp.dll by its ProgIDs.
        ASSERT_EQ(Export(ptp, "DllRegisterServer")(), S_OK);
        RemoveAll();
    }
    void TearDown() override {
        RemoveAll();
        // The tests after these find the simulated touchpad.
        Export(ptp, "DllUnregisterServer")();
        EXPECT_EQ(Export(SimModule(), "DllRegisterServer")(), S_OK);
    }

    // tapdeck.exe, recording into `folder` (by the variable): the recording's subfolder shows
    // that it has claimed the pad, and from then on its reports are taken.
    static ChildProcess StartRecording(const std::wstring& folder) {
        ChildProcess::Options options;
        options.environment = {{RecordReportsVariable, folder}};
        ChildProcess app = ChildProcess::Start(EnvironmentValue(L"TAPDECK_EXE"), L"", options);
        EXPECT_NE(WaitForRecording(folder, 20000), L"")
            << "Tapdeck made no claim: " << app.Output();
        ptptest::WaitOutClaimSettle();
        return app;
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

// What SessionScript's touches give on a pad with a button: play/pause, three volume steps up
// (three volume-key strokes each, as no player is open), mute, previous track; the exit.
std::vector<KeyRecord> SessionKeys() {
    std::vector<KeyRecord> keys;
    for (const auto& [vk, times] : {std::pair<DWORD, int>{VK_MEDIA_PLAY_PAUSE, 1},
                                    {VK_VOLUME_UP, 3 * 3},
                                    {VK_VOLUME_MUTE, 1},
                                    {VK_MEDIA_PREV_TRACK, 1}}) {
        for (const KeyRecord& key : Strokes(vk, times)) {
            keys.push_back(key);
        }
    }
    return keys;
}

struct TapdeckCase {
    const wchar_t* file;
    size_t collection;
    const char* feature;
};

static constexpr TapdeckCase TapdeckCases[] = {
    {L"hybrid-one-finger", 0, "05 55"},     // hybrid mode, a button
    {L"parallel-five-fingers", 1, "04 05"}, // a mouse collection first, parallel mode
};

TEST_F(ThroughTapdeck, TheRecordingReplayedGivesTheKeysTheSessionGave) {
    for (const TapdeckCase& c : TapdeckCases) {
        SCOPED_TRACE(Narrow(c.file));
        RemoveAll();
        std::vector<vtp::Bytes> features(1);
        std::string error;
        ASSERT_TRUE(vtp::ParseHex(c.feature, features[0], error)) << error;
        ASSERT_NO_FATAL_FAILURE(Install(L"pad", c.file, features));
        const HANDLE device = RawInputHandle(L"pad", c.collection);
        ASSERT_NE(device, nullptr) << vtp::DescribeDelivery(L"pad");
        PadReports reports;
        ASSERT_TRUE(reports.Open(device, error)) << error;
        const Session session = SessionScript(reports, "pad", error);
        ASSERT_TRUE(error.empty()) << error;
        std::vector<vtp::Step> steps;
        ASSERT_TRUE(vtp::ParseScript(session.script, steps, error)) << error;

        // The session, recorded by the setting under HKEY_CURRENT_USER.
        const std::wstring folder = NewFolder(L"tr");
        KeyHook hook;
        ASSERT_TRUE(hook.Installed());
        ChildProcess app;
        {
            const ScopedVariable noVariable(RecordReportsVariable, L"");
            const ScopedSetting setting(RecordReportsValue, folder);
            app = ChildProcess::Start(EnvironmentValue(L"TAPDECK_EXE"), L"", {});
            ASSERT_NE(WaitForRecording(folder, 20000), L"")
                << "Tapdeck made no claim: " << app.Output();
            ptptest::WaitOutClaimSettle();
        }
        ASSERT_TRUE(vtp::PlayScript(steps, EnvironmentValue(L"VTP_DRIVER_DIR"), error)) << error;
        ASSERT_TRUE(app.Wait(20000)) << "the exit button did not end Tapdeck\n"
                                     << vtp::DescribeDelivery(L"pad");
        EXPECT_EQ(app.ExitCode(), 0u);
        hook.WaitFor(SessionKeys().size(), 3000);
        const std::vector<KeyRecord> live = hook.Events();
        EXPECT_EQ(live, SessionKeys());

        // The two commands, and tapdeck.exe on the pad they make.
        const Recording recording = OnlyRecordingIn(folder);
        RemoveAll();
        std::string output;
        ASSERT_EQ(
            RunVtpctl(L"install \"@" + recording.Path(recording.name + ".args") + L"\"", output),
            0u)
            << output;
        hook.Clear();
        const std::wstring again = NewFolder(L"tr");
        ChildProcess replay = StartRecording(again);
        ASSERT_FALSE(HasFatalFailure());
        ASSERT_EQ(RunVtpctl(L"play \"" + recording.Path("session.script") + L"\"", output), 0u)
            << output;
        ASSERT_TRUE(replay.Wait(20000)) << "the recorded exit did not end Tapdeck";
        EXPECT_EQ(replay.ExitCode(), 0u);
        hook.WaitFor(live.size(), 3000);
        EXPECT_EQ(hook.Events(), live);
        EXPECT_EQ(StepsWithoutWaits(OnlyRecordingIn(again).script),
                  StepsWithoutWaits(recording.script));
    }
}

// ---- Recorded laptops ----

// The keys a recorded laptop's session must give (keys.txt beside it): one a line, a key's
// name (VK_..., a letter or a digit, or 0xNN) and how many strokes of it in a row (1 where none
// is given), or "down" or "up" for one event alone; comments from '#'.
bool ReadKeys(const std::string& text, std::vector<KeyRecord>& keys, std::string& error) {
    static constexpr std::pair<const char*, DWORD> Names[] = {
        {"VK_MEDIA_PLAY_PAUSE", VK_MEDIA_PLAY_PAUSE},
        {"VK_MEDIA_NEXT_TRACK", VK_MEDIA_NEXT_TRACK},
        {"VK_MEDIA_PREV_TRACK", VK_MEDIA_PREV_TRACK},
        {"VK_MEDIA_STOP", VK_MEDIA_STOP},
        {"VK_VOLUME_UP", VK_VOLUME_UP},
        {"VK_VOLUME_DOWN", VK_VOLUME_DOWN},
        {"VK_VOLUME_MUTE", VK_VOLUME_MUTE},
        {"VK_BROWSER_HOME", VK_BROWSER_HOME},
        {"VK_LAUNCH_MAIL", VK_LAUNCH_MAIL},
        {"VK_LAUNCH_MEDIA_SELECT", VK_LAUNCH_MEDIA_SELECT},
        {"VK_LWIN", VK_LWIN},
        {"VK_CONTROL", VK_CONTROL},
        {"VK_UP", VK_UP},
        {"VK_DOWN", VK_DOWN},
        {"VK_F8", VK_F8},
        {"VK_F9", VK_F9},
        {"VK_F10", VK_F10},
        {"VK_F11", VK_F11},
    };
    keys.clear();
    for (const std::string& line : Steps(text)) {
        char name[48] = {};
        char how[16] = {};
        if (std::sscanf(line.c_str(), "%47s %15s", name, how) < 1) {
            continue;
        }
        DWORD vk = 0;
        const std::string word = name;
        for (const auto& [known, code] : Names) {
            vk = word == known ? code : vk;
        }
        if (vk == 0 && word.size() == 1 && std::isalnum(static_cast<unsigned char>(word[0]))) {
            vk = static_cast<DWORD>(std::toupper(static_cast<unsigned char>(word[0])));
        } else if (vk == 0 && word.rfind("0x", 0) == 0) {
            vk = std::strtoul(word.c_str(), nullptr, 16);
        }
        const std::string count = how;
        const int times = count.empty() ? 1 : std::atoi(count.c_str());
        if (vk == 0 || (count != "down" && count != "up" && times <= 0)) {
            error = "not a key: " + line;
            return false;
        }
        if (count == "down" || count == "up") {
            keys.push_back({vk, count == "up", true});
        } else {
            for (const KeyRecord& key : Strokes(vk, times)) {
                keys.push_back(key);
            }
        }
    }
    return true;
}

TEST_F(ThroughTapdeck, EveryRecordedLaptopGivesItsKeys) {
    const std::wstring laptops = EnvironmentValue(L"VTP_PADS") + L"\\laptops";
    const std::vector<std::wstring> recordings = SubfoldersOf(laptops);
    ASSERT_FALSE(recordings.empty()) << "no recorded laptop under " << Narrow(laptops);
    for (const std::wstring& laptop : recordings) {
        SCOPED_TRACE(Narrow(laptop));
        const std::wstring folder = laptops + L"\\" + laptop;
        std::vector<KeyRecord> expected;
        std::string error;
        ASSERT_TRUE(ReadKeys(ReadWholeFile(folder + L"\\keys.txt"), expected, error)) << error;
        RemoveAll();
        std::string output;
        for (const std::wstring& file : FilesIn(folder)) {
            if (file.size() > 5 && file.substr(file.size() - 5) == L".args") {
                ASSERT_EQ(RunVtpctl(L"install \"@" + folder + L"\\" + file + L"\"", output), 0u)
                    << output;
            }
        }
        KeyHook hook;
        ASSERT_TRUE(hook.Installed());
        ChildProcess app = StartRecording(NewFolder(L"lt"));
        ASSERT_FALSE(HasFatalFailure());
        ASSERT_EQ(RunVtpctl(L"play \"" + folder + L"\\session.script\"", output), 0u) << output;
        // The session ends with a tap on the exit button: every key has come once Tapdeck ends.
        ASSERT_TRUE(app.Wait(20000)) << "the session did not end Tapdeck";
        EXPECT_EQ(app.ExitCode(), 0u);
        hook.WaitFor(expected.size(), 3000);
        EXPECT_EQ(hook.Events(), expected);
    }
}

} // namespace
