#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include <QAction>
#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "Platform/Linux/LinuxUpdaterBackend.hpp"
#include "Platform/Linux/SingleInstance.hpp"
#include "RavoletApp/Model/BundleInfo.hpp"
#include "RavoletApp/Model/SimulatedMachine.hpp"
#include "RavoletApp/UI/AppShell.hpp"
#include "RavoletApp/UI/SettingsWindow.hpp"
#include "RavoletApp/UI/Style.hpp"
#include "RavoletApp/ViewModels/UpdatesRules.hpp"
#include "UITestSupport.hpp"

QT_BEGIN_NAMESPACE
// Readable failures.
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }
QT_END_NAMESPACE

namespace ravolet {
namespace {

struct AppShellTest : ::testing::Test {
    std::shared_ptr<SimulatedMachine> machine = SimulatedMachine::makeInVirtualTime();
    std::shared_ptr<AppModel> model = machine->makeModel();

    void launch(AppShell& shell) {
        model->preferences().hasCompletedOnboarding.set(true);
        shell.launch();
        machine->advance(std::chrono::seconds(5)); // the mouse answers
        QApplication::processEvents();
    }
    static QStringList titles(const QMenu& menu) {
        QStringList list;
        for (QAction* action : menu.actions()) list << (action->isSeparator() ? QStringLiteral("---") : action->text());
        return list;
    }
    static QAction* action(const QMenu& menu, const QString& title) {
        for (QAction* action : menu.actions())
            if (action->text() == title) return action;
        return nullptr;
    }
    // The menu as it drops down, on a real display.
    static void photographMenu(AppShell& shell, const QString& name) {
        if (!test::screenshotsEnabled()) return;
        shell.menu()->popup(QPoint(40, 40));
        (void)QTest::qWaitForWindowExposed(shell.menu());
        test::saveScreenshot(*shell.menu(), name);
        shell.menu()->hide();
    }
    // Runs the event loop until the shell ends it, with a guard against a hang.
    static bool runUntilQuit() {
        bool timedOut = false;
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [&] {
            timedOut = true;
            QCoreApplication::quit();
        });
        guard.start(10'000);
        QApplication::exec();
        return !timedOut;
    }
};

// Where Ravolet does not update itself, the check that can never run says
// right under it what updates this copy (this build's: the package manager
// for the Debian package's, building again for one from source).
TEST_F(AppShellTest, WhereThePackageManagerUpdatesTheMenuSaysSoUnderTheDisabledCheck) {
    const QString note = QString::fromUtf8(updatesPage::updatedElsewhereShortNote(BundleInfo::main().fromPackage));
    AppModel::Dependencies dependencies = machine->dependencies();
    dependencies.updater = std::make_shared<platform::LinuxUpdaterBackend>();
    model = AppModel::create(dependencies);
    AppShell shell(model, {.hasTray = [] { return false; }});
    launch(shell);
    const QStringList shown = titles(*shell.menu());
    const auto check = shown.indexOf(QStringLiteral("Check for Updates…"));
    ASSERT_GE(check, 0);
    EXPECT_EQ(shown.value(check + 1), note);
    EXPECT_FALSE(action(*shell.menu(), "Check for Updates…")->isEnabled());
    ASSERT_NE(action(*shell.menu(), note), nullptr);
    EXPECT_FALSE(action(*shell.menu(), note)->isEnabled()); // a text row
    photographMenu(shell, QStringLiteral("tray-menu-package-manager"));
    shell.settingsWindow()->hide();
}

TEST_F(AppShellTest, TheMenuFollowsTheModelAndThePauseToggleWritesOnlyAChange) {
    AppShell shell(model, {.hasTray = [] { return false; }});
    launch(shell);
    EXPECT_EQ(titles(*shell.menu()),
              (QStringList{"Active", "---", "Pause Ravolet", "Profile: Default", "Start at Login", "---", "Settings…",
                           "Check for Updates…", "---", "Quit Ravolet"}));
    EXPECT_FALSE(action(*shell.menu(), "Active")->isEnabled());
    EXPECT_TRUE(action(*shell.menu(), "Check for Updates…")->isEnabled());
    machine->updater->setCanCheckForUpdates(false); // read again each time the menu opens
    Q_EMIT shell.menu()->aboutToShow();
    EXPECT_FALSE(action(*shell.menu(), "Check for Updates…")->isEnabled());

    const auto writes = machine->defaults->writeCount();
    Q_EMIT action(*shell.menu(), "Pause Ravolet")->triggered(false); // the value it already has
    EXPECT_EQ(machine->defaults->writeCount(), writes);
    action(*shell.menu(), "Pause Ravolet")->trigger();
    EXPECT_TRUE(model->preferences().isPausedByUser.value());
    QApplication::processEvents(); // the menu is refilled on the next turn
    EXPECT_EQ(titles(*shell.menu()).mid(0, 4),
              (QStringList{"Paused", "Your mouse behaves exactly as your desktop ships it", "---", "Pause Ravolet"}));
    EXPECT_TRUE(action(*shell.menu(), "Pause Ravolet")->isChecked());

    machine->grant(false, true);
    model->refreshPermissions();
    QApplication::processEvents();
    EXPECT_TRUE(titles(*shell.menu()).contains("Finish Setting Up Ravolet…"));
    action(*shell.menu(), "Finish Setting Up Ravolet…")->trigger();
    ASSERT_NE(shell.setUp().window(), nullptr);
    EXPECT_TRUE(shell.setUp().window()->isVisible());

    // Without a tray the settings window opened at launch.
    ASSERT_NE(shell.settingsWindow(), nullptr);
    EXPECT_TRUE(shell.settingsWindow()->isVisible());
    shell.setUp().window()->close();
    photographMenu(shell, QStringLiteral("tray-menu"));
    shell.settingsWindow()->hide();
}

TEST_F(AppShellTest, QuitStopsTheModelAndSavesBeforeTheEventLoopEnds) {
    bool stoppedAndSavedFirst = false;
    Config edited = model->config().value();
    edited.profiles.at(0).name = "Edited just before quitting";
    QMetaObject::Connection check = QObject::connect(qApp, &QCoreApplication::aboutToQuit, [&] {
        stoppedAndSavedFirst = model->engine().value() == nullptr &&
                               machine->makeModel()->config().value().profiles.at(0).name == edited.profiles.at(0).name;
    });
    {
        AppShell shell(model, {.hasTray = [] { return true; }});
        launch(shell);
        model->setConfig(edited); // its save is still a second away
        QTimer::singleShot(0, [&] { action(*shell.menu(), "Quit Ravolet")->trigger(); });
        EXPECT_TRUE(runUntilQuit());
    }
    QObject::disconnect(check);
    EXPECT_TRUE(stoppedAndSavedFirst);
}

TEST_F(AppShellTest, WithoutATrayClosingTheSettingsWindowKeepsRavoletRunningAndSaysSoOnce) {
    bool hasTray = false;
    AppShell shell(model, {.hasTray = [&] { return hasTray; }});
    launch(shell);
    SettingsWindow* window = shell.settingsWindow();
    ASSERT_TRUE(window && window->isVisible());
    ASSERT_TRUE(window->quitButton()->isVisible());
    test::saveScreenshot(*window, QStringLiteral("settings-window-without-a-tray"));
    window->close();
    QApplication::processEvents();
    EXPECT_TRUE(model->engine().value() && model->engine().value()->status().isTapEnabled) << "the mouse keeps working";
    ASSERT_NE(shell.keepsRunningNote(), nullptr);
    EXPECT_TRUE(shell.keepsRunningNote()->isVisible());
    test::saveScreenshot(*shell.keepsRunningNote(), QStringLiteral("keeps-running-note"));
    shell.keepsRunningNote()->close();
    QApplication::processEvents();
    EXPECT_TRUE(model->preferences().keepsRunningNoteShown.value());

    // Opened again and closed again: said once only.
    shell.showSettings();
    window->close();
    QApplication::processEvents();
    EXPECT_EQ(shell.keepsRunningNote(), nullptr);

    // A panel that comes up later is found when a window opens: the Quit
    // button, needed only without the tray's menu, goes.
    hasTray = true;
    shell.showSettings();
    EXPECT_TRUE(model->hasTray().value());
    EXPECT_FALSE(window->quitButton()->isVisible());
    window->hide();
}

TEST_F(AppShellTest, CtrlQInTheSettingsWindowQuits) {
    AppShell shell(model, {.hasTray = [] { return false; }});
    launch(shell);
    SettingsWindow* window = shell.settingsWindow();
    ASSERT_TRUE(window && window->isVisible());
    window->activateWindow();
    QTimer::singleShot(0, [&] { QTest::keyClick(window, Qt::Key_Q, Qt::ControlModifier); });
    EXPECT_TRUE(runUntilQuit());
    EXPECT_EQ(model->engine().value(), nullptr);
}

TEST_F(AppShellTest, AStartAtLoginWithoutATrayOpensNoWindow) {
    model->preferences().hasCompletedOnboarding.set(false); // not even the set-up
    AppShell shell(model, {.hasTray = [] { return false; }, .startedAtLogin = true});
    shell.launch();
    QApplication::processEvents();
    EXPECT_EQ(shell.settingsWindow(), nullptr);
    EXPECT_EQ(shell.setUp().window(), nullptr);
    EXPECT_TRUE(model->engine().value() != nullptr) << "yet Ravolet runs";
}

TEST_F(AppShellTest, QuittingWithChangesThatCannotBeSavedAsksAndEndingWithoutAskingKeepsThem) {
    const auto folder = machine->files->settingsFolder();
    const auto unsaved = [&] {
        Config edited = model->config().value();
        edited.profiles.at(0).pointer.dpi += 100;
        model->setConfig(edited);
        machine->advance(std::chrono::seconds(1)); // its save fails
        return edited;
    };
    // Answers the question when it comes, with the button of that title.
    const auto answer = [](const QString& button) {
        QTimer::singleShot(0, [button] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr) << "no question";
            test::saveScreenshot(*box, QStringLiteral("quit-with-unsaved-changes"));
            for (QAbstractButton* candidate : box->buttons())
                if (candidate->text() == button) return candidate->click();
            ADD_FAILURE() << "no button " << button.toStdString();
        });
    };
    machine->files->fail(platform::InMemoryFileSystem::Operation::write, ENOSPC);
    {
        AppShell shell(model, {.hasTray = [] { return false; }});
        launch(shell);
        unsaved();
        // Asked, and kept running: everything stays as it was.
        answer(QStringLiteral("Keep Running"));
        shell.quit();
        EXPECT_NE(model->engine().value(), nullptr);
        EXPECT_TRUE(shell.settingsWindow()->isVisible());
        answer(QStringLiteral("Quit Anyway"));
        shell.quit();
        EXPECT_EQ(model->engine().value(), nullptr);
        EXPECT_EQ(machine->files->listDirectory(folder).value_or(std::vector<std::string>{}).size(), 0u)
            << "let go, nothing is kept";
    }

