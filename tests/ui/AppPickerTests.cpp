#include <gtest/gtest.h>

#include <QAction>
#include <QHBoxLayout>
#include <QImage>
#include <QMenu>
#include <QSignalSpy>

#include "RavoletApp/Model/SimulatedMachine.hpp"
#include "RavoletApp/UI/AppPicker.hpp"
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
    AppPickerButton picker(model, QStringLiteral("Choose App…"));
    EXPECT_EQ(menuTexts(*picker.menu()), QStringList{AppPickerButton::chooseFromDiskTitle()});

    Q_EMIT picker.menu()->aboutToShow();
    const QStringList withRunning = {AppPickerButton::chooseFromDiskTitle(), AppPickerButton::runningSectionTitle(),
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
    AppPickerButton lonely(AppModel::create(nothingRunning), QStringLiteral("Choose App…"));
    Q_EMIT lonely.menu()->aboutToShow();
    EXPECT_EQ(menuTexts(*lonely.menu()), QStringList{AppPickerButton::chooseFromDiskTitle()});
}

TEST_F(AppPickerTest, AFileChoiceAnnouncesOnlyAnApplicationsEntry) {
    AppPickerButton picker(model, QStringLiteral("Choose App…"));
    QSignalSpy chosen(&picker, &AppPickerButton::chosen);
    QString askedFolder;
    std::optional<QString> answer;
    picker.setFileChooser([&](QWidget*, const QString& folder) {
        askedFolder = folder;
        return answer;
    });
    for (const std::optional<QString>& file :
         {std::optional<QString>(), std::optional<QString>(""), std::optional<QString>("/home/user/notes.desktop")}) {
        answer = file;
        picker.chooseFromDisk();
    }
    EXPECT_EQ(chosen.size(), 0);
    EXPECT_EQ(askedFolder, QStringLiteral("/usr/share/applications"));

    answer = QStringLiteral("/usr/share/applications/org.inkscape.Inkscape.desktop");
    picker.menu()->actions().front()->trigger(); // the menu's "Choose from…" runs the chooser
    ASSERT_EQ(chosen.size(), 1);
    EXPECT_EQ(chosen.at(0).at(0).toString(), QStringLiteral("org.inkscape.Inkscape"));
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
    layout->addWidget(new AppPickerButton(model, QStringLiteral("Choose App…")));
    layout->addStretch(1);
    test::showAndSettle(row, 320);
    test::saveScreenshot(row, QStringLiteral("app-picker"));
}

} // namespace
} // namespace ravolet
