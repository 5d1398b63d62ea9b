#include "options.h"

#include <cstdint>

#include "utf8.h"

namespace inspector {

namespace {

// A decimal 32-bit signed number, the whole of `text`.
bool ParseBound(const std::wstring& text, LONG& value) {
    size_t i = 0;
    const bool negative = !text.empty() && (text[0] == L'-' || text[0] == L'+');
    const bool minus = negative && text[0] == L'-';
    i = negative ? 1 : 0;
    if (i == text.size()) {
        return false;
    }
    long long magnitude = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < L'0' || text[i] > L'9') {
            return false;
        }
        magnitude = magnitude * 10 + (text[i] - L'0');
        if (magnitude > 2147483648LL) {
            return false;
        }
    }
    const long long signedValue = minus ? -magnitude : magnitude;
    if (signedValue > INT32_MAX) {
        return false;
    }
    value = static_cast<LONG>(signedValue);
    return true;
}

std::optional<BoundValues> ParseBounds(const std::wstring& text) {
    BoundValues values = {};
    size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        const size_t comma = text.find(L',', start);
        const bool last = i == 3;
        if (last != (comma == std::wstring::npos)) {
            return std::nullopt; // too few or too many numbers
        }
        const std::wstring part = text.substr(start, last ? std::wstring::npos : comma - start);
        if (!ParseBound(part, values[i])) {
            return std::nullopt;
        }
        start = comma + 1;
    }
    return values;
}

} // namespace

std::variant<Options, UsageError> ParseOptions(const std::vector<std::wstring>& args) {
    Options options;
    bool seenBounds = false;
    bool seenSvg = false;
    bool seenTouches = false;
    for (size_t i = 0; i < args.size(); ++i) {
        std::wstring name = args[i];
        std::optional<std::wstring> value;
        if (const size_t eq = name.find(L'='); name.rfind(L"--", 0) == 0 && eq != name.npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
        }
        const auto takeValue = [&](const char* what) -> std::optional<UsageError> {
            if (!value) {
                if (i + 1 == args.size()) {
                    return UsageError{Utf8(name) + " needs " + what};
                }
                value = args[++i];
            }
            return std::nullopt;
        };
        const auto once = [&](bool& seen) -> std::optional<UsageError> {
            if (seen) {
                return UsageError{Utf8(name) + " given twice"};
            }
            seen = true;
            return std::nullopt;
        };
        if (name == L"--help" || name == L"-h" || name == L"/?") {
            options.help = true;
        } else if (name == L"--json" && !value) {
            options.json = true;
        } else if (name == L"--bounds") {
            if (auto e = once(seenBounds)) {
                return *e;
            }
            if (auto e = takeValue("four numbers, L,T,R,B")) {
                return *e;
            }
            options.bounds = ParseBounds(*value);
            if (!options.bounds) {
                return UsageError{"--bounds wants four whole 32-bit numbers L,T,R,B separated "
                                  "by commas, not '" +
                                  Utf8(*value) + "'"};
            }
        } else if (name == L"--svg" || name == L"--touches") {
            const bool svg = name == L"--svg";
            if (auto e = once(svg ? seenSvg : seenTouches)) {
                return *e;
            }
            if (auto e = takeValue(svg ? "a file to write" : "a scenario file")) {
                return *e;
            }
            if (value->empty()) {
                return UsageError{Utf8(name) + " needs " +
                                  (svg ? "a file to write" : "a scenario file")};
            }
            (svg ? options.svgPath : options.touchesPath) = *value;
        } else if (!name.empty() && name[0] == L'-') {
            return UsageError{"unknown option '" + Utf8(args[i]) + "'"};
        } else {
            return UsageError{"unexpected argument '" + Utf8(args[i]) + "'"};
        }
    }
    return options;
}

} // namespace inspector