    // Ended without asking: written beside the settings, and named at the next start.
    model = machine->makeModel();
    {
        AppShell shell(model, {.hasTray = [] { return true; }});
        launch(shell);
        machine->files->fail(platform::InMemoryFileSystem::Operation::write, ENOSPC);
        const Config edited = unsaved();
        machine->files->fail(platform::InMemoryFileSystem::Operation::write, 0);
        model->store().setProblem(ConfigStore::Problem::corrupt("hand-broken")); // saves stay blocked
        // Nor can the settings in force be kept in the copy beside the file (a folder has its name).
        ASSERT_TRUE(machine->files->createDirectories(folder / ConfigStore::inForceFileName));
        ::testing::internal::CaptureStderr();
        shell.endNow();
        const std::string said = ::testing::internal::GetCapturedStderr();
        const auto aside = model->storageNotices().value().unsavedChangesAt;
        ASSERT_TRUE(aside);
        EXPECT_EQ(aside->parent_path(), folder);
        EXPECT_TRUE(aside->filename().string().ends_with(".unsaved.json")) << *aside;
        EXPECT_EQ(Config::decoded(machine->files->readFile(*aside).value_or("")), edited);
        EXPECT_EQ(said, "ravolet: your latest changes could not be saved; they are kept in " + aside->string() + "\n");
    }
    model = machine->makeModel();
    EXPECT_TRUE(model->storageNotices().value().unsavedChangesAt);
    model->dismissUnsavedChangesFile();
    EXPECT_EQ(model->storageNotices().value(), StorageNotices{});

