// The inspector's reports: text for a person, JSON for scripts (docs/layout-inspector.md).
// Pure: they build text from what was read and inspected.
#pragma once

#include <string>
#include <vector>

#include "model.h"
#include "source.h"
#include "touches.h"

namespace inspector {

enum ExitCode : int {
    AllZonesHit = 0,
    ZonesNeverHit = 1,
    NoBounds = 2, // also a bad command line
};

// What one run found: the source always, the model when there were bounds, the touches when
// a scenario was given.
struct Inspection {
    BoundsOrigin origin;
    const LayoutModel* model = nullptr;
    const std::vector<Touch>* touches = nullptr;
    std::string touchesName; // the scenario's file name, for the text
};

int ExitCodeOf(const Inspection& inspection);

// Where the bounds came from, in a sentence or two.
std::string SourceText(const BoundsOrigin& origin);
// Why there are no bounds, and what tapdeck.exe does then; empty without a problem.
std::string ProblemText(const BoundsOrigin& origin);
// A short code for the problem, for scripts: "no-touchpad", "zero-bound"...
std::string ProblemCode(SourceProblem problem);
// Which way is up, and in which frame each zone is tested.
std::string UpText(const LayoutModel& model);
// One touch in words: "tap at device (3499, 1800): button 8 (play or pause)".
std::string TouchText(const LayoutModel& model, const Touch& touch);

std::string TextReport(const Inspection& inspection);
std::string JsonReport(const Inspection& inspection);

// `text` broken into lines of at most `width` characters, each after `indent`; the first
// line after `first` in place of the indent.
std::string Wrapped(const std::string& text, size_t width, const std::string& first,
                    const std::string& indent);

} // namespace inspector
