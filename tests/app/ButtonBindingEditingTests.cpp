#include "RavoletApp/ViewModels/ButtonBindingEditing.hpp"

#include <gtest/gtest.h>

namespace ravolet {
namespace {

using M = ModifierFlags;
namespace BB = ButtonBindingEditing;
using Bindings = std::vector<ButtonBinding>;

ButtonBinding binding(std::int64_t button, M modifiers, Action action, bool enabled = true) {
    return {button, modifiers, std::move(action), enabled};
}

Profile withButtons(Bindings buttons, std::string id = std::string(Profile::defaultProfileID)) {
    Profile profile = Profile::defaultProfile();
    profile.id = std::move(id);
    profile.buttons = std::move(buttons);
    return profile;
}

const Action sendC = Action::keyStroke(8, M::command);
const Action sniper = Action::dpiShift(400);

TEST(ButtonBindingEditing, ButtonsAreNamedAndFoundByPressingOnlyFromThreeToFifteen) {
    EXPECT_EQ(BB::bindableButtons().size(), 13u);
    EXPECT_EQ(BB::bindableButtons().front(), 3);
    EXPECT_EQ(BB::bindableButtons().back(), 15);
    // Named where the button is and by the number X (xev, xinput) gives it;
    // the note also says what the kernel calls it. The stored numbers stay.
    const struct {
        std::int64_t button;
        std::string name;
        std::string kernel;
    } named[] = {
        {3, "Back — button 8", "BTN_SIDE"},
        {4, "Forward — button 9", "BTN_EXTRA"},
        {5, "Sniper — button 10", "BTN_FORWARD"},
        {6, "Button 11 — not on a G502 X", "BTN_BACK"},
        {8, "Button 13 — not on a G502 X", "key code 280"},
        {15, "Button 20 — not on a G502 X", "key code 287"},
    };
    for (const auto& [button, name, kernel] : named) {
        EXPECT_EQ(BB::buttonName(button), name);
        EXPECT_NE(BB::buttonNote(button).find("the kernel, " + kernel + "."), std::string::npos) << BB::buttonNote(button);
    }
    EXPECT_EQ(BB::restoreAccessibleName(5), "Restore all bindings for Sniper — button 10 to defaults");
    for (std::int64_t pressed : {-1, 0, 1, 2, 16, 99}) EXPECT_EQ(BB::buttonFoundByPress(pressed), std::nullopt);
    for (std::int64_t pressed : {3, 9, 15}) EXPECT_EQ(BB::buttonFoundByPress(pressed), pressed);
}

TEST(ButtonBindingEditing, TheSummaryDescribesThePlainBindingElseTheFirstAndCountsTheOthers) {
    struct Row {
        Bindings buttons;
        std::string expected;
    };
    const Row rows[] = {
        {{binding(4, M::none, sendC)}, "Unchanged"},
        {{binding(3, M::command, sniper, false), binding(3, M::none, sendC)}, "Sends Super + C (+1 more)"},
        {{binding(3, M::command, sniper), binding(3, M::none, sendC, false)}, "Turned off (+1 more)"},
        {{binding(3, M::command, sniper), binding(3, M::shift, sendC)}, "Drops to 400 DPI while held (+1 more)"},
        // Caps lock alone counts as no modifier.
        {{binding(3, M::command, sniper), binding(3, M::capsLock, sendC), binding(3, M::none, Action::passThrough())},
         "Sends Super + C (+2 more)"},
        {{binding(3, M::none, Action::launchApp("org.gimp.GIMP"))}, "Opens GIMP"},
    };
    const ApplicationNameLookup names = [](const std::string& id) -> std::optional<std::string> {
        if (id == "org.gimp.GIMP") return "GIMP";
        return std::nullopt;
    };
    for (const Row& row : rows) EXPECT_EQ(BB::summary(withButtons(row.buttons), 3, names, ""), row.expected);

    EXPECT_TRUE(BB::hasPlainBinding(withButtons({binding(3, M::capsLock, sendC)}), 3));
    EXPECT_FALSE(BB::hasPlainBinding(withButtons({binding(3, M::command, sendC), binding(4, M::none, sendC)}), 3));
}

TEST(ButtonBindingEditing, AddingAppendsAndRestoringGivesTheFactoryBindingsOfThatProfileAndButton) {
    const Config factory = Config::defaultConfig();
    const ButtonBinding other = binding(3, M::none, sendC);
    const Bindings custom{binding(5, M::none, sendC), other, binding(5, M::command, sendC), binding(5, M::shift, sendC)};

    EXPECT_EQ(BB::addingBinding(withButtons({other}), 7, false).buttons,
              (Bindings{other, binding(7, M::none, Action::keyStroke(0, M::none))}));
    EXPECT_EQ(BB::addingBinding(withButtons({other}), 7, true).buttons,
              (Bindings{other, binding(7, M::command, Action::keyStroke(0, M::none))}));

    struct Row {
        std::string profileID;
        std::int64_t button;
        Bindings expected;
    };
    const Row rows[] = {
        {"default", 5, {other, binding(5, M::none, sniper)}},
        {factory.profiles[1].id, 5, {other, binding(5, M::none, sniper)}},
        {"default", 3, {custom[0], custom[2], custom[3]}},
        {"mine", 5, {other}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(BB::restoringDefaults(withButtons(custom, row.profileID), row.button, factory).buttons, row.expected)
            << row.profileID << " " << row.button;
}

TEST(ButtonBindingEditing, ACardReadsAndWritesItsPositionAndIgnoresOneNoLongerInTheList) {
    const Config factory = Config::defaultConfig();
    const Profile profile = withButtons({binding(5, M::command, sendC), binding(5, M::none, sendC)});
    const ButtonBinding changed = binding(5, M::none, Action::passThrough(), false);

    EXPECT_EQ(BB::bindingIndices(profile, 5), (std::vector<std::size_t>{0, 1}));
    EXPECT_EQ(BB::bindingAt(profile, 1, 5), profile.buttons[1]);
    EXPECT_EQ(BB::bindingAt(profile, 2, 5), binding(5, M::none, Action::passThrough()));
    EXPECT_EQ(BB::replacingBinding(profile, 1, changed)->buttons, (Bindings{profile.buttons[0], changed}));
    EXPECT_EQ(BB::removingBinding(profile, 0)->buttons, Bindings{profile.buttons[1]});
    for (std::ptrdiff_t outside : {std::ptrdiff_t{-1}, std::ptrdiff_t{2}}) {
        EXPECT_EQ(BB::replacingBinding(profile, outside, changed), std::nullopt);
        EXPECT_EQ(BB::removingBinding(profile, outside), std::nullopt);
    }

    struct Row {
        Profile profile;
        std::ptrdiff_t index;
        Action expected;
    };
    const Row rows[] = {
        {profile, 1, sniper},
        {profile, 0, Action::passThrough()}, // no factory binding with command
        {profile, 2, sniper},                // the stand-by has no modifiers
        {withButtons({binding(5, M::capsLock, sendC)}), 0, Action::passThrough()}, // all bits compared
        {withButtons(profile.buttons, "mine"), 1, Action::passThrough()},
    };
    for (const Row& row : rows) EXPECT_EQ(BB::defaultAction(row.profile, row.index, 5, factory), row.expected);
}

TEST(ButtonBindingEditing, TheHeaderSpellsOutTheModifiersInCatalogueOrderAndTicksKeepOtherBits) {
    struct Row {
        M modifiers;
        std::string header;
    };
    const Row rows[] = {
        {M::none, "Whenever the button is pressed"},
        {M::capsLock, "Whenever the button is pressed"},
        {M::command, "Only while Super is held"},
        {M::command | M::control, "Only while Ctrl + Super is held"},
        {M::capsLock | M::shift, "Only while Shift is held"},
    };
    for (const Row& row : rows) EXPECT_EQ(BB::cardHeader(row.modifiers), row.header);

    EXPECT_EQ(BB::withModifier(M::capsLock, M::shift, true), M::capsLock | M::shift);
    EXPECT_EQ(BB::withModifier(M::capsLock | M::shift, M::shift, false), M::capsLock);
    EXPECT_EQ(BB::withModifier(M::none, M::shift, false), M::none);
    EXPECT_TRUE(BB::hasModifier(M::shift | M::command, M::command));
    EXPECT_FALSE(BB::hasModifier(M::capsLock, M::shift));
}

} // namespace
} // namespace ravolet
