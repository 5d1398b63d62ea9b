// vtpctl: virtual touchpads for tests under Wine (docs/virtual-touchpad.md).
//   vtpctl install NAME DESCRIPTOR-FILE [--vid N] [--pid N] [--product TEXT] [--feature HEX]...
//   vtpctl install @ARGUMENTS-FILE   (those arguments from a file, as a recording writes them)
//   vtpctl play SCRIPT-FILE
//   vtpctl remove NAME | add NAME | list | clear
// Exit code 0 on success, 1 when a step failed (with why on stderr), 2 for a wrong command line.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "devices.h"
#include "player.h"
#include "script.h"

namespace {

int Usage() {
    std::fputs("usage: vtpctl install NAME DESCRIPTOR-FILE [--vid N] [--pid N] [--product TEXT]\n"
               "                      [--feature HEX]...\n"
               "       vtpctl install @ARGUMENTS-FILE\n"
               "       vtpctl play SCRIPT-FILE\n"
               "       vtpctl remove NAME | add NAME | list | clear\n",
               stderr);
    return 2;
}

int Fail(const std::string& why) {
    std::fprintf(stderr, "vtpctl: %s\n", why.c_str());
    return 1;
}

bool ReadFile(const std::wstring& path, std::string& text) {
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (file == nullptr) {
        return false;
    }
    text.clear();
    char chunk[4096];
    for (size_t got = 0; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;) {
        text.append(chunk, got);
    }
    std::fclose(file);
    return true;
}

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

// The driver sits beside this program.
std::wstring DriverDir() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir = path;
    return dir.substr(0, dir.find_last_of(L"\\/"));
}

bool Number(const wchar_t* text, uint16_t& out) {
    wchar_t* end = nullptr;
    const unsigned long value = wcstoul(text, &end, 0);
    if (end == text || *end != 0 || value > 0xFFFF) {
        return false;
    }
    out = static_cast<uint16_t>(value);
    return true;
}

std::wstring FromUtf8(const std::string& text) {
    if (text.empty()) {
        return {};
    }
    const int size =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(size > 0 ? size : 0), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
    return out;
}

// `arguments`: NAME DESCRIPTOR-FILE and the options.
int Install(const std::vector<std::wstring>& arguments) {
    if (arguments.size() < 2) {
        return Usage();
    }
    vtp::PadSpec pad;
    pad.name = arguments[0];
    std::string text;
    std::string error;
    if (!ReadFile(arguments[1], text)) {
        return Fail("cannot read " + Narrow(arguments[1]));
    }
    if (!vtp::ParseHex(text, pad.descriptor, error)) {
        return Fail(Narrow(arguments[1]) + ": " + error);
    }
    for (size_t i = 2; i < arguments.size(); ++i) {
        const std::wstring& option = arguments[i];
        if (i + 1 >= arguments.size()) {
            return Usage();
        }
        const wchar_t* value = arguments[++i].c_str();
        const bool number = option == L"--vid"   ? Number(value, pad.vendorId)
                            : option == L"--pid" ? Number(value, pad.productId)
                                                 : false;
        if (number) {
            continue;
        }
        if (option == L"--product") {
            pad.product = value;
        } else if (option == L"--feature") {
            vtp::Bytes report;
            if (!vtp::ParseHex(Narrow(value), report, error) || report.empty()) {
                return Fail("--feature " + Narrow(value) + ": not a report");
            }
            pad.features.push_back(report);
        } else {
            return Usage();
        }
    }
    if (!vtp::InstallPad(pad, DriverDir(), error)) {
        return Fail(error);
    }
    return 0;
}

// The arguments from a file (UTF-8); a descriptor file named without a folder is the
// arguments file's neighbour.
int InstallFrom(const std::wstring& path) {
    std::string text;
    std::string error;
    std::vector<std::string> words;
    if (!ReadFile(path, text)) {
        return Fail("cannot read " + Narrow(path));
    }
    if (!vtp::SplitArguments(text, words, error)) {
        return Fail(Narrow(path) + ": " + error);
    }
    std::vector<std::wstring> arguments;
    arguments.reserve(words.size());
    for (const std::string& word : words) {
        arguments.push_back(FromUtf8(word));
    }
    const size_t slash = path.find_last_of(L"\\/");
    if (arguments.size() >= 2 && slash != std::wstring::npos &&
        arguments[1].find_first_of(L"\\/:") == std::wstring::npos) {
        arguments[1] = path.substr(0, slash + 1) + arguments[1];
    }
    return Install(arguments);
}

int Play(const wchar_t* path) {
    std::string text;
    std::string error;
    std::vector<vtp::Step> steps;
    if (!ReadFile(path, text)) {
        return Fail("cannot read " + Narrow(path));
    }
    if (!vtp::ParseScript(text, steps, error) || !vtp::PlayScript(steps, DriverDir(), error)) {
        return Fail(Narrow(path) + ": " + error);
    }
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        return Usage();
    }
    const std::wstring command = argv[1];
    std::string error;
    if (command == L"install" && argc == 3 && argv[2][0] == L'@') {
        return InstallFrom(argv[2] + 1);
    }
    if (command == L"install") {
        return Install(std::vector<std::wstring>(argv + 2, argv + argc));
    }
    if (command == L"play" && argc == 3) {
        return Play(argv[2]);
    }
    if ((command == L"remove" || command == L"add") && argc == 3) {
        const bool done = command == L"remove" ? vtp::RemovePad(argv[2], error)
                                               : vtp::AddPad(argv[2], DriverDir(), error);
        return done ? 0 : Fail(error);
    }
    if (command == L"list" && argc == 2) {
        for (const std::wstring& name : vtp::InstalledPads()) {
            std::printf("%s\n", Narrow(name).c_str());
        }
        return 0;
    }
    if (command == L"clear" && argc == 2) {
        vtp::RemoveAll();
        return 0;
    }
    return Usage();
}
