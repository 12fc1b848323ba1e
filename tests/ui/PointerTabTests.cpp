#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QTest>

#include <algorithm>

#include "Platform/Simulated/ManualScheduler.hpp"
#include "RavoletApp/Model/SimulatedMachine.hpp"
#include "RavoletApp/UI/DeviceTab.hpp"
#include "RavoletApp/UI/Explain.hpp"
#include "RavoletApp/UI/FactRow.hpp"
#include "RavoletApp/UI/NoticeBanner.hpp"
#include "RavoletApp/UI/PageSection.hpp"
#include "RavoletApp/UI/PointerTab.hpp"
#include "RavoletApp/UI/ResetButton.hpp"
#include "RavoletApp/UI/StatusDot.hpp"
#include "RavoletApp/UI/ValueSlider.hpp"
#include "UITestSupport.hpp"

namespace ravolet {
namespace {

// Fits the page to what it now holds (rows appear as the mouse is read), then saves it.
void screenshot(QWidget& page, const QString& name) { test::saveRefittedScreenshot(page, name, 640); }

struct PointerTabTest : ::testing::Test {
    std::shared_ptr<SimulatedMachine> machine = SimulatedMachine::makeInVirtualTime();
    std::shared_ptr<AppModel> model = machine->makeModel();
    std::shared_ptr<ProfileSelection> selection =
        std::make_shared<ProfileSelection>(std::string(Profile::defaultProfileID));
    ProfileBinding binding{model, selection};

    void SetUp() override {
        model->start();
        machine->advance(std::chrono::seconds(3)); // the engine has found the mouse
    }
    void TearDown() override { model->stop(); }

