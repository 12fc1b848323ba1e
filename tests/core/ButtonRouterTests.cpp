#include <gtest/gtest.h>

#include <limits>
#include <set>

#include "Core/ButtonRouter.hpp"

using namespace ravolet;

namespace {

using Intents = std::vector<ButtonIntent>;
using I = ButtonIntent;

const ModifierFlags kNone = ModifierFlags::none;
const ModifierFlags kShift = ModifierFlags::shift;
const ModifierFlags kCommand = ModifierFlags::command;
const ModifierFlags kOption = ModifierFlags::option;

ButtonBinding bind(std::int64_t button, Action action, ModifierFlags modifiers = ModifierFlags::none, bool enabled = true) {
    return ButtonBinding{button, modifiers, std::move(action), enabled};
}

Intents down(ButtonRouter& router, std::int64_t button, double at = 0, ModifierFlags modifiers = ModifierFlags::none) {
    return router.handle(ButtonEvent::down(button, at, modifiers));
}
Intents up(ButtonRouter& router, std::int64_t button, double at = 0) { return router.handle(ButtonEvent::up(button, at)); }

} // namespace

TEST(ButtonEvent, FactoriesSetTheDirection) {
    EXPECT_EQ(ButtonEvent::down(4, 12.5, kShift), (ButtonEvent{4, true, kShift, 12.5}));
    EXPECT_EQ(ButtonEvent::up(4, 13), (ButtonEvent{4, false, kNone, 13}));
    EXPECT_NE(std::hash<ButtonEvent>{}(ButtonEvent::down(4, 1)), std::hash<ButtonEvent>{}(ButtonEvent::up(4, 1)));
    EXPECT_TRUE(ButtonRouter::bindableButtons.contains(3));
    EXPECT_TRUE(ButtonRouter::bindableButtons.contains(15));
    EXPECT_FALSE(ButtonRouter::bindableButtons.contains(2));
    EXPECT_FALSE(ButtonRouter::bindableButtons.contains(16));
    EXPECT_EQ(std::ranges::distance(ButtonRouter::bindableButtons.values()), 13);
}

TEST(ButtonRouterChoice, MostSpecificSubsetWinsThenSmallerMaskThenEarlier) {
    const Action a = Action::keyStroke(1, kNone), b = Action::keyStroke(2, kNone), c = Action::keyStroke(3, kNone),
                 d = Action::keyStroke(4, kNone);
    ButtonRouter router({bind(4, a), bind(4, b, kCommand), bind(4, c, kCommand | kShift)}, 1600);
    EXPECT_EQ(router.action(4, kNone), a);
    EXPECT_EQ(router.action(4, kCommand), b);
    EXPECT_EQ(router.action(4, kCommand | kShift | ModifierFlags::capsLock), c);
    EXPECT_EQ(router.action(4, kOption | kCommand), b);
    router.bindings.push_back(bind(4, d, kOption));
    EXPECT_EQ(router.action(4, kOption | kCommand), d);
    EXPECT_EQ(router.action(5, kNone), Action::passThrough());

    // Caps lock and unnamed bits in a binding are ignored; the earlier of two equal bindings wins.
    ButtonRouter caps({bind(6, a, ModifierFlags::capsLock | ModifierFlags(64)), bind(6, b)}, 1600);
    EXPECT_EQ(caps.action(6, kNone), a);
    ButtonRouter plainFirst({bind(6, b), bind(6, a, ModifierFlags::capsLock)}, 1600);
    EXPECT_EQ(plainFirst.action(6, ModifierFlags::capsLock), b);

    // Disabled bindings never apply; with all of them disabled the button passes through.
    ButtonRouter disabled({bind(7, a, kNone, false), bind(7, b, kShift, false)}, 1600);
    EXPECT_EQ(down(disabled, 7, 0, kShift), Intents{I::passThroughButton(7, true)});
    EXPECT_EQ(up(disabled, 7), Intents{I::passThroughButton(7, false)});
    EXPECT_EQ(ButtonRouter({}, 800).action(3, kNone), Action::passThrough());
}

