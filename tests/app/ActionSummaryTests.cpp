#include "RavoletApp/ViewModels/ActionKind.hpp"
#include "RavoletApp/ViewModels/ActionSummary.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "RavoletApp/ViewModels/ActionEditing.hpp"
#include "tests/platform/FolderTree.hpp"

#include <cmath>
#include <limits>
#include <map>

namespace ravolet {
namespace {

using M = ModifierFlags;

TEST(ActionKind, EveryActionHasTheKindOfItsCaseAndKindsRoundTripTheirRawValues) {
    const Action actions[] = {
        Action::passThrough(),     Action::keyStroke(8, M::command),
        Action::hold(49, M::none), Action::repeatWhileHeld(MacroStep::delay(1), 10),
        Action::sequence({}),      Action::dpiShift(400),
        Action::launchApp(""),     Action::runShortcut(""),
    };
    const char* titles[] = {
        "Leave it alone",  "Press a keyboard shortcut",           "Hold a key down while the button is held",
        "Repeat while the button is held", "Play a sequence", "Change DPI while the button is held",
        "Open an app",     "Run a Command",
    };
    for (std::size_t i = 0; i < allActionKinds.size(); ++i) {
        const ActionKind kind = allActionKinds[i];
        EXPECT_EQ(actionKind(actions[i]), kind);
        EXPECT_EQ(actionKindFromString(toString(kind)), kind);
        EXPECT_EQ(title(kind), titles[i]);
        EXPECT_FALSE(explanation(kind).empty());
    }
    EXPECT_EQ(toString(ActionKind::repeatWhileHeld), "repeatWhileHeld");
    EXPECT_EQ(actionKindFromString("PassThrough"), std::nullopt);
    EXPECT_EQ(actionKindFromString(""), std::nullopt);
    EXPECT_EQ(explanation(ActionKind::dpiShift),
              "Drops the mouse to a different DPI while you hold the button and puts it straight back when you let "
              "go — the “sniper” button. Needs Ravolet to be allowed to manage the mouse (Pointer tab).");
}

TEST(ActionSummary, EachCaseReadsAsOneLine) {
    const std::map<std::string, std::string> installed{{"org.mozilla.firefox", "Firefox"}, {"org.example.blank", ""}};
    const ApplicationNameLookup lookup = [&](const std::string& id) -> std::optional<std::string> {
        const auto found = installed.find(id);
        return found == installed.end() ? std::nullopt : std::optional(found->second);
    };
    const double huge = std::numeric_limits<double>::infinity();
    const struct {
        Action action;
        const char* summary;
    } rows[] = {
        {Action::keyStroke(8, M::command), "Sends Super + C"},
        {Action::keyStroke(40, M::of({M::command, M::shift, M::capsLock})), "Sends Shift + Super + K"},
        {Action::hold(49, M::none), "Holds Space"},
        {Action::repeatWhileHeld(MacroStep::key(125, M::none), 120), "Repeats press Down Arrow every 120 ms"},
        {Action::repeatWhileHeld(MacroStep::delay(33.9), 120.9), "Repeats wait 33 ms every 120 ms"},
        {Action::repeatWhileHeld(MacroStep::delay(-0.5), -7.9), "Repeats wait 0 ms every -7 ms"},
        {Action::repeatWhileHeld(MacroStep::mouseButton(2), 120), "Repeats click mouse button 2 every 120 ms"},
        {Action::repeatWhileHeld(MacroStep::delay(std::nan("")), huge),
         "Repeats wait 0 ms every 9223372036854775807 ms"},
        {Action::repeatWhileHeld(MacroStep::delay(-huge), 1e300),
         "Repeats wait -9223372036854775808 ms every 9223372036854775807 ms"},
        {Action::sequence({}), "Plays 0 steps"},
        {Action::sequence({MacroStep::delay(1)}), "Plays 1 step"},
        {Action::sequence({MacroStep::delay(1), MacroStep::delay(2), MacroStep::delay(-3)}), "Plays 3 steps"},
        {Action::dpiShift(400), "Drops to 400 DPI while held"},
        {Action::launchApp(""), "Opens an app (not chosen yet)"},
        {Action::launchApp("org.mozilla.firefox"), "Opens Firefox"},
        {Action::launchApp("org.example.unknown"), "Opens org.example.unknown"},
        {Action::launchApp("org.example.blank"), "Opens org.example.blank"},
        {Action::runShortcut(""), "Runs a command (not named yet)"},
        {Action::runShortcut("  "), "Runs the “  ” command"},
        {Action::passThrough(), "Unchanged"},
    };
    for (const auto& row : rows) EXPECT_EQ(actionSummary(row.action, lookup, ""), row.summary) << row.action;

    // Nothing is kept between calls: a renamed application reads by its new name.
    std::string name = "Old Name";
    const ApplicationNameLookup changing = [&](const std::string&) { return std::optional(name); };
    EXPECT_EQ(actionSummary(Action::launchApp("org.example.app"), changing, ""), "Opens Old Name");
    name = "New Name";
    EXPECT_EQ(actionSummary(Action::launchApp("org.example.app"), changing, ""), "Opens New Name");
    EXPECT_EQ(actionSummary(Action::launchApp("org.example.app"), nullptr, ""), "Opens org.example.app");
}

// The list under the buttons gives the editor's verdict on a command that
// would not start, and why, rather than saying it runs.
TEST(ActionSummary, ACommandThatWouldNotStartIsListedAsSuchWithTheEditorsReason) {
    platform::testing::FolderTree tree("command-summary");
    tree.write("bin/tool", "#!/bin/sh\n");
    ::chmod((tree.path / "bin/tool").c_str(), 0755);
    const std::string bin = (tree.path / "bin").string();
    const std::pair<std::string, std::string> rows[] = {
        {"tool 'a b'", "Runs the “tool 'a b'” command"},
        {"echo 'abc", "Cannot start: A single quote (') is not closed."},
        {"tool \"a", "Cannot start: A double quote (\") is not closed."},
        {"nothing-here x", "Cannot start: No program named “nothing-here” is in the folders of your PATH."},
        {bin + "/gone", "Cannot start: There is no program at " + bin + "/gone."},
    };
    for (const auto& [line, summary] : rows) {
        EXPECT_EQ(actionSummary(Action::runShortcut(line), {}, bin), summary) << line;
        const auto check = ActionEditing::commandCheck(line, bin);
        ASSERT_TRUE(check.has_value());
        if (check->level == PageStatusLevel::bad) {
            EXPECT_EQ(summary, "Cannot start: " + check->text);
        }
    }
}

TEST(ActionSummary, EachStepReadsAsALowerCasePhrase) {
    const struct {
        MacroStep step;
        const char* summary;
    } rows[] = {
        {MacroStep::key(0, M::of({M::control, M::option})), "press Ctrl + Alt + A"},
        {MacroStep::keyDown(56, M::none), "hold Key 56 down"},
        {MacroStep::keyDown(49, M::function), "hold Fn + Space down"},
        {MacroStep::keyUp(0, M::shift), "let Shift + A up"},
        {MacroStep::delay(120.99), "wait 120 ms"},
        {MacroStep::mouseButton(-1), "click mouse button -1"},
    };
    for (const auto& row : rows) EXPECT_EQ(macroStepSummary(row.step), row.summary) << row.step;
}

} // namespace
} // namespace ravolet
