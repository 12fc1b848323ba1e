#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QTest>
#include <QToolButton>

#include <algorithm>
#include <set>
#include <vector>

#include "RavoletApp/Model/SimulatedMachine.hpp"
#include "RavoletApp/UI/NoticeBanner.hpp"
#include "RavoletApp/UI/SettingsTabBar.hpp"
#include "RavoletApp/UI/SettingsWindow.hpp"
#include "UITestSupport.hpp"

namespace ravolet {
namespace {

struct SettingsWindowTest : ::testing::Test {
    std::shared_ptr<SimulatedMachine> machine = SimulatedMachine::makeInVirtualTime();
    std::shared_ptr<AppModel> model = machine->makeModel();
    int setUpRequests = 0;

    void SetUp() override {
        model->start();
        machine->settle();
    }
    void show(SettingsWindow& window) {
        window.show();
        (void)QTest::qWaitForWindowExposed(&window);
        QApplication::processEvents();
    }
    static QStringList bannerTitles(const SettingsWindow& window) {
        QStringList titles;
        for (NoticeBanner* banner : window.banners()) titles << banner->titleLabel()->text();
        return titles;
    }
    static void click(const SettingsWindow& window, const QString& buttonTitle) {
        for (NoticeBanner* banner : window.banners())
            for (QPushButton* button : banner->findChildren<QPushButton*>())
                if (button->text() == buttonTitle) return QTest::mouseClick(button, Qt::LeftButton);
        ADD_FAILURE() << "no banner button " << buttonTitle.toStdString();
    }
};

TEST_F(SettingsWindowTest, EveryPageIsBuiltOnceAndTabsSwitchWithoutRebuildingOrRetitling) {
    SettingsWindow window(model, [] {});
    show(window);
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Scroll"));
    EXPECT_EQ(window.pageHost()->count(), 6);
    // What each slot of the host shows, as built with the window.
    const auto hosted = [&] {
        std::vector<QWidget*> pages;
        for (int i = 0; i < window.pageHost()->count(); ++i)
            pages.push_back(qobject_cast<QScrollArea*>(window.pageHost()->widget(i))->widget());
        return pages;
    };
    const std::vector<QWidget*> built = hosted();
    EXPECT_EQ(std::set<QWidget*>(built.begin(), built.end()).size(), 6u);
    EXPECT_EQ(std::count(built.begin(), built.end(), nullptr), 0);
    test::saveScreenshot(window, QStringLiteral("settings-window"));

    for (SettingsTab tab : {SettingsTab::device, SettingsTab::updates, SettingsTab::buttons, SettingsTab::profiles,
                            SettingsTab::pointer, SettingsTab::device}) {
        QTest::mouseClick(window.tabBar()->button(tab), Qt::LeftButton);
        EXPECT_EQ(window.windowTitle().toStdString(), title(tab));
        EXPECT_EQ(window.pageHost()->currentIndex(), position(tab));
        EXPECT_TRUE(window.page(tab)->isVisible());
        EXPECT_TRUE(window.tabBar()->button(tab)->isChecked());
        test::saveScreenshot(window, QStringLiteral("settings-window-") + QString::fromUtf8(title(tab).data()).toLower());
    }
    EXPECT_EQ(hosted(), built);
}

TEST_F(SettingsWindowTest, BannersFollowTheStateAndTheirButtonsApplyTheirRemedies) {
    SettingsWindow window(model, [this] { ++setUpRequests; });
    show(window);
    EXPECT_TRUE(window.banners().empty());

    model->store().setProblem(ConfigStore::Problem::corrupt("unexpected end of input"));
    machine->grant(false, false);
    model->refreshPermissions();
    model->setPausedByUser(true);
    EXPECT_EQ(bannerTitles(window), (QStringList{"Your Ravolet settings file could not be read",
                                                 "Ravolet is not allowed to touch your input yet"}));
    EXPECT_TRUE(window.banners()[0]->messageLabel()->text().endsWith(
        QString::fromStdString(" Your file is still on disk at " + model->store().fileURL.string() + ".")));
    test::saveScreenshot(window, QStringLiteral("settings-window-banners"));
    click(window, QStringLiteral("Finish Setting Up…"));
    EXPECT_EQ(setUpRequests, 1);

    machine->grant(true, true);
    model->refreshPermissions();
    EXPECT_EQ(bannerTitles(window), (QStringList{"Your Ravolet settings file could not be read", "Ravolet is paused"}));
    click(window, QStringLiteral("Resume"));
    EXPECT_FALSE(model->preferences().isPausedByUser.value());
    QApplication::processEvents();

    // There is no file (the simulated machine starts without one): reading again clears the problem.
    click(window, QStringLiteral("Try Reading It Again"));
    QApplication::processEvents();
    EXPECT_TRUE(window.banners().empty());
    EXPECT_FALSE(model->needsBanner().value());
}

TEST_F(SettingsWindowTest, ASelectionWhoseProfileIsGoneTurnsToTheActiveProfileWhenTheWindowShows) {
    SettingsWindow window(model, [] {});
    const std::string second = model->config().value().profiles.at(1).id;
    window.profileSelection()->set(second);
    show(window);
    EXPECT_EQ(window.profileSelection()->value(), second);
    window.hide();
    window.profileSelection()->set("gone");
    show(window);
    EXPECT_EQ(window.profileSelection()->value(), model->status().value().activeProfileID);
}

} // namespace
} // namespace ravolet
