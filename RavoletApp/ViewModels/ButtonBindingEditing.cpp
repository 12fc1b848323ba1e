#include "RavoletApp/ViewModels/ButtonBindingEditing.hpp"

#include <algorithm>

#include <fmt/format.h>

#include "RavoletApp/ViewModels/KeyCatalog.hpp"
#include "RavoletApp/ViewModels/ListEdits.hpp"

namespace ravolet::ButtonBindingEditing {

namespace {

bool isPlain(const ButtonBinding& binding) { return binding.modifiers.normalized().isEmpty(); }

std::vector<ButtonBinding> factoryBindings(const Profile& profile, std::int64_t button, const Config& factory) {
    std::vector<ButtonBinding> found;
    if (const std::optional<Profile> original = factory.profile(profile.id))
        for (const ButtonBinding& binding : original->buttons)
            if (binding.button == button) found.push_back(binding);
    return found;
}

} // namespace

std::vector<std::int64_t> bindableButtons() {
    std::vector<std::int64_t> buttons;
    for (std::int64_t button = firstBindableButton; button <= lastBindableButton; ++button) buttons.push_back(button);
    return buttons;
}

bool isBindable(std::int64_t button) { return button >= firstBindableButton && button <= lastBindableButton; }

std::string buttonName(std::int64_t button) {
    switch (button) {
    case 3:
        return "Button 3 — Back";
    case 4:
        return "Button 4 — Forward";
    case 5:
        return "Button 5 — Sniper";
    default:
        return fmt::format("Button {}", button);
    }
}

std::string_view buttonNote(std::int64_t button) {
    switch (button) {
    case 3:
        return "The rear thumb button on most mice. Your desktop treats it as Back in Firefox, Files and anything else "
               "that has a history.";
    case 4:
        return "The front thumb button on most mice. Your desktop treats it as Forward.";
    case 5:
        return "The button under your thumb tip on a G502 X. It ships as the DPI-shift, or “sniper”, button and "
               "Ravolet binds it to drop to 400 DPI while held.";
    default:
        return "One of the extra buttons your mouse reports. If you are not sure which is which, switch on “Find a "
               "button by pressing it” at the bottom of the list and press it.";
    }
}

std::vector<std::size_t> bindingIndices(const Profile& profile, std::int64_t button) {
    std::vector<std::size_t> indices;
    for (std::size_t i = 0; i < profile.buttons.size(); ++i)
        if (profile.buttons[i].button == button) indices.push_back(i);
    return indices;
}

std::string summary(const Profile& profile, std::int64_t button, const ApplicationNameLookup& applicationName,
                    std::string_view commandSearchPath) {
    const std::vector<std::size_t> indices = bindingIndices(profile, button);
    if (indices.empty()) return "Unchanged";
    const auto plain = std::ranges::find_if(indices, [&](std::size_t i) { return isPlain(profile.buttons[i]); });
    const ButtonBinding& chosen = profile.buttons[plain != indices.end() ? *plain : indices.front()];
    std::string text = chosen.isEnabled ? actionSummary(chosen.action, applicationName, commandSearchPath) : "Turned off";
    if (indices.size() >= 2) text += fmt::format(" (+{} more)", indices.size() - 1);
    return text;
}

bool hasPlainBinding(const Profile& profile, std::int64_t button) {
    return std::ranges::any_of(profile.buttons,
                               [&](const ButtonBinding& b) { return b.button == button && isPlain(b); });
}

Profile addingBinding(const Profile& profile, std::int64_t button, bool needsModifier) {
    Profile changed = profile;
    changed.buttons.push_back(ButtonBinding{button, needsModifier ? ModifierFlags::command : ModifierFlags::none,
                                            Action::keyStroke(0, ModifierFlags::none), true});
    return changed;
}

Profile restoringDefaults(const Profile& profile, std::int64_t button, const Config& factory) {
    Profile changed = profile;
    std::erase_if(changed.buttons, [&](const ButtonBinding& b) { return b.button == button; });
    std::ranges::copy(factoryBindings(profile, button, factory), std::back_inserter(changed.buttons));
    return changed;
}

ButtonBinding bindingAt(const Profile& profile, std::ptrdiff_t index, std::int64_t button) {
    return entryAt(profile.buttons, index, ButtonBinding{button, ModifierFlags::none, Action::passThrough(), true});
}

std::optional<Profile> replacingBinding(const Profile& profile, std::ptrdiff_t index, const ButtonBinding& binding) {
    std::optional<std::vector<ButtonBinding>> buttons = replacingAt(profile.buttons, index, binding);
    if (!buttons) return std::nullopt;
    Profile changed = profile;
    changed.buttons = *std::move(buttons);
    return changed;
}

std::optional<Profile> removingBinding(const Profile& profile, std::ptrdiff_t index) {
    std::optional<std::vector<ButtonBinding>> buttons = removingAt(profile.buttons, index);
    if (!buttons) return std::nullopt;
    Profile changed = profile;
    changed.buttons = *std::move(buttons);
    return changed;
}

Action defaultAction(const Profile& profile, std::ptrdiff_t index, std::int64_t button, const Config& factory) {
    const ModifierFlags modifiers = bindingAt(profile, index, button).modifiers;
    for (const ButtonBinding& binding : factoryBindings(profile, button, factory))
        if (binding.modifiers == modifiers) return binding.action;
    return Action::passThrough();
}

std::string cardHeader(ModifierFlags modifiers) {
    if (modifiers.normalized().isEmpty()) return "Whenever the button is pressed";
    return "Only while " + KeyCatalog::spelledOut(modifiers) + " is held";
}

bool hasModifier(ModifierFlags modifiers, ModifierFlags flag) { return modifiers.contains(flag); }

ModifierFlags withModifier(ModifierFlags modifiers, ModifierFlags flag, bool on) {
    return on ? modifiers.unionWith(flag) : modifiers.subtracting(flag);
}

std::optional<std::int64_t> buttonFoundByPress(std::int64_t buttonNumber) {
    return isBindable(buttonNumber) ? std::optional(buttonNumber) : std::nullopt;
}

std::string rowAccessibleName(std::int64_t button, std::string_view summary) {
    std::string said(summary);
    // A summary opens with a capitalised word ("Sends", "Unchanged"), which
    // reads as the middle of the phrase in lower case; a capitalised
    // abbreviation is left as it is.
    const auto upper = [](char c) { return c >= 'A' && c <= 'Z'; };
    if (!said.empty() && upper(said[0]) && !(said.size() > 1 && upper(said[1])))
        said[0] = static_cast<char>(said[0] - 'A' + 'a');
    return buttonName(button) + ", " + said;
}

std::string restoreAccessibleName(std::int64_t button) {
    return "Restore all bindings for " + buttonName(button) + " to defaults";
}

} // namespace ravolet::ButtonBindingEditing
