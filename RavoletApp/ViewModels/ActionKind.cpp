#include "RavoletApp/ViewModels/ActionKind.hpp"

#include "Support/ValueSupport.hpp"

namespace ravolet {

namespace {

struct KindTexts {
    std::string_view title;
    std::string_view explanation;
};

// In the order of the cases.
constexpr std::array<KindTexts, 8> texts{{
    {"Leave it alone",
     "The button reaches your desktop exactly as your mouse sent it. This is what an unbound button does."},
    {"Press a keyboard shortcut",
     "One press of the button types one keyboard shortcut — press and release, once, the moment you click."},
    {"Hold a key down while the button is held",
     "The key goes down when you press the button and comes back up when you let go. This is the one to use for "
     "a modifier such as Space in GIMP's pan tool."},
    {"Repeat while the button is held",
     "Fires immediately, then keeps firing on a timer for as long as you hold the button."},
    {"Play a sequence",
     "A list of key presses and pauses, played once per click. Use pauses when the app you are driving needs a "
     "moment between steps."},
    {"Change DPI while the button is held",
     "Drops the mouse to a different DPI while you hold the button and puts it straight back when you let go — the "
     "“sniper” button. Needs Ravolet to be allowed to manage the mouse (Pointer tab)."},
    {"Open an app", "Opens an application, or brings it forward if it is already running."},
    {"Run a Command", "Runs a command by name, with the arguments you give it."},
}};

} // namespace

ActionKind actionKind(const Action& action) {
    return std::visit(Overloaded{
                          [](const Action::PassThrough&) { return ActionKind::passThrough; },
                          [](const Action::KeyStroke&) { return ActionKind::keyStroke; },
                          [](const Action::Hold&) { return ActionKind::hold; },
                          [](const Action::RepeatWhileHeld&) { return ActionKind::repeatWhileHeld; },
                          [](const Action::Sequence&) { return ActionKind::sequence; },
                          [](const Action::DpiShift&) { return ActionKind::dpiShift; },
                          [](const Action::LaunchApp&) { return ActionKind::launchApp; },
                          [](const Action::RunShortcut&) { return ActionKind::runShortcut; },
                      },
                      action.value);
}

std::string_view title(ActionKind kind) { return texts[static_cast<std::size_t>(kind)].title; }

std::string_view explanation(ActionKind kind) { return texts[static_cast<std::size_t>(kind)].explanation; }

} // namespace ravolet