    Profile edited() const { return binding.value(); }
    void editProfile(const std::function<void(Profile&)>& change) {
        binding.edit(change);
        machine->advance(std::chrono::seconds(2)); // saved and handed to the engine
    }
};

QStringList factLabels(const QWidget& page) {
    QStringList labels;
    for (const FactRow* row : page.findChildren<FactRow*>())
        if (row->isVisibleTo(&page)) labels << row->labelLabel()->text();
    return labels;
}

TEST_F(PointerTabTest, ShowingWritesNothingAndReReadsWhatLibinputBelievesEachTime) {
    editProfile([](Profile& p) {
        p.pointer.dpi = 430;
        p.pointer.curve.sensitivity = 1.234;
        p.pointer.curve.acceleration = PointerAcceleration::curve(0.77, 120.9, 2.45);
    });
    const Config before = model->config().value();
    const auto writes = machine->pointerBackend->writeLog().size();

    PointerTab page(model, binding);
    test::showAndSettle(page, 640);
    machine->settle();
    EXPECT_EQ(model->config().value(), before);
    EXPECT_EQ(machine->pointerBackend->writeLog().size(), writes);
    EXPECT_EQ(page.dpiSlider()->valueLabel()->text(), QStringLiteral("430"));
    EXPECT_EQ(page.dpiSection()->title(), QStringLiteral("DPI \u2014 Default"));
    EXPECT_TRUE(factLabels(page).contains(QStringLiteral("libinput assumes your mouse reports")));

    // What the desktop believes is read again each time the page comes on screen.
    machine->pointerBackend->seed(SimulatedMachine::mouseServiceID, {{"HIDPointerResolution", 800 * 65536}});
    const auto reading = [&] { return PointerTab::tunerOf(*model)->status().currentReading->resolution; };
    const auto seenBefore = reading();
    page.hide();
    EXPECT_EQ(reading(), seenBefore);
    page.show();
    EXPECT_EQ(reading(), 800 * 65536);
    EXPECT_EQ(model->config().value(), before);
}

TEST_F(PointerTabTest, ADPIChangeWhileThePagesShowReachesEveryFigureThatDependsOnIt) {
    PointerTab page(model, binding);
    DeviceTab device(model);
    test::showAndSettle(page, 640);
    test::showAndSettle(device, 640);
    machine->settle();
    const auto fact = [](const QWidget& on, const QString& label) {
        for (const FactRow* row : on.findChildren<FactRow*>())
            if (row->isVisibleTo(&on) && row->labelLabel()->text() == label) return row->valueLabel()->text().toStdString();
        return std::string("(no row)");
    };
    EXPECT_EQ(fact(page, "Your mouse actually reports"), "2000 DPI");
    EXPECT_EQ(fact(page, "libinput assumes your mouse reports"), "1000 counts per inch");
    EXPECT_EQ(fact(page, "So libinput overestimates your hand speed by"), "2.0×");
    EXPECT_EQ(fact(page, "Now in force"), "flat, speed 0.00");

    QTest::mouseClick(page.presetButtons().at(1), Qt::LeftButton);
    machine->advance(std::chrono::seconds(2)); // handed to the engine, written to the mouse, read back
    EXPECT_EQ(fact(page, "Now in force"), "flat, speed 0.00");
    EXPECT_EQ(fact(page, "libinput assumes your mouse reports"), "1000 counts per inch") << "Linux cannot change it";
    EXPECT_EQ(fact(page, "Your mouse actually reports"), "800 DPI");
    EXPECT_EQ(fact(page, "So libinput overestimates your hand speed by"), "(no row)") << "it no longer does";
    EXPECT_EQ(fact(device, "DPI"), "800");
}

TEST_F(PointerTabTest, WithoutDeviceManagementTheDeviceSectionsAreInert) {
    PointerTab page(model, binding);
    test::showAndSettle(page, 640);
    EXPECT_TRUE(page.dpiSection()->isEnabled());
    EXPECT_TRUE(page.deviceControlSection()->footer()->isHidden());

    QTest::mouseClick(page.managesSwitch(), Qt::LeftButton, {}, QPoint(8, page.managesSwitch()->height() / 2));
    machine->settle();
    EXPECT_FALSE(model->preferences().managesDeviceSettings.value());
    for (PageSection* section : {page.dpiSection(), page.reportRateSection(), page.wheelSection()})
        EXPECT_FALSE(section->isEnabled()) << section->title().toStdString();
    for (PageSection* section : {page.hardwareSection(), page.movementSection(), page.speedSection(), page.loginSection()})
        EXPECT_TRUE(section->isEnabled()) << section->title().toStdString();
    EXPECT_EQ(page.deviceControlSection()->footer()->text(),
              QStringLiteral("Everything below is switched off while Ravolet is not managing the mouse."));
    screenshot(page, QStringLiteral("pointer-page-unmanaged"));
}

TEST_F(PointerTabTest, EditsWriteThroughTheBindingAndTheModel) {
    PointerTab page(model, binding);
    test::showAndSettle(page, 640);

    page.presetButtons()[2]->click();
    EXPECT_EQ(edited().pointer.dpi, 1500);
    EXPECT_EQ(page.presetButtons()[2]->text(), QStringLiteral("1,500"));
    page.dpiSlider()->slider()->setFocus();
    QTest::keyClick(page.dpiSlider()->slider(), Qt::Key_Right);
    EXPECT_EQ(edited().pointer.dpi, 1550);

    QTest::keyClick(page.reportRatePicker(), Qt::Key_Down); // "1000 Hz — every 1 ms"
    EXPECT_EQ(model->preferences().reportRateHertz.value(), 1000);
    QTest::keyClick(page.wheelPicker(), Qt::Key_Down); // from Normal to High resolution
    EXPECT_EQ(model->preferences().highResolutionWheel.value(), true);

    // Acceleration on switches pointer processing on and starts from the desktop curve.
    editProfile([](Profile& p) {
        p.pointer.isEnabled = false;
        p.pointer.curve.acceleration = PointerAcceleration::off();
    });
    EXPECT_FALSE(page.curveSection()->isEnabled());
    EXPECT_FALSE(page.speedSlider()->isEnabled());
    // The correction is in force on the simulated machine, so the desktop builds no curve either.
    EXPECT_EQ(page.pointerStatusLine()->text(), QStringLiteral("Pointer processing is off and your desktop's acceleration is "
                                                               "disabled. Enable acceleration above to add a curve."));
    page.accelerationSwitch()->click();
    EXPECT_TRUE(edited().pointer.isEnabled);
    EXPECT_EQ(edited().pointer.curve.acceleration, PointerAcceleration::curve(1.0, 800, 6.0));
    EXPECT_TRUE(page.curveSection()->isEnabled());
    page.maxGainSlider()->stepDownButton()->click();
    EXPECT_EQ(edited().pointer.curve.acceleration, PointerAcceleration::curve(1.0, 800, 5.9));

    page.loginSwitch()->click();
    EXPECT_EQ(model->launchAtLogin().status().value(), platform::LoginItemStatus::enabled);
    EXPECT_TRUE(page.loginSwitch()->isChecked());

    const bool tuningWasOn = page.tuningSwitch()->isChecked();
    page.tuningSwitch()->click();
    EXPECT_EQ(PointerTab::tunerOf(*model)->isEnabled(), !tuningWasOn);
}

TEST_F(PointerTabTest, TheResetsFollowTheSwitchAndPutTheDefaultsBack) {
    model->setReportRate(500);
    model->setHighResolutionWheel(std::nullopt);
    PointerTab page(model, binding);
    test::showAndSettle(page, 640);
    const auto resets = page.findChildren<ResetButton*>();
    ASSERT_EQ(resets.size(), 12); // five switches, two pickers, five sliders
    for (ResetButton* reset : resets)
        if (reset->title() == QStringLiteral("Report rate") || reset->title() == QStringLiteral("Wheel resolution"))
            reset->click();
    EXPECT_EQ(model->preferences().reportRateHertz.value(), std::nullopt);
    EXPECT_EQ(model->preferences().highResolutionWheel.value(), false);
    EXPECT_EQ(page.reportRatePicker()->currentIndex(), 0);
    EXPECT_EQ(page.wheelPicker()->currentIndex(), 1);

    setShowsSettingResets(&page, false);
    for (ResetButton* reset : resets) EXPECT_FALSE(reset->isVisible()) << reset->title().toStdString();
}

TEST_F(PointerTabTest, TheCorrectionInForceWithTheMouseAttached) {
    machine->settle();
    PointerTab page(model, binding);
    test::showAndSettle(page, 640);
    machine->settle();
    const QStringList labels = factLabels(page);
    const auto tuning = PointerTab::tunerOf(*model)->status();
    EXPECT_EQ(labels.contains(QStringLiteral("Now in force")), tuning.isApplied);
    EXPECT_TRUE(labels.contains(QStringLiteral("Running at")));
    EXPECT_TRUE(labels.contains(QStringLiteral("Your mouse accepts")));
    screenshot(page, QStringLiteral("pointer-page"));

    page.tuningSwitch()->click();
    machine->settle();
    EXPECT_FALSE(factLabels(page).contains(QStringLiteral("Now in force")));
    screenshot(page, QStringLiteral("pointer-page-correction-off"));
}

TEST(PointerTabUnsupported, WhereRavoletCannotReachTheDesktopsSettingTheSectionOnlyExplains) {
    auto machine = SimulatedMachine::makeInVirtualTime();
    auto backend = std::make_shared<FakePointerPropertyBackend>();
    backend->setCanWrite(false);
    AppModel::Dependencies dependencies = machine->dependencies();
    dependencies.engine.pointerTuning = std::make_shared<PointerHardwareTuning>(
        backend, std::make_shared<platform::InMemoryKeyValueStore>(), std::nullopt,
        std::vector{HIDPPDeviceMatch::g502X}, std::make_shared<platform::SimulatedClock>(),
        std::make_shared<platform::InMemoryFileSystem>());
    auto model = AppModel::create(dependencies);
    model->start();
    machine->settle();
    ProfileBinding binding(model, std::make_shared<ProfileSelection>(std::string(Profile::defaultProfileID)));
    {
        PointerTab page(model, binding);
        test::showAndSettle(page, 640);
        // No switch to use, and so none checked and greyed out.
        EXPECT_FALSE(page.tuningSwitch()->isVisibleTo(&page));
        EXPECT_FALSE(page.tuningSwitch()->isChecked());
        const auto explanations = page.hardwareSection()->findChildren<Explain*>();
        EXPECT_TRUE(std::ranges::any_of(explanations, [](const Explain* line) {
            return line->isVisible() && line->text().startsWith(QStringLiteral("Ravolet cannot reach this desktop"));
        }));
        EXPECT_FALSE(factLabels(page).contains(QStringLiteral("Now in force")));
        screenshot(page, QStringLiteral("pointer-page-correction-unsupported"));
    }
    model->stop();
}

// No mouse to tune yet, and a setting the user changed while tuning was in
// force: each says so, in a banner of its own kind, never as a refusal.
TEST(PointerTabTuningNotices, WaitingForTheMouseAndASettingChangedOutside) {
    auto machine = SimulatedMachine::makeInVirtualTime();
    auto backend = std::make_shared<FakePointerPropertyBackend>();
    AppModel::Dependencies dependencies = machine->dependencies();
    const auto tuner = std::make_shared<PointerHardwareTuning>(
        backend, std::make_shared<platform::InMemoryKeyValueStore>(), std::nullopt, std::vector{HIDPPDeviceMatch::g502X},
        std::make_shared<platform::SimulatedClock>(), std::make_shared<platform::InMemoryFileSystem>());
    dependencies.engine.pointerTuning = tuner;
    auto model = AppModel::create(dependencies);
    model->start();
    machine->settle();
    ProfileBinding binding(model, std::make_shared<ProfileSelection>(std::string(Profile::defaultProfileID)));
    {
        PointerTab page(model, binding);
        const auto banner = [&](const QString& title) {
            const auto banners = page.hardwareSection()->findChildren<NoticeBanner*>();
            return std::ranges::any_of(banners, [&](const NoticeBanner* b) { return b->isVisible() && b->titleLabel()->text() == title; });
        };
        tuner->request({true, 1600});
        test::showAndSettle(page, 640);
        EXPECT_TRUE(banner(QStringLiteral("Tuning waits for the mouse")));
        screenshot(page, QStringLiteral("pointer-page-correction-waiting"));

        const PointerServiceIdentity mouse{0x1000, 0x046D, 0xC099, "G502 X", 1, 2};
        backend->setServices({mouse});
        backend->seed(mouse.registryID, {{std::string(PointerHardwareTuning::resolutionKey), 1000 * 65536},
                                         {std::string(PointerHardwareTuning::fallbackAccelerationKey), 0}});
        tuner->request({true, 1600});
        ASSERT_TRUE(tuner->status().isApplied);
        backend->seed(mouse.registryID, {{std::string(PointerHardwareTuning::fallbackAccelerationKey), 12345}});
        tuner->desktopSettingsChanged();
        test::showAndSettle(page, 640);
        EXPECT_TRUE(banner(QStringLiteral("Your desktop's acceleration is on again for this mouse")));
        screenshot(page, QStringLiteral("pointer-page-correction-changed-outside"));
    }
    model->stop();
}

// A desktop slow to answer: the page says so as information, the switch
// keeps the user's choice meanwhile, and once the desktop answers the page
// shows what it did.
TEST(PointerTabTuningNotices, ADesktopSlowToAnswerIsSaidAndTheSwitchKeepsTheUsersChoice) {
    auto machine = SimulatedMachine::makeInVirtualTime();
    const PointerServiceIdentity mouse{0x1000, 0x046D, 0xC099, "G502 X", 1, 2};
    auto backend = std::make_shared<FakePointerPropertyBackend>(std::vector{mouse});
    backend->seed(mouse.registryID, {{std::string(PointerHardwareTuning::resolutionKey), 1000 * 65536},
                                     {std::string(PointerHardwareTuning::fallbackAccelerationKey), 0}});
    // The desktop's side of the tuner: it runs only when the test lets it.
    const auto desktop = std::make_shared<platform::ManualScheduler>();
    AppModel::Dependencies dependencies = machine->dependencies();
    const auto tuner = PointerHardwareTuning::queued(
        {desktop, machine->ui}, backend, std::make_shared<platform::InMemoryKeyValueStore>(), std::nullopt,
        std::vector{HIDPPDeviceMatch::g502X}, std::make_shared<platform::SimulatedClock>(),
        std::make_shared<platform::InMemoryFileSystem>());
    dependencies.engine.pointerTuning = tuner;
    auto model = AppModel::create(dependencies);
    model->start();
    const auto answer = [&] {
        desktop->runUntilIdle();
        machine->settle();
    };
    answer();
    ASSERT_TRUE(tuner->status().isApplied);
    ProfileBinding binding(model, std::make_shared<ProfileSelection>(std::string(Profile::defaultProfileID)));
    {
        PointerTab page(model, binding);
        const auto banner = [&](const QString& title) {
            const auto banners = page.hardwareSection()->findChildren<NoticeBanner*>();
            return std::ranges::any_of(banners, [&](const NoticeBanner* b) { return b->isVisible() && b->titleLabel()->text() == title; });
        };
        const QString waiting = QStringLiteral("Waiting for your desktop to answer");
        test::showAndSettle(page, 640);
        answer();
        ASSERT_TRUE(page.tuningSwitch()->isChecked());
        page.tuningSwitch()->click();
        machine->advance(PointerHardwareTuning::waitingAfter);
        test::showAndSettle(page, 640);
        EXPECT_TRUE(banner(waiting));
        EXPECT_FALSE(page.tuningSwitch()->isChecked()) << "the switch stays as the user set it";
        screenshot(page, QStringLiteral("pointer-page-waiting-for-the-desktop"));

        answer();
        test::showAndSettle(page, 640);
        EXPECT_FALSE(banner(waiting));
        EXPECT_FALSE(page.tuningSwitch()->isChecked());
        EXPECT_FALSE(tuner->status().isApplied);
        EXPECT_EQ(backend->readNumber(PointerHardwareTuning::fallbackAccelerationKey, mouse.registryID), 0);
    }
    model->stop();
    answer();
}

} // namespace
} // namespace ravolet
