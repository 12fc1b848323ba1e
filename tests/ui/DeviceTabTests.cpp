#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include "RavoletApp/Model/SimulatedMachine.hpp"
#include "RavoletApp/UI/CommandLine.hpp"
#include "RavoletApp/UI/DeviceTab.hpp"
#include "RavoletApp/UI/Explain.hpp"
#include "RavoletApp/UI/FactRow.hpp"
#include "RavoletApp/UI/NoticeBanner.hpp"
#include "RavoletApp/UI/PageSection.hpp"
#include "RavoletApp/UI/StatusDot.hpp"
#include "UITestSupport.hpp"

namespace ravolet {
namespace {

// Fits the page to what it now holds (rows appear as the mouse is read), then saves it.
void screenshot(QWidget& page, const QString& name) { test::saveRefittedScreenshot(page, name, 640); }

struct DeviceTabTest : ::testing::Test {
    std::shared_ptr<SimulatedMachine> machine = SimulatedMachine::makeInVirtualTime();
    std::shared_ptr<AppModel> model = machine->makeModel();
    int refreshes = 0;
    ObserverConnection counting = model->deviceMonitor().isRefreshing().observe([this](bool on) { refreshes += on; });

    void TearDown() override { model->stop(); }
};

std::map<QString, QString> facts(const FactList* list) {
    std::map<QString, QString> values;
    for (const FactRow* row : list->rows()) values[row->labelLabel()->text()] = row->valueLabel()->text();
    return values;
}

TEST_F(DeviceTabTest, WithTheMouseAttachedThePageListsItsRealFactsAndRereadsOncePerShow) {
    model->start();
    machine->advance(std::chrono::seconds(3));
    ASSERT_TRUE(model->status().value().targetDeviceAttached);
    const Config before = model->config().value();
    refreshes = 0;

    DeviceTab page(model);
    test::showAndSettle(page, 640);
    EXPECT_EQ(refreshes, 1);
    EXPECT_FALSE(page.refreshButton()->isEnabled()); // the show-time read is under way
    machine->settle();
    EXPECT_TRUE(page.refreshButton()->isEnabled());
    EXPECT_FALSE(page.refreshIndicator()->isVisible());

    const DeviceMonitor::Snapshot& snapshot = model->deviceMonitor().snapshot().value();
    ASSERT_TRUE(snapshot.identity && snapshot.dpi);
    EXPECT_EQ(page.connectionLine()->text(), QStringLiteral("Connected to ") + QString::fromStdString(*snapshot.identity->product));
    EXPECT_EQ(page.connectionLine()->level(), StatusDot::Level::good);
    const auto identity = facts(page.connectionFacts());
    EXPECT_EQ(identity.at(QStringLiteral("USB identifiers")), QStringLiteral("046D:C099"));
    EXPECT_TRUE(identity.contains(QStringLiteral("HID++ protocol")));
    const auto settings = facts(page.mouseSettingsFacts());
    EXPECT_EQ(settings.at(QStringLiteral("DPI")), QString::number(snapshot.dpi->current));
    EXPECT_TRUE(settings.contains(QStringLiteral("Report rate")));
    EXPECT_TRUE(page.lastReadLabel()->text().startsWith(QStringLiteral("Last read ")));
    EXPECT_EQ(page.tapLine()->text(), QStringLiteral("Watching your mouse"));
    EXPECT_EQ(facts(page.activityFacts()).at(QStringLiteral("Transforming input")), QStringLiteral("Yes"));
    EXPECT_TRUE(page.permissionBanner()->isHidden());
    EXPECT_TRUE(page.compatibilitySection()->isHidden());
    screenshot(page, QStringLiteral("device-page"));

    // Pressing Refresh twice reads once; the button waits for it.
    page.refreshButton()->click();
    page.refreshButton()->click();
    EXPECT_FALSE(page.refreshButton()->isEnabled());
    EXPECT_TRUE(page.refreshIndicator()->isVisible());
    machine->settle();
    EXPECT_EQ(refreshes, 2);
    page.hide();
    page.show();
    machine->settle();
    EXPECT_EQ(refreshes, 3);
    EXPECT_EQ(model->config().value(), before);
}

TEST_F(DeviceTabTest, WithoutTheMouseOnlyTheDPIPlaceholderAndTheProblemsShow) {
    // Gone both from the HID bus and from the event system's devices.
    machine->mouse->unplug();
    machine->privateHID->detach(SimulatedMachine::mouseServiceID);
    model->start();
    machine->settle();
    EngineStatus status = model->status().value();
    ASSERT_FALSE(status.targetDeviceAttached);

    DeviceTab page(model);
    test::showAndSettle(page, 640);
    machine->settle();
    EXPECT_EQ(page.connectionLine()->text(), QStringLiteral("No Logitech mouse found"));
    EXPECT_EQ(page.connectionLine()->level(), StatusDot::Level::waiting);
    EXPECT_TRUE(page.connectionExplanation()->text().startsWith(QStringLiteral("Plug the mouse in")));
    EXPECT_TRUE(page.connectionFacts()->rows().empty());
    EXPECT_EQ(facts(page.mouseSettingsFacts()), (std::map<QString, QString>{{QStringLiteral("DPI"), QStringLiteral("\u2014")}}));
    EXPECT_TRUE(page.lastReadLabel()->isHidden()) << "nothing was read";
    EXPECT_EQ(facts(page.activityFacts()).at(QStringLiteral("Transforming input")), QStringLiteral("No"));
    screenshot(page, QStringLiteral("device-page-no-mouse"));
}

// Tried again meanwhile, its wheel counted by the mode it is taken to be in.
TEST_F(DeviceTabTest, AMouseThatDoesNotAnswerIsBeingTriedAgain) {
    machine->mouse->setSilent(true);
    model->start();
    machine->advance(std::chrono::seconds(3));
    DeviceTab page(model);
    test::showAndSettle(page, 640);
    machine->advance(std::chrono::seconds(3));
    EXPECT_EQ(page.connectionLine()->text(), QStringLiteral("Your mouse has not answered yet (wheel mode assumed)"));
    EXPECT_EQ(page.connectionLine()->level(), StatusDot::Level::waiting);
    EXPECT_TRUE(page.connectionExplanation()->text().contains(QStringLiteral("trying again")));
    screenshot(page, QStringLiteral("device-page-not-answering"));
}

TEST_F(DeviceTabTest, WhenTheComputerRefusesTheMouseThePermissionNoticeLeadsAndTheProblemIsKeptVerbatim) {
    machine->mouse->refuseOpen(platform::kIOReturnNotPermitted);
    machine->probe->setClosedNodes({}, {"/dev/hidraw3"});
    model->start();
    machine->settle();
    DeviceTab page(model);
    test::showAndSettle(page, 640);
    machine->settle();
    const DeviceMonitor::Snapshot& snapshot = model->deviceMonitor().snapshot().value();
    ASSERT_TRUE(snapshot.isNotPermitted);
    EXPECT_FALSE(page.permissionBanner()->isHidden());
    // What opens the node, and which node is still closed.
    const QString message = page.permissionBanner()->message();
    EXPECT_TRUE(message.contains(QStringLiteral("70-ravolet.rules"))) << message.toStdString();
    EXPECT_TRUE(message.endsWith(QStringLiteral("Still closed to Ravolet: /dev/hidraw3."))) << message.toStdString();
    ASSERT_EQ(page.permissionBanner()->commandLines().size(), 1U);
    EXPECT_EQ(page.permissionBanner()->commandLines().front()->command(),
              QStringLiteral("sudo udevadm trigger --action=change /dev/hidraw3"));
    EXPECT_EQ(page.connectionLine()->level(), StatusDot::Level::bad);
    EXPECT_EQ(page.lastProblemSection()->isHidden(), !snapshot.lastError.has_value());
    if (snapshot.lastError) {
        EXPECT_EQ(page.lastProblemLabel()->text(), QString::fromStdString(*snapshot.lastError));
    }
    screenshot(page, QStringLiteral("device-page-not-permitted"));
}

} // namespace
} // namespace ravolet