TEST(ButtonRouterPress, EachActionGivesItsIntents) {
    const MacroStep key = MacroStep::key(8, kCommand);
    ButtonRouter router({bind(0, Action::keyStroke(36, kCommand)), bind(1, Action::sequence({key, MacroStep::delay(-2), MacroStep::mouseButton(2)})),
                         bind(3, Action::sequence({})), bind(4, Action::launchApp("com.example.app")),
                         bind(5, Action::runShortcut("Focus"))},
                        1600);
    // Left and right clicks reach the router like any other button.
    EXPECT_EQ(down(router, 0), (Intents{I::keyDown(36, kCommand), I::keyUp(36, kCommand)}));
    EXPECT_EQ(up(router, 0), Intents{});
    EXPECT_EQ(down(router, 1), (Intents{I::keyDown(8, kCommand), I::keyUp(8, kCommand), I::delay(0), I::mouseButtonDown(2),
                                        I::mouseButtonUp(2)}));
    EXPECT_EQ(up(router, 1), Intents{});
    EXPECT_EQ(down(router, 3), Intents{});
    EXPECT_EQ(up(router, 3), Intents{});
    EXPECT_EQ(down(router, 4), Intents{I::launchApp("com.example.app")});
    EXPECT_EQ(up(router, 4), Intents{});
    EXPECT_EQ(down(router, 5), Intents{I::runShortcut("Focus")});
    EXPECT_EQ(up(router, 5), Intents{});
    EXPECT_TRUE(router.heldButtons().empty());
}

TEST(ButtonRouterPress, RepeatedPressesAndStrayReleases) {
    ButtonRouter router({bind(4, Action::keyStroke(1, kNone)), bind(4, Action::keyStroke(2, kNone), kShift)}, 1600);
    EXPECT_EQ(up(router, 4), Intents{I::passThroughButton(4, false)});
    EXPECT_EQ(down(router, 4, 10, kShift), (Intents{I::keyDown(2, kNone), I::keyUp(2, kNone)}));
    // A second press of the held button changes nothing, whatever is held now.
    EXPECT_EQ(down(router, 4, 11, kNone), Intents{});
    EXPECT_EQ(router.heldAction(4), Action::keyStroke(2, kNone));
    EXPECT_EQ(router.heldAction(5), std::nullopt);
    EXPECT_EQ(up(router, 4), Intents{});
    EXPECT_EQ(up(router, 4), Intents{I::passThroughButton(4, false)});

    // A release after a reset is a stray release again.
    ButtonRouter passing({}, 1600);
    EXPECT_EQ(down(passing, 9), Intents{I::passThroughButton(9, true)});
    EXPECT_EQ(passing.reset(), Intents{I::passThroughButton(9, false)});
    EXPECT_EQ(up(passing, 9), Intents{I::passThroughButton(9, false)});
}

TEST(ButtonRouterHold, KeyOwnersAreCountedPerCodeAndModifiers) {
    ButtonRouter router({bind(4, Action::hold(56, kShift)), bind(5, Action::hold(56, kShift)), bind(6, Action::hold(56, kCommand))},
                        1600);
    EXPECT_EQ(down(router, 4), Intents{I::keyDown(56, kShift)});
    EXPECT_EQ(down(router, 5), Intents{});
    EXPECT_EQ(down(router, 6), Intents{I::keyDown(56, kCommand)});
    EXPECT_EQ(up(router, 4), Intents{});
    EXPECT_EQ(up(router, 6), Intents{I::keyUp(56, kCommand)});
    EXPECT_EQ(up(router, 5), Intents{I::keyUp(56, kShift)});
    // Every owner is gone: the next press is a first owner again.
    EXPECT_EQ(down(router, 5), Intents{I::keyDown(56, kShift)});
    EXPECT_EQ(up(router, 5), Intents{I::keyUp(56, kShift)});
}

TEST(ButtonRouterRepeat, StepThenTokenWithIntervalAtLeastOneMillisecond) {
    const MacroStep step = MacroStep::key(4, kNone);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    ButtonRouter router({bind(4, Action::repeatWhileHeld(step, 0)), bind(5, Action::repeatWhileHeld(MacroStep::mouseButton(2), nan)),
                         bind(6, Action::repeatWhileHeld(MacroStep::delay(3), 40.5))},
                        1600);
    EXPECT_EQ(down(router, 4, 100.25), (Intents{I::keyDown(4, kNone), I::keyUp(4, kNone), I::startRepeat({4, step, 1, 100.25})}));
    EXPECT_EQ(down(router, 5, 7),
              (Intents{I::mouseButtonDown(2), I::mouseButtonUp(2), I::startRepeat({5, MacroStep::mouseButton(2), 1, 7})}));
    EXPECT_EQ(down(router, 6, 8), (Intents{I::delay(3), I::startRepeat({6, MacroStep::delay(3), 40.5, 8})}));
    EXPECT_EQ(up(router, 5), Intents{I::stopRepeat(5)});
    EXPECT_EQ(up(router, 4), Intents{I::stopRepeat(4)});
    EXPECT_EQ(up(router, 6), Intents{I::stopRepeat(6)});
}

