#include "RavoletApp/ViewModels/ActionEditing.hpp"

#include <fmt/format.h>

#include "Core/Clamp.hpp"
#include "Platform/Linux/Desktop/DesktopExec.hpp"
#include "Support/ValueSupport.hpp"

namespace ravolet::ActionEditing {

namespace {

template <KeyCase Case>
RecordedKey keyOf(const KeyPayload<Case>& payload) {
    return {payload.code, payload.modifiers};
}

// The key of a step that presses, holds or releases one.
std::optional<RecordedKey> stepKey(const MacroStep& step) {
    return std::visit(Overloaded{
                          [](const MacroStep::Key& k) -> std::optional<RecordedKey> { return keyOf(k); },
                          [](const MacroStep::KeyDown& k) -> std::optional<RecordedKey> { return keyOf(k); },
                          [](const MacroStep::KeyUp& k) -> std::optional<RecordedKey> { return keyOf(k); },
                          [](const auto&) -> std::optional<RecordedKey> { return std::nullopt; },
                      },
                      step.value);
}

} // namespace

RecordedKey key(const Action& action) {
    return std::visit(Overloaded{
                          [](const Action::KeyStroke& k) { return keyOf(k); },
                          [](const Action::Hold& k) { return keyOf(k); },
                          [](const Action::RepeatWhileHeld& r) { return stepKey(r.step).value_or(RecordedKey{}); },
                          [](const auto&) { return RecordedKey{}; },
                      },
                      action.value);
}

Action withKey(const Action& action, RecordedKey key) {
    return std::visit(Overloaded{
                          [&](const Action::KeyStroke&) { return Action::keyStroke(key.code, key.modifiers); },
                          [&](const Action::Hold&) { return Action::hold(key.code, key.modifiers); },
                          [&](const Action::RepeatWhileHeld& r) {
                              // A recorded key always leaves a press and release,
                              // even where the step held or released the key before.
                              return Action::repeatWhileHeld(MacroStep::key(key.code, key.modifiers), r.intervalMillis);
                          },
                          [&](const auto&) { return action; },
                      },
                      action.value);
}

double repeatInterval(const Action& action) {
    const auto* repeat = std::get_if<Action::RepeatWhileHeld>(&action.value);
    return repeat ? repeat->intervalMillis : defaultRepeatIntervalMillis;
}

Action withRepeatInterval(const Action& action, double millis) {
    const auto* repeat = std::get_if<Action::RepeatWhileHeld>(&action.value);
    return repeat ? Action::repeatWhileHeld(repeat->step, millis) : action;
}

std::vector<MacroStep> sequenceSteps(const Action& action) {
    const auto* sequence = std::get_if<Action::Sequence>(&action.value);
    return sequence ? sequence->steps : std::vector<MacroStep>{};
}

std::int64_t shiftDPI(const Action& action) {
    const auto* shift = std::get_if<Action::DpiShift>(&action.value);
    return shift ? shift->toDPI : defaultShiftDPI;
}

std::string launchBundleID(const Action& action) {
    const auto* launch = std::get_if<Action::LaunchApp>(&action.value);
    return launch ? launch->bundleID : std::string();
}

std::string shortcutName(const Action& action) {
    const auto* run = std::get_if<Action::RunShortcut>(&action.value);
    return run ? run->name : std::string();
}

std::optional<RecordedKey> carriedKey(const Action& action) {
    return std::visit(
        Overloaded{
            [](const Action::KeyStroke& k) -> std::optional<RecordedKey> { return keyOf(k); },
            [](const Action::Hold& k) -> std::optional<RecordedKey> { return keyOf(k); },
            [](const Action::RepeatWhileHeld& r) -> std::optional<RecordedKey> {
                // A released key is not what the repeat was about.
                if (std::holds_alternative<MacroStep::KeyUp>(r.step.value)) return std::nullopt;
                return stepKey(r.step);
            },
            [](const Action::Sequence& s) -> std::optional<RecordedKey> {
                for (const MacroStep& step : s.steps)
                    if (const auto* k = std::get_if<MacroStep::Key>(&step.value)) return keyOf(*k);
                return std::nullopt;
            },
            [](const auto&) -> std::optional<RecordedKey> { return std::nullopt; },
        },
        action.value);
}

Action withKind(const Action& action, ActionKind kind) {
    if (actionKind(action) == kind) return action;
    const RecordedKey carried = carriedKey(action).value_or(RecordedKey{});
    switch (kind) {
    case ActionKind::passThrough:
        return Action::passThrough();
    case ActionKind::keyStroke:
        return Action::keyStroke(carried.code, carried.modifiers);
    case ActionKind::hold:
        return Action::hold(carried.code, carried.modifiers);
    case ActionKind::repeatWhileHeld:
        return Action::repeatWhileHeld(MacroStep::key(carried.code, carried.modifiers), defaultRepeatIntervalMillis);
    case ActionKind::sequence:
        return Action::sequence({MacroStep::key(carried.code, carried.modifiers)});
    case ActionKind::dpiShift:
        return Action::dpiShift(defaultShiftDPI);
    case ActionKind::launchApp:
        return Action::launchApp("");
    case ActionKind::runShortcut:
        return Action::runShortcut("");
    }
    return action;
}

std::int64_t dpiFromSlider(double value) { return truncatedInteger(value); }

std::optional<std::string> dpiRoundingNote(const std::optional<HIDPPDPIRange>& capability, std::int64_t dpi) {
    if (!capability) return std::nullopt;
    return fmt::format("Your mouse accepts {}. Ravolet rounds to the nearest value it will take, so it will actually "
                       "be set to {}.",
                       capability->description(), capability->normalize(dpi));
}

std::string millisecondsText(double millis) { return fmt::format("{} ms", truncatedInteger(millis)); }

std::optional<PageStatusLine> commandCheck(std::string_view line, std::string_view path) {
    if (line.find_first_not_of(" \t\n") == std::string_view::npos) return std::nullopt;
    const auto command = platform::resolveCommand(line, path);
    if (!command) return PageStatusLine{PageStatusLevel::bad, command.error().description()};
    // A path may name nothing, or a file that cannot be run.
    if (const auto problem = platform::programProblem(command->program))
        return PageStatusLine{PageStatusLevel::bad, problem->description()};
    const std::vector<std::string>& arguments = command->arguments;
    std::string text = "Starts " + command->program;
    if (arguments.empty()) return PageStatusLine{PageStatusLevel::good, text + " with no arguments."};
    text += arguments.size() == 1 ? " with one argument: " : fmt::format(" with {} arguments: ", arguments.size());
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (i > 0) text += i + 1 == arguments.size() ? " and " : ", ";
        text += "\u201C" + arguments[i] + "\u201D";
    }
    return PageStatusLine{PageStatusLevel::good, text + "."};
}

} // namespace ravolet::ActionEditing
