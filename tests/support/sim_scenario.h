// Pointing the simulated touchpad library at a scenario and a journal, in the current process
// (and in child processes it starts afterwards, which inherit the environment).
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "support/sim_journal.h"

// Writes the scenario text to a fresh temporary file and sets VELSIM_SCENARIO to it and
// VELSIM_JOURNAL to a fresh empty journal. The library reads them when its count of live
// objects next goes from 0 to 1, so make one while no object of the library is alive.
// Destruction restores both variables and deletes the files. Not copyable or movable.
class SimScenario {
public:
    explicit SimScenario(std::string_view text);
    // The default scenario (VELSIM_SCENARIO unset) with a fresh journal.
    static SimScenario Default() { return SimScenario(nullptr); }
    ~SimScenario();
    SimScenario(const SimScenario&) = delete;
    SimScenario& operator=(const SimScenario&) = delete;

    const std::wstring& ScenarioPath() const { return scenarioPath; }
    const std::wstring& JournalPath() const { return journalPath; }
    std::vector<JournalRecord> Journal() const { return ReadJournal(journalPath); }

private:
    explicit SimScenario(std::nullptr_t);
    void SetUp(const std::string_view* text);

    std::wstring scenarioPath;
    std::wstring journalPath;
    // The variables' values before, to restore; `had` false when one was unset.
    std::wstring oldScenario;
    std::wstring oldJournal;
    bool hadScenario = false;
    bool hadJournal = false;
};

// velsim.dll's test exports, from the copy this process has loaded (VELSIM_DLL is loaded and
// kept loaded on first use). -1 / FALSE when the library cannot be loaded.
LONG SimLiveObjects();
BOOL SimWaitDelivery(DWORD ms);
// The loaded velsim.dll (null when it cannot be loaded); the process keeps it loaded.
HMODULE SimModule();

// A Windows path of a fresh temporary file (created empty).
std::wstring SimTempFile(const wchar_t* prefix);