TEST(ButtonRouterDpi, MostRecentHeldShiftSetsTheDpi) {
    ButtonRouter router({bind(5, Action::dpiShift(400)), bind(6, Action::dpiShift(800)), bind(7, Action::dpiShift(1600))}, 1600);
    EXPECT_EQ(down(router, 5), Intents{I::setDPI(400)});
    EXPECT_EQ(down(router, 6), Intents{I::setDPI(800)});
    EXPECT_EQ(router.currentDPI(), 800);
    EXPECT_EQ(up(router, 5), Intents{});
    EXPECT_EQ(router.currentDPI(), 800);
    EXPECT_EQ(up(router, 6), Intents{I::setDPI(1600)});
    EXPECT_EQ(router.currentDPI(), 1600);

    // Releasing the newest shift falls back to the one pressed before it.
    EXPECT_EQ(down(router, 5), Intents{I::setDPI(400)});
    EXPECT_EQ(down(router, 6), Intents{I::setDPI(800)});
    EXPECT_EQ(up(router, 6), Intents{I::setDPI(400)});
    EXPECT_EQ(up(router, 5), Intents{I::setDPI(1600)});

    // A shift to the DPI in force changes nothing at press or release.
    EXPECT_EQ(down(router, 7), Intents{});
    EXPECT_EQ(up(router, 7), Intents{});

    // A later release uses the base DPI in force at that time.
    EXPECT_EQ(down(router, 5), Intents{I::setDPI(400)});
    router.baseDPI = 1200;
    EXPECT_EQ(up(router, 5), Intents{I::setDPI(1200)});
}

TEST(ButtonRouterDpi, ReplacedBindingsLeaveHeldButtonsAlone) {
    ButtonRouter router({bind(4, Action::hold(56, kNone)), bind(5, Action::dpiShift(400))}, 1600);
    EXPECT_EQ(down(router, 4), Intents{I::keyDown(56, kNone)});
    EXPECT_EQ(down(router, 5), Intents{I::setDPI(400)});
    router.bindings = {};
    EXPECT_EQ(router.action(4, kNone), Action::passThrough());
    EXPECT_EQ(router.heldAction(4), Action::hold(56, kNone));
    EXPECT_EQ(up(router, 4), Intents{I::keyUp(56, kNone)});
    EXPECT_EQ(up(router, 5), Intents{I::setDPI(1600)});
    EXPECT_EQ(down(router, 4), Intents{I::passThroughButton(4, true)});
}

TEST(ButtonRouterReset, UndoesHeldButtonsInAscendingOrderThenRestoresBaseDpi) {
    ButtonRouter idle({}, 1600);
    EXPECT_EQ(idle.reset(), Intents{});

    ButtonRouter router({bind(4, Action::repeatWhileHeld(MacroStep::key(1, kNone), 50)), bind(5, Action::dpiShift(400)),
                         bind(10, Action::hold(56, kShift)), bind(11, Action::hold(56, kShift)), bind(12, Action::keyStroke(3, kNone)),
                         bind(13, Action::hold(57, kNone))},
                        1600);
    for (std::int64_t button : {13, 9, 11, 5, 12, 10, 4}) down(router, button);
    EXPECT_EQ(router.heldButtons(), (std::set<std::int64_t>{4, 5, 9, 10, 11, 12, 13}));
    router.baseDPI = 1000;
    // The two owners of the same key give one key up, at the last of them.
    EXPECT_EQ(router.reset(), (Intents{I::stopRepeat(4), I::passThroughButton(9, false), I::keyUp(56, kShift),
                                       I::keyUp(57, kNone), I::setDPI(1000)}));
    EXPECT_TRUE(router.heldButtons().empty());
    EXPECT_EQ(router.currentDPI(), 1000);
    EXPECT_EQ(router.reset(), Intents{});
    // Idle again: no owner is left over.
    EXPECT_EQ(down(router, 11), Intents{I::keyDown(56, kShift)});

    // A shift to the base DPI still ends the reset with setDPI.
    ButtonRouter example({bind(4, Action::repeatWhileHeld(MacroStep::key(1, kNone), 50)), bind(5, Action::dpiShift(1600))}, 1600);
    down(example, 9);
    down(example, 5);
    down(example, 4);
    EXPECT_EQ(example.reset(), (Intents{I::stopRepeat(4), I::passThroughButton(9, false), I::setDPI(1600)}));
}
