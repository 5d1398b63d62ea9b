#include "report_recorder.h"

#include <winternl.h>
#include <hidusage.h>
extern "C" {
#include <hidpi.h>
#include <hidsdi.h>
}

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <iterator>
#include <optional>
#include <utility>

#include "hid_descriptor.h"
#include "preparsed_reader.h"
#include "recording_format.h"
#include "scenario_writer.h"

namespace {

namespace recording = ptp::recording;

// An event in the ring: its whole length, kind, device, time, then its bytes.
struct EventHeader {
    uint32_t length;
    uint32_t kind;
    uint64_t device;
    int64_t timeUs;
};

// Room kept in the session file, within its cap, for the line that says why it ends.
constexpr uint64_t LastLineRoom = 256;
// How often the writer looks at the ring while reports come, and how many looks with nothing
// before it sleeps until woken.
constexpr DWORD DrainMs = 50;
constexpr int IdleLooksBeforeSleep = 20;
// Recordings that start in one second, at most.
constexpr int MaxSubfolders = 99;

constexpr uint16_t PageDigitizer = 0x0D;
constexpr uint16_t UsageTouchpad = 0x05;
constexpr uint16_t UsageContactCountMaximum = 0x55;
constexpr uint16_t UsagePadType = 0x59;

std::string Utf8(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size > 0 ? size : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end()); // names made of ASCII only
}

std::string Now() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay,
                  t.wHour, t.wMinute, t.wSecond);
    return text;
}

std::string ErrorText(const char* what, DWORD error) {
    std::string text = std::string(what) + " (error " + std::to_string(error);
    if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL) {
        text += ", the disk is full";
    } else if (error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT) {
        text += ", it cannot be written";
    }
    return text + ")";
}

// Makes the folder and those above it that are missing.
bool MakeFolder(const std::wstring& folder) {
    if (folder.empty()) {
        return false;
    }
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }
    const size_t slash = folder.find_last_of(L"\\/");
    if (slash != std::wstring::npos && slash > 0 && folder[slash - 1] != L':') {
        MakeFolder(folder.substr(0, slash));
    }
    return CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

// What the writer finds out about a pad when it arrives; from the device while it is there.
struct Facts {
    std::wstring path;
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    uint16_t versionNumber = 0;
    std::string product;
    std::string serial;
    std::vector<std::vector<uint8_t>> features;
    std::vector<std::string> notes; // what could not be read
};

// The ids of the feature reports velptp reads (contact count maximum, pad type), each with its
// length in bytes, its id's included.
std::vector<std::pair<uint8_t, size_t>> FeaturesRead(const ptp::hid::ParsedCollection& model) {
    std::vector<std::pair<uint8_t, size_t>> ids;
    for (const ptp::hid::Field& f : model.fields) {
        if (f.kind != ptp::hid::ReportKind::Feature || f.usagePage != PageDigitizer ||
            (f.usageMin != UsageContactCountMaximum && f.usageMin != UsagePadType)) {
            continue;
        }
        if (std::none_of(ids.begin(), ids.end(),
                         [&](const auto& id) { return id.first == f.reportId; })) {
            ids.emplace_back(f.reportId, 0);
        }
    }
    for (auto& [id, length] : ids) {
        for (const ptp::hid::Field& f : model.fields) {
            if (f.kind == ptp::hid::ReportKind::Feature && f.reportId == id) {
                length = std::max<size_t>(length, (f.bit + ptp::hid::FieldBits(f) + 7) / 8);
            }
        }
    }
    return ids;
}

