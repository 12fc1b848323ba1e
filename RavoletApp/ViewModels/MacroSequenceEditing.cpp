#include "RavoletApp/ViewModels/MacroSequenceEditing.hpp"

#include "RavoletApp/ViewModels/ListEdits.hpp"
#include "Support/ValueSupport.hpp"

namespace ravolet::MacroSequenceEditing {

MacroStepKind kind(const MacroStep& step) {
    return std::visit(Overloaded{
                          [](const MacroStep::Key&) { return MacroStepKind::key; },
                          [](const MacroStep::KeyDown&) { return MacroStepKind::keyDown; },
                          [](const MacroStep::KeyUp&) { return MacroStepKind::keyUp; },
                          [](const MacroStep::Delay&) { return MacroStepKind::delay; },
                          [](const MacroStep::MouseButton&) { return MacroStepKind::mouseButton; },
                      },
                      step.value);
}

std::string_view title(MacroStepKind kind) {
    switch (kind) {
    case MacroStepKind::key:
        return "Press and release a key";
    case MacroStepKind::keyDown:
        return "Hold a key down";
    case MacroStepKind::keyUp:
        return "Let a key back up";
    case MacroStepKind::delay:
        return "Wait";
    case MacroStepKind::mouseButton:
        return "Click a mouse button";
    }
    return {};
}

RecordedKey key(const MacroStep& step) {
    return std::visit(Overloaded{
                          [](const MacroStep::Key& k) { return RecordedKey{k.code, k.modifiers}; },
                          [](const MacroStep::KeyDown& k) { return RecordedKey{k.code, k.modifiers}; },
                          [](const MacroStep::KeyUp& k) { return RecordedKey{k.code, k.modifiers}; },
                          [](const auto&) { return RecordedKey{}; },
                      },
                      step.value);
}

namespace {

MacroStep keyStep(MacroStepKind kind, RecordedKey key) {
    switch (kind) {
    case MacroStepKind::keyDown:
        return MacroStep::keyDown(key.code, key.modifiers);
    case MacroStepKind::keyUp:
        return MacroStep::keyUp(key.code, key.modifiers);
    default:
        return MacroStep::key(key.code, key.modifiers);
    }
}

bool isKeyKind(MacroStepKind kind) {
    return kind == MacroStepKind::key || kind == MacroStepKind::keyDown || kind == MacroStepKind::keyUp;
}

} // namespace

MacroStep withKey(const MacroStep& step, RecordedKey key) {
    const MacroStepKind current = kind(step);
    return isKeyKind(current) ? keyStep(current, key) : step;
}

MacroStep withKind(const MacroStep& step, MacroStepKind kind) {
    switch (kind) {
    case MacroStepKind::delay:
        return MacroStep::delay(newPauseMillis);
    case MacroStepKind::mouseButton:
        return MacroStep::mouseButton(newMouseButton);
    default:
        return keyStep(kind, key(step));
    }
}

MacroStep keyPress() { return MacroStep::key(0, ModifierFlags::none); }
MacroStep pause() { return MacroStep::delay(newPauseMillis); }
std::vector<MacroStep> resetSequence() { return {keyPress()}; }

MacroStep stepAt(const std::vector<MacroStep>& steps, std::ptrdiff_t index) {
    return entryAt(steps, index, MacroStep::delay(0));
}

std::optional<std::vector<MacroStep>> replacingStep(const std::vector<MacroStep>& steps, std::ptrdiff_t index,
                                                    const MacroStep& step) {
    return replacingAt(steps, index, step);
}

std::optional<std::vector<MacroStep>> removingStep(const std::vector<MacroStep>& steps, std::ptrdiff_t index) {
    return removingAt(steps, index);
}

std::optional<std::vector<MacroStep>> movingEarlier(const std::vector<MacroStep>& steps, std::ptrdiff_t index) {
    return swappingWithNeighbour(steps, index, -1);
}

std::optional<std::vector<MacroStep>> movingLater(const std::vector<MacroStep>& steps, std::ptrdiff_t index) {
    return swappingWithNeighbour(steps, index, 1);
}

bool canMoveEarlier(std::ptrdiff_t index, std::size_t count) {
    return index >= 1 && isValidPosition(index, count);
}

bool canMoveLater(std::ptrdiff_t index, std::size_t count) {
    return isValidPosition(index, count) && isValidPosition(index + 1, count);
}

} // namespace ravolet::MacroSequenceEditing