    // Where not even that can be written, the document goes to standard error.
    {
        AppShell shell(model, {.hasTray = [] { return true; }});
        launch(shell);
        machine->files->fail(platform::InMemoryFileSystem::Operation::write, EROFS);
        const Config edited = unsaved();
        ::testing::internal::CaptureStderr();
        shell.endNow();
        const std::string said = ::testing::internal::GetCapturedStderr();
        EXPECT_TRUE(said.starts_with("ravolet: your latest changes could not be saved, nor kept beside your settings"))
            << said;
        EXPECT_NE(said.find(*edited.encoded()), std::string::npos) << said;
    }
}

TEST_F(AppShellTest, ALaterCopyOfTheProgramBringsUpTheSettingsWindowOfTheFirst) {
    QTemporaryDir folder;
    auto first = platform::SingleInstance::claim(folder.filePath(QStringLiteral("ravolet")).toStdString(), std::nullopt);
    ASSERT_EQ(first->role(), platform::SingleInstance::Role::first);
    AppShell shell(model, {.hasTray = [] { return true; }});
    launch(shell);
    shell.answerLaterCopies(*first);
    EXPECT_EQ(shell.settingsWindow(), nullptr);

    const auto later = platform::SingleInstance::claim(folder.filePath(QStringLiteral("ravolet")).toStdString(), std::nullopt);
    ASSERT_EQ(later->role(), platform::SingleInstance::Role::second);
    // The later copy waits for the answer, which comes from this loop.
    auto call = std::async(std::launch::async, [&] { return later->callFirst(); });
    EXPECT_TRUE(QTest::qWaitFor([&] { return shell.settingsWindow() && shell.settingsWindow()->isVisible(); }));
    EXPECT_EQ(call.get(), platform::SingleInstance::Call::answered);

    // Quitting, it answers no more, though it holds the lock until it has
    // ended: the later copy waits for that beyond its patience, and runs.
    shell.quit();
    auto waiting = std::async(std::launch::async, [&] { return later->callFirst(std::chrono::milliseconds(100)); });
    QTest::qWait(400);
    EXPECT_EQ(waiting.wait_for(std::chrono::seconds(0)), std::future_status::timeout) << "still waiting";
    first.reset();
    EXPECT_EQ(waiting.get(), platform::SingleInstance::Call::tookOver);
}

