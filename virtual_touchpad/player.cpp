#include "player.h"

#include <windows.h>

#include <map>
#include <memory>

#include "delivery.h"
#include "devices.h"

namespace vtp {

namespace {

std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

using Feeders = std::map<std::string, std::unique_ptr<PadFeeder>>;

// The pad's devices opened, and known to Wine's device host, so that its first report is as
// quick as the others.
bool Open(Feeders& feeders, const std::string& pad, std::string& error) {
    auto feeder = std::make_unique<PadFeeder>();
    if (!feeder->Open(Wide(pad), error) || !feeder->Prime(error)) {
        return false;
    }
    feeders[pad] = std::move(feeder);
    return true;
}

LONGLONG Now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

} // namespace

bool PlayScript(const std::vector<Step>& steps, const std::wstring& driverDir, std::string& error,
                std::vector<int64_t>* due) {
    Feeders feeders;
    // Each pad whose first step is a report is there now: its devices are opened before the
    // clock starts. (One that the script adds first is opened when it is added.)
    std::map<std::string, bool> firstSeen;
    for (const Step& step : steps) {
        if (step.kind == Step::Kind::Wait || !firstSeen.emplace(step.pad, true).second ||
            step.kind != Step::Kind::Report) {
            continue;
        }
        if (!Open(feeders, step.pad, error)) {
            error.insert(0, "line " + std::to_string(step.line) + ": ");
            return false;
        }
    }
    if (!ReadyDesktopForReports(error)) {
        return false;
    }
    if (due != nullptr) {
        due->assign(steps.size(), 0);
    }
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    // When the next step is due, in counter ticks.
    LONGLONG next = Now();
    for (size_t i = 0; i < steps.size(); ++i) {
        const Step& step = steps[i];
        const std::string where = "line " + std::to_string(step.line) + ": ";
        switch (step.kind) {
        case Step::Kind::Wait:
            next += static_cast<LONGLONG>(step.ms) * frequency.QuadPart / 1000;
            // The check for the reports to come, in the wait's time rather than theirs.
            if (!ReadyDesktopForReports(error)) {
                error.insert(0, where);
                return false;
            }
            for (LONGLONG now = Now(); now < next; now = Now()) {
                const LONGLONG ms = (next - now) * 1000 / frequency.QuadPart;
                Sleep(ms > 1 ? static_cast<DWORD>(ms - 1) : 0);
            }
            break;
        case Step::Kind::Report: {
            // A pad fed after it was removed, and not added by the script, is opened now.
            if (feeders.count(step.pad) == 0 && !Open(feeders, step.pad, error)) {
                error.insert(0, where);
                return false;
            }
            if (due != nullptr) {
                (*due)[i] = next;
            }
            if (!feeders[step.pad]->SendPrepared(step.report, error)) {
                error.insert(0, where);
                return false;
            }
            break;
        }
        case Step::Kind::Remove:
        case Step::Kind::Add:
            feeders.erase(step.pad);
            if (!(step.kind == Step::Kind::Remove ? RemovePad(Wide(step.pad), error)
                                                  : AddPad(Wide(step.pad), driverDir, error) &&
                                                        Open(feeders, step.pad, error)) ||
                !ReadyDesktopForReports(error)) {
                error.insert(0, where);
                return false;
            }
            // Unplugging and plugging take their time: the script's clock starts again.
            next = Now();
            break;
        }
    }
    return true;
}

} // namespace vtp
