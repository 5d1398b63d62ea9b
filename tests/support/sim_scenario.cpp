#include "support/sim_scenario.h"

#include "velsim_core.h"

namespace {

bool GetVariable(const wchar_t* name, std::wstring& value) {
    DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0) {
        return false;
    }
    value.resize(size);
    DWORD got = GetEnvironmentVariableW(name, value.data(), size);
    value.resize(got < size ? got : 0);
    return got != 0 && got < size;
}

void Restore(const wchar_t* name, bool had, const std::wstring& value) {
    SetEnvironmentVariableW(name, had ? value.c_str() : nullptr);
}

} // namespace

std::wstring SimTempFile(const wchar_t* prefix) {
    wchar_t dir[MAX_PATH + 1] = {};
    wchar_t file[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, dir);
    GetTempFileNameW(dir, prefix, 0, file);
    return file;
}

SimScenario::SimScenario(std::string_view text) {
    SetUp(&text);
}

SimScenario::SimScenario(std::nullptr_t) {
    SetUp(nullptr);
}

void SimScenario::SetUp(const std::string_view* text) {
    hadScenario = GetVariable(L"VELSIM_SCENARIO", oldScenario);
    hadJournal = GetVariable(L"VELSIM_JOURNAL", oldJournal);
    journalPath = SimTempFile(L"vsj");
    SetEnvironmentVariableW(L"VELSIM_JOURNAL", journalPath.c_str());
    if (text == nullptr) {
        SetEnvironmentVariableW(L"VELSIM_SCENARIO", nullptr);
        return;
    }
    scenarioPath = SimTempFile(L"vss");
    HANDLE file = CreateFileW(scenarioPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, text->data(), static_cast<DWORD>(text->size()), &written, nullptr);
        CloseHandle(file);
    }
    SetEnvironmentVariableW(L"VELSIM_SCENARIO", scenarioPath.c_str());
}

SimScenario::~SimScenario() {
    Restore(L"VELSIM_SCENARIO", hadScenario, oldScenario);
    Restore(L"VELSIM_JOURNAL", hadJournal, oldJournal);
    if (!scenarioPath.empty()) {
        DeleteFileW(scenarioPath.c_str());
    }
    DeleteFileW(journalPath.c_str());
}

HMODULE SimModule() {
    static HMODULE module = [] {
        std::wstring path;
        return GetVariable(L"VELSIM_DLL", path) ? LoadLibraryW(path.c_str()) : nullptr;
    }();
    return module;
}

LONG SimLiveObjects() {
    HMODULE m = SimModule();
    auto fn = m ? reinterpret_cast<VelSimLiveObjectsFn>(
                      reinterpret_cast<void*>(GetProcAddress(m, "VelSimLiveObjects")))
                : nullptr;
    return fn ? fn() : -1;
}

BOOL SimWaitDelivery(DWORD ms) {
    HMODULE m = SimModule();
    auto fn = m ? reinterpret_cast<VelSimWaitDeliveryFn>(
                      reinterpret_cast<void*>(GetProcAddress(m, "VelSimWaitDelivery")))
                : nullptr;
    return fn ? fn(ms) : FALSE;
}
