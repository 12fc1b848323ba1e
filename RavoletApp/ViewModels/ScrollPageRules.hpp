#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "Core/Easing.hpp"
#include "Core/ModifierFlags.hpp"
#include "Core/ScrollAxis.hpp"
#include "Core/ScrollSettings.hpp"

namespace ravolet {

// The rules of the Scroll page, free of widgets: how stored values show in
// its controls and what each control writes back.

// What "Smooth scrolling applies" offers, in picker order. The document stores
// an optional modifier set instead; these are the five ways the page shows it.
enum class ActivationChoice { always, command, option, control, shift };

inline constexpr std::array<ActivationChoice, 5> allActivationChoices{
    ActivationChoice::always, ActivationChoice::command, ActivationChoice::option, ActivationChoice::control,
    ActivationChoice::shift};

// The choice a stored value shows as: none stored is "always"; a set shows as
// the first of command, option, control, shift that it holds, and a set with
// none of them (empty, or only other keys) as "always".
ActivationChoice activationChoice(const std::optional<ModifierFlags>& stored);
// What choosing writes: nothing for "always", else a set of that one key.
std::optional<ModifierFlags> activationModifiers(ActivationChoice choice);
std::string_view title(ActivationChoice choice);

// The rows of "Glide shape", in picker order.
inline constexpr std::array<Easing, 3> glideShapeOrder{Easing::easeOut, Easing::linear, Easing::easeInOut};
std::string_view glideShapeTitle(Easing easing);

// One toggle per axis over the settings' axis bits. Switching one off removes
// only its bit; both may be off.
bool isAxisOn(const ScrollSettings& settings, ScrollAxis axis);
void setAxis(ScrollSettings& settings, ScrollAxis axis, bool on);

// The read-outs beside the sliders. Points and milliseconds are whole numbers
// cut toward zero ("49 pt" for 49.9); the gain shows as a percentage per
// click ("+120% per click") and the limit with one decimal ("6.0×").
std::string pointsReadOut(double points);
std::string millisecondsReadOut(double millis);
std::string gainReadOut(double gain);
std::string multiplierReadOut(double multiplier);

// The page's sliders, in page order, and what each shows and writes.
enum class ScrollSlider { distance, glideLength, gain, speedLimit, frameInterval, maxInFlight };

struct ScrollSliderShape {
    std::string_view title;
    std::string_view help;
    // The field it edits; the page writes what the slider gives, unrounded.
    double ScrollSettings::*field;
    double lower;
    double upper;
    double step;
    double defaultValue;
    double fineStep;
    std::string (*readOut)(double);
};

const ScrollSliderShape& scrollSlider(ScrollSlider slider);

// Which parts of the page take input. "Smooth Scrolling" and "Try It" always
// do; the rest only while smoothing is on, and the two acceleration sliders
// only while acceleration is on as well.
struct ScrollPageEnablement {
    bool directions = true;
    bool feel = true;
    bool acceleration = true;
    bool accelerationSliders = true;
    bool advanced = true;

    friend bool operator==(const ScrollPageEnablement&, const ScrollPageEnablement&) = default;
};

ScrollPageEnablement scrollPageEnablement(const ScrollSettings& settings);

// What "Reset this profile's scrolling to Ravolet's defaults" writes: smoothing
// on, both axes, no modifier, and every number and choice at its factory value
// (the streak window included, which no control shows).
ScrollSettings factoryScrollSettings();

} // namespace ravolet
