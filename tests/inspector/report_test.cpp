// The reports and the picture, built from a source and a model: text for a person, JSON for
// scripts, SVG for a browser.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "picture.h"
#include "report.h"

namespace inspector {
namespace {

// The text with its wrapped lines joined again: a line break and the indent after it count as
// one space.
std::string Flat(const std::string& text) {
    std::string flat;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\n') {
            flat += text[i];
            continue;
        }
        while (i + 1 < text.size() && text[i + 1] == ' ') {
            ++i;
        }
        flat += ' ';
    }
    return flat;
}

// Each expected piece must follow the one before it in the text.
void ExpectInOrder(const std::string& text, const std::vector<std::string>& pieces) {
    size_t at = 0;
    for (const std::string& piece : pieces) {
        const size_t found = text.find(piece, at);
        ASSERT_NE(found, std::string::npos) << "missing, or out of order: " << piece << "\n"
                                            << text;
        at = found + piece.size();
    }
}

struct Run {
    BoundsOrigin origin;
    LayoutModel model;
    Inspection inspection;
};

// A run with given bounds, as --bounds makes it.
std::unique_ptr<Run> Given(const BoundValues& values) {
    auto run = std::make_unique<Run>();
    run->origin = GivenBounds(values);
    run->inspection.origin = run->origin;
    if (run->origin.problem == SourceProblem::None) {
        run->model = Inspect(run->origin.bounds);
        run->inspection.model = &run->model;
    }
    return run;
}

struct ReportCase {
    const char* name;
    BoundValues bounds;
    int exitCode;
    std::vector<std::string> text;
    std::vector<std::string> json;
};

const ReportCase ReportCases[] = {
    {"simulated touchpad",
     {1000, 1000, 7000, 5800},
     0,
     {"Bounds given on the command line (--bounds): no device, no registry.",
      "Pad rectangle: left 1000, top 1000, right 7000, bottom 5800 (6000 wide, 4800 high)",
      "Sizes: colWidth 1000, btnWidth 1066, btnHeight 1000, stripHeight 3200",
      "Up is the pad's high device Y edge (5800): buttons 1 2 3 are the row nearest it.",
      "(6800 - device Y)",
      "volume strip  steps the volume  6300,2600,7000,5800  device Y       6300..6999  "
      "2600..5799  5300..5999  1..3200     yes",
      "exit button   ends Tapdeck      5700,1000,7000,2450  turned-over Y  5700..6999  "
      "4351..5800  4700..5999  0..1449     yes",
      "button 1      browser home      1300,1300,2366,2300  turned-over Y  1300..2365  "
      "4501..5500  300..1365   300..1299   yes",
      "button 9      next track        4632,4500,5698,5500", "Findings",
      " - The volume strip and the exit button overlap",
      "All eleven zones can be hit. (exit code 0)"},
     {"\"source\": {\"kind\": \"given\"", "\"values\": [1000, 1000, 7000, 5800]",
      "\"bounds\": {\"left\": 1000, \"top\": 1000, \"right\": 7000, \"bottom\": 5800, \"width\": "
      "6000, \"height\": 4800}",
      "\"sizes\": {\"colWidth\": 1000, \"btnWidth\": 1066, \"btnHeight\": 1000, "
      "\"stripHeight\": 3200}",
      "\"up\": {\"deviceY\": 5800, \"turnSum\": 6800",
      "{\"key\": \"strip\", \"name\": \"volume strip\", \"id\": 0, \"action\": 0, \"does\": "
      "\"steps the volume\", \"list\": \"strips\", \"testedIn\": \"device\", \"rect\": [6300, "
      "2600, 7000, 5800], \"device\": {\"x\": [6300, 6999], \"y\": [2600, 5799]}, \"view\": "
      "{\"across\": [5300, 5999], \"down\": [1, 3200]}, \"beyondPad\": false, \"wrapped\": [], "
      "\"canBeHit\": true}",
      "{\"key\": \"exit\", \"name\": \"exit button\", \"id\": 0, \"action\": 0,",
      "\"rect\": [5700, 1000, 7000, 2450], \"device\": {\"x\": [5700, 6999], \"y\": [4351, "
      "5800]}",
      "{\"key\": \"button5\", \"name\": \"button 5\", \"id\": 5, \"action\": 5, \"does\": "
      "\"player show/hide\", \"list\": \"buttons\", \"testedIn\": \"turned\", \"rect\": [2966, "
      "2900, 4032, 3900]",
      "\"findings\": [\n    {\"kind\": \"overlap\", \"zones\": [\"exit\", \"strip\"], "
      "\"tapGoesTo\": \"exit\", \"slideStepsVolume\": true, \"device\": {\"x\": [6300, 6999], "
      "\"y\": [4351, 5799]}, \"pieces\": 1, \"text\": \"The volume strip",
      "\"allZonesCanBeHit\": true,\n  \"exitCode\": 0\n}\n"}},
    {"registry defaults",
     {1612, 2072, 5300, 3748},
     1,
     {"Sizes: colWidth 614, btnWidth 424, btnHeight -41, stripHeight 1117",
      "button 1      browser home      1912,2372,2336,2331  turned-over Y  none", "NEVER",
      " - btnHeight is -41: the pad is 1676 high, 124 short of the 1800",
      " - Button 1 (browser home) can never be hit:",
      "9 of the eleven zones can never be hit. (exit code 1)"},
     {"\"sizes\": {\"colWidth\": 614, \"btnWidth\": 424, \"btnHeight\": -41, \"stripHeight\": "
      "1117}",
      "\"rect\": [1912, 2372, 2336, 2331], \"device\": null, \"view\": null, \"beyondPad\": "
      "false, \"wrapped\": [], \"canBeHit\": false}",
      "{\"kind\": \"size-too-small\", \"size\": \"btnHeight\", \"zones\": [], \"text\": ",
      "{\"kind\": \"dead\", \"zones\": [\"button9\"], \"text\": \"Button 9 (next track) can never "
      "be hit",
      "\"allZonesCanBeHit\": false,\n  \"exitCode\": 1\n}\n"}},
    {"narrow",
     {1000, 1000, 3000, 3000},
     1,
     {"Sizes: colWidth 333, btnWidth 1431655721, btnHeight 66, stripHeight 1334",
      "3 of the eleven zones can never be hit. (exit code 1)"},
     {"\"rect\": [1431657621, 1300, -1431653954, 1366], \"device\": null, \"view\": null, "
      "\"beyondPad\": false, \"wrapped\": [\"right\"], \"canBeHit\": false}",
      "{\"kind\": \"size-wrapped\", \"size\": \"btnWidth\"",
      "{\"kind\": \"overlap\", \"zones\": [\"button1\", \"button3\"], \"tapGoesTo\": "
      "\"button1\", \"slideStepsVolume\": false, \"device\": {\"x\": [1300, 2366], \"y\": "
      "[2635, 2700]}, \"pieces\": 1,",
      "{\"kind\": \"beyond-pad\", \"zones\": [\"button1\"]",
      "{\"kind\": \"zone-wrapped\", \"zones\": [\"button3\"]"}},
};

