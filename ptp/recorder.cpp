#include "recorder.h"

#include "velptp_core.h"

namespace {

std::wstring Expand(const std::wstring& text) {
    const DWORD size = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
    if (size == 0) {
        return text;
    }
    std::wstring out(size, L'\0');
    const DWORD got = ExpandEnvironmentStringsW(text.c_str(), out.data(), size);
    if (got == 0 || got > size) {
        return text;
    }
    out.resize(got - 1);
    return out;
}

std::wstring FromEnvironment(const wchar_t* variable) {
    const DWORD size = GetEnvironmentVariableW(variable, nullptr, 0);
    if (size == 0) {
        return {};
    }
    std::wstring value(size, L'\0');
    const DWORD got = GetEnvironmentVariableW(variable, value.data(), size);
    if (got == 0 || got >= size) {
        return {};
    }
    value.resize(got);
    return value;
}

std::wstring FromRegistry(const wchar_t* name) {
    DWORD bytes = 0;
    const DWORD flags = RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND;
    if (RegGetValueW(HKEY_CURRENT_USER, SettingsKey, name, flags, nullptr, nullptr, &bytes) !=
            ERROR_SUCCESS ||
        bytes < sizeof(wchar_t)) {
        return {};
    }
    std::wstring value(bytes / sizeof(wchar_t), L'\0');
    if (RegGetValueW(HKEY_CURRENT_USER, SettingsKey, name, flags, nullptr, value.data(), &bytes) !=
        ERROR_SUCCESS) {
        return {};
    }
    value.resize(wcsnlen(value.c_str(), bytes / sizeof(wchar_t)));
    return value;
}

// The variable, else the registry value, expanded.
std::wstring Setting(const wchar_t* variable, const wchar_t* value) {
    std::wstring path = FromEnvironment(variable);
    if (path.empty()) {
        path = FromRegistry(value);
    }
    return path.empty() ? path : Expand(path);
}

} // namespace

std::wstring RecordPath() {
    return Setting(RecordVariable, RecordValue);
}

std::wstring RecordReportsFolder() {
    return Setting(RecordReportsVariable, RecordReportsValue);
}

SessionRecorder::SessionRecorder(const std::wstring& path, const ptp::PadGeometry& pad,
                                 long long startUs)
    : clock(startUs) {
    if (path.empty()) {
        return;
    }
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return;
    }
    file = UniqueHandle(handle);
    const std::string header = ptp::ScenarioHeader(DeviceKindTouchpad, pad);
    Put(header.data(), header.size());
}

void SessionRecorder::Write(const ptp::Packet& packet, long long nowUs) {
    if (!file) {
        return;
    }
    char line[ptp::PacketLineMax];
    const size_t length = ptp::FormatPacketLine(packet, clock.PauseBefore(nowUs), line);
    Put(line, length);
}

void SessionRecorder::Comment(const std::string& text) {
    if (file) {
        const std::string line = "# " + text + "\n";
        Put(line.data(), line.size());
    }
}

void SessionRecorder::Put(const char* text, size_t length) {
    DWORD written = 0;
    if (!WriteFile(file.Get(), text, static_cast<DWORD>(length), &written, nullptr)) {
        file.Reset(); // a full disk or a lost share ends the recording, not the session
    }
}
