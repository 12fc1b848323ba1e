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

LinuxButton linuxButton(std::int64_t button) {
    // The kernel's names of BTN_LEFT + n; from 8 on its codes have none.
    constexpr std::string_view kernelNames[] = {"BTN_LEFT",    "BTN_RIGHT", "BTN_MIDDLE", "BTN_SIDE",
                                                "BTN_EXTRA",   "BTN_FORWARD", "BTN_BACK", "BTN_TASK"};
    constexpr int btnLeft = 0x110;
    const int n = static_cast<int>(std::clamp<std::int64_t>(button, 0, 15));
    LinuxButton known{.kernelCode = btnLeft + n,
                      .kernelName = n < 8 ? kernelNames[n] : std::string_view(),
                      // xf86-input-libinput and xf86-input-evdev alike: left,
                      // middle and right are 1, 2 and 3, the side buttons 8 on.
                      .xButton = n == 0 ? 1 : n == 1 ? 3 : n == 2 ? 2 : n + 5,
                      .place = {}};
    // A G502 X as it ships sends the side buttons and the sniper from its
    // pointer interface. Its other controls (the DPI buttons, the wheel's
    // tilt) act inside the mouse or scroll sideways; one given a key in the
    // mouse's memory sends it from the keyboard interface instead.
    constexpr std::string_view places[] = {"Left", "Right", "Middle", "Back", "Forward", "Sniper"};
    if (n < 6) known.place = places[n];
    return known;
}

std::string buttonName(std::int64_t button) {
    const LinuxButton known = linuxButton(button);
    if (known.place.empty()) return fmt::format("Button {} — not on a G502 X", known.xButton);
    return fmt::format("{} — button {}", known.place, known.xButton);
}

std::string buttonNote(std::int64_t button) {
    const LinuxButton known = linuxButton(button);
    const std::string kernel =
        known.kernelName.empty() ? fmt::format("key code {}", known.kernelCode) : std::string(known.kernelName);
    const std::string linuxNames = fmt::format("X, xev and xinput call it button {}; the kernel, {}.", known.xButton, kernel);
    switch (button) {
    case 3:
        return "The rear thumb button on most mice. Your desktop treats it as Back in Firefox, Files and anything else "
               "that has a history. " + linuxNames;
    case 4:
        return "The front thumb button on most mice. Your desktop treats it as Forward. " + linuxNames;
    case 5:
        return "The button under your thumb tip on a G502 X. It ships as the DPI-shift, or “sniper”, button and "
               "Ravolet binds it to drop to 400 DPI while held. " + linuxNames;
    default:
        return fmt::format(
            "One of the extra buttons a mouse can report. A G502 X sends no button {} as it ships: its DPI buttons, "
            "the button behind the wheel and the tilt of the wheel work inside the mouse or scroll sideways, and a "
            "control given a key in the mouse's own memory sends that key from the mouse's keyboard interface, which "
            "Ravolet leaves alone. {} If you are not sure which is which, switch on “Find a button by pressing it” at "
            "the bottom of the list and press it.",
            known.xButton, linuxNames);
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
