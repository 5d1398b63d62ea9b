// Reading the scenario and the journal it is paired with, and writing journal lines.
#include "session.h"

#include <cstring>

namespace {

// The environment variable's value; false when it is not set.
bool ReadEnvironment(const wchar_t* name, std::wstring& value) {
    DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0) {
        return false;
    }
    value.resize(size);
    DWORD got = GetEnvironmentVariableW(name, value.data(), size);
    if (got == 0 || got >= size) {
        return false;
    }
    value.resize(got);
    return true;
}

bool ReadWholeFile(const std::wstring& path, std::string& text) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool ok = true;
    char chunk[4096];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, chunk, sizeof chunk, &got, nullptr)) {
            ok = false;
            break;
        }
        if (got == 0) {
            break;
        }
        text.append(chunk, got);
    }
    CloseHandle(file);
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        text.erase(0, 3);
    }
    return ok;
}

void WriteStandardError(const std::string& text) {
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    if (err != nullptr && err != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(err, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }
}

// Rejects the session: journal (when there is one) and standard error.
void Reject(const Session& session, const std::string& path, int line, const std::string& what) {
    if (session.Journaling()) {
        JournalLine(session, "ScenarioError")
            .Text("path", path)
            .Num("line", line)
            .Quoted("message", what)
            .Write();
    }
    WriteStandardError("velsim: " + path + "(" + std::to_string(line) + "): " + what + "\r\n");
}

} // namespace

std::string Utf8(std::wstring_view text) {
    if (text.empty()) {
        return {};
    }
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                   0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

Session::~Session() {
    if (journal != INVALID_HANDLE_VALUE) {
        CloseHandle(journal);
    }
}

long long Session::ToMicros(long long ticks) const {
    // Split to keep ticks * 1e6 from overflowing on long runs.
    long long seconds = ticks / frequency.QuadPart;
    long long rest = ticks % frequency.QuadPart;
    return seconds * 1000000 + rest * 1000000 / frequency.QuadPart;
}

long long Session::Micros() const {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return ToMicros(now.QuadPart - start.QuadPart);
}

std::shared_ptr<const Session> LoadSession() {
    auto session = std::make_shared<Session>();
    QueryPerformanceFrequency(&session->frequency);
    QueryPerformanceCounter(&session->start);

    std::wstring journalPath;
    if (ReadEnvironment(L"VELSIM_JOURNAL", journalPath)) {
        // Append-only access makes every WriteFile land at the end of the file, even when
        // several processes share it.
        session->journal = CreateFileW(journalPath.c_str(), FILE_APPEND_DATA,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (session->journal == INVALID_HANDLE_VALUE) {
            Reject(*session, Utf8(journalPath), 0, "cannot open the journal file");
            return session;
        }
    }

    std::wstring scenarioPath;
    if (!ReadEnvironment(L"VELSIM_SCENARIO", scenarioPath)) {
        session->valid = true;
        if (session->Journaling()) {
            JournalLine(*session, "Scenario")
                .Text("path", "default")
                .Num("packets", 0)
                .Num("clock", session->ToMicros(session->start.QuadPart))
                .Write();
        }
        return session;
    }
    std::string path = Utf8(scenarioPath);
    std::string text;
    if (!ReadWholeFile(scenarioPath, text)) {
        Reject(*session, path, 0, "cannot read the scenario file");
        return session;
    }
    auto parsed = ParseScenario(text);
    if (auto* error = std::get_if<ScenarioError>(&parsed)) {
        Reject(*session, path, error->line, error->message);
        return session;
    }
    session->scenario = std::move(std::get<Scenario>(parsed));
    session->valid = true;
    if (session->Journaling()) {
        JournalLine(*session, "Scenario")
            .Text("path", path)
            .Num("packets", static_cast<long long>(session->scenario.packets.size()))
            .Num("clock", session->ToMicros(session->start.QuadPart))
            .Write();
    }
    return session;
}

// NOLINTNEXTLINE(cppcoreguidelines-pro-type-member-init): the buffer is written before it is read
JournalLine::JournalLine(const Session& s, const char* event) : session(s) {
    AppendNumber(session.Micros());
    Append(" ");
    AppendNumber(GetCurrentProcessId());
    Append(" ");
    AppendNumber(GetCurrentThreadId());
    Append(" ");
    Append(event);
}

void JournalLine::Append(std::string_view text) {
    // One byte stays free for the line end.
    size_t room = sizeof buffer - 1 - length;
    size_t n = text.size() < room ? text.size() : room;
    std::memcpy(buffer + length, text.data(), n);
    length += n;
}

void JournalLine::AppendNumber(long long value) {
    char digits[24];
    size_t n = 0;
    unsigned long long magnitude = value < 0 ? 0ull - static_cast<unsigned long long>(value)
                                             : static_cast<unsigned long long>(value);
    do {
        digits[sizeof digits - 1 - n++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) {
        digits[sizeof digits - 1 - n++] = '-';
    }
    Append(std::string_view(digits + sizeof digits - n, n));
}

JournalLine& JournalLine::Num(const char* key, long long value) {
    Append(" ");
    Append(key);
    Append("=");
    AppendNumber(value);
    return *this;
}

JournalLine& JournalLine::Hex(const char* key, LONG value) {
    static constexpr char hex[] = "0123456789ABCDEF";
    char text[10] = {'0', 'x'};
    auto bits = static_cast<unsigned long>(value);
    for (int i = 0; i < 8; ++i) {
        text[9 - i] = hex[(bits >> (4 * i)) & 0xF];
    }
    Append(" ");
    Append(key);
    Append("=");
    Append(std::string_view(text, sizeof text));
    return *this;
}

JournalLine& JournalLine::Text(const char* key, std::string_view value) {
    if (value.empty() || value.find_first_of(" \t\"=") != std::string_view::npos) {
        return Quoted(key, value);
    }
    Append(" ");
    Append(key);
    Append("=");
    Append(value);
    return *this;
}

JournalLine& JournalLine::Quoted(const char* key, std::string_view value) {
    Append(" ");
    Append(key);
    Append("=\"");
    // A quote inside would end the value early for a reader; it becomes an apostrophe.
    for (char c : value) {
        Append(c == '"' ? std::string_view("'") : std::string_view(&c, 1));
    }
    Append("\"");
    return *this;
}

void JournalLine::Write() {
    buffer[length++] = '\n';
    // Wine emulates append-only access by moving to the end and then writing, so two writers
    // at once can land on the same offset. The lock covers one byte far past any real end.
    OVERLAPPED where = {};
    where.Offset = 0xFFFFFFFF;
    where.OffsetHigh = 0x7FFFFFFF;
    AcquireSRWLockExclusive(&session.journalLock);
    bool locked = LockFileEx(session.journal, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &where) != FALSE;
    DWORD written = 0;
    WriteFile(session.journal, buffer, static_cast<DWORD>(length), &written, nullptr);
    if (locked) {
        UnlockFileEx(session.journal, 0, 1, 0, &where);
    }
    ReleaseSRWLockExclusive(&session.journalLock);
}
