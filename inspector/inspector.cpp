#include "inspector.h"

#include <windows.h>

#include <optional>

#include "device/unique_handle.h"
#include "model.h"
#include "options.h"
#include "picture.h"
#include "report.h"
#include "source.h"
#include "touches.h"
#include "utf8.h"

namespace inspector {

namespace {

std::optional<std::string> ReadFileText(const std::wstring& path) {
    HANDLE opened = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    const UniqueHandle file(opened);
    std::string text;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file.Get(), chunk, sizeof chunk, &got, nullptr) && got > 0) {
        text.append(chunk, got);
    }
    return text;
}

bool WriteFileText(const std::wstring& path, const std::string& text) {
    HANDLE created = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (created == INVALID_HANDLE_VALUE) {
        return false;
    }
    const UniqueHandle file(created);
    DWORD written = 0;
    return WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

std::string FileName(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return Utf8(slash == std::wstring::npos ? path : path.substr(slash + 1));
}

} // namespace

RunResult RunInspector(const std::vector<std::wstring>& args) {
    RunResult result;
    auto parsed = ParseOptions(args);
    if (const auto* error = std::get_if<UsageError>(&parsed)) {
        result.exitCode = NoBounds;
        result.err = "tapdeck-layout: " + error->message + "\n\n" + Usage;
        return result;
    }
    const Options& options = std::get<Options>(parsed);
    if (options.help) {
        result.out = Usage;
        return result;
    }

    std::vector<Touch> touches;
    if (!options.touchesPath.empty()) {
        const auto text = ReadFileText(options.touchesPath);
        if (!text) {
            result.exitCode = NoBounds;
            result.err =
                "tapdeck-layout: cannot read the scenario " + Utf8(options.touchesPath) + "\n";
            return result;
        }
        auto read = TouchesFromScenario(*text);
        if (const auto* error = std::get_if<std::string>(&read)) {
            result.exitCode = NoBounds;
            result.err = "tapdeck-layout: " + Utf8(options.touchesPath) + ": " + *error + "\n";
            return result;
        }
        touches = std::move(std::get<std::vector<Touch>>(read));
    }

    Inspection inspection;
    inspection.origin = options.bounds ? GivenBounds(*options.bounds) : CurrentBounds();
    std::optional<LayoutModel> model;
    if (inspection.origin.problem == SourceProblem::None) {
        model = Inspect(inspection.origin.bounds);
        inspection.model = &*model;
    }
    if (!options.touchesPath.empty()) {
        inspection.touches = &touches;
        inspection.touchesName = FileName(options.touchesPath);
    }
    result.exitCode = ExitCodeOf(inspection);
    result.out = options.json ? JsonReport(inspection) : TextReport(inspection);

    if (!options.svgPath.empty()) {
        if (!model) {
            result.err = "tapdeck-layout: no picture written: no bounds\n";
        } else if (!WriteFileText(options.svgPath,
                                  PictureSvg(inspection.origin, *model, inspection.touches,
                                             inspection.touchesName))) {
            result.exitCode = NoBounds;
            result.err = "tapdeck-layout: cannot write the picture " + Utf8(options.svgPath) + "\n";
        }
    }
    return result;
}

} // namespace inspector
