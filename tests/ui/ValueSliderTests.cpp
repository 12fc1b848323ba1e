#include "RavoletApp/UI/ResetButton.hpp"
#include "RavoletApp/UI/SliderScale.hpp"
#include "RavoletApp/UI/ValueSlider.hpp"

#include "UITestSupport.hpp"

#include <QAccessible>
#include <QLabel>
#include <QSignalSpy>
#include <QSlider>
#include <QStyle>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

namespace ravolet {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

TEST(SliderScale, MapsValuesToPositionsAndBackAtTheBoundaries) {
    struct Row {
        ValueRange range;
        double step;
        int maximumPosition;
        double value;
        int position;
    };
    const Row rows[] = {
        {{10, 400}, 5, 78, 10, 0},           // lower bound
        {{10, 400}, 5, 78, 400, 78},         // upper bound
        {{10, 400}, 5, 78, 12.4, 0},         // nearest position below half a step
        {{10, 400}, 5, 78, 12.5, 1},         // half a step rounds up
        {{10, 400}, 5, 78, 49.9, 8},         // off the grid
        {{10, 400}, 5, 78, 9, 0},            // below the range
        {{10, 400}, 5, 78, 1e300, 78},       // hand-edited far above
        {{10, 400}, 5, 78, -1e300, 0},       // and far below
        {{10, 400}, 5, 78, inf, 78},
        {{10, 400}, 5, 78, -inf, 0},
        {{10, 400}, 5, 78, nan, 0},
        {{0, 2}, 0.05, 40, 1.2, 24},         // fractional steps
        {{0, 1}, 0.3, 4, 0.94, 3},           // range not a whole number of steps: last position is the upper bound
        {{0, 1}, 0.3, 4, 0.97, 4},
        {{500, 20000}, 500, 39, 4000, 7},
        {{0, 1e300}, 1e-300, 1'000'000, 1e300, 1'000'000}, // positions stay ints
        {{0, 1e-12}, 1e-13, 10, 5e-13, 5},   // steps finer than any decimal grid
        {{5, 5}, 1, 0, 7, 0},                // empty range
        {{0, 10}, 0, 0, 7, 0},               // unusable step
        {{0, 10}, nan, 0, 7, 0},
    };
    for (const Row& row : rows) {
        const SliderScale scale(row.range, row.step);
        SCOPED_TRACE(testing::Message() << row.range.lower << "..." << row.range.upper << " step " << row.step
                                        << " value " << row.value);
        EXPECT_EQ(scale.maximumPosition(), row.maximumPosition);
        EXPECT_EQ(scale.positionOf(row.value), row.position);
        // Every position's value maps back to that position, and stays in range.
        for (int position = 0; position <= std::min(scale.maximumPosition(), 100); ++position) {
            const double value = scale.valueAt(position);
            EXPECT_EQ(scale.positionOf(value), position);
            EXPECT_GE(value, row.range.lower);
            EXPECT_LE(value, std::max(row.range.lower, row.range.upper));
        }
    }
}

TEST(SliderScale, ValuesLandOnTheDecimalGridAndNudgesStayInRange) {
    const SliderScale gain({0, 2}, 0.05);
    EXPECT_EQ(gain.valueAt(3), 0.15);
    EXPECT_EQ(gain.valueAt(-1), 0.0);
    EXPECT_EQ(gain.valueAt(41), 2.0);
    EXPECT_EQ(SliderScale({0, 1}, 0.3).valueAt(3), 0.9);
    EXPECT_EQ(SliderScale({0, 1}, 0.3).valueAt(4), 1.0);

    struct Row {
        double value, delta, expected;
    };
    const SliderScale distance({0, 400}, 5);
    const Row nudges[] = {
        {49.9, 1, 50.9}, {1.2, 0.01, 1.21}, {400, 1, 400}, {0, -1, 0}, {1e300, -1, 399}, {nan, 1, 1}, {50, nan, 50},
    };
    for (const Row& row : nudges) {
        EXPECT_EQ(distance.nudged(row.value, row.delta), row.expected) << row.value << " + " << row.delta;
    }
}

void readerSets(ValueSlider& slider, double value) {
    QAccessible::queryAccessibleInterface(slider.slider())->valueInterface()->setCurrentValue(value);
}

ValueSlider::Options dpiOptions() {
    return {.title = QStringLiteral("DPI"),
            .help = QStringLiteral("Dots per inch."),
            .range = {100, 25600},
            .step = 50,
            .defaultValue = 1600,
            .precisionStep = 10,
            .format = [](double value) { return QString::number(value, 'g', 17); }};
}

TEST(ValueSlider, SettingTheValueFromTheProgramNeverWritesBack) {
    ValueSlider slider(dpiOptions());
    QSignalSpy edits(&slider, &ValueSlider::valueEdited);
    test::showAndSettle(slider);
    for (double value : {430.0, 49.9, 1e300, -inf, nan, 430.0}) {
        slider.setValue(value);
    }
    EXPECT_EQ(edits.count(), 0);
    // The value is kept as given, between slider positions.
    EXPECT_EQ(slider.value(), 430);
    EXPECT_EQ(slider.valueLabel()->text(), QStringLiteral("430"));
    EXPECT_EQ(slider.slider()->value(), slider.scale().positionOf(430));

    // A click on the handle that leaves it in place writes nothing either, also
    // with the button that sets the slider to where it is clicked.
    const QPoint handle = test::sliderHandleCentre(*slider.slider());
    const auto absolute = static_cast<Qt::MouseButton>(
        slider.slider()->style()->styleHint(QStyle::SH_Slider_AbsoluteSetButtons, nullptr, slider.slider()));
    for (Qt::MouseButton button : {Qt::LeftButton, absolute}) {
        QTest::mouseClick(slider.slider(), button, {}, handle);
    }
    EXPECT_EQ(edits.count(), 0);
    EXPECT_EQ(slider.value(), 430);
}

TEST(ValueSlider, EachUserEditWritesOnce) {
    struct Row {
        const char* name;
        double start;
        std::function<void(ValueSlider&)> act;
        double written;
    };
    const Row rows[] = {
        {"slider key right", 1600, [](ValueSlider& s) { QTest::keyClick(s.slider(), Qt::Key_Right); }, 1650},
        {"slider key from off-grid", 430, [](ValueSlider& s) { QTest::keyClick(s.slider(), Qt::Key_Left); }, 400},
        {"stepper up", 430, [](ValueSlider& s) { QTest::mouseClick(s.stepUpButton(), Qt::LeftButton); }, 440},
        {"stepper down", 105, [](ValueSlider& s) { QTest::mouseClick(s.stepDownButton(), Qt::LeftButton); }, 100},
        // The stepper's fine step from the keyboard, on the slider (its one Tab stop).
        {"slider shift+right", 430, [](ValueSlider& s) { QTest::keyClick(s.slider(), Qt::Key_Right, Qt::ShiftModifier); },
         440},
        {"slider shift+down", 430, [](ValueSlider& s) { QTest::keyClick(s.slider(), Qt::Key_Down, Qt::ShiftModifier); },
         420},
        {"reset", 430, [](ValueSlider& s) { QTest::mouseClick(s.resetButton(), Qt::LeftButton); }, 1600},
        {"reset at the default", 1600, [](ValueSlider& s) { QTest::mouseClick(s.resetButton(), Qt::LeftButton); }, 1600},
        // The reset from the keyboard: its key, in the slider.
        {"reset key", 430, [](ValueSlider& s) { test::pressIn(s.slider(), ResetButton::key()); }, 1600},
        // What a screen reader does: sets the slider's value, with no action
        // of the slider's own, in the setting's units; it lands on the fine
        // step, within the range.
        {"screen reader sets the value", 1600, [](ValueSlider& s) { readerSets(s, 2000); }, 2000},
        {"screen reader sets a value between fine steps", 1600, [](ValueSlider& s) { readerSets(s, 2024); }, 2020},
        {"screen reader sets a value beyond the range", 1600, [](ValueSlider& s) { readerSets(s, 1e6); }, 25600},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ValueSlider slider(dpiOptions());
        slider.setValue(row.start);
        test::showAndSettle(slider);
        QSignalSpy edits(&slider, &ValueSlider::valueEdited);
        row.act(slider);
        ASSERT_EQ(edits.count(), 1);
        EXPECT_EQ(edits.at(0).at(0).toDouble(), row.written);
        EXPECT_EQ(slider.value(), row.written);
        EXPECT_EQ(slider.valueLabel()->text(), slider.options().format(row.written));
    }
}

TEST(ValueSlider, TheStepperStopsAtTheEndsOfTheRangeAndIsNoTabStopOfItsOwn) {
    ValueSlider slider(dpiOptions());
    for (QToolButton* step : {slider.stepUpButton(), slider.stepDownButton()})
        EXPECT_EQ(step->focusPolicy(), Qt::NoFocus) << step->accessibleName().toStdString();
    EXPECT_EQ(slider.stepUpButton()->accessibleName(), QStringLiteral("Increase DPI"));
    slider.setValue(100);
    EXPECT_FALSE(slider.stepDownButton()->isEnabled());
    EXPECT_TRUE(slider.stepUpButton()->isEnabled());
    slider.setValue(1e300);
    EXPECT_TRUE(slider.stepDownButton()->isEnabled());
    EXPECT_FALSE(slider.stepUpButton()->isEnabled());
}

} // namespace
} // namespace ravolet
