#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "Platform/Linux/LinuxUpdaterBackend.hpp"
#include "RavoletApp/Model/SimulatedMachine.hpp"
#include "RavoletApp/UI/FactRow.hpp"
#include "RavoletApp/UI/UpdatesTab.hpp"
#include "UITestSupport.hpp"

namespace ravolet {
namespace {

struct UpdatesTabTest : ::testing::Test {
    std::shared_ptr<SimulatedMachine> machine = SimulatedMachine::makeInVirtualTime();
    std::shared_ptr<AppModel> model = machine->makeModel();
    platform::SimulatedUpdaterBackend& updater = *machine->updater;
    const std::string key{AppPreferences::Keys::automaticChecks};
};

TEST_F(UpdatesTabTest, TheSwitchAndItsResetWriteOnlyChangesAndTheUpdaterFollows) {
    updater.presetAutomaticChecks(true);
    UpdatesTab page(model);
    test::showAndSettle(page);
    EXPECT_TRUE(page.automaticChecksBox()->isChecked());
    EXPECT_TRUE(updater.calls().empty()); // showing writes nothing

    QTest::mouseClick(page.automaticChecksReset(), Qt::LeftButton); // already on: nothing
    EXPECT_TRUE(updater.calls().empty());
    EXPECT_EQ(machine->defaults->value(key), std::nullopt);

    page.automaticChecksBox()->click();
    EXPECT_FALSE(model->preferences().automaticUpdateChecks.value());
    EXPECT_EQ(machine->defaults->boolValue(key), false);
    EXPECT_FALSE(updater.automaticallyChecksForUpdates());

    QTest::mouseClick(page.automaticChecksReset(), Qt::LeftButton);
    EXPECT_TRUE(page.automaticChecksBox()->isChecked());
    EXPECT_TRUE(updater.automaticallyChecksForUpdates());
    EXPECT_EQ(updater.calls(), (std::vector<std::string>{"setAutomaticallyChecksForUpdates(false)",
                                                         "setAutomaticallyChecksForUpdates(true)"}));
}

TEST_F(UpdatesTabTest, TheFactsAndTheCheckButtonFollowTheUpdaterWhenThePageComesOnScreen) {
    updater.setCanCheckForUpdates(false);
    UpdatesTab page(model);
    test::showAndSettle(page);
    EXPECT_FALSE(page.checkButton()->isEnabled());
    EXPECT_TRUE(page.checkUnderWayLabel()->isVisible());
    EXPECT_EQ(page.lastCheckedFact()->valueLabel()->text(), QStringLiteral("Never"));
    EXPECT_EQ(page.feedFact()->valueLabel()->text(), QStringLiteral("—"));
    EXPECT_EQ(page.versionFact()->valueLabel()->text(),
              QString::fromStdString(model->updater().currentVersionDescription()));
    test::saveScreenshot(page, QStringLiteral("updates-page-check-under-way"));

    page.hide();
    updater.setCanCheckForUpdates(true);
    updater.setFeedURL("https://ravolet.app/appcast.xml");
    updater.setLastUpdateCheckDate(std::chrono::sys_days{std::chrono::December / 9 / 2026} + std::chrono::hours(12));
    test::showAndSettle(page);
    EXPECT_TRUE(page.checkButton()->isEnabled());
    EXPECT_FALSE(page.checkUnderWayLabel()->isVisible());
    EXPECT_EQ(page.feedFact()->valueLabel()->text(), QStringLiteral("https://ravolet.app/appcast.xml"));
    EXPECT_TRUE(page.lastCheckedFact()->valueLabel()->text().startsWith(QStringLiteral("Dec 9, 2026, ")))
        << page.lastCheckedFact()->valueLabel()->text().toStdString();
    QTest::mouseClick(page.checkButton(), Qt::LeftButton);
    EXPECT_EQ(updater.calls().back(), "checkForUpdates");
    EXPECT_EQ(machine->activator->activations(), 1);
    test::saveScreenshot(page, QStringLiteral("updates-page"));
}

// A build that does not update itself offers no switch to turn on and no
// check that never comes, and says what updates it instead: the package
// manager for the copy Ravolet's Debian package installed, building it again
// for one built from source (as the tests' own build is, except the package's).
TEST_F(UpdatesTabTest, ABuildThatDoesNotUpdateItselfSaysWhatDoesAndOffersNoCheck) {
    AppModel::Dependencies dependencies = machine->dependencies();
    dependencies.updater = std::make_shared<platform::LinuxUpdaterBackend>();
    const std::shared_ptr<AppModel> packaged = AppModel::create(dependencies);
    UpdatesTab page(packaged);
    test::showAndSettle(page);
    // The switch is off and disabled, the version is shown, and nothing
    // offers a check or a feed.
    EXPECT_FALSE(page.automaticChecksBox()->isChecked());
    EXPECT_FALSE(page.automaticChecksBox()->isEnabled());
    EXPECT_FALSE(page.automaticChecksReset()->isEnabled());
    EXPECT_EQ(page.versionFact()->valueLabel()->text(),
              QString::fromStdString(packaged->updater().currentVersionDescription()));
    EXPECT_EQ(page.checkButton(), nullptr);
    EXPECT_EQ(page.feedFact(), nullptr);
    EXPECT_EQ(page.lastCheckedFact(), nullptr);
    const bool fromPackage = packaged->updater().bundle().fromPackage;
    // What to do: install a newer package, or build the newer source again.
    const QString remedy = fromPackage ? QStringLiteral("sudo apt install ./ravolet_") : QStringLiteral("scripts/run.sh");
    bool saysWhatToDo = false;
    for (const QLabel* label : page.findChildren<QLabel*>())
        saysWhatToDo = saysWhatToDo || (label->isVisible() && label->text().contains(remedy));
    EXPECT_TRUE(saysWhatToDo) << remedy.toStdString();
    // The switch itself says why it is off, to a pointer and a screen reader.
    EXPECT_EQ(page.automaticChecksBox()->toolTip(), fromPackage ? QStringLiteral("Updated by your package manager")
                                                                : QStringLiteral("Built from source: build it again to update it"));
    EXPECT_TRUE(page.automaticChecksBox()->accessibleDescription().contains(remedy));
    test::saveScreenshot(page, fromPackage ? QStringLiteral("updates-page-package-manager")
                                         : QStringLiteral("updates-page-source-build"));

    UpdatesTab simulated(model);
    updater.setCanCheckForUpdates(false);
    test::showAndSettle(simulated);
    EXPECT_EQ(simulated.checkUnderWayLabel()->text(), QStringLiteral("A check is already under way."));
}

} // namespace
} // namespace ravolet