TEST(InspectorReport, TextAndJsonOfTheWorkedRows) {
    for (const ReportCase& c : ReportCases) {
        SCOPED_TRACE(c.name);
        const auto run = Given(c.bounds);
        ASSERT_NE(run->inspection.model, nullptr);
        EXPECT_EQ(ExitCodeOf(run->inspection), c.exitCode);
        ExpectInOrder(Flat(TextReport(run->inspection)), c.text);
        ExpectInOrder(JsonReport(run->inspection), c.json);
    }
}

struct ProblemCase {
    const char* name;
    BoundsOrigin origin;
    const char* code;
    const char* text;
};

BoundsOrigin Problem(SourceKind kind, SourceProblem problem, OpenStep step = OpenStep::None,
                     LONG status = 0) {
    BoundsOrigin origin;
    origin.kind = kind;
    origin.registryView = 64;
    origin.problem = problem;
    origin.opening.failedAt = step;
    origin.opening.status = status;
    origin.opening.handle = step == OpenStep::Attach ? 3 : NoDeviceHandle;
    origin.opening.kind = 7;
    origin.missingProgId = "VelCom.VelAPI";
    origin.zeroBound = 1;
    origin.values = {1000, 0, 7000, 5800};
    return origin;
}

const ProblemCase ProblemCases[] = {
    {"library absent", Problem(SourceKind::Touchpad, SourceProblem::LibraryNotRegistered),
     "device-library-not-registered",
     "No bounds: the touchpad's device library is not installed (the ProgID VelCom.VelAPI is not "
     "registered), and the registry does not override the bounds. tapdeck.exe ends without a "
     "sound."},
    {"object not made", Problem(SourceKind::Touchpad, SourceProblem::LibraryObjectFailed),
     "device-library-object-failed",
     "No bounds: the device library's object VelCom.VelAPI could not be made, though its ProgID "
     "is registered."},
    {"prepare", Problem(SourceKind::Touchpad, SourceProblem::PrepareFailed, OpenStep::Prepare, -1),
     "prepare-failed", "Prepare failed with status -1 (0xFFFFFFFF). tapdeck.exe beeps and ends."},
    {"no touchpad",
     Problem(SourceKind::Touchpad, SourceProblem::NoTouchpad, OpenStep::LocateDevice),
     "no-touchpad",
     "No bounds: no touchpad found: the device library knows of none (LocateDevice gave no "
     "handle). tapdeck.exe beeps and ends."},
    {"locate fails",
     Problem(SourceKind::Touchpad, SourceProblem::NoTouchpad, OpenStep::LocateDevice, 1),
     "no-touchpad",
     "No bounds: no touchpad found: LocateDevice failed with status 1 (0x00000001)."},
    {"attach",
     Problem(SourceKind::Touchpad, SourceProblem::AttachFailed, OpenStep::Attach, -2147467259),
     "attach-failed",
     "the touchpad (handle 3) could not be attached: Attach failed with status -2147467259 "
     "(0x80004005)."},
    {"wrong kind", Problem(SourceKind::Touchpad, SourceProblem::WrongKind, OpenStep::DeviceKind),
     "wrong-kind",
     "No bounds: the device found is not a touchpad: its kind reads 7, a touchpad's is 13. "
     "tapdeck.exe ends without a sound."},
    {"UseUserConfig", Problem(SourceKind::Registry, SourceProblem::UseUserConfigInvalid),
     "use-user-config-invalid",
     "No bounds: UseUserConfig in HKLM\\Software\\Velmora\\TwinpadApp (64-bit view) is not a "
     "32-bit value"},
    {"zero from the registry", Problem(SourceKind::Registry, SourceProblem::ZeroBound),
     "zero-bound",
     "No bounds: LoY is 0 in the registry override HKLM\\Software\\Velmora\\TwinpadApp (64-bit "
     "view), and a bound of 0 makes the bounds fail. tapdeck.exe beeps and ends."},
    {"zero from the touchpad", Problem(SourceKind::Touchpad, SourceProblem::ZeroBound),
     "zero-bound", "No bounds: the touchpad reports 0 for its low Y edge (PropYLo)"},
    {"zero given", Problem(SourceKind::Given, SourceProblem::ZeroBound), "zero-bound",
     "No bounds: the top bound given is 0"},
};

