// One run of the layout inspector: the command line in; the report, the messages and the exit
// code out, and the picture written when asked for.
#pragma once

#include <string>
#include <vector>

namespace inspector {

struct RunResult {
    int exitCode = 0;
    std::string out; // the report (text or JSON), or the usage with --help
    std::string err; // what went wrong with the command line or a file
};

// `args`: the arguments after the program's name.
RunResult RunInspector(const std::vector<std::wstring>& args);

} // namespace inspector
