// Inside the simulated library: the session (a scenario as read, with its journal) and the
// journal line writer.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "velsim_core.h"

// What was read when the count of live objects last went from 0 to 1. Immutable once made, so
// any thread may use it; objects and delivery threads share it by shared_ptr.
struct Session {
    Session() = default;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    ~Session();

    bool Journaling() const { return journal != INVALID_HANDLE_VALUE; }
    // Microseconds since the scenario was read.
    long long Micros() const;
    // QueryPerformanceCounter ticks as microseconds.
    long long ToMicros(long long ticks) const;

    Scenario scenario;
    // False when the scenario (or the journal) could not be used: every creation fails.
    bool valid = false;
    HANDLE journal = INVALID_HANDLE_VALUE;
    // Serialises this process's journal writes; other processes are kept out by a file lock.
    mutable SRWLOCK journalLock = SRWLOCK_INIT;
    LARGE_INTEGER start = {};
    LARGE_INTEGER frequency = {};
};

// Reads VELSIM_JOURNAL and VELSIM_SCENARIO and the scenario file; journals the outcome and
// reports a rejected scenario on standard error too. Called under the library's creation lock.
std::shared_ptr<const Session> LoadSession();

// One journal line, built in a fixed buffer (no allocation) and written with one WriteFile.
// Make one only when the session is journaling.
class JournalLine {
public:
    JournalLine(const Session& session, const char* event);
    JournalLine(const JournalLine&) = delete;
    JournalLine& operator=(const JournalLine&) = delete;
    ~JournalLine() = default;

    JournalLine& Num(const char* key, long long value);
    // 0x followed by eight upper-case hexadecimal digits.
    JournalLine& Hex(const char* key, LONG value);
    // Written in double quotes when empty or holding a space, a quote or '='.
    JournalLine& Text(const char* key, std::string_view value);
    JournalLine& Quoted(const char* key, std::string_view value);
    void Write();

private:
    void Append(std::string_view text);
    void AppendNumber(long long value);

    const Session& session;
    // Filled up to `length` before anything reads it, so it is left uninitialised.
    char buffer[1024];
    size_t length = 0;
};

std::string Utf8(std::wstring_view text);
