#include "RavoletApp/ViewModels/ScrollPageRules.hpp"

#include <fmt/format.h>

#include "Core/Clamp.hpp"

namespace ravolet {

ActivationChoice activationChoice(const std::optional<ModifierFlags>& stored) {
    if (!stored) return ActivationChoice::always;
    if (stored->contains(ModifierFlags::command)) return ActivationChoice::command;
    if (stored->contains(ModifierFlags::option)) return ActivationChoice::option;
    if (stored->contains(ModifierFlags::control)) return ActivationChoice::control;
    if (stored->contains(ModifierFlags::shift)) return ActivationChoice::shift;
    return ActivationChoice::always;
}

std::optional<ModifierFlags> activationModifiers(ActivationChoice choice) {
    switch (choice) {
    case ActivationChoice::always: return std::nullopt;
    case ActivationChoice::command: return ModifierFlags::command;
    case ActivationChoice::option: return ModifierFlags::option;
    case ActivationChoice::control: return ModifierFlags::control;
    case ActivationChoice::shift: return ModifierFlags::shift;
    }
    return std::nullopt;
}

std::string_view title(ActivationChoice choice) {
    switch (choice) {
    case ActivationChoice::always: return "Always";
    case ActivationChoice::command: return "Only while Super is held";
    case ActivationChoice::option: return "Only while Alt is held";
    case ActivationChoice::control: return "Only while Ctrl is held";
    case ActivationChoice::shift: return "Only while Shift is held";
    }
    return "Always";
}

std::string_view glideShapeTitle(Easing easing) {
    switch (easing) {
    case Easing::easeOut: return "Ease out — fast start, gentle stop";
    case Easing::linear: return "Linear — constant speed";
    case Easing::easeInOut: return "Ease in and out — smoothest for zoom";
    }
    return "";
}

bool isAxisOn(const ScrollSettings& settings, ScrollAxis axis) { return settings.enabledAxes.contains(axis); }

void setAxis(ScrollSettings& settings, ScrollAxis axis, bool on) {
    if (on) {
        settings.enabledAxes.insert(ScrollAxes(axis));
    } else {
        settings.enabledAxes.subtract(ScrollAxes(axis));
    }
}

std::string pointsReadOut(double points) { return fmt::format("{} pt", truncatedInteger(points)); }

std::string millisecondsReadOut(double millis) { return fmt::format("{} ms", truncatedInteger(millis)); }

// fmt, like printf in the C locale, never groups digits or swaps the decimal point.
std::string gainReadOut(double gain) { return fmt::format("+{:.0f}% per click", gain * 100); }

std::string multiplierReadOut(double multiplier) { return fmt::format("{:.1f}×", multiplier); }

namespace {

const std::array<ScrollSliderShape, 6> sliders{{
    {"Distance per wheel click",
     "How far one click of the wheel moves the page, before acceleration. 120 points is roughly what your desktop "
     "does for three lines of text. Higher means each click covers more ground.",
     &ScrollSettings::pixelsPerDetent, 10, 400, 5, 50, 1, &pointsReadOut},
    {"Glide length",
     "How long the glide from one wheel click lasts. Short feels immediate and a little abrupt; long feels like a "
     "touchpad flick but takes a moment to settle.",
     &ScrollSettings::durationMillis, 40, 600, 10, 250, 1, &millisecondsReadOut},
    {"How much faster",
     "Extra distance added for each additional quick click. Higher gets you down the page sooner and makes "
     "precise stops harder.",
     &ScrollSettings::accelerationGain, 0, 2, 0.05, 1.2, 0.01, &gainReadOut},
    {"Speed limit",
     "The most a fast flick can be multiplied by, no matter how quickly you spin. This is what keeps a free-spin "
     "burst from launching you to the end of the document.",
     &ScrollSettings::maxAccelerationMultiplier, 1, 10, 0.5, 6, 0.1, &multiplierReadOut},
    {"Time between steps",
     "How often Ravolet emits a step of the glide. 8 ms is about 120 per second, which matches ProMotion "
     "displays. Raising it costs less CPU and looks choppier.",
     &ScrollSettings::frameIntervalMillis, 4, 32, 1, 8, 1, &millisecondsReadOut},
    {"Maximum glide in flight",
     "A ceiling on how much travel can be queued up at once. Without it, a long free-spin of the wheel keeps "
     "sliding well after your hand has stopped.",
     &ScrollSettings::maxInFlightPixels, 500, 20000, 500, 4000, 1, &pointsReadOut},
}};

} // namespace

const ScrollSliderShape& scrollSlider(ScrollSlider slider) { return sliders.at(static_cast<std::size_t>(slider)); }

ScrollPageEnablement scrollPageEnablement(const ScrollSettings& settings) {
    const bool on = settings.isEnabled;
    return {.directions = on,
            .feel = on,
            .acceleration = on,
            .accelerationSliders = on && settings.accelerationEnabled,
            .advanced = on};
}

ScrollSettings factoryScrollSettings() {
    // The paused state's settings are the factory ones with smoothing off.
    ScrollSettings settings = ScrollSettings::passThrough;
    settings.isEnabled = true;
    return settings;
}

} // namespace ravolet
