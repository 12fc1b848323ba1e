#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "RavoletApp/ViewModels/ScrollPageRules.hpp"

namespace ravolet {
namespace {

TEST(ScrollPageRules, TheActivationChoiceShowsTheFirstHeldKeyAndWritesOneKeyOrNone) {
    using C = ActivationChoice;
    struct Row {
        std::optional<ModifierFlags> stored;
        ActivationChoice shown;
    };
    const Row rows[] = {
        {std::nullopt, C::always},
        {ModifierFlags::none, C::always},
        {ModifierFlags::function, C::always},
        {ModifierFlags::capsLock, C::always},
        {ModifierFlags::command | ModifierFlags::shift, C::command},
        {ModifierFlags::shift | ModifierFlags::option, C::option},
        {ModifierFlags::control | ModifierFlags::shift | ModifierFlags::function, C::control},
        {ModifierFlags::shift, C::shift},
    };
    for (const Row& row : rows)
        EXPECT_EQ(activationChoice(row.stored), row.shown) << (row.stored ? row.stored->rawValue : 999);

    // Every choice writes what reads back as itself, "always" as no value at all.
    EXPECT_EQ(activationModifiers(C::always), std::nullopt);
    EXPECT_EQ(activationModifiers(C::shift), ModifierFlags::shift);
    for (ActivationChoice choice : allActivationChoices)
        EXPECT_EQ(activationChoice(activationModifiers(choice)), choice);
    EXPECT_EQ(title(C::command), "Only while Super is held");
}

TEST(ScrollPageRules, EachAxisToggleOwnsOnlyItsBitAndBothMayBeOff) {
    ScrollSettings settings;
    settings.enabledAxes = ScrollAxes(std::uint8_t{0b110}); // an unknown bit beside horizontal stays
    setAxis(settings, ScrollAxis::horizontal, false);
    EXPECT_EQ(settings.enabledAxes.rawValue, 0b100);
    setAxis(settings, ScrollAxis::horizontal, false);
    EXPECT_EQ(settings.enabledAxes.rawValue, 0b100);
    setAxis(settings, ScrollAxis::vertical, true);
    EXPECT_TRUE(isAxisOn(settings, ScrollAxis::vertical));
    EXPECT_FALSE(isAxisOn(settings, ScrollAxis::horizontal));
    EXPECT_EQ(settings.enabledAxes.rawValue, 0b101);
}

TEST(ScrollPageRules, ReadOutsCutTowardZeroSaturateAndFormatWithoutTheLocale) {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    struct Row {
        std::string (*readOut)(double);
        double value;
        std::string expected;
    };
    const Row rows[] = {
        {pointsReadOut, 50, "50 pt"},
        {pointsReadOut, 49.9, "49 pt"},
        {pointsReadOut, -0.9, "0 pt"},
        {pointsReadOut, 4000.7, "4000 pt"},
        {pointsReadOut, nan, "0 pt"},
        {pointsReadOut, 1e300, "9223372036854775807 pt"},
        {millisecondsReadOut, 120.9, "120 ms"},
        {millisecondsReadOut, -1e300, "-9223372036854775808 ms"},
        {millisecondsReadOut, INFINITY, "9223372036854775807 ms"},
        {gainReadOut, 1.2, "+120% per click"},
        {gainReadOut, 0, "+0% per click"},
        {gainReadOut, 0.005, "+0% per click"}, // half of one, rounded to even as printf does
        {gainReadOut, 12345.6, "+1234560% per click"},
        {multiplierReadOut, 6, "6.0×"},
        {multiplierReadOut, 2.25, "2.2×"},
        {multiplierReadOut, 10, "10.0×"},
    };
    for (const Row& row : rows) EXPECT_EQ(row.readOut(row.value), row.expected) << row.value;
}

TEST(ScrollPageRules, SectionsFollowTheSwitchAndTheAccelerationSlidersTheirToggleToo) {
    struct Row {
        bool smoothing;
        bool acceleration;
        ScrollPageEnablement expected;
    };
    const Row rows[] = {
        {true, true, {true, true, true, true, true}},
        {true, false, {true, true, true, false, true}},
        {false, true, {false, false, false, false, false}},
        {false, false, {false, false, false, false, false}},
    };
    for (const Row& row : rows) {
        ScrollSettings settings;
        settings.isEnabled = row.smoothing;
        settings.accelerationEnabled = row.acceleration;
        EXPECT_EQ(scrollPageEnablement(settings), row.expected) << row.smoothing << row.acceleration;
    }
}

TEST(ScrollPageRules, TheFullResetIsTheFactoryScrollingWhateverWasStored) {
    const ScrollSettings factory = factoryScrollSettings();
    EXPECT_TRUE(factory.isEnabled);
    EXPECT_EQ(factory.enabledAxes, ScrollAxes::both);
    EXPECT_EQ(factory.activationModifiers, std::nullopt);
    EXPECT_EQ(factory.easing, Easing::easeOut);
    EXPECT_EQ(factory.accelerationWindowMillis, 140);
    // Each slider's default is the factory value of the field it edits.
    for (auto which : {ScrollSlider::distance, ScrollSlider::glideLength, ScrollSlider::gain, ScrollSlider::speedLimit,
                       ScrollSlider::frameInterval, ScrollSlider::maxInFlight}) {
        const ScrollSliderShape& shape = scrollSlider(which);
        EXPECT_EQ(factory.*shape.field, shape.defaultValue) << shape.title;
        EXPECT_LE(shape.lower, shape.defaultValue);
        EXPECT_GE(shape.upper, shape.defaultValue);
    }
}

} // namespace
} // namespace ravolet
