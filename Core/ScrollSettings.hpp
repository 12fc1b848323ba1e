#pragma once

#include <functional>
#include <optional>
#include <iosfwd>

#include "Core/Easing.hpp"
#include "Core/Json.hpp"
#include "Core/ModifierFlags.hpp"
#include "Core/ScrollAxis.hpp"

namespace ravolet {

// The smooth-scroll part of a profile. Stored numbers are kept exactly as read;
// the transformer only ever works on `sanitized()`.
struct ScrollSettings {
    bool isEnabled = false;
    ScrollAxes enabledAxes = ScrollAxes::both;
    // When present and not empty: the modifier keys that must all be held for
    // smoothing to apply (caps lock ignored).
    std::optional<ModifierFlags> activationModifiers = std::nullopt;
    double durationMillis = 250;
    Easing easing = Easing::easeOut;
    double pixelsPerDetent = 50;
    double frameIntervalMillis = 8;
    // Bound on the travel of one glide in either direction, carry included.
    double maxInFlightPixels = 4000;
    bool isInverted = false;
    bool accelerationEnabled = true;
    double accelerationWindowMillis = 140;
    double accelerationGain = 1.2;
    double maxAccelerationMultiplier = 6;

    // Smoothing off, every other field at its factory value.
    static const ScrollSettings passThrough;

    // A copy with every number forced into its working range.
    ScrollSettings sanitized() const;

    Json toJson() const;
    static ScrollSettings fromJson(const JsonValue& v);

    friend bool operator==(const ScrollSettings&, const ScrollSettings&) = default;
};

inline constexpr ScrollSettings ScrollSettings::passThrough{};

std::ostream& operator<<(std::ostream& os, const ScrollSettings& settings);

} // namespace ravolet

template <>
struct std::hash<ravolet::ScrollSettings> {
    std::size_t operator()(const ravolet::ScrollSettings& s) const noexcept;
};
