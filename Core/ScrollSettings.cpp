#include "Core/ScrollSettings.hpp"

#include <ostream>

#include "Core/Clamp.hpp"
#include "Support/ValueSupport.hpp"

namespace ravolet {

ScrollSettings ScrollSettings::sanitized() const {
    ScrollSettings s = *this;
    s.durationMillis = clamp(durationMillis, 1.0, 5000.0);
    s.pixelsPerDetent = clamp(pixelsPerDetent, 0.0, 10000.0);
    // Bounded by the duration after the duration itself is sanitized.
    s.frameIntervalMillis = clamp(frameIntervalMillis, 1.0, s.durationMillis);
    s.maxInFlightPixels = clamp(maxInFlightPixels, 0.0, 1000000.0);
    if (accelerationWindowMillis < 0) s.accelerationWindowMillis = 0;
    s.accelerationGain = clamp(accelerationGain, 0.0, 100.0);
    s.maxAccelerationMultiplier = clamp(maxAccelerationMultiplier, 1.0, 100.0);
    return s;
}

Json ScrollSettings::toJson() const {
    Json j = {
        {"isEnabled", isEnabled},
        {"enabledAxes", enabledAxes.toJson()},
        {"durationMillis", durationMillis},
        {"easing", ravolet::toJson(easing)},
        {"pixelsPerDetent", pixelsPerDetent},
        {"frameIntervalMillis", frameIntervalMillis},
        {"maxInFlightPixels", maxInFlightPixels},
        {"isInverted", isInverted},
        {"accelerationEnabled", accelerationEnabled},
        {"accelerationWindowMillis", accelerationWindowMillis},
        {"accelerationGain", accelerationGain},
        {"maxAccelerationMultiplier", maxAccelerationMultiplier},
    };
    if (activationModifiers) j["activationModifiers"] = activationModifiers->toJson();
    return j;
}

ScrollSettings ScrollSettings::fromJson(const JsonValue& v) {
    ScrollSettings s;
    s.isEnabled = v["isEnabled"].asBool();
    s.enabledAxes = ScrollAxes::fromJson(v["enabledAxes"]);
    if (const auto modifiers = v.optional("activationModifiers")) {
        s.activationModifiers = ModifierFlags::fromJson(*modifiers);
    }
    s.durationMillis = v["durationMillis"].asDouble();
    s.easing = easingFromJson(v["easing"]);
    s.pixelsPerDetent = v["pixelsPerDetent"].asDouble();
    s.frameIntervalMillis = v["frameIntervalMillis"].asDouble();
    s.maxInFlightPixels = v["maxInFlightPixels"].asDouble();
    s.isInverted = v["isInverted"].asBool();
    s.accelerationEnabled = v["accelerationEnabled"].asBool();
    s.accelerationWindowMillis = v["accelerationWindowMillis"].asDouble();
    s.accelerationGain = v["accelerationGain"].asDouble();
    s.maxAccelerationMultiplier = v["maxAccelerationMultiplier"].asDouble();
    return s;
}

std::ostream& operator<<(std::ostream& os, const ScrollSettings& settings) {
    return os << "ScrollSettings" << settings.toJson().dump();
}

} // namespace ravolet

std::size_t std::hash<ravolet::ScrollSettings>::operator()(const ravolet::ScrollSettings& s) const noexcept {
    return ravolet::hashFields(s.isEnabled, s.enabledAxes, s.activationModifiers, s.durationMillis, s.easing,
                               s.pixelsPerDetent, s.frameIntervalMillis, s.maxInFlightPixels, s.isInverted,
                               s.accelerationEnabled, s.accelerationWindowMillis, s.accelerationGain,
                               s.maxAccelerationMultiplier);
}