TEST(InspectorReport, NoBoundsSaysWhyAndExitsWith2) {
    for (const ProblemCase& c : ProblemCases) {
        SCOPED_TRACE(c.name);
        Inspection inspection;
        inspection.origin = c.origin;
        EXPECT_EQ(ExitCodeOf(inspection), NoBounds);
        EXPECT_EQ(ProblemCode(c.origin.problem), c.code);
        EXPECT_NE(ProblemText(c.origin).find(c.text), std::string::npos) << ProblemText(c.origin);
        ExpectInOrder(Flat(TextReport(inspection)),
                      {"Tapdeck pad layout", c.text, "(exit code 2)"});
        ExpectInOrder(JsonReport(inspection),
                      {"\"error\": {\"reason\": \"" + std::string(c.code) + "\", \"text\": \"",
                       "\"exitCode\": 2\n}\n"});
    }
}

struct SourceCase {
    const char* name;
    BoundsOrigin origin;
    const char* text;
};

BoundsOrigin Read(SourceKind kind, bool keyOpened, LONG use, std::array<bool, 4> defaulted) {
    BoundsOrigin origin;
    origin.kind = kind;
    origin.registryView = 32;
    origin.keyOpened = keyOpened;
    origin.useUserConfig = use;
    origin.defaulted = defaulted;
    origin.values = {1612, 1568, 5312, 3748};
    origin.opening.handle = 1;
    return origin;
}

const SourceCase SourceCases[] = {
    {"touchpad, no key", Read(SourceKind::Touchpad, false, 0, {}),
     "from the touchpad, through the device library (touchpad handle 1, its four edges read), "
     "as the registry does not override them: there is no HKLM\\Software\\Velmora\\TwinpadApp "
     "(32-bit view)."},
    {"touchpad, key", Read(SourceKind::Touchpad, true, 0, {}),
     "as the registry does not override them: HKLM\\Software\\Velmora\\TwinpadApp (32-bit view) "
     "has UseUserConfig 0 or none."},
    {"registry", Read(SourceKind::Registry, true, 1, {true, false, false, true}),
     "from the registry override HKLM\\Software\\Velmora\\TwinpadApp (32-bit view), "
     "UseUserConfig 1: LoX 1612 (absent: the default), LoY 1568, HiX 5312, HiY 3748 (absent: "
     "the default)."},
};

