#include <gtest/gtest.h>

#include <QAction>
#include <QHBoxLayout>
#include <QImage>
#include <QMenu>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include "RavoletApp/Model/SimulatedMachine.hpp"
#include "RavoletApp/UI/AppPicker.hpp"
#include "RavoletApp/UI/ApplicationChooser.hpp"
#include "UITestSupport.hpp"

namespace ravolet {
namespace {

struct AppPickerTest : ::testing::Test {
    std::shared_ptr<SimulatedMachine> machine = SimulatedMachine::makeInVirtualTime();
    std::shared_ptr<AppModel> model = machine->makeModel();

    static QStringList menuTexts(const QMenu& menu) {
        QStringList texts;
        for (const QAction* action : menu.actions()) texts << action->text();
        return texts;
    }
};

TEST_F(AppPickerTest, TheMenuListsTheRunningAppsEachTimeItOpensAndAnnouncesAChoice) {
    AppPickerButton picker(model, QStringLiteral("Choose App…"), AppChoicePlace::rule);
    EXPECT_EQ(menuTexts(*picker.menu()), QStringList{AppPickerButton::chooseInstalledTitle()});

    Q_EMIT picker.menu()->aboutToShow();
    const QStringList withRunning = {AppPickerButton::chooseInstalledTitle(), AppPickerButton::runningSectionTitle(),
                                     "Firefox", "GNU Image Manipulation Program", "Text Editor"};
    EXPECT_EQ(menuTexts(*picker.menu()), withRunning);

    machine->workspace->launch({"com.example.amp", "Salt & Pepper 2"});
    Q_EMIT picker.menu()->aboutToShow();
    EXPECT_EQ(picker.menu()->actions().size(), withRunning.size() + 1);
    QSignalSpy chosen(&picker, &AppPickerButton::chosen);
    QAction* salt = picker.menu()->actions().at(4); // by name, among the others
    EXPECT_EQ(salt->text(), QStringLiteral("Salt && Pepper 2"));
    salt->trigger();
    ASSERT_EQ(chosen.size(), 1);
    EXPECT_EQ(chosen.at(0).at(0).toString(), QStringLiteral("com.example.amp"));

    // Only ordinary applications with an identifier: none at all leaves the chooser alone.
    AppModel::Dependencies nothingRunning = machine->dependencies();
    const auto desktop = platform::SimulatedWorkspace::make();
    desktop->launch({"com.example.agent", "Agent", false});
    desktop->launch({std::nullopt, "No Identifier"});
    nothingRunning.workspace = desktop;
    AppPickerButton lonely(AppModel::create(nothingRunning), QStringLiteral("Choose App…"), AppChoicePlace::rule);
    Q_EMIT lonely.menu()->aboutToShow();
    EXPECT_EQ(menuTexts(*lonely.menu()), QStringList{AppPickerButton::chooseInstalledTitle()});
}

TEST_F(AppPickerTest, TheChooserListsTheInstalledAppsSearchablyUnderTheTitleOfItsPlace) {
    machine->applications->install(
        {"org.example.helper", "Helper", "/usr/share/applications/org.example.helper.desktop", "", false});
    AppPickerButton picker(model, QStringLiteral("Choose App…"), AppChoicePlace::launchAction);
    QSignalSpy chosen(&picker, &AppPickerButton::chosen);
    QString title;
    QString prompt;
    QStringList listed;
    QStringList found;
    picker.setChooserRunner([&](ApplicationChooser& chooser) -> std::optional<QString> {
        title = chooser.windowTitle();
        prompt = chooser.promptLabel()->text();
        listed = chooser.shownBundleIDs();
        QTest::keyClicks(chooser.searchField(), QStringLiteral("INK"));
        found = chooser.shownBundleIDs();
        chooser.show();
        (void)QTest::qWaitForWindowExposed(&chooser);
        test::saveScreenshot(chooser, QStringLiteral("app-chooser"));
        QTest::keyClick(chooser.searchField(), Qt::Key_Return);
        return chooser.chosenBundleID();
    });
    picker.menu()->actions().front()->trigger(); // the menu's "Choose from…" runs the chooser
    EXPECT_EQ(title, QStringLiteral("Choose the App This Button Opens"));
    EXPECT_EQ(prompt, QStringLiteral("Pick the app this button should open."));
    // By name, without the entry menus leave out; the search matches names and identifiers.
    EXPECT_EQ(listed, (QStringList{"org.mozilla.firefox", "org.gimp.GIMP", "org.inkscape.Inkscape",
                                   "org.gnome.TextEditor"}));
    EXPECT_EQ(found, QStringList{"org.inkscape.Inkscape"});
    ASSERT_EQ(chosen.size(), 1);
    EXPECT_EQ(chosen.at(0).at(0).toString(), QStringLiteral("org.inkscape.Inkscape"));

    // Cancelled, or nothing left to choose: nothing is announced.
    picker.setChooserRunner([](ApplicationChooser& chooser) {
        chooser.reject();
        return chooser.chosenBundleID();
    });
    picker.chooseInstalled();
    picker.setChooserRunner([](ApplicationChooser& chooser) {
        QTest::keyClicks(chooser.searchField(), QStringLiteral("no such app"));
        chooser.accept();
        return chooser.chosenBundleID();
    });
    picker.chooseInstalled();
    EXPECT_EQ(chosen.size(), 1);

    AppPickerButton forRule(model, QStringLiteral("Choose App…"), AppChoicePlace::rule);
    forRule.setChooserRunner([&](ApplicationChooser& chooser) {
        title = chooser.windowTitle();
        return std::optional<QString>();
    });
    forRule.chooseInstalled();
    EXPECT_EQ(title, QStringLiteral("Choose the App for This Rule"));
}

TEST_F(AppPickerTest, AnUnknownIdentifierShowsTheQuestionMarkAtTheSizeAsked) {
    AppIconView icon(model, 16);
    EXPECT_EQ(icon.size(), QSize(16, 16));
    EXPECT_TRUE(icon.showsPlaceholder());
    icon.setBundleID(QStringLiteral("org.mozilla.firefox"));
    EXPECT_FALSE(icon.showsPlaceholder());
    EXPECT_FALSE(icon.pixmap().isNull());
    icon.setBundleID(QStringLiteral("com.example.none"));
    EXPECT_TRUE(icon.showsPlaceholder());
    EXPECT_EQ(icon.pixmap().deviceIndependentSize().toSize(), QSize(16, 16));
    EXPECT_EQ(icon.size(), QSize(16, 16));

    QWidget row;
    auto* layout = new QHBoxLayout(&row);
    auto* known = new AppIconView(model, 32);
    known->setBundleID(QStringLiteral("org.gimp.GIMP"));
    layout->addWidget(known);
    layout->addWidget(new AppIconView(model, 32));
    layout->addWidget(new AppPickerButton(model, QStringLiteral("Choose App…"), AppChoicePlace::rule));
    layout->addStretch(1);
    test::showAndSettle(row, 320);
    test::saveScreenshot(row, QStringLiteral("app-picker"));
}

} // namespace
} // namespace ravolet
