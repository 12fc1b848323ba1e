#include "RavoletApp/ViewModels/ActionSummary.hpp"

#include <fmt/format.h>

#include "Core/Clamp.hpp"
#include "RavoletApp/ViewModels/ActionEditing.hpp"
#include "RavoletApp/ViewModels/KeyCatalog.hpp"
#include "Support/ValueSupport.hpp"

namespace ravolet {

namespace {

template <KeyCase Case>
std::string chord(const KeyPayload<Case>& key) {
    return KeyCatalog::chord(key.modifiers, key.code);
}

// Milliseconds as a whole number, cut toward zero (saturated, NaN as 0).
std::string wholeMillis(double millis) { return fmt::format("{}", truncatedInteger(millis)); }

} // namespace

std::string actionSummary(const Action& action, const ApplicationNameLookup& applicationName,
                          std::string_view commandSearchPath) {
    return std::visit(
        Overloaded{
            [](const Action::KeyStroke& key) { return "Sends " + chord(key); },
            [](const Action::Hold& key) { return "Holds " + chord(key); },
            [](const Action::RepeatWhileHeld& repeat) {
                return "Repeats " + macroStepSummary(repeat.step) + " every " + wholeMillis(repeat.intervalMillis) +
                       " ms";
            },
            [](const Action::Sequence& sequence) {
                const std::size_t count = sequence.steps.size();
                return fmt::format("Plays {} step{}", count, count == 1 ? "" : "s");
            },
            [](const Action::DpiShift& shift) { return fmt::format("Drops to {} DPI while held", shift.toDPI); },
            [&](const Action::LaunchApp& launch) -> std::string {
                if (launch.bundleID.empty()) return "Opens an app (not chosen yet)";
                std::optional<std::string> name = applicationName ? applicationName(launch.bundleID) : std::nullopt;
                return "Opens " + (name && !name->empty() ? *name : launch.bundleID);
            },
            [&](const Action::RunShortcut& shortcut) -> std::string {
                if (shortcut.name.empty()) return "Runs a command (not named yet)";
                const auto check = ActionEditing::commandCheck(shortcut.name, commandSearchPath);
                if (check && check->level == PageStatusLevel::bad) return "Cannot start: " + check->text;
                return "Runs the “" + shortcut.name + "” command";
            },
            [](const Action::PassThrough&) -> std::string { return "Unchanged"; },
        },
        action.value);
}

std::string macroStepSummary(const MacroStep& step) {
    return std::visit(Overloaded{
                          [](const MacroStep::Key& key) { return "press " + chord(key); },
                          [](const MacroStep::KeyDown& key) { return "hold " + chord(key) + " down"; },
                          [](const MacroStep::KeyUp& key) { return "let " + chord(key) + " up"; },
                          [](const MacroStep::Delay& delay) { return "wait " + wholeMillis(delay.millis) + " ms"; },
                          [](const MacroStep::MouseButton& button) {
                              return fmt::format("click mouse button {}", button.number);
                          },
                      },
                      step.value);
}

} // namespace ravolet