TEST(InspectorReport, SourceSaysWhereTheBoundsCameFrom) {
    for (const SourceCase& c : SourceCases) {
        SCOPED_TRACE(c.name);
        EXPECT_NE(SourceText(c.origin).find(c.text), std::string::npos) << SourceText(c.origin);
    }
}

struct PictureCase {
    const char* name;
    BoundValues bounds;
    // Present in the picture, in order.
    std::vector<std::string> present;
    // Not present at all.
    std::vector<std::string> absent;
};

const PictureCase PictureCases[] = {
    {"simulated touchpad",
     {1000, 1000, 7000, 5800},
     {"<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"860.0\" height=",
      "<title>Tapdeck pad layout: bounds 1000, 1000, 7000, 5800 (given with --bounds)</title>",
      // The pad: 480 pixels for its 4800 units of height, 600 for its width.
      "<rect id=\"pad\" x=\"90.0\" y=\"84.0\" width=\"600.0\" height=\"480.0\"",
      // The strip from the top (device Y 5800, not included) down to device Y 2600, sharing
      // its top with the exit button.
      "<rect x=\"620.0\" y=\"84.1\" width=\"70.0\" height=\"320.0\" class=\"zone strip\"",
      "<rect x=\"560.0\" y=\"84.0\" width=\"130.0\" height=\"145.0\" class=\"zone exit\"",
      "class=\"zone button1\"", "class=\"zone button9\"",
      "<rect x=\"620.0\" y=\"84.1\" width=\"70.0\" height=\"144.9\" class=\"overlap strip\"",
      ">volume</text>", ">exit</text>", ">browser home</text>", ">next track</text>",
      ">1000</text>", ">5800</text>", "All eleven zones can be hit.",
      "The volume strip and the exit button overlap"},
     {"class=\"dead", "Never hit", "class=\"tap\""}},
    {"registry defaults",
     {1612, 2072, 5300, 3748},
     {"class=\"zone strip\"", "class=\"zone exit\"", "class=\"dead button1\"",
      "class=\"dead button9\"",
      "Never hit (9 of 11): button 1 (browser home), button 2 (Win+F search)", "btnHeight is -41"},
     {"class=\"zone button", "All eleven zones can be hit."}},
    {"narrow",
     {1000, 1000, 3000, 3000},
     {"class=\"beyond button1\"", "class=\"zone button3\"", "class=\"overlap\"",
      "Never hit (3 of 11): button 2 (Win+F search), button 5 (player show/hide), button 8 (play "
      "or pause)."},
     {"class=\"zone button2\"", "class=\"zone button5\"", "class=\"zone button8\""}},
};

TEST(InspectorPicture, ZonesOverlapsAndDeadZonesAreDrawnAndNamed) {
    for (const PictureCase& c : PictureCases) {
        SCOPED_TRACE(c.name);
        const auto run = Given(c.bounds);
        const std::string svg = PictureSvg(run->origin, run->model, nullptr, "");
        ExpectInOrder(svg, c.present);
        for (const std::string& piece : c.absent) {
            EXPECT_EQ(svg.find(piece), std::string::npos) << piece;
        }
    }
}

TEST(InspectorPicture, TouchesAreNumberedAndTapsAtOnePointShareADot) {
    const auto run = Given({1000, 1000, 7000, 5800});
    const std::vector<Touch> touches = {
        {{{3499, 1800}, {3499, 1800}}},
        {{{6600, 3000}, {6600, 3040}, {6600, 3080}}},
        {{{3499, 1800}}},
        {{{1500, 5000}}},
    };
    const std::string svg = PictureSvg(run->origin, run->model, &touches, "a&b.scenario");
    // A tenth of a pixel a unit: device (3499, 1800) is drawn at x 90 + 2499 / 10, y 84 +
    // (6800 - 1800 - 1000) / 10, its dot 32 pixels wide for its two numbers.
    ExpectInOrder(svg, {"<polyline class=\"slide\" points=\"650.0,364.0 650.0,360.0 650.0,356.0\"",
                        ">2</text>", "<rect class=\"tap\" x=\"323.9\" y=\"475.0\" width=\"32.0\"",
                        ">1,3</text>", "<rect class=\"tap\"", ">4</text>",
                        "Touches in a&amp;b.scenario"});
}

TEST(InspectorReport, WrappedBreaksAtSpacesWithinTheWidth) {
    EXPECT_EQ(Wrapped("aa bb cc dd", 8, "- ", "  "), "- aa bb\n  cc dd\n");
    EXPECT_EQ(Wrapped("short", 80, "", ""), "short\n");
    EXPECT_EQ(Wrapped("averyveryverylongword x", 10, "", ""), "averyveryverylongword\nx\n");
}

} // namespace
} // namespace inspector
