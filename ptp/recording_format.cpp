#include "recording_format.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace ptp::recording {

namespace {

bool Alnum(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

std::string Upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

// Names Windows keeps for devices, with or without an extension, in any case.
bool Reserved(const std::string& name) {
    const std::string upper = Upper(name);
    static constexpr const char* Devices[] = {"CON", "PRN", "AUX", "NUL", "CLOCK$"};
    for (const char* device : Devices) {
        if (upper == device) {
            return true;
        }
    }
    return upper.size() == 4 && (upper.rfind("COM", 0) == 0 || upper.rfind("LPT", 0) == 0) &&
           upper[3] >= '0' && upper[3] <= '9';
}

bool Taken(const std::string& name, const std::vector<std::string>& taken) {
    const std::string upper = Upper(name);
    return std::any_of(taken.begin(), taken.end(),
                       [&](const std::string& other) { return Upper(other) == upper; });
}

std::string Hex(const uint8_t* bytes, size_t length) {
    std::string text;
    text.reserve(length * 3);
    static constexpr char Digits[] = "0123456789ABCDEF";
    for (size_t i = 0; i < length; ++i) {
        if (i != 0) {
            text += ' ';
        }
        text += Digits[bytes[i] >> 4];
        text += Digits[bytes[i] & 15];
    }
    return text;
}

} // namespace

std::string PadName(const std::string& productUtf8, const std::vector<std::string>& taken) {
    std::string name;
    for (const char c : productUtf8) {
        if (Alnum(c)) {
            name += c;
        } else if (!name.empty() && name.back() != '-') {
            name += '-';
        }
    }
    if (name.size() > PadNameMax) {
        name.resize(PadNameMax);
    }
    while (!name.empty() && name.back() == '-') {
        name.pop_back();
    }
    if (name.empty()) {
        name = "touchpad";
    }
    if (Reserved(name)) {
        name += "-pad";
    }
    if (!Taken(name, taken)) {
        return name;
    }
    for (int n = 2;; ++n) {
        std::string numbered = name + "-" + std::to_string(n);
        if (!Taken(numbered, taken)) {
            return numbered;
        }
    }
}

std::string ReportLine(const std::string& pad, const uint8_t* report, size_t length) {
    return pad + " " + Hex(report, length) + "\n";
}

std::string WaitLine(uint32_t ms) {
    // vtpctl takes at most 9999999 ms a step.
    std::string lines;
    for (; ms > MaxWaitMs; ms -= MaxWaitMs) {
        lines += "wait " + std::to_string(MaxWaitMs) + "\n";
    }
    return lines + "wait " + std::to_string(ms) + "\n";
}

std::string RemoveLine(const std::string& pad) {
    return "remove " + pad + "\n";
}

std::string AddLine(const std::string& pad) {
    return "add " + pad + "\n";
}

std::string CommentLine(const std::string& text) {
    std::string line = "# " + text;
    for (char& c : line) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            c = '?';
        }
    }
    return line + "\n";
}

std::string InstallArguments(const std::string& pad, const std::string& descriptorFile,
                             uint16_t vendorId, uint16_t productId, const std::string& productUtf8,
                             const std::vector<std::vector<uint8_t>>& features) {
    std::string product = productUtf8;
    for (char& c : product) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"') {
            c = '\'';
        } else if (byte < 0x20 || byte == 0x7F) {
            c = '?';
        }
    }
    char ids[64];
    std::snprintf(ids, sizeof ids, " --vid 0x%04X --pid 0x%04X", vendorId, productId);
    std::string line = pad + " " + descriptorFile + ids + " --product \"" + product + "\"";
    for (const std::vector<uint8_t>& feature : features) {
        line += " --feature \"" + Hex(feature.data(), feature.size()) + "\"";
    }
    return line + "\n";
}

} // namespace ptp::recording