TEST_F(AppShellTest, TheTrayIconStandsOutOnLightAndDarkPanelsInEveryState) {
    AppShell shell(model, {.hasTray = [] { return true; }});
    launch(shell);
    // The share of the icon's square that stands out from the panel by at least
    // 3:1, the contrast an icon needs to be made out.
    const auto standsOut = [&](const QColor& panel) {
        QImage image(22, 22, QImage::Format_RGB32);
        image.fill(panel);
        {
            QPainter painter(&image);
            painter.drawPixmap(0, 0, shell.trayIcon()->icon().pixmap(22, 22));
        }
        int visible = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (contrastRatio(image.pixelColor(x, y), panel) >= 3.0) ++visible;
        return visible / double(image.width() * image.height());
    };
    const QColor light(0xF2, 0xF2, 0xF2);
    const QColor dark(0x24, 0x24, 0x24);
    const std::function<void()> states[] = {
        [] {},
        [&] { model->setPausedByUser(true); },
        [&] {
            machine->grant(false, true);
            model->refreshPermissions();
        },
    };
    // A picture of a light and a dark panel holding the icon in each state,
    // at the tray's size, enlarged three times without smoothing.
    QImage panels(30 * int(std::size(states)), 60, QImage::Format_RGB32);
    QPainter painter(&panels);
    painter.fillRect(0, 0, panels.width(), 30, light);
    painter.fillRect(0, 30, panels.width(), 30, dark);
    int column = 0;
    for (const auto& enter : states) {
        enter();
        QApplication::processEvents();
        EXPECT_GT(standsOut(light), 0.12) << shell.trayIcon()->toolTip().toStdString();
        EXPECT_GT(standsOut(dark), 0.12) << shell.trayIcon()->toolTip().toStdString();
        const QPixmap icon = shell.trayIcon()->icon().pixmap(22, 22);
        painter.drawPixmap(30 * column + 4, 4, icon);
        painter.drawPixmap(30 * column + 4, 34, icon);
        ++column;
    }
    painter.end();
    QLabel picture;
    picture.setPixmap(QPixmap::fromImage(panels.scaled(panels.size() * 3, Qt::IgnoreAspectRatio, Qt::FastTransformation)));
    test::showAndSettle(picture, panels.width() * 3);
    test::saveScreenshot(picture, QStringLiteral("tray-icon-on-light-and-dark-panels"));
}

} // namespace
} // namespace ravolet