Facts FindFacts(HANDLE device, const ptp::hid::ParsedCollection* model) {
    Facts facts;
    wchar_t path[512] = {};
    UINT size = 511;
    if (GetRawInputDeviceInfoW(device, RIDI_DEVICENAME, path, &size) != static_cast<UINT>(-1)) {
        facts.path = path;
    }
    RID_DEVICE_INFO info = {};
    info.cbSize = sizeof info;
    size = sizeof info;
    if (GetRawInputDeviceInfoW(device, RIDI_DEVICEINFO, &info, &size) != static_cast<UINT>(-1) &&
        info.dwType == RIM_TYPEHID) {
        facts.vendorId = static_cast<uint16_t>(info.hid.dwVendorId);
        facts.productId = static_cast<uint16_t>(info.hid.dwProductId);
        facts.versionNumber = static_cast<uint16_t>(info.hid.dwVersionNumber);
    }
    if (facts.path.empty()) {
        facts.notes.push_back("the device was gone before its name could be read");
        return facts;
    }
    // Feature reports need the device opened for reading and writing; its strings do not.
    HANDLE file =
        CreateFileW(facts.path.c_str(), GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        file = CreateFileW(facts.path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    }
    if (file == INVALID_HANDLE_VALUE) {
        facts.notes.push_back(ErrorText("the device could not be opened", GetLastError()));
        return facts;
    }
    const UniqueHandle owned(file);
    wchar_t product[256] = {};
    if (HidD_GetProductString(file, product, sizeof product - sizeof(wchar_t))) {
        facts.product = Utf8(product);
    }
    wchar_t serial[256] = {};
    if (HidD_GetSerialNumberString(file, serial, sizeof serial - sizeof(wchar_t))) {
        facts.serial = Utf8(serial);
    }
    if (model == nullptr) {
        return facts;
    }
    for (const auto& [id, length] : FeaturesRead(*model)) {
        std::vector<uint8_t> answer(std::max<size_t>(model->reportBytes[2], length), 0);
        answer[0] = id;
        if (!HidD_GetFeature(file, answer.data(), static_cast<ULONG>(answer.size()))) {
            facts.notes.push_back(ErrorText(("feature report " + std::to_string(id) +
                                             " could not be read; a replay answers it with zeros")
                                                .c_str(),
                                            GetLastError()));
            continue;
        }
        answer.resize(length);
        facts.features.push_back(std::move(answer));
    }
    return facts;
}

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) {
        c = static_cast<wchar_t>(towlower(c));
    }
    return text;
}

// A device back after an unplug: its path where that is kept (a pad on the same port or bus),
// else what it says it is, its serial number included.
bool SameDevice(const Facts& a, const Facts& b) {
    if (!a.path.empty() && Lower(a.path) == Lower(b.path)) {
        return true;
    }
    return !a.product.empty() && a.vendorId == b.vendorId && a.productId == b.productId &&
           a.versionNumber == b.versionNumber && a.product == b.product && a.serial == b.serial;
}

std::string Size(uint64_t bytes) {
    return bytes % (1u << 20) == 0 ? std::to_string(bytes >> 20) + " MiB"
                                   : std::to_string(bytes) + " bytes";
}

} // namespace

const char* const ReportRecorder::VelptpVersion = VELPTP_VERSION_TEXT;

// The writer thread's own state.
struct ReportRecorder::Writer {
    struct Pad {
        HANDLE device = nullptr;
        bool present = true;
        Facts facts;
        std::vector<BYTE> preparsed;
        std::optional<ptp::hid::ParsedCollection> model;
        std::string modelError;
        std::string name;
        bool inScript = false;
        // Its reports carry no report id: raw input puts a 0 first, which the device does not
        // send and the script leaves out.
        bool withoutIds = false;
    };

    explicit Writer(const Options& given) : options(given) {}

    bool Start() {
        if (!MakeFolder(options.folder)) {
            return End(ErrorText("the folder cannot be made", GetLastError()));
        }
        if (options.newSubfolder && !MakeSubfolder()) {
            return End(ErrorText("no subfolder can be made in the folder", GetLastError()));
        }
        session = Create(L"session.script");
        if (!session) {
            return End(ErrorText("session.script cannot be made in the folder", GetLastError()));
        }
        return Append(recording::CommentLine("A session of a touchpad's raw reports, recorded by "
                                             "velptp " +
                                             options.velptpVersion + " on " + Now() + ".") +
                      recording::CommentLine("Replay it under Wine (docs/virtual-touchpad.md): "
                                             "for each NAME.args here") +
                      recording::CommentLine("  vtpctl install @NAME.args") +
                      recording::CommentLine("then") +
                      recording::CommentLine("  vtpctl play session.script")) &&
               Flush();
    }

    void Handle(EventKind kind, HANDLE device, int64_t timeUs, const uint8_t* bytes,
                size_t length) {
        if (kind == EventKind::Arrived) {
            Arrived(device, timeUs, bytes, length);
            return;
        }
        Pad* pad = Find(device);
        if (pad == nullptr) {
            return; // its arrival was not recorded (the ring was full)
        }
        if (kind == EventKind::Removed) {
            pad->present = false;
            if (pad->inScript) {
                Step(timeUs, recording::RemoveLine(pad->name));
                clock.emplace(timeUs); // vtpctl's clock starts again after a remove
            }
            return;
        }
        if (pad->name.empty() && !WriteFiles(*pad)) {
            return;
        }
        pad->inScript = true;
        if (pad->withoutIds && length > 1 && bytes[0] == 0) {
            ++bytes;
            --length;
        }
        Step(timeUs, recording::ReportLine(pad->name, bytes, length));
    }

