#include "player.h"

#include <windows.h>

#include <map>
#include <memory>

#include "devices.h"

namespace vtp {

namespace {

std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

} // namespace

bool PlayScript(const std::vector<Step>& steps, const std::wstring& driverDir, std::string& error) {
    std::map<std::string, std::unique_ptr<PadFeeder>> feeders;
    LARGE_INTEGER frequency;
    LARGE_INTEGER now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    // When the next step is due, in counter ticks.
    LONGLONG due = now.QuadPart;
    for (const Step& step : steps) {
        const std::string where = "line " + std::to_string(step.line) + ": ";
        switch (step.kind) {
        case Step::Kind::Wait:
            due += static_cast<LONGLONG>(step.ms) * frequency.QuadPart / 1000;
            for (QueryPerformanceCounter(&now); now.QuadPart < due; QueryPerformanceCounter(&now)) {
                const LONGLONG ms = (due - now.QuadPart) * 1000 / frequency.QuadPart;
                Sleep(ms > 1 ? static_cast<DWORD>(ms - 1) : 0);
            }
            break;
        case Step::Kind::Report: {
            std::unique_ptr<PadFeeder>& feeder = feeders[step.pad];
            if (!feeder) {
                feeder = std::make_unique<PadFeeder>();
                if (!feeder->Open(Wide(step.pad), error)) {
                    feeder.reset();
                    error.insert(0, where);
                    return false;
                }
            }
            if (!feeder->Send(step.report, error)) {
                error.insert(0, where);
                return false;
            }
            break;
        }
        case Step::Kind::Remove:
        case Step::Kind::Add:
            feeders.erase(step.pad);
            if (!(step.kind == Step::Kind::Remove ? RemovePad(Wide(step.pad), error)
                                                  : AddPad(Wide(step.pad), driverDir, error))) {
                error.insert(0, where);
                return false;
            }
            // Unplugging and plugging take their time: the script's clock starts again.
            QueryPerformanceCounter(&now);
            due = now.QuadPart;
            break;
        }
    }
    return true;
}

} // namespace vtp
