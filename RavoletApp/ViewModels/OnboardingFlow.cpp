#include "RavoletApp/ViewModels/OnboardingFlow.hpp"

#include <utility>

#include "RavoletApp/Model/AppModel.hpp"
#include "RavoletApp/ViewModels/AccessRemedy.hpp"
#include "RavoletApp/ViewModels/PointerPageRules.hpp"

namespace ravolet {

std::optional<OnboardingStep> onboardingStepFromRaw(int raw) {
    if (raw < 0 || raw > 3) return std::nullopt;
    return static_cast<OnboardingStep>(raw);
}

namespace {

// The mouse's access counts as given while there is no mouse to judge it by:
// the last page then says it is still to be checked, rather than that both
// grants are on.
bool waitsForMouseOnly(const PermissionState& p) { return p.canRunActiveTap() && p.waitingForMouse; }

std::string closingTitle(const PermissionState& p) {
    if (!p.canRunActiveTap()) return "Ravolet still needs permission";
    return waitsForMouseOnly(p) ? "Waiting for your mouse" : "You're set";
}

} // namespace

std::string headerTitle(OnboardingStep step, const PermissionState& permissions) {
    switch (step) {
    case OnboardingStep::welcome: return "Welcome to Ravolet";
    case OnboardingStep::inputMonitoring: return "Let Ravolet see your mouse";
    case OnboardingStep::accessibility: return "Let Ravolet press keys for you";
    case OnboardingStep::done: return closingTitle(permissions);
    }
    return "";
}

std::string stepCounter(OnboardingStep step) {
    return "Step " + std::to_string(static_cast<int>(step) + 1) + " of 4";
}

std::string primaryButtonTitle(OnboardingStep step) {
    return step == OnboardingStep::done ? "Start Using Ravolet" : "Continue";
}

bool showsBack(OnboardingStep step) { return step != OnboardingStep::welcome; }

std::string welcomeNextSteps(const PermissionState& p) {
    // A permission page is left by itself, as the poll leaves it, once its
    // grant is there.
    const int missing = (p.inputMonitoring && !p.waitingForMouse ? 0 : 1) + (p.accessibility ? 0 : 1);
    switch (missing) {
    case 0:
        return "Your computer already gives Ravolet both permissions it needs, so the next step is the last: "
               "whether Ravolet starts when you log in.";
    case 1:
        return "Your computer needs to grant Ravolet one more permission before any of that can work. The next step "
               "explains what it is for — in plain terms — and what grants it here.";
    default:
        return "Your computer needs to grant Ravolet two permissions before any of that can work. The next two steps "
               "explain what each one is for — in plain terms — and what grants it here.";
    }
}

PermissionPage permissionPage(OnboardingStep step, const PermissionState& p) {
    PermissionPage page;
    if (step == OnboardingStep::accessibility) {
        page.granted = p.accessibility;
        page.heading = AccessRemedy::postingGrant;
        page.why = "Seeing an event is not the same as changing one. Virtual Input is write access to /dev/uinput, "
                   "which lets Ravolet replace the wheel click it swallowed with the smooth scroll it built, and lets "
                   "a mouse button type the keyboard shortcut you bound to it.";
        page.detail = "Without it, Ravolet can watch but not act — the wheel stays exactly as it was and no button "
                      "binding fires.";
        const AccessRemedy::Remedy remedy = AccessRemedy::forVirtualInput(p);
        page.howTo = remedy.text;
        page.commands = remedy.commands;
        if (!page.granted) page.closedNodes = AccessRemedy::closedNodes(p.closedPostingNodes);
    } else {
        page.granted = p.inputMonitoring && p.hidInputMonitoring != HIDPPInputMonitoringAccess::denied;
        page.heading = AccessRemedy::listeningGrant;
        page.why = "Your mouse sends one big jump per wheel click, and Ravolet's whole job is to replace that jump "
                   "with a smooth glide. To do that it has to see the click arrive. Mouse Access is read access to "
                   "the mouse's input device nodes, which is how an app watches an input device here.";
        page.detail = "It is also what lets Ravolet talk to the mouse itself to read and set DPI — through the "
                      "mouse's hidraw node, which the same grant opens for reading and writing.";
        page.waiting = page.granted && p.waitingForMouse;
        if (page.waiting) {
            page.extra = "Your Logitech mouse is not plugged in, so there is nothing to open yet. Ravolet waits for it: "
                         "once it is plugged in, Ravolet checks that its input and hidraw nodes are open to you, and "
                         "if they are not, this page says so and shows the command that opens them.";
        } else if (p.hidInputMonitoring == HIDPPInputMonitoringAccess::denied) {
            page.extra = "Your computer is currently refusing Ravolet access to the mouse hardware: its hidraw node "
                         "is still closed.";
        } else if (p.hidInputMonitoring == HIDPPInputMonitoringAccess::unknown) {
            page.extra = "Your computer shows no hidraw node for the mouse yet, so its hardware access cannot be "
                         "checked. That happens as soon as the mouse is plugged in.";
        }
        const AccessRemedy::Remedy remedy = AccessRemedy::forTheMouse(p);
        page.howTo = remedy.text;
        page.commands = remedy.commands;
        if (!page.granted) page.closedNodes = AccessRemedy::closedNodes(p.closedListeningNodes);
    }
    page.statusLine =
        page.heading + (page.waiting ? " is waiting for your mouse" : page.granted ? " is on" : " is not on yet");
    page.showsHowTo = !page.granted || page.waiting;
    page.watching = page.waiting ? "Ravolet is watching for your mouse and will move on by itself once it can open it."
                                 : "Ravolet checks again every moment and will move on by itself.";
    return page;
}

ClosingPage closingPage(const PermissionState& p, platform::LoginItemStatus loginItem,
                        const std::optional<std::string>& loginError, bool hasTray) {
    ClosingPage page;
    page.title = closingTitle(p);
    page.bothOn = p.canRunActiveTap();
    page.waitingForMouse = waitsForMouseOnly(p);
    const std::string missing = AccessRemedy::missingGrants(p);
    const bool bothMissing = !p.accessibility && !p.inputMonitoring;
    if (page.waitingForMouse) {
        page.statusLine = std::string(AccessRemedy::postingGrant) + " is on. " +
                          std::string(AccessRemedy::listeningGrant) + " is checked once your mouse is plugged in.";
        page.whereToFix = "Ravolet then checks that the mouse's device nodes are open to you. If they are not, Step 2 "
                          "shows the command that opens them.";
    } else if (page.bothOn) {
        page.statusLine = "Both permissions are on.";
    } else {
        page.statusLine = missing + (bothMissing ? " are still missing." : " is still missing.");
        const std::string steps = bothMissing ? "Steps 2 and 3 show" : p.inputMonitoring ? "Step 3 shows" : "Step 2 shows";
        page.whereToFix = steps + " what opens " + (bothMissing ? "them" : "it") + " here; press Back to return to " +
                          (bothMissing ? "them" : "it") + ". Ravolet notices by itself as soon as " +
                          (bothMissing ? "they are" : "it is") + " given, even with this window closed.";
    }
    page.whereItLives = hasTray ? "Ravolet lives in the system tray. Click its icon for a quick pause, or open Settings "
                                  "to tune the wheel, bind your buttons and set up per-app profiles."
                                : "Ravolet keeps working with no window open. Open it again from your applications "
                                  "menu to pause it, tune the wheel, bind your buttons and set up per-app profiles.";
    page.loginSwitchOn = loginItem == platform::LoginItemStatus::enabled;
    // The Pointer page says the same about the login item.
    page.loginSentence = loginItemSentence(loginItem);
    page.refusal = loginItemRefusal(loginError);
    if (!page.bothOn) {
        page.comeBackLater = hasTray ? "You can close this and come back later — the tray icon will keep telling you "
                                       "something is missing."
                                     : "You can close this and come back later — the settings window will keep "
                                       "telling you something is missing.";
    }
    return page;
}

OnboardingFlow::OnboardingFlow(std::shared_ptr<AppModel> model, std::function<void()> onFinish)
    : model_(std::move(model)), onFinish_(std::move(onFinish)) {}

void OnboardingFlow::advance() {
    const OnboardingStep now = step_.value();
    if (now != OnboardingStep::done) {
        step_.set(static_cast<OnboardingStep>(static_cast<int>(now) + 1));
        return;
    }
    model_->preferences().hasCompletedOnboarding.set(true);
    model_->restartEngineIfNeeded();
    if (onFinish_) onFinish_();
}

void OnboardingFlow::back() {
    const OnboardingStep now = step_.value();
    if (now != OnboardingStep::welcome) step_.set(static_cast<OnboardingStep>(static_cast<int>(now) - 1));
}

void OnboardingFlow::reopen() {
    if (step_.value() == OnboardingStep::welcome) return;
    const PermissionState& now = model_->permissions().value();
    // The grant of a page counts as the poll counts it, so the page shown is
    // not one the next pass would leave at once.
    if (!now.inputMonitoring) {
        step_.set(OnboardingStep::inputMonitoring);
    } else if (!now.accessibility) {
        step_.set(OnboardingStep::accessibility);
    } else {
        step_.set(OnboardingStep::done);
    }
}

void OnboardingFlow::poll() {
    const bool hadBoth = model_->permissions().value().canRunActiveTap();
    model_->refreshPermissions();
    if (const auto engine = model_->engine().value()) engine->refreshPermissions();
    const PermissionState& now = model_->permissions().value();
    bool restarted = false;
    if (step_.value() == OnboardingStep::accessibility && now.accessibility) {
        step_.set(OnboardingStep::done);
        model_->restartEngineIfNeeded();
        restarted = true;
    } else if (step_.value() == OnboardingStep::inputMonitoring && now.inputMonitoring && !now.waitingForMouse) {
        // With no mouse there is nothing to judge yet: the page stays, saying
        // what will be asked once the mouse comes.
        step_.set(OnboardingStep::accessibility);
    }
    // Grants that arrive while no permission page is shown must still bring
    // the engine up: the model's own poll no longer sees them arrive, since
    // this pass has already stored them.
    if (!restarted && !hadBoth && model_->permissions().value().canRunActiveTap()) model_->restartEngineIfNeeded();
}

} // namespace ravolet
