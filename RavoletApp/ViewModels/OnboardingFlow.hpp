#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/LoginItemService.hpp"
#include "RavoletEngine/Coordination/PermissionState.hpp"
#include "Support/Observable.hpp"

namespace ravolet {

class AppModel;

// The set-up window's four pages, in order.
enum class OnboardingStep { welcome = 0, inputMonitoring = 1, accessibility = 2, done = 3 };

std::optional<OnboardingStep> onboardingStepFromRaw(int raw);
// "Welcome to Ravolet", "Let Ravolet see your mouse", ...; the last page's
// title says whether anything is left to do.
std::string headerTitle(OnboardingStep step, const PermissionState& permissions);
// "Step 1 of 4" to "Step 4 of 4".
std::string stepCounter(OnboardingStep step);
// "Continue", or "Start Using Ravolet" on the last page.
std::string primaryButtonTitle(OnboardingStep step);
bool showsBack(OnboardingStep step);
// The welcome page's last sentence: what the steps after it ask for, which
// is only what is still missing (a grant already there is passed by itself).
std::string welcomeNextSteps(const PermissionState& permissions);

// What a permission page shows, read from the grants at every refresh.
struct PermissionPage {
    bool granted = false;
    // Mouse Access with no mouse plugged in: nothing to judge yet. The page
    // says what will be checked once it comes, and moves on only then.
    bool waiting = false;
    std::string heading;
    // "<heading> is on", "<heading> is not on yet", or "<heading> is waiting
    // for your mouse".
    std::string statusLine;
    std::string why;
    std::string detail;
    std::optional<std::string> extra;
    // What grants it here, and the commands it speaks of.
    std::string howTo;
    std::vector<std::string> commands;
    // The device nodes that are still closed, while the grant is missing.
    std::optional<std::string> closedNodes;
    // The how-to, the commands and the spinner: while the grant is missing,
    // or waiting for the mouse.
    bool showsHowTo = false;
    // Beside the spinner.
    std::string watching;
};

// The page of the inputMonitoring or accessibility step.
PermissionPage permissionPage(OnboardingStep step, const PermissionState& permissions);

// What the closing page shows.
struct ClosingPage {
    // The header's title: "You're set" only when nothing is left to do.
    std::string title;
    bool bothOn = false;
    // Both on, but the mouse's access is judged only once it is plugged in.
    bool waitingForMouse = false;
    // Which grants are missing, by name, or that both are on.
    std::string statusLine;
    // While something is missing or waiting: where it is put right.
    std::optional<std::string> whereToFix;
    // Where Ravolet stays once the window is closed: the tray's icon, or
    // (with no tray) the applications menu.
    std::string whereItLives;
    bool loginSwitchOn = false;
    std::string loginSentence;
    // "Your desktop refused: " and the last failure of the login item, if any.
    std::optional<std::string> refusal;
    // While a grant is missing: closing now is fine, and what keeps saying so.
    std::optional<std::string> comeBackLater;
};

ClosingPage closingPage(const PermissionState& permissions, platform::LoginItemStatus loginItem,
                        const std::optional<std::string>& loginError, bool hasTray);

// The walk-through itself: the step, moving forward and back, finishing, and
// one pass of the permission poll. The window runs a pass when it comes on
// screen and every 0.6 s while it is there. Main thread only.
class OnboardingFlow {
public:
    static constexpr int pollIntervalMilliseconds = 600;

    OnboardingFlow(std::shared_ptr<AppModel> model, std::function<void()> onFinish);

    const Observable<OnboardingStep>& step() const { return step_; }
    AppModel& model() const { return *model_; }

    // The primary button: one page on; on the last page, finishes: records
    // that set-up is complete, restarts the engine if it can run now, and
    // closes the window. It never waits for a grant.
    void advance();
    // "Back": one page back (never before the first).
    void back();
    // The window comes back: on the first page still unfinished, the page of
    // the first grant that is missing, else the last page. A walk-through
    // still on its welcome page stays there.
    void reopen();
    // Reads the grants into the model (and the engine's status), moves on by
    // itself from a permission page whose grant is there, at most one page a
    // pass, and restarts the engine on the pass that first sees both grants.
    void poll();

private:
    const std::shared_ptr<AppModel> model_;
    const std::function<void()> onFinish_;
    Observable<OnboardingStep> step_{OnboardingStep::welcome};
};

} // namespace ravolet
