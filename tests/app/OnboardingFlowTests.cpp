#include <gtest/gtest.h>

#include "RavoletApp/Model/SimulatedMachine.hpp"
#include "RavoletApp/ViewModels/OnboardingFlow.hpp"

namespace ravolet {
namespace {

struct OnboardingFlowTest : ::testing::Test {
    std::shared_ptr<SimulatedMachine> machine = SimulatedMachine::makeInVirtualTime();
    std::shared_ptr<AppModel> model = machine->makeModel();
    int finishes = 0;
    OnboardingFlow flow{model, [this] { ++finishes; }};

    // Starts the model with no grants: the engine's first start fails.
    void startWithoutGrants() {
        machine->grant(false, false);
        model->start();
        machine->settle();
        ASSERT_FALSE(model->engine().value()->status().isTapEnabled);
    }
    bool engineRuns() {
        machine->settle();
        const auto engine = model->engine().value();
        return engine && engine->status().isTapEnabled;
    }
    void go(OnboardingStep step) {
        while (flow.step().value() < step) flow.advance();
        while (flow.step().value() > step) flow.back();
    }
};

TEST_F(OnboardingFlowTest, ForwardAndBackWalkTheFourPagesWithoutWaitingForGrants) {
    startWithoutGrants();
    struct Row {
        OnboardingStep step;
        const char* title;
        const char* counter;
        const char* primary;
        bool back;
    } rows[] = {
        {OnboardingStep::welcome, "Welcome to Ravolet", "Step 1 of 4", "Continue", false},
        {OnboardingStep::inputMonitoring, "Let Ravolet see your mouse", "Step 2 of 4", "Continue", true},
        {OnboardingStep::accessibility, "Let Ravolet press keys for you", "Step 3 of 4", "Continue", true},
        {OnboardingStep::done, "Ravolet still needs permission", "Step 4 of 4", "Start Using Ravolet", true},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(flow.step().value(), row.step);
        EXPECT_EQ(headerTitle(row.step, model->permissions().value()), row.title);
        EXPECT_EQ(stepCounter(row.step), row.counter);
        EXPECT_EQ(primaryButtonTitle(row.step), row.primary);
        EXPECT_EQ(showsBack(row.step), row.back);
        if (row.step != OnboardingStep::done) flow.advance();
    }
    for (int i = 0; i < 4; ++i) flow.back();
    EXPECT_EQ(flow.step().value(), OnboardingStep::welcome);
    EXPECT_EQ(onboardingStepFromRaw(4), std::nullopt);
    EXPECT_EQ(finishes, 0);
    EXPECT_FALSE(model->preferences().hasCompletedOnboarding.value());
}

TEST_F(OnboardingFlowTest, ThePollMovesOnOnePageAPassByTheGrantOfThePageShown) {
    startWithoutGrants();
    go(OnboardingStep::inputMonitoring);
    flow.poll();
    EXPECT_EQ(flow.step().value(), OnboardingStep::inputMonitoring);

    // Events granted but the HID access refused: the page says "not on yet",
    // yet the move looks at event listening alone.
    machine->probe->setCanListenToEvents(true);
    machine->probe->setHIDListenAccess(platform::HIDAccessType::denied);
    model->refreshPermissions();
    const PermissionPage page = permissionPage(OnboardingStep::inputMonitoring, model->permissions().value());
    EXPECT_EQ(page.statusLine, "Mouse Access is not on yet");
    EXPECT_TRUE(page.extra->starts_with("Your computer is currently refusing"));
    flow.poll();
    EXPECT_EQ(flow.step().value(), OnboardingStep::accessibility);
    flow.poll();
    EXPECT_EQ(flow.step().value(), OnboardingStep::accessibility);

    // Back while the grant is there lasts until the next pass.
    flow.back();
    flow.poll();
    EXPECT_EQ(flow.step().value(), OnboardingStep::accessibility);

    machine->grant(true, true);
    flow.poll(); // one page a pass, and the engine comes up on the move to the last page
    EXPECT_EQ(flow.step().value(), OnboardingStep::done);
    EXPECT_TRUE(engineRuns());
    EXPECT_EQ(model->engine().value()->status().permissions, model->permissions().value());
}

TEST_F(OnboardingFlowTest, WithNoMouseTheMouseAccessStepStaysAndSaysWhatWillBeAskedOnceItComes) {
    startWithoutGrants();
    machine->probe->setWaitingForMouse(true);
    machine->probe->setHIDListenAccess(platform::HIDAccessType::unknown); // no hidraw node either
    go(OnboardingStep::inputMonitoring);
    flow.poll();
    flow.poll();
    EXPECT_EQ(flow.step().value(), OnboardingStep::inputMonitoring);
    const PermissionPage waiting = permissionPage(OnboardingStep::inputMonitoring, model->permissions().value());
    EXPECT_EQ(waiting.statusLine, "Mouse Access is waiting for your mouse");
    EXPECT_TRUE(waiting.waiting);
    EXPECT_TRUE(waiting.showsHowTo); // what opens the nodes, before they exist
    EXPECT_TRUE(waiting.extra->starts_with("Your Logitech mouse is not plugged in, so there is nothing to open yet. "
                                           "Ravolet waits for it"))
        << *waiting.extra;
    EXPECT_TRUE(waiting.watching.starts_with("Ravolet is watching for your mouse")) << waiting.watching;

    // The mouse comes with its nodes closed: the page asks for them.
    machine->probe->setCanListenToEvents(false);
    machine->probe->setClosedNodes({}, {"/dev/input/event4"});
    machine->probe->setWaitingForMouse(false);
    flow.poll();
    EXPECT_EQ(flow.step().value(), OnboardingStep::inputMonitoring);
    const PermissionPage closed = permissionPage(OnboardingStep::inputMonitoring, model->permissions().value());
    EXPECT_EQ(closed.statusLine, "Mouse Access is not on yet");
    EXPECT_EQ(closed.commands, std::vector<std::string>{"sudo udevadm trigger --action=change /dev/input/event4"});

    // Once they are open, it moves on by itself.
    machine->probe->setClosedNodes({}, {});
    machine->probe->setCanListenToEvents(true);
    flow.poll();
    EXPECT_EQ(flow.step().value(), OnboardingStep::accessibility);
}

TEST_F(OnboardingFlowTest, GrantsArrivingWhileNoPermissionPageShowsStillBringTheEngineUp) {
    startWithoutGrants();
    machine->grant(true, true);
    flow.poll(); // on the welcome page: no move
    EXPECT_EQ(flow.step().value(), OnboardingStep::welcome);
    EXPECT_TRUE(engineRuns());

    // The model's own notice of the grants finds them already stored; it restarts nothing.
    const auto engine = model->engine().value();
    machine->advance(std::chrono::seconds(2));
    EXPECT_EQ(model->engine().value(), engine);
    flow.poll();
    EXPECT_EQ(model->engine().value(), engine);
}

TEST_F(OnboardingFlowTest, FinishingRecordsCompletionRestartsTheEngineAndClosesOncePerPress) {
    startWithoutGrants();
    go(OnboardingStep::done);
    EXPECT_TRUE(closingPage(model->permissions().value(), platform::LoginItemStatus::notRegistered, std::nullopt, true)
                    .comeBackLater);
    machine->grant(true, true);
    model->refreshPermissions(); // stored by someone else: no transition left for the flow's poll
    flow.advance();
    EXPECT_EQ(finishes, 1);
    EXPECT_TRUE(model->preferences().hasCompletedOnboarding.value());
    EXPECT_TRUE(engineRuns());
    EXPECT_EQ(flow.step().value(), OnboardingStep::done);
    flow.advance(); // reopened on the last page: finishing again is one more finish
    EXPECT_EQ(finishes, 2);
}

TEST_F(OnboardingFlowTest, ComingBackOpensOnTheFirstPageStillUnfinished) {
    startWithoutGrants();
    flow.reopen(); // never left the welcome page: a first walk starts there
    EXPECT_EQ(flow.step().value(), OnboardingStep::welcome);
    struct Row {
        bool accessibility, inputMonitoring;
        OnboardingStep leftOn, reopensOn;
    } rows[] = {
        {false, false, OnboardingStep::done, OnboardingStep::inputMonitoring},
        {false, true, OnboardingStep::done, OnboardingStep::accessibility},
        {true, false, OnboardingStep::accessibility, OnboardingStep::inputMonitoring},
        {false, true, OnboardingStep::inputMonitoring, OnboardingStep::accessibility},
        {true, true, OnboardingStep::inputMonitoring, OnboardingStep::done},
    };
    for (const Row& row : rows) {
        go(row.leftOn);
        machine->grant(row.accessibility, row.inputMonitoring);
        model->refreshPermissions();
        flow.reopen();
        EXPECT_EQ(flow.step().value(), row.reopensOn) << row.accessibility << row.inputMonitoring;
    }
}

TEST(OnboardingPages, TextsFollowTheGrantsAndTheLoginItem) {
    using Access = HIDPPInputMonitoringAccess;
    struct Row {
        OnboardingStep step;
        PermissionState permissions;
        const char* status;
        bool granted;
        const char* extraStart; // "" for none
        std::optional<std::string> closedNodes;
    } rows[] = {
        {OnboardingStep::inputMonitoring, {false, true, Access::unknown, {"/dev/uinput"}, {}}, "Mouse Access is on", true,
         "Your computer shows no hidraw node", std::nullopt},
        {OnboardingStep::inputMonitoring, {false, true, Access::unknown, {"/dev/uinput"}, {}, false, true},
         "Mouse Access is waiting for your mouse", true, "Your Logitech mouse is not plugged in", std::nullopt},
        {OnboardingStep::inputMonitoring, {false, false, Access::granted, {"/dev/uinput"}, {"/dev/input/event4"}},
         "Mouse Access is not on yet", false, "", "Still closed to Ravolet: /dev/input/event4."},
        {OnboardingStep::inputMonitoring, {false, true, Access::denied, {}, {"/dev/input/event4", "/dev/hidraw1", "/dev/hidraw2"}},
         "Mouse Access is not on yet", false, "Your computer is currently refusing",
         "Still closed to Ravolet: /dev/input/event4, /dev/hidraw1 and /dev/hidraw2."},
        {OnboardingStep::inputMonitoring, {false, false, Access::granted}, "Mouse Access is not on yet", false, "",
         std::nullopt},
        {OnboardingStep::accessibility, {true, false, Access::denied, {}, {"/dev/hidraw1"}}, "Virtual Input is on", true,
         "", std::nullopt},
        {OnboardingStep::accessibility, {false, true, Access::granted, {"/dev/uinput"}, {}},
         "Virtual Input is not on yet", false, "", "Still closed to Ravolet: /dev/uinput."},
    };
    for (const Row& row : rows) {
        const PermissionPage page = permissionPage(row.step, row.permissions);
        EXPECT_EQ(page.statusLine, row.status);
        EXPECT_EQ(page.granted, row.granted);
        EXPECT_EQ(page.extra.has_value(), *row.extraStart != 0) << row.status;
        if (page.extra) {
            EXPECT_TRUE(page.extra->starts_with(row.extraStart)) << *page.extra;
        }
        EXPECT_EQ(page.closedNodes, row.closedNodes) << row.status;
        // What grants it here, never a settings pane to open.
        EXPECT_NE(page.howTo.find("70-ravolet.rules"), std::string::npos);
        EXPECT_NE(page.howTo.find("scripts/run.sh"), std::string::npos);
    }

    struct LoginRow {
        int raw;
        bool on;
        const char* sentenceStart;
    } logins[] = {
        {0, false, "Ravolet will not start on its own."},  {1, true, "Ravolet will start automatically"},
        {2, false, "Your desktop is waiting for you to allow Ravolet to start when you log in."},
        {3, false, "Your desktop cannot find Ravolet's autostart entry."}, {7, false, "Ravolet could not determine"},
    };
    for (const LoginRow& row : logins) {
        const ClosingPage page =
            closingPage({true, true}, static_cast<platform::LoginItemStatus>(row.raw), std::nullopt, true);
        EXPECT_EQ(page.loginSwitchOn, row.on);
        EXPECT_TRUE(page.loginSentence.starts_with(row.sentenceStart)) << page.loginSentence;
    }
    const ClosingPage refused = closingPage({true, false}, platform::LoginItemStatus::notRegistered, "disk full", true);
    EXPECT_EQ(refused.refusal, "Your desktop refused: disk full");
}

TEST(OnboardingPages, TheLastPageNamesWhatIsMissingAndWhereToGiveItAndATrayOnlyWhereThereIsOne) {
    struct Row {
        bool accessibility, inputMonitoring, waitingForMouse;
        const char* title;
        const char* status;
        const char* whereToFixStart; // "" for none
    } rows[] = {
        {true, true, false, "You're set", "Both permissions are on.", ""},
        {true, false, false, "Ravolet still needs permission", "Mouse Access is still missing.",
         "Step 2 shows what opens it here"},
        {false, true, false, "Ravolet still needs permission", "Virtual Input is still missing.",
         "Step 3 shows what opens it here"},
        {false, false, false, "Ravolet still needs permission", "Mouse Access and Virtual Input are still missing.",
         "Steps 2 and 3 show what opens them here"},
        {true, true, true, "Waiting for your mouse",
         "Virtual Input is on. Mouse Access is checked once your mouse is plugged in.",
         "Ravolet then checks that the mouse's device nodes are open to you."},
        {false, true, true, "Ravolet still needs permission", "Virtual Input is still missing.",
         "Step 3 shows what opens it here"},
    };
    for (const bool hasTray : {true, false}) {
        for (const Row& row : rows) {
            PermissionState permissions{row.accessibility, row.inputMonitoring};
            permissions.waitingForMouse = row.waitingForMouse;
            const ClosingPage page =
                closingPage(permissions, platform::LoginItemStatus::notRegistered, std::nullopt, hasTray);
            EXPECT_EQ(headerTitle(OnboardingStep::done, permissions), row.title) << row.status;
            EXPECT_EQ(page.title, row.title);
            EXPECT_EQ(page.statusLine, row.status);
            EXPECT_EQ(page.whereToFix.value_or("").starts_with(row.whereToFixStart), true) << page.whereToFix.value_or("");
            EXPECT_EQ(page.whereToFix.has_value(), *row.whereToFixStart != 0) << row.status;
            const bool missing = !row.accessibility || !row.inputMonitoring;
            EXPECT_EQ(page.comeBackLater.has_value(), missing) << row.status;
            if (page.comeBackLater) {
                EXPECT_TRUE(page.comeBackLater->ends_with(
                    hasTray ? "the tray icon will keep telling you something is missing."
                            : "the settings window will keep telling you something is missing."));
            }
            // Without a tray nothing speaks of its icon.
            const bool speaksOfTray = page.whereItLives.find("tray") != std::string::npos ||
                                      page.comeBackLater.value_or("").find("tray") != std::string::npos;
            EXPECT_EQ(speaksOfTray, hasTray) << page.whereItLives;
        }
    }
}

} // namespace
} // namespace ravolet
