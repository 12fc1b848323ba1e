#include <gtest/gtest.h>

#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTest>
#include <QToolButton>

#include "RavoletApp/Model/SimulatedMachine.hpp"
#include "RavoletApp/UI/CommandLine.hpp"
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
    EXPECT_EQ(window->inputMonitoringPage()->closedNodesLabel()->accessibleName(),
              QStringLiteral("Still closed to Ravolet: /dev/input/event4 and /dev/hidraw1."));
    EXPECT_TRUE(window->inputMonitoringPage()->closedNodesLabel()->isVisible());
    // The command that opens them stands apart, whole, and copies as one line.
    ASSERT_EQ(window->inputMonitoringPage()->commandLines().size(), 1U);
    CommandLine* command = window->inputMonitoringPage()->commandLines().front();
    EXPECT_TRUE(command->isVisible());
    EXPECT_FALSE(window->inputMonitoringPage()->howToLabel()->text().contains(QStringLiteral("udevadm")));
    QGuiApplication::clipboard()->clear();
    QTest::mouseClick(command->copyButton(), Qt::LeftButton);
    EXPECT_EQ(QGuiApplication::clipboard()->text(),
              QStringLiteral("sudo udevadm trigger --action=change /dev/input/event4 /dev/hidraw1"));
    test::saveScreenshot(*window, QStringLiteral("set-up-2-input-monitoring"));

    QTest::mouseClick(window->primaryButton(), Qt::LeftButton);
    test::saveScreenshot(*window, QStringLiteral("set-up-3-accessibility"));
    QTest::keyClick(window, Qt::Key_Return); // Enter goes on, as in a dialog
    EXPECT_EQ(window->primaryButton()->text(), QStringLiteral("Start Using Ravolet"));
    EXPECT_TRUE(window->closingPage()->comeBackLabel()->isVisible());
    // Nothing claims the set-up is done while both grants are missing.
    EXPECT_EQ(window->titleLabel()->text(), QStringLiteral("Ravolet still needs permission"));
    EXPECT_EQ(window->closingPage()->statusLabel()->text(),
              QStringLiteral("Mouse Access and Virtual Input are still missing."));
    EXPECT_TRUE(window->closingPage()->whereToFixLabel()->isVisible());

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

// The last page as each state of the grants shows it, and the walk with no
// mouse plugged in, whose Mouse Access step stays until the mouse comes.
TEST(OnboardingWindow, TheLastPageSaysWhatIsLeftAndWithNoMouseTheMouseAccessStepWaits) {
    auto machine = SimulatedMachine::makeInVirtualTime();
    auto model = machine->makeModel();
    machine->grant(false, false);
    model->start();
    machine->settle();
    OnboardingPresenter presenter;
    presenter.show(model);
    OnboardingWindow* window = presenter.window();
    (void)QTest::qWaitForWindowExposed(window);

    struct Row {
        bool accessibility, inputMonitoring;
        const char* title;
        const char* name;
    } rows[] = {
        {true, true, "You're set", "set-up-4-done-none-missing"},
        {true, false, "Ravolet still needs permission", "set-up-4-done-mouse-access-missing"},
        {false, true, "Ravolet still needs permission", "set-up-4-done-virtual-input-missing"},
        {false, false, "Ravolet still needs permission", "set-up-4-done-both-missing"},
    };
    for (const Row& row : rows) {
        while (window->flow().step().value() != OnboardingStep::done) window->flow().advance();
        machine->grant(row.accessibility, row.inputMonitoring);
        model->refreshPermissions();
        QApplication::processEvents();
        EXPECT_EQ(window->titleLabel()->text(), QString::fromUtf8(row.title)) << row.name;
        EXPECT_EQ(window->closingPage()->whereToFixLabel()->isVisible(), !row.accessibility || !row.inputMonitoring);
        EXPECT_EQ(window->pageScroller()->verticalScrollBar()->maximum(), 0) << row.name; // it all fits
        test::saveScreenshot(*window, QString::fromUtf8(row.name));
    }

    machine->grant(true, false);
    machine->probe->setWaitingForMouse(true);
    machine->probe->setHIDListenAccess(platform::HIDAccessType::unknown); // no hidraw node either
    model->refreshPermissions();
    while (window->flow().step().value() != OnboardingStep::inputMonitoring) window->flow().back();
    window->flow().poll();
    window->flow().poll();
    QApplication::processEvents();
    EXPECT_EQ(window->flow().step().value(), OnboardingStep::inputMonitoring);
    PermissionStepPage* page = window->inputMonitoringPage();
    EXPECT_EQ(page->statusLabel()->text(), QStringLiteral("Mouse Access is waiting for your mouse"));
    EXPECT_TRUE(page->extraLabel()->isVisible());
    EXPECT_TRUE(page->howToBlock()->isVisible());
    EXPECT_TRUE(page->commandLines().empty()); // no node to open yet
    EXPECT_EQ(window->pageScroller()->verticalScrollBar()->maximum(), 0);
    test::saveScreenshot(*window, QStringLiteral("set-up-2-input-monitoring-no-mouse"));
    window->flow().advance();
    window->flow().advance();
    QApplication::processEvents();
    EXPECT_EQ(window->titleLabel()->text(), QStringLiteral("Waiting for your mouse"));
    test::saveScreenshot(*window, QStringLiteral("set-up-4-done-no-mouse"));
}

TEST(OnboardingWindow, FontsTooLargeForTheScreenMakeThePageScrollInsteadOfTheWindowOutgrowingIt) {
    auto machine = SimulatedMachine::makeInVirtualTime();
    auto model = machine->makeModel();
    const QFont usual = QApplication::font();
    QFont large = usual;
    large.setPointSizeF(usual.pointSizeF() * 5); // too large for the pages even at the screen's width
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

// The welcome page promises only the steps that are still to come: a grant
// already there is passed by itself.
TEST(OnboardingWindow, TheWelcomePageSaysOnlyWhatTheStepsAfterItAskFor) {
    auto machine = SimulatedMachine::makeInVirtualTime();
    auto model = machine->makeModel();
    model->start();
    machine->settle();
    OnboardingPresenter presenter;
    presenter.show(model);
    OnboardingWindow* window = presenter.window();
    (void)QTest::qWaitForWindowExposed(window);
    const auto welcome = [&] {
        QString said;
        for (const QLabel* label : window->pages()->widget(0)->findChildren<QLabel*>())
            said += label->text() + " ";
        return said;
    };
    const struct {
        bool accessibility, inputMonitoring;
        const char* promise;
    } rows[] = {
        {false, false, "The next two steps explain what each one is for"},
        {true, false, "one more permission before any of that can work. The next step explains what it is for"},
        {false, true, "one more permission before any of that can work. The next step explains what it is for"},
        {true, true, "already gives Ravolet both permissions it needs, so the next step is the last"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.accessibility << row.inputMonitoring);
        machine->grant(row.accessibility, row.inputMonitoring);
        model->refreshPermissions();
        QApplication::processEvents();
        EXPECT_TRUE(welcome().contains(QString::fromUtf8(row.promise))) << welcome().toStdString();
    }
    // Both on: the next step shown is indeed the last.
    QTest::mouseClick(window->primaryButton(), Qt::LeftButton);
    // The window's poll passes both permission pages, a page a pass.
    EXPECT_TRUE(QTest::qWaitFor([&] {
        machine->settle();
        return window->counterLabel()->text() == QStringLiteral("Step 4 of 4");
    }, 10000)) << window->counterLabel()->text().toStdString();
    window->close();
    model->stop();
}

} // namespace
} // namespace ravolet
