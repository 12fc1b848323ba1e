#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>

#include "RavoletApp/Model/SimulatedMachine.hpp"
#include "RavoletApp/UI/Explain.hpp"
#include "RavoletApp/UI/GlideChart.hpp"
#include "RavoletApp/UI/ProfileScope.hpp"
#include "RavoletApp/UI/ResetButton.hpp"
#include "RavoletApp/UI/ScrollPreview.hpp"
#include "RavoletApp/UI/ScrollTab.hpp"
#include "RavoletApp/UI/StatusDot.hpp"
#include "RavoletApp/UI/ValueSlider.hpp"
#include "UITestSupport.hpp"

namespace ravolet {
namespace {

using Section = ScrollTab::Section;

struct ScrollTabTest : ::testing::Test {
    std::shared_ptr<SimulatedMachine> machine = SimulatedMachine::makeInVirtualTime();
    std::shared_ptr<AppModel> model = machine->makeModel();
    std::shared_ptr<ProfileSelection> selection =
        std::make_shared<ProfileSelection>(std::string(Profile::defaultProfileID));
    ProfileBinding binding{model, selection};

    ScrollSettings stored() const { return binding.value().scroll; }
    void store(const std::function<void(ScrollSettings&)>& change) {
        binding.edit([&](Profile& profile) { change(profile.scroll); });
    }
};

TEST_F(ScrollTabTest, OpeningWithOddStoredValuesWritesNothing) {
    store([](ScrollSettings& scroll) {
        scroll.frameIntervalMillis = 120.9;
        scroll.pixelsPerDetent = 49.9;
        scroll.durationMillis = 1e300;
        scroll.maxInFlightPixels = -3;
        scroll.accelerationGain = 0.123;
        scroll.maxAccelerationMultiplier = 42;
        scroll.activationModifiers = ModifierFlags::function;
        scroll.enabledAxes = ScrollAxes(std::uint8_t{0});
    });
    const Config before = model->config().value();
    ScrollTab page(model, binding);
    test::showAndSettle(page, 620);
    page.setShowsAdvanced(true);
    // A press on a slider's handle is not a move.
    for (ScrollSlider which : {ScrollSlider::distance, ScrollSlider::frameInterval}) {
        QSlider* slider = page.slider(which)->slider();
        QTest::mouseClick(slider, Qt::LeftButton, {}, test::sliderHandleCentre(*slider));
    }
    EXPECT_EQ(model->config().value(), before);

    EXPECT_EQ(page.slider(ScrollSlider::distance)->valueLabel()->text(), QStringLiteral("49 pt"));
    EXPECT_EQ(page.slider(ScrollSlider::frameInterval)->valueLabel()->text(), QStringLiteral("120 ms"));
    EXPECT_EQ(page.slider(ScrollSlider::glideLength)->valueLabel()->text(), QStringLiteral("9223372036854775807 ms"));
    EXPECT_EQ(page.slider(ScrollSlider::gain)->valueLabel()->text(), QStringLiteral("+12% per click"));
    EXPECT_EQ(page.activationPicker()->currentText(), QStringLiteral("Always"));
    EXPECT_FALSE(page.axisToggle(ScrollAxis::vertical)->isChecked());
    EXPECT_FALSE(page.preview()->chart()->plan()); // no axis, so no glide
}

TEST_F(ScrollTabTest, EditsWriteTheProfileThroughTheBindingAndTheSectionsFollow) {
    ScrollTab page(model, binding);
    test::showAndSettle(page, 620);
    EXPECT_FALSE(page.showsAdvanced());
    EXPECT_TRUE(page.advancedContent()->isHidden());
    ASSERT_TRUE(page.preview()->chart()->plan());
    EXPECT_EQ(page.preview()->chart()->plan()->steps.size(), 23U);

    page.smoothingSwitch()->click();
    EXPECT_FALSE(stored().isEnabled);
    for (Section which : {Section::directions, Section::feel, Section::acceleration, Section::advanced})
        EXPECT_FALSE(page.section(which)->isEnabled()) << static_cast<int>(which);
    EXPECT_TRUE(page.section(Section::tryIt)->isEnabled());
    EXPECT_TRUE(page.smoothingSwitch()->isEnabled());
    EXPECT_FALSE(page.preview()->chart()->plan());
    EXPECT_TRUE(page.preview()->caption()->text().startsWith(QStringLiteral("Smooth scrolling is off")));
    test::saveScreenshot(page, QStringLiteral("scroll-page-smoothing-off"));
    QTest::mouseClick(page.section(Section::smoothScrolling)->findChild<ResetButton*>(), Qt::LeftButton);
    EXPECT_TRUE(stored().isEnabled);
    EXPECT_TRUE(page.section(Section::feel)->isEnabled());

    // A stored pair of keys shows as the first; a choice stores its key alone, "Always" none at all.
    store([](ScrollSettings& scroll) { scroll.activationModifiers = ModifierFlags::command | ModifierFlags::shift; });
    EXPECT_EQ(page.activationPicker()->currentText(), QStringLiteral("Only while Super is held"));
    Q_EMIT page.activationPicker()->activated(4);
    EXPECT_EQ(stored().activationModifiers, ModifierFlags::shift);
    Q_EMIT page.activationPicker()->activated(0);
    EXPECT_EQ(stored().activationModifiers, std::nullopt);

    page.accelerationToggle()->click();
    EXPECT_FALSE(stored().accelerationEnabled);
    EXPECT_TRUE(page.section(Section::acceleration)->isEnabled());
    EXPECT_FALSE(page.slider(ScrollSlider::gain)->isEnabled());
    EXPECT_FALSE(page.slider(ScrollSlider::speedLimit)->isEnabled());

    page.axisToggle(ScrollAxis::vertical)->click();
    page.axisToggle(ScrollAxis::horizontal)->click();
    EXPECT_EQ(stored().enabledAxes.rawValue, 0);
    QTest::mouseClick(page.slider(ScrollSlider::glideLength)->stepUpButton(), Qt::LeftButton);
    EXPECT_EQ(stored().durationMillis, 251);

    // Folding "Advanced" open is the page's own business; the full reset keeps
    // the profile's other fields and puts back even the streak window.
    const Config beforeOpening = model->config().value();
    QTest::mouseClick(page.advancedDisclosure(), Qt::LeftButton);
    EXPECT_TRUE(page.showsAdvanced());
    EXPECT_EQ(model->config().value(), beforeOpening);
    store([](ScrollSettings& scroll) {
        scroll.easing = Easing::easeInOut;
        scroll.accelerationWindowMillis = 500;
    });
    const Profile beforeReset = binding.value();
    QTest::mouseClick(page.fullResetButton(), Qt::LeftButton);
    Profile expected = beforeReset;
    expected.scroll = factoryScrollSettings();
    EXPECT_EQ(binding.value(), expected);
    EXPECT_EQ(page.glideShapePicker()->currentText(), QStringLiteral("Ease out — fast start, gentle stop"));
}

TEST_F(ScrollTabTest, TheResetsHideUnderTheSwitchAndTheLiveLineFollowsTheModel) {
    ScrollTab page(model, binding);
    page.setShowsAdvanced(true);
    test::showAndSettle(page, 620);
    const QList<ResetButton*> resets = page.findChildren<ResetButton*>();
    EXPECT_EQ(resets.size(), 13); // seven controls and six sliders
    setShowsSettingResets(&page, false);
    for (ResetButton* reset : resets) EXPECT_TRUE(reset->isHidden()) << reset->title().toStdString();
    setShowsSettingResets(&page, true);
    for (ResetButton* reset : resets) EXPECT_FALSE(reset->isHidden()) << reset->title().toStdString();

    StatusDot* live = page.preview()->liveStatus();
    model->setPermissions({.accessibility = true, .inputMonitoring = true});
    EXPECT_EQ(live->level(), StatusDot::Level::waiting);
    model->setPausedByUser(true);
    EXPECT_EQ(live->text().toStdString(), "Ravolet is paused, so this scrolls the way your desktop does.");
    model->setPausedByUser(false);
    model->start();
    machine->advance(std::chrono::seconds(5));
    EXPECT_EQ(live->text().toStdString(), "Live — Ravolet has reshaped 0 wheel clicks into 0 smooth steps.");
    QTest::qWait(50); // the nested layouts take a few passes to fit the shorter sentence
    test::saveScreenshot(page, QStringLiteral("scroll-page"));
    model->stop();
}

TEST_F(ScrollTabTest, OnTheSimulatedMachineTheTryItPanelDrivesTheSimulatedMouse) {
    ScrollTab page(model, binding);
    test::showAndSettle(page, 620);
    model->start();
    machine->advance(std::chrono::seconds(5));
    QScrollArea* panel = page.preview()->testPanelScroller();
    QWidget* rows = panel->widget();
    const QPoint centre = rows->mapFrom(panel->viewport(), panel->viewport()->rect().center());

    QWheelEvent down(centre, rows->mapToGlobal(centre), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                     Qt::NoScrollPhase, false);
    QApplication::sendEvent(rows, &down);
    machine->advance(std::chrono::seconds(3)); // the glide, then the counters are gathered
    const EngineStatus reshaped = model->status().value();
    EXPECT_EQ(reshaped.scroll.inputsTransformed, 1u);
    EXPECT_GT(reshaped.scroll.stepsPosted, 1u);
    // The panel went down by the click's 50 points, as the glide delivered them.
    EXPECT_EQ(panel->verticalScrollBar()->value(), 50);
    EXPECT_EQ(page.preview()->liveStatus()->text().toStdString(),
              "Live — Ravolet has reshaped 1 wheel clicks into " + std::to_string(reshaped.scroll.stepsPosted) +
                  " smooth steps.");

    QTest::mousePress(rows, Qt::BackButton, Qt::NoModifier, centre);
    QTest::mouseRelease(rows, Qt::BackButton, Qt::NoModifier, centre);
    machine->advance(std::chrono::seconds(3));
    EXPECT_EQ(model->status().value().buttons.eventsSeen, 2u);
    model->stop();
}

} // namespace
} // namespace ravolet
