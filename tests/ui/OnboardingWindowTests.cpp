#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include "RavoletApp/Model/SimulatedMachine.hpp"
#include "RavoletApp/UI/OnboardingWindow.hpp"
#include "RavoletApp/UI/ShellExtensionSection.hpp"
#include "UITestSupport.hpp"

namespace ravolet {
namespace {

TEST(OnboardingWindow, WalksTheStepsPollsOnlyWhileShownAndComesBackOnThePageStillToDo) {
    auto machine = SimulatedMachine::makeInVirtualTime();
    auto model = machine->makeModel();
    machine->grant(false, false);
    machine->probe->setClosedNodes({"/dev/uinput"}, {"/dev/input/event4", "/dev/hidraw1"});
    model->start();
    machine->settle();

    OnboardingPresenter presenter;
    presenter.show(model);
    OnboardingWindow* window = presenter.window();
    ASSERT_NE(window, nullptr);
    (void)QTest::qWaitForWindowExposed(window);
    EXPECT_TRUE(window->isPolling());
    EXPECT_EQ(window->titleLabel()->text(), QStringLiteral("Welcome to Ravolet"));
    EXPECT_TRUE(window->backButton()->isHidden());
    test::saveScreenshot(*window, QStringLiteral("set-up-1-welcome"));

    QTest::mouseClick(window->primaryButton(), Qt::LeftButton);
    EXPECT_EQ(window->counterLabel()->text(), QStringLiteral("Step 2 of 4"));
    EXPECT_EQ(window->inputMonitoringPage()->statusLabel()->text(), QStringLiteral("Mouse Access is not on yet"));
    EXPECT_TRUE(window->inputMonitoringPage()->extraLabel()->isVisible()); // the HID access is refused
    EXPECT_TRUE(window->inputMonitoringPage()->howToBlock()->isVisible());
    // Which nodes are still closed, beside what opens them.
    EXPECT_EQ(window->inputMonitoringPage()->closedNodesLabel()->text(),
              QStringLiteral("Still closed to Ravolet: /dev/input/event4 and /dev/hidraw1."));
    EXPECT_TRUE(window->inputMonitoringPage()->closedNodesLabel()->isVisible());
    test::saveScreenshot(*window, QStringLiteral("set-up-2-input-monitoring"));

    QTest::mouseClick(window->primaryButton(), Qt::LeftButton);
    test::saveScreenshot(*window, QStringLiteral("set-up-3-accessibility"));
    QTest::keyClick(window, Qt::Key_Return); // Enter goes on, as in a dialog
    EXPECT_EQ(window->primaryButton()->text(), QStringLiteral("Start Using Ravolet"));
    EXPECT_TRUE(window->closingPage()->comeBackLabel()->isVisible());

    // A switch turned on whose item waits for approval shows off again.
    machine->loginItems->setStatusAfterRegistering(platform::LoginItemStatus::requiresApproval);
    window->closingPage()->loginSwitch()->click();
    EXPECT_FALSE(window->closingPage()->loginSwitch()->isChecked());
    EXPECT_TRUE(window->closingPage()->loginSentence()->text().startsWith(QStringLiteral("Your desktop is waiting")));
    test::saveScreenshot(*window, QStringLiteral("set-up-4-done"));

    window->close();
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(window->isPolling());
    EXPECT_FALSE(model->preferences().hasCompletedOnboarding.value());

    // It comes back on the first page still to do, not on the last one.
    presenter.show(model);
    EXPECT_EQ(presenter.window(), window);
    EXPECT_TRUE(window->isPolling());
    EXPECT_EQ(window->flow().step().value(), OnboardingStep::inputMonitoring);
    presenter.show(model); // raised while open: it stays where it is
    EXPECT_EQ(window->flow().step().value(), OnboardingStep::inputMonitoring);
    window->close();
    machine->grant(true, true);
    model->refreshPermissions();
    presenter.show(model);
    EXPECT_EQ(window->flow().step().value(), OnboardingStep::done);
    QTest::mouseClick(window->primaryButton(), Qt::LeftButton);
    EXPECT_TRUE(model->preferences().hasCompletedOnboarding.value());
    EXPECT_FALSE(window->isVisible());
}

TEST(OnboardingWindow, FontsTooLargeForTheScreenMakeThePageScrollInsteadOfTheWindowOutgrowingIt) {
    auto machine = SimulatedMachine::makeInVirtualTime();
    auto model = machine->makeModel();
    const QFont usual = QApplication::font();
    QFont large = usual;
    large.setPointSizeF(usual.pointSizeF() * 3);
    QApplication::setFont(large);
    OnboardingWindow window(model);
    QApplication::setFont(usual);
    window.show();
    (void)QTest::qWaitForWindowExposed(&window);
    QApplication::processEvents();
    const QRect screen = window.screen()->availableGeometry();
    EXPECT_LE(window.height(), screen.height());
    EXPECT_LE(window.width(), screen.width());
    // The cut-off rest of the page is a scroll away; the buttons stay in view.
    EXPECT_GT(window.pageScroller()->verticalScrollBar()->maximum(), 0);
    EXPECT_TRUE(window.primaryButton()->isVisible());
    EXPECT_LE(window.primaryButton()->mapTo(&window, QPoint(0, window.primaryButton()->height())).y(), window.height());
}

TEST(OnboardingWindow, OnGnomeTheLastPageOffersTheShellExtensionAndInstallsItOnlyOnAPress) {
    auto machine = SimulatedMachine::makeInVirtualTime();
    auto model = machine->makeModel();
    auto extension = std::make_shared<test::RecordingExtension>();
    machine->workspace->setFrontmostExtension(extension);
    machine->workspace->setTracking(
        {platform::FrontmostTracking::Source::gnomeShell, platform::FrontmostTracking::State::extensionNotInstalled, std::nullopt});
    OnboardingWindow window(model);
    window.flow().advance();
    window.flow().advance();
    window.flow().advance();
    window.show();
    (void)QTest::qWaitForWindowExposed(&window);
    ShellExtensionSection* section = window.closingPage()->shellExtensionSection();
    ASSERT_TRUE(section->isVisible());
    EXPECT_TRUE(section->actionButton()->isVisible());
    // The whole offer fits the window without scrolling.
    EXPECT_EQ(window.pageScroller()->verticalScrollBar()->maximum(), 0);
    test::saveScreenshot(window, QStringLiteral("set-up-4-done-gnome"));
    EXPECT_TRUE(extension->calls.empty());
    QTest::mouseClick(section->actionButton(), Qt::LeftButton);
    EXPECT_EQ(extension->calls, std::vector<std::string>{"install"});
}

} // namespace
} // namespace ravolet