    void Lost(uint32_t count) {
        Append(recording::CommentLine(std::to_string(count) +
                                      " reports were not recorded here: the writer fell behind"));
    }

    // Writes what is buffered; a failure ends the recording.
    bool Flush() {
        if (!session || buffer.empty()) {
            return session.operator bool();
        }
        DWORD written = 0;
        if (!WriteFile(session.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &written,
                       nullptr) ||
            written != buffer.size()) {
            const DWORD error = GetLastError();
            buffer.clear();
            return End(ErrorText("writing session.script failed", error));
        }
        buffer.clear();
        return true;
    }

    void Finish() {
        if (session) {
            Append(recording::CommentLine("The session ends here."));
            Flush();
            session.Reset();
        }
    }

    // Ends the recording: the reason, and a last line that says it where the file takes one.
    bool End(const std::string& why) {
        if (ended) {
            return false;
        }
        ended = true;
        reason = why;
        if (session) {
            buffer = recording::CommentLine("The recording ends here: " + why + ".");
            DWORD written = 0;
            WriteFile(session.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &written,
                      nullptr);
            buffer.clear();
            session.Reset();
        }
        return false;
    }

    Options options;
    bool ended = false;
    std::string reason;

private:
    // A subfolder of its own: two recordings that start in the same second (two devices
    // claimed at once) each get one, CreateDirectory deciding which.
    bool MakeSubfolder() {
        SYSTEMTIME t;
        GetLocalTime(&t);
        wchar_t stamp[32];
        std::swprintf(stamp, std::size(stamp), L"%04u-%02u-%02u_%02u-%02u-%02u", t.wYear, t.wMonth,
                      t.wDay, t.wHour, t.wMinute, t.wSecond);
        for (int n = 1; n <= MaxSubfolders; ++n) {
            const std::wstring name =
                options.folder + L"\\" + stamp + (n == 1 ? L"" : L"-" + std::to_wstring(n));
            if (CreateDirectoryW(name.c_str(), nullptr)) {
                options.folder = name;
                return true;
            }
            if (GetLastError() != ERROR_ALREADY_EXISTS) {
                return false;
            }
        }
        return false;
    }

    Pad* Find(HANDLE device) {
        for (Pad& pad : pads) {
            if (pad.present && pad.device == device) {
                return &pad;
            }
        }
        return nullptr;
    }

    void Arrived(HANDLE device, int64_t timeUs, const uint8_t* preparsed, size_t length) {
        Pad arriving;
        arriving.device = device;
        arriving.preparsed.assign(preparsed, preparsed + length);
        ptp::hid::ParsedCollection model;
        if (ReadPreparsed(arriving.preparsed.data(), model, arriving.modelError)) {
            arriving.withoutIds = std::none_of(
                model.fields.begin(), model.fields.end(), [](const ptp::hid::Field& f) {
                    return f.kind == ptp::hid::ReportKind::Input && f.reportId != 0;
                });
            arriving.model = std::move(model);
        }
        arriving.facts = FindFacts(device, arriving.model ? &*arriving.model : nullptr);
        // The same device back: `add` where it went.
        for (Pad& pad : pads) {
            if (!pad.present && SameDevice(pad.facts, arriving.facts)) {
                pad.device = device;
                pad.present = true;
                if (pad.inScript) {
                    Step(timeUs, recording::AddLine(pad.name));
                    clock.emplace(timeUs); // and again after an add
                }
                return;
            }
        }
        pads.push_back(std::move(arriving));
    }

