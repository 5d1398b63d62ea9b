// vtpctl: virtual touchpads for tests under Wine (docs/virtual-touchpad.md).
//   vtpctl install NAME DESCRIPTOR-FILE [--vid N] [--pid N] [--product TEXT] [--feature HEX]...
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

int Install(int argc, wchar_t** argv) {
    if (argc < 4) {
        return Usage();
    }
    vtp::PadSpec pad;
    pad.name = argv[2];
    std::string text;
    std::string error;
    if (!ReadFile(argv[3], text)) {
        return Fail("cannot read " + Narrow(argv[3]));
    }
    if (!vtp::ParseHex(text, pad.descriptor, error)) {
        return Fail(Narrow(argv[3]) + ": " + error);
    }
    for (int i = 4; i < argc; ++i) {
        const std::wstring option = argv[i];
        if (i + 1 >= argc) {
            return Usage();
        }
        const wchar_t* value = argv[++i];
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
    if (command == L"install") {
        return Install(argc, argv);
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
