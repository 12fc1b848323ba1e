#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>

#include "Core/DeviceID.hpp"
#include "Core/GestureTransition.hpp"
#include "Core/GlideSteps.hpp"
#include "Core/ModifierFlags.hpp"
#include "Core/ScrollAxis.hpp"
#include "Core/ScrollStep.hpp"

namespace ravolet {

// A glide: the timed pixel steps that replace one wheel detent.
struct ScrollPlan {
    // Unique per transformer.
    std::uint64_t id = 0;
    ScrollAxis axis = ScrollAxis::vertical;
    ModifierFlags modifiers;
    DeviceID deviceID;
    // Where the glide's time starts: its detent's time, or, for a glide that
    // goes on with the time of the one it supersedes, that glide's frame
    // before the detent.
    double startTimestampMillis = 0;
    double durationMillis = 0;
    // The sum of all step deltas.
    std::int64_t totalPixelDelta = 0;
    // The earlier plan on the same axis whose unposted steps are to be dropped.
    std::optional<std::uint64_t> supersedes = std::nullopt;
    GestureTransition gestureTransition = GestureTransition::begin;
    // The point on the easing curve (0...1) where this plan starts.
    double easingStartProgress = 0;
    double frameIntervalMillis = 0;
    double firstFrameOffsetMillis = 0;
    // In posting order, made as they are walked.
    GlideSteps steps;

    double endTimestampMillis() const { return startTimestampMillis + durationMillis; }

    friend bool operator==(const ScrollPlan&, const ScrollPlan&) = default;
};

std::ostream& operator<<(std::ostream& os, const ScrollPlan& plan);

} // namespace ravolet

template <>
struct std::hash<ravolet::ScrollPlan> {
    std::size_t operator()(const ravolet::ScrollPlan& p) const noexcept;
};
