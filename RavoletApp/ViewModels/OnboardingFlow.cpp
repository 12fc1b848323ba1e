#include "RavoletApp/ViewModels/OnboardingFlow.hpp"

#include <utility>

#include "RavoletApp/Model/AppModel.hpp"

namespace ravolet {

std::optional<OnboardingStep> onboardingStepFromRaw(int raw) {
    if (raw < 0 || raw > 3) return std::nullopt;
    return static_cast<OnboardingStep>(raw);
}

std::string headerTitle(OnboardingStep step) {
    switch (step) {
    case OnboardingStep::welcome: return "Welcome to Ravolet";
    case OnboardingStep::inputMonitoring: return "Let Ravolet see your mouse";
    case OnboardingStep::accessibility: return "Let Ravolet press keys for you";
    case OnboardingStep::done: return "You're set";
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

PermissionPage permissionPage(OnboardingStep step, const PermissionState& p) {
    PermissionPage page;
    if (step == OnboardingStep::accessibility) {
        page.granted = p.accessibility;
        page.link = PermissionPage::Link::accessibility;
        page.heading = "Accessibility";
        page.why = "Seeing an event is not the same as changing one. Accessibility is the permission that lets "
                   "Ravolet replace the wheel click it swallowed with the smooth scroll it built, and lets a mouse "
                   "button type the keyboard shortcut you bound to it.";
        page.detail = "Without it, Ravolet can watch but not act — the wheel stays exactly as it was and no button "
                      "binding fires.";
        page.howTo = "System Settings will open on the right page. Find Ravolet in the list and switch it on.";
        page.buttonTitle = "Open Accessibility Settings";
    } else {
        page.granted = p.inputMonitoring && p.hidInputMonitoring != HIDPPInputMonitoringAccess::denied;
        page.link = PermissionPage::Link::inputMonitoring;
        page.heading = "Input Monitoring";
        page.why = "Your mouse sends one big jump per wheel click, and Ravolet's whole job is to replace that jump "
                   "with a smooth glide. To do that it has to see the click arrive. Input Monitoring is the macOS "
                   "permission that allows an app to watch input devices.";
        page.detail = "It is also what lets Ravolet talk to the mouse itself to read and set DPI — your Logitech "
                      "mouse presents part of itself as a keyboard, so macOS puts that behind the same permission.";
        if (p.hidInputMonitoring == HIDPPInputMonitoringAccess::denied) {
            page.extra = "macOS is currently refusing Ravolet access to the mouse hardware. Switch Ravolet on in "
                         "the list, then quit and reopen it.";
        } else if (p.hidInputMonitoring == HIDPPInputMonitoringAccess::unknown) {
            page.extra = "macOS has not been asked about the mouse hardware yet. That decision happens the first "
                         "time Ravolet opens the mouse, once this permission is on.";
        }
        page.howTo = "System Settings will open on the right page. Find Ravolet in the list and switch it on. You "
                     "may be asked for your password, and macOS may ask you to quit and reopen Ravolet.";
        page.buttonTitle = "Open Input Monitoring Settings";
    }
    page.statusLine = page.heading + (page.granted ? " is on" : " is not on yet");
    return page;
}

ClosingPage closingPage(const PermissionState& p, platform::LoginItemStatus loginItem,
                        const std::optional<std::string>& loginError) {
    ClosingPage page;
    page.bothOn = p.accessibility && p.inputMonitoring;
    page.statusLine = page.bothOn ? "Both permissions are on." : "One permission is still missing.";
    page.loginSwitchOn = loginItem == platform::LoginItemStatus::enabled;
    switch (loginItem) {
    case platform::LoginItemStatus::notRegistered:
        page.loginSentence = "Ravolet will not start on its own. Your mouse forgets its DPI, report rate and wheel "
                             "mode every time it is unplugged or the Mac reboots, so they will only come back once "
                             "you open Ravolet.";
        break;
    case platform::LoginItemStatus::enabled:
        page.loginSentence = "Ravolet will start automatically when you log in, and put your DPI, report rate and "
                             "wheel settings back on the mouse.";
        break;
    case platform::LoginItemStatus::requiresApproval:
        page.loginSentence = "macOS is waiting for you to allow Ravolet in System Settings › General › Login Items.";
        break;
    case platform::LoginItemStatus::notFound:
        page.loginSentence = "macOS cannot find Ravolet's login item. Move Ravolet.app to your Applications folder "
                             "and try again.";
        break;
    default: page.loginSentence = "Ravolet could not determine whether it starts at login."; break;
    }
    if (loginError) page.refusal = "macOS refused: " + *loginError;
    page.showsComeBackLater = !page.bothOn;
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
    } else if (step_.value() == OnboardingStep::inputMonitoring && now.inputMonitoring) {
        step_.set(OnboardingStep::accessibility);
    }
    // Grants that arrive while no permission page is shown must still bring
    // the engine up: the model's own poll no longer sees them arrive, since
    // this pass has already stored them.
    if (!restarted && !hadBoth && model_->permissions().value().canRunActiveTap()) model_->restartEngineIfNeeded();
}

} // namespace ravolet
