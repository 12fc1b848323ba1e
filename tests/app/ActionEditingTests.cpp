#include "RavoletApp/ViewModels/ActionEditing.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <limits>

#include "tests/platform/FolderTree.hpp"

namespace ravolet {
namespace {

using M = ModifierFlags;
namespace AE = ActionEditing;

const RecordedKey shiftA{0, M::shift};
const RecordedKey commandK{40, M::command};

TEST(ActionEditing, TheKeyIsReadFromKeyActionsAndRepeatStepsAndWrittenOnlyThere) {
    struct Row {
        Action action;
        RecordedKey read;
        Action afterWriting; // Super + K written
    };
    const Row rows[] = {
        {Action::keyStroke(8, M::command), {8, M::command}, Action::keyStroke(40, M::command)},
        {Action::hold(49, M::none), {49, M::none}, Action::hold(40, M::command)},
        // Any key step of a repeat reads; writing always leaves a press and release.
        {Action::repeatWhileHeld(MacroStep::keyDown(0, M::shift), 300), shiftA,
         Action::repeatWhileHeld(MacroStep::key(40, M::command), 300)},
        {Action::repeatWhileHeld(MacroStep::keyUp(0, M::shift), 300), shiftA,
         Action::repeatWhileHeld(MacroStep::key(40, M::command), 300)},
        {Action::repeatWhileHeld(MacroStep::delay(20), 300), {}, Action::repeatWhileHeld(MacroStep::key(40, M::command), 300)},
        {Action::sequence({MacroStep::key(8, M::none)}), {}, Action::sequence({MacroStep::key(8, M::none)})},
        {Action::dpiShift(800), {}, Action::dpiShift(800)},
        {Action::passThrough(), {}, Action::passThrough()},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(AE::key(row.action), row.read) << row.action;
        EXPECT_EQ(AE::withKey(row.action, commandK), row.afterWriting) << row.action;
    }
}

TEST(ActionEditing, EachValueReadsItsCaseOrAFixedFallBackAndTheIntervalIsStoredAsGiven) {
    const Action repeat = Action::repeatWhileHeld(MacroStep::key(1, M::none), 120.9);
    const Action other = Action::launchApp("org.mozilla.firefox");
    EXPECT_EQ(AE::repeatInterval(repeat), 120.9);
    EXPECT_EQ(AE::repeatInterval(other), 120);
    EXPECT_EQ(AE::withRepeatInterval(repeat, 33.3), Action::repeatWhileHeld(MacroStep::key(1, M::none), 33.3));
    EXPECT_EQ(AE::withRepeatInterval(other, 33.3), other);

    EXPECT_EQ(AE::sequenceSteps(Action::sequence({MacroStep::delay(5)})), std::vector{MacroStep::delay(5)});
    EXPECT_TRUE(AE::sequenceSteps(other).empty());
    EXPECT_EQ(AE::shiftDPI(Action::dpiShift(430)), 430);
    EXPECT_EQ(AE::shiftDPI(other), 400);
    EXPECT_EQ(AE::launchBundleID(other), "org.mozilla.firefox");
    EXPECT_EQ(AE::launchBundleID(Action::runShortcut("x")), "");
    EXPECT_EQ(AE::shortcutName(Action::runShortcut("Resize")), "Resize");
    EXPECT_EQ(AE::shortcutName(other), "");
}

TEST(ActionEditing, ChangingTheKindCarriesTheKeyOverAndDropsEverythingElse) {
    const Action threeSteps = Action::sequence(
        {MacroStep::delay(50), MacroStep::keyDown(0, M::shift), MacroStep::key(8, M::none), MacroStep::key(9, M::none)});
    struct Row {
        Action from;
        ActionKind to;
        Action expected;
    };
    const Row rows[] = {
        // The kind it already has: nothing changes.
        {Action::repeatWhileHeld(MacroStep::key(8, M::command), 300), ActionKind::repeatWhileHeld,
         Action::repeatWhileHeld(MacroStep::key(8, M::command), 300)},
        {Action::dpiShift(800), ActionKind::dpiShift, Action::dpiShift(800)},
        // Super + C through every key kind and back.
        {Action::keyStroke(8, M::command), ActionKind::repeatWhileHeld,
         Action::repeatWhileHeld(MacroStep::key(8, M::command), 120)},
        {Action::repeatWhileHeld(MacroStep::key(8, M::command), 300), ActionKind::sequence,
         Action::sequence({MacroStep::key(8, M::command)})},
        {Action::sequence({MacroStep::key(8, M::command)}), ActionKind::keyStroke, Action::keyStroke(8, M::command)},
        {Action::hold(8, M::command), ActionKind::keyStroke, Action::keyStroke(8, M::command)},
        {Action::repeatWhileHeld(MacroStep::keyDown(0, M::shift), 300), ActionKind::hold, Action::hold(0, M::shift)},
        // A released key, a pause, a sequence without a press: no key.
        {Action::repeatWhileHeld(MacroStep::keyUp(0, M::shift), 300), ActionKind::keyStroke, Action::keyStroke(0, M::none)},
        {Action::repeatWhileHeld(MacroStep::delay(9), 300), ActionKind::keyStroke, Action::keyStroke(0, M::none)},
        {Action::sequence({MacroStep::keyDown(8, M::shift)}), ActionKind::hold, Action::hold(0, M::none)},
        {Action::sequence({}), ActionKind::repeatWhileHeld, Action::repeatWhileHeld(MacroStep::key(0, M::none), 120)},
        // The first press-and-release step counts.
        {threeSteps, ActionKind::hold, Action::hold(8, M::none)},
        {Action::launchApp("a.b"), ActionKind::sequence, Action::sequence({MacroStep::key(0, M::none)})},
        {Action::keyStroke(8, M::command), ActionKind::dpiShift, Action::dpiShift(400)},
        {Action::keyStroke(8, M::command), ActionKind::launchApp, Action::launchApp("")},
        {Action::keyStroke(8, M::command), ActionKind::runShortcut, Action::runShortcut("")},
        {Action::runShortcut("x"), ActionKind::passThrough, Action::passThrough()},
    };
    for (const Row& row : rows) EXPECT_EQ(AE::withKind(row.from, row.to), row.expected) << row.from << " → " << row.to;
}

TEST(ActionEditing, TheRoundingNoteNamesTheCapabilityAndWhatTheMouseWillTake) {
    struct Row {
        std::optional<HIDPPDPIRange> capability;
        std::int64_t dpi;
        std::optional<std::string> expected;
    };
    const Row rows[] = {
        {std::nullopt, 450, std::nullopt},
        {HIDPPDPIRange::range(100, 25600, 100), 450,
         "Your mouse accepts 100\u202625600 step 100. Ravolet rounds to the nearest value it will take, so it will "
         "actually be set to 500."},
        // Shown also when nothing needs rounding; no grouping in the number.
        {HIDPPDPIRange::range(100, 25600, 50), 25600,
         "Your mouse accepts 100\u202625600 step 50. Ravolet rounds to the nearest value it will take, so it will "
         "actually be set to 25600."},
        {HIDPPDPIRange::list({400, 800, 1600}), 1000,
         "Your mouse accepts 400, 800, 1600. Ravolet rounds to the nearest value it will take, so it will actually "
         "be set to 800."},
    };
    for (const Row& row : rows) EXPECT_EQ(AE::dpiRoundingNote(row.capability, row.dpi), row.expected) << row.dpi;

    EXPECT_EQ(AE::dpiFromSlider(430.99), 430);
    EXPECT_EQ(AE::dpiFromSlider(std::nan("")), 0);
    EXPECT_EQ(AE::millisecondsText(120.9), "120 ms");
    EXPECT_EQ(AE::millisecondsText(-0.5), "0 ms");
    EXPECT_EQ(AE::millisecondsText(std::numeric_limits<double>::infinity()), "9223372036854775807 ms");
}

TEST(ActionEditing, TheCommandCheckSaysWhatTheLineStartsOrWhyItWouldNot) {
    platform::testing::FolderTree tree("command-check");
    tree.write("bin/tool", "#!/bin/sh\n");
    ::chmod((tree.path / "bin/tool").c_str(), 0755);
    tree.write("bin/notes.txt", "not a program\n");
    const std::string bin = (tree.path / "bin").string();
    const auto good = [](std::string text) { return PageStatusLine{PageStatusLevel::good, std::move(text)}; };
    const auto bad = [](std::string text) { return PageStatusLine{PageStatusLevel::bad, std::move(text)}; };
    const std::pair<std::string, std::optional<PageStatusLine>> rows[] = {
        {"", std::nullopt},
        {"  ", std::nullopt},
        {"tool", good("Starts " + bin + "/tool with no arguments.")},
        {"tool 'a b'", good("Starts " + bin + "/tool with one argument: \u201Ca b\u201D.")},
        {"tool a \"b\" c\\ d", good("Starts " + bin + "/tool with 3 arguments: \u201Ca\u201D, \u201Cb\u201D and \u201Cc d\u201D.")},
        {"tool 'a", bad("A single quote (') is not closed.")},
        {"nothing-here x", bad("No program named \u201Cnothing-here\u201D is in the folders of your PATH.")},
        {bin + "/notes.txt", bad(bin + "/notes.txt is not a program Ravolet may run.")},
        {bin + "/gone", bad("There is no program at " + bin + "/gone.")},
    };
    for (const auto& [line, expected] : rows) EXPECT_EQ(AE::commandCheck(line, bin), expected) << line;
}

} // namespace
} // namespace ravolet