    // The pad's name, descriptor and install arguments, at its first report.
    bool WriteFiles(Pad& pad) {
        std::vector<std::string> taken;
        for (const Pad& other : pads) {
            if (!other.name.empty()) {
                taken.push_back(other.name);
            }
        }
        pad.name = recording::PadName(pad.facts.product, taken);
        ptp::hid::DescriptorHeader header;
        header.product = pad.facts.product;
        header.vendorId = pad.facts.vendorId;
        header.productId = pad.facts.productId;
        header.versionNumber = pad.facts.versionNumber;
        header.date = Now();
        header.velptpVersion = options.velptpVersion;
        std::string descriptor;
        std::vector<ptp::hid::Item> items;
        std::string why = pad.modelError;
        if (pad.model && ptp::hid::BuildItems(*pad.model, items, why)) {
            descriptor = ptp::hid::DescriptorFile(items, *pad.model, header);
        } else {
            descriptor = recording::CommentLine("The report descriptor of " + header.product +
                                                " could not be rebuilt: " + why + ".");
        }
        std::string arguments = recording::CommentLine(
            "vtpctl install @" + pad.name +
            ".args installs this pad for a replay (docs/virtual-touchpad.md).");
        for (const std::string& note : pad.facts.notes) {
            arguments += recording::CommentLine(note + ".");
        }
        arguments +=
            recording::InstallArguments(pad.name, pad.name + ".hid", pad.facts.vendorId,
                                        pad.facts.productId, pad.facts.product, pad.facts.features);
        if (!WriteWhole(pad.name + ".hid", descriptor) ||
            !WriteWhole(pad.name + ".args", arguments)) {
            pad.name.clear();
            return false;
        }
        char ids[48];
        std::snprintf(ids, sizeof ids, ", vendor 0x%04X, product 0x%04X", pad.facts.vendorId,
                      pad.facts.productId);
        return Append(recording::CommentLine(pad.name + ": " + header.product + ids));
    }

    // A step of the script, after the wait since the one before it.
    void Step(int64_t timeUs, const std::string& line) {
        if (!clock) {
            clock.emplace(timeUs);
        }
        const uint32_t pause = clock->PauseBefore(timeUs);
        Append((pause != 0 ? recording::WaitLine(pause) : std::string()) + line);
    }

    bool Append(const std::string& text) {
        if (ended) {
            return false;
        }
        if (sessionBytes + text.size() + LastLineRoom > options.capBytes) {
            Flush();
            return End("session.script reached its limit of " + Size(options.capBytes));
        }
        buffer += text;
        sessionBytes += text.size();
        return true;
    }

    UniqueHandle Create(const std::wstring& name) {
        const std::wstring path = options.folder + L"\\" + name;
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        return UniqueHandle(file == INVALID_HANDLE_VALUE ? nullptr : file);
    }

    bool WriteWhole(const std::string& name, const std::string& text) {
        const UniqueHandle file = Create(Wide(name));
        DWORD written = 0;
        if (!file ||
            !WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written,
                       nullptr) ||
            written != text.size()) {
            return End(ErrorText((name + " cannot be written").c_str(), GetLastError()));
        }
        return true;
    }

    UniqueHandle session;
    std::string buffer;
    uint64_t sessionBytes = 0;
    std::vector<Pad> pads;
    std::optional<ptp::PauseClock> clock;
};

ReportRecorder::ReportRecorder(const Options& options) : writer(std::make_unique<Writer>(options)) {
    size_t size = 4096;
    while (size < options.ringBytes) {
        size *= 2;
    }
    ring.assign(size, 0);
    wake = UniqueHandle(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    thread = UniqueHandle(CreateThread(nullptr, 0, WriterMain, this, 0, nullptr));
    if (!wake || !thread) {
        writer->reason = "the writer thread cannot be started";
        ended.store(true, std::memory_order_release);
    }
}

ReportRecorder::~ReportRecorder() {
    stopping.store(true);
    if (wake) {
        SetEvent(wake.Get());
    }
    if (thread) {
        WaitForSingleObject(thread.Get(), INFINITE);
    }
}

bool ReportRecorder::WaitWritten(DWORD ms) {
    const uint64_t target = head.load();
    const DWORD start = GetTickCount();
    while (handled.load() < target) {
        if (GetTickCount() - start > ms) {
            return false;
        }
        SetEvent(wake.Get());
        Sleep(1);
    }
    return true;
}

std::string ReportRecorder::EndReason() const {
    return Ended() ? writer->reason : std::string();
}

void ReportRecorder::PadArrived(HANDLE device, const BYTE* preparsed, size_t length,
                                int64_t nowUs) {
    HIDP_CAPS caps = {};
    if (ended.load(std::memory_order_relaxed) || preparsed == nullptr || length == 0 ||
        HidP_GetCaps(reinterpret_cast<PHIDP_PREPARSED_DATA>(const_cast<BYTE*>(preparsed)), &caps) !=
            HIDP_STATUS_SUCCESS ||
        caps.UsagePage != PageDigitizer || caps.Usage != UsageTouchpad) {
        return;
    }
    if (!Accepted(device)) {
        accepted.push_back(device);
    }
    Push(EventKind::Arrived, device, nowUs, preparsed, length);
    // Taken at once, while the device can still be asked what it is.
    SetEvent(wake.Get());
}

void ReportRecorder::PadRemoved(HANDLE device, int64_t nowUs) {
    if (!Accepted(device)) {
        return;
    }
    std::erase(accepted, device);
    if (!ended.load(std::memory_order_relaxed)) {
        Push(EventKind::Removed, device, nowUs, nullptr, 0);
    }
}

void ReportRecorder::Push(EventKind kind, HANDLE device, int64_t nowUs, const BYTE* bytes,
                          size_t length) {
    const size_t total = sizeof(EventHeader) + length;
    const uint64_t at = head.load(std::memory_order_relaxed);
    if (total > ring.size() - (at - tail.load(std::memory_order_acquire))) {
        lost.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    const EventHeader header = {static_cast<uint32_t>(total), static_cast<uint32_t>(kind),
                                reinterpret_cast<uintptr_t>(device), nowUs};
    const auto put = [&](uint64_t where, const void* from, size_t count) {
        const size_t offset = static_cast<size_t>(where & (ring.size() - 1));
        const size_t first = std::min(count, ring.size() - offset);
        std::memcpy(ring.data() + offset, from, first);
        std::memcpy(ring.data(), static_cast<const uint8_t*>(from) + first, count - first);
    };
    put(at, &header, sizeof header);
    if (length != 0) {
        put(at + sizeof header, bytes, length);
    }
    head.store(at + total);
    // The writer sleeps only after a second with nothing to write: one wake-up per burst.
    if (writerAsleep.load() && writerAsleep.exchange(false)) {
        SetEvent(wake.Get());
    }
}

DWORD WINAPI ReportRecorder::WriterMain(void* self) {
    auto& recorder = *static_cast<ReportRecorder*>(self);
    Writer& writer = *recorder.writer;
    const auto end = [&] {
        recorder.ended.store(true, std::memory_order_release);
        return false;
    };
    if (!writer.Start()) {
        end();
    }
    std::vector<uint8_t> event;
    uint32_t lostSeen = 0;
    int idle = 0;
    for (;;) {
        bool any = false;
        for (uint64_t at = recorder.tail.load(std::memory_order_relaxed);
             at != recorder.head.load(std::memory_order_acquire);
             at = recorder.tail.load(std::memory_order_relaxed)) {
            const auto get = [&](uint64_t where, void* to, size_t count) {
                const size_t offset = static_cast<size_t>(where & (recorder.ring.size() - 1));
                const size_t first = std::min(count, recorder.ring.size() - offset);
                std::memcpy(to, recorder.ring.data() + offset, first);
                std::memcpy(static_cast<uint8_t*>(to) + first, recorder.ring.data(), count - first);
            };
            EventHeader header = {};
            get(at, &header, sizeof header);
            event.resize(header.length - sizeof header);
            get(at + sizeof header, event.data(), event.size());
            recorder.tail.store(at + header.length, std::memory_order_release);
            any = true;
            if (!writer.ended) {
                // NOLINTNEXTLINE(performance-no-int-to-ptr): the handle as the caller gave it
                const auto device = reinterpret_cast<HANDLE>(header.device);
                writer.Handle(static_cast<EventKind>(header.kind), device, header.timeUs,
                              event.data(), event.size());
            }
            recorder.handled.store(at + header.length);
        }
        const uint32_t lostNow = recorder.lost.load(std::memory_order_relaxed);
        if (lostNow != lostSeen && !writer.ended) {
            writer.Lost(lostNow - lostSeen);
            lostSeen = lostNow;
        }
        if (!writer.ended && !writer.Flush()) {
            end();
        }
        if (writer.ended) {
            end();
        }
        if (recorder.stopping.load()) {
            if (recorder.tail.load() == recorder.head.load()) {
                break;
            }
            continue;
        }
        idle = any ? 0 : idle + 1;
        if (idle < IdleLooksBeforeSleep) {
            WaitForSingleObject(recorder.wake.Get(), DrainMs);
            continue;
        }
        recorder.writerAsleep.store(true);
        if (recorder.head.load() != recorder.tail.load() || recorder.stopping.load()) {
            recorder.writerAsleep.store(false);
            continue;
        }
        WaitForSingleObject(recorder.wake.Get(), INFINITE);
        recorder.writerAsleep.store(false);
        idle = 0;
    }
    writer.Finish();
    return 0;
}
