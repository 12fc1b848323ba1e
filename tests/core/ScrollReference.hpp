#pragma once

// The scroll transformer's rules as they are stated, written out plainly as
// the reference that the transformer is compared with: every frame of a
// glide computed and every step of it listed at once. Beside it, random
// settings and detents of every kind that the settings file accepts, and the
// comparison of plans.
//
// The rules. A detent that passes the gates (smoothing on, its axis enabled,
// a line delta, the activation modifiers held, numbers it can work with)
// travels pixelsPerDetent × |lines| × the streak's factor, in its direction
// (inverted when set), plus what it carries, bounded by maxInFlightPixels and
// rounded halves away from zero; a total of 0 is ignored. Quick streaks are
// measured on the detents' own time stamps. The glides' time is the clock of
// the delivery the caller gives (the detent's time stamp without one): on it
// the axis's last plan is running while the caller says pixels of it are
// still going out, or until its end. A detent while it runs supersedes it
// and goes on from its last frame due by then whose pixels have all gone out
// (its start when none has, the detent's time when that is before its
// start), though not before the frame before its last one due by then, the
// pixels gone out being the caller's count or what is due by
// then. Turning back or changing the modifiers breaks off: the new glide
// carries nothing, begins its gesture anew and first ends the old one if it
// was open (it continued one, or something of it went out). Otherwise it
// carries what had not gone out, goes on with the gesture when it was open,
// and starts on the curve where the old one had come to at that point. A
// glide's first frame is a frame after its start, then one every frame, the
// last at its duration; each frame whose rounded eased count changes is a
// step, and a closing step of 0 pixels ends the glide.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <vector>

#include "Core/Clamp.hpp"
#include "Core/ScrollTransformer.hpp"

namespace ravolet::reference {

// Nearest integer, halves away from zero. Callers bound the value well inside
// the 64-bit range first.
inline std::int64_t roundHalfAway(double value) { return std::llround(value); }

inline bool passesGates(const ScrollSettings& s, const ScrollInput& input, double now) {
    if (!s.isEnabled || !s.enabledAxes.contains(input.axis) || input.lineDelta == 0) return false;
    if (s.activationModifiers && !s.activationModifiers->isEmpty() &&
        !input.modifiers.contains(s.activationModifiers->normalized()))
        return false;
    if (input.lineDelta == std::numeric_limits<std::int64_t>::min()) return false;
    if (!std::isfinite(input.timestampMillis) || !std::isfinite(now)) return false;
    for (double v : {s.durationMillis, s.pixelsPerDetent, s.frameIntervalMillis, s.maxInFlightPixels,
                     s.accelerationWindowMillis, s.accelerationGain, s.maxAccelerationMultiplier})
        if (std::isnan(v)) return false;
    return true;
}

// One frame of a glide: its time after the start and the pixels due by then.
struct Frame {
    double offsetMillis = 0;
    std::int64_t cumulative = 0;
};

// A plan as the reference made it: every frame and every step listed.
struct Plan {
    ScrollPlan plan; // without steps of its own
    std::vector<Frame> frames;
    std::vector<ScrollStep> steps;
};

// What the reference answers; `plan` only for a glide.
struct Outcome {
    ScrollOutcome outcome;
    std::optional<Plan> plan;
};

class Transformer {
public:
    ScrollSettings settings;
    explicit Transformer(const ScrollSettings& settings) : settings(settings) {}
    Outcome transform(const ScrollInput& input, std::optional<GlideDelivery> delivery = std::nullopt);
    const Plan* inFlightPlan(ScrollAxis axis) const { return axes_[slot(axis)].plan ? &*axes_[slot(axis)].plan : nullptr; }
    void reset() { axes_ = {}; }
    static std::int64_t deliveredPixels(const Plan& plan, double timeMillis);

private:
    struct AxisState {
        std::optional<Plan> plan;
        std::optional<double> lastDetentMillis;
        int lastDirection = 0;
        std::int64_t streak = 0;
    };
    static std::size_t slot(ScrollAxis axis) { return axis == ScrollAxis::vertical ? 0 : 1; }
    std::array<AxisState, 2> axes_{};
    std::uint64_t nextPlanID_ = 1;
};

inline std::int64_t Transformer::deliveredPixels(const Plan& plan, double timeMillis) {
    const double elapsed = timeMillis - plan.plan.startTimestampMillis;
    if (!(elapsed > 0)) return 0;
    if (elapsed >= plan.plan.durationMillis) return plan.plan.totalPixelDelta;
    std::uint64_t sum = 0; // wrapping, so that no plan can overflow the sum
    for (const ScrollStep& step : plan.steps) {
        if (step.offsetMillis > elapsed) break;
        sum += static_cast<std::uint64_t>(step.pixelDelta);
    }
    return static_cast<std::int64_t>(sum);
}

// Where the glide after `previous` starts, `delivered` of it gone out by `now`.
inline double goesOnFrom(const Plan& previous, std::int64_t delivered, double now) {
    const double start = previous.plan.startTimestampMillis;
    if (now < start) return now;
    // The frame points due by then (the start first), and how many of them
    // have their pixels all gone out.
    std::vector<double> due{start};
    std::size_t out = 1;
    for (const Frame& frame : previous.frames) {
        if (frame.offsetMillis > now - start) break; // due as deliveredPixels has it
        due.push_back(start + frame.offsetMillis);
        const bool gone = previous.plan.totalPixelDelta < 0 ? frame.cumulative >= delivered : frame.cumulative <= delivered;
        if (gone && out + 1 == due.size()) out = due.size();
    }
    return due[std::max(out, due.size() - 1) - 1];
}

inline Outcome Transformer::transform(const ScrollInput& input, std::optional<GlideDelivery> delivery) {
    const ScrollSettings s = settings.sanitized();
    const double now = delivery ? delivery->atMillis : input.timestampMillis;
    if (!passesGates(s, input, now)) return {ScrollOutcome::passThrough(input), std::nullopt};
    const int direction = input.lineDelta > 0 ? 1 : -1;
    AxisState& state = axes_[slot(input.axis)];

    std::int64_t streak = 0;
    double factor = 1;
    if (s.accelerationEnabled) {
        const bool sameWay = state.lastDirection == direction || state.lastDirection == 0;
        const double gap = state.lastDetentMillis ? input.timestampMillis - *state.lastDetentMillis : -1;
        if (state.lastDetentMillis && sameWay && gap >= 0 && gap <= s.accelerationWindowMillis) streak = state.streak + 1;
        factor = std::min(s.maxAccelerationMultiplier, 1 + s.accelerationGain * static_cast<double>(streak));
    }

    const Plan* previous = state.plan ? &*state.plan : nullptr;
    const std::optional<std::int64_t> told = delivery ? delivery->pixels : std::nullopt;
    double start = now, carry = 0, progress = 0;
    GestureTransition transition = GestureTransition::begin;
    std::optional<std::uint64_t> supersedes;
    if (previous && (told || now < previous->plan.startTimestampMillis + previous->plan.durationMillis)) {
        const ScrollPlan& p = previous->plan;
        const std::int64_t delivered = told ? *told : deliveredPixels(*previous, now);
        supersedes = p.id;
        start = goesOnFrom(*previous, delivered, now);
        const bool open = p.gestureTransition == GestureTransition::continuePrevious || delivered != 0;
        const bool turnedBack = state.lastDirection != 0 && state.lastDirection != direction;
        if (p.modifiers != input.modifiers || turnedBack) {
            if (open) transition = GestureTransition::endPreviousThenBegin;
        } else {
            if (open) transition = GestureTransition::continuePrevious;
            carry = static_cast<double>(p.totalPixelDelta) - static_cast<double>(delivered);
            const double r = clamp((start - p.startTimestampMillis) / p.durationMillis, 0.0, 1.0);
            progress = p.easingStartProgress + r * (1 - p.easingStartProgress);
        }
    }

    const double sign = s.isInverted ? -direction : direction;
    const double travel = clamp(s.pixelsPerDetent * std::fabs(static_cast<double>(input.lineDelta)) * factor * sign + carry,
                                -s.maxInFlightPixels, s.maxInFlightPixels);
    const std::int64_t total = roundHalfAway(travel);
    const std::optional<ModifierFlags> endedModifiers =
        transition == GestureTransition::endPreviousThenBegin ? std::optional(previous->plan.modifiers) : std::nullopt;
    state.lastDetentMillis = input.timestampMillis;
    state.lastDirection = direction;
    state.streak = streak;
    if (total == 0) return {ScrollOutcome::ignore(), std::nullopt};

    const double duration = s.durationMillis;
    const double frame = s.frameIntervalMillis;
    Plan made;
    made.plan = ScrollPlan{.id = nextPlanID_++,
                           .axis = input.axis,
                           .modifiers = input.modifiers,
                           .deviceID = input.deviceID,
                           .startTimestampMillis = start,
                           .durationMillis = duration,
                           .totalPixelDelta = total,
                           .supersedes = supersedes,
                           .gestureTransition = transition,
                           .easingStartProgress = progress,
                           .frameIntervalMillis = frame,
                           .firstFrameOffsetMillis = frame,
                           .steps = {}};
    if (endedModifiers)
        made.steps.push_back({.offsetMillis = 0, .pixelDelta = 0, .isContinuous = true, .phase = ScrollPhase::ended,
                              .modifiers = endedModifiers});
    const double onCurve = std::min(std::max(progress, 0.0), 0.999);
    const double e0 = easingValue(s.easing, onCurve);
    const double denominator = std::max(1 - e0, std::numeric_limits<double>::epsilon());
    const auto frames = static_cast<std::size_t>(std::ceil(std::max(0.0, duration - frame) / frame)) + 1;
    std::int64_t before = 0;
    for (std::size_t k = 1; k <= frames; ++k) {
        const double tc = std::min(frame + frame * static_cast<double>(k - 1), duration);
        const double p = clamp(onCurve + (1 - onCurve) * tc / duration, 0.0, 1.0);
        const std::int64_t cumulative = roundHalfAway((easingValue(s.easing, p) - e0) / denominator * static_cast<double>(total));
        made.frames.push_back({tc, cumulative});
        if (cumulative == before) continue;
        const bool first = std::ranges::none_of(made.steps, [](const ScrollStep& st) { return st.pixelDelta != 0; });
        const ScrollPhase phase =
            first && transition != GestureTransition::continuePrevious ? ScrollPhase::began : ScrollPhase::changed;
        made.steps.push_back({.offsetMillis = tc, .pixelDelta = cumulative - before, .isContinuous = true, .phase = phase});
        before = cumulative;
    }
    made.steps.push_back({.offsetMillis = duration, .pixelDelta = 0, .isContinuous = true, .phase = ScrollPhase::ended});
    state.plan = made;
    return {ScrollOutcome::animate(made.plan), std::move(made)};
}

} // namespace ravolet::reference

namespace ravolet::testing {


// Sanitizer builds run a tenth of the detents: the same paths, in their time.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr std::int64_t detentsToCompare = 100'000;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr std::int64_t detentsToCompare = 100'000;
#else
constexpr std::int64_t detentsToCompare = 1'000'000;
#endif
#else
constexpr std::int64_t detentsToCompare = 1'000'000;
#endif

class Generator {
public:
    explicit Generator(std::uint32_t seed) : random_(seed) {}

    double uniform(double low, double high) { return std::uniform_real_distribution<double>(low, high)(random_); }
    // Spread over orders of magnitude, as settings are.
    double logUniform(double low, double high) { return std::exp(uniform(std::log(low), std::log(high))); }
    int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }
    bool chance(int percent) { return below(100) < percent; }
    // A round number now and then: whole milliseconds and pixels make the
    // ties (a frame exactly at the duration, a half pixel) that matter.
    double roundedNow(double value) { return chance(40) ? std::round(value) : value; }

    ScrollSettings settings() {
        ScrollSettings s;
        s.isEnabled = !chance(3);
        s.enabledAxes = ScrollAxes(static_cast<std::uint8_t>(chance(90) ? 3 : below(4)));
        if (chance(10)) s.activationModifiers = ModifierFlags(static_cast<std::uint32_t>(below(64)));
        s.durationMillis = chance(5) ? uniform(-10, 6000) : roundedNow(logUniform(1, 5000));
        s.easing = allEasings[static_cast<std::size_t>(below(3))];
        s.pixelsPerDetent = chance(5) ? 0 : roundedNow(logUniform(0.2, 4000));
        s.frameIntervalMillis = chance(5) ? uniform(-1, 10) : roundedNow(logUniform(1, 400));
        s.maxInFlightPixels = chance(10) ? roundedNow(logUniform(1, 1'000'000)) : 4000;
        s.isInverted = chance(20);
        s.accelerationEnabled = chance(70);
        s.accelerationWindowMillis = roundedNow(uniform(-5, 400));
        s.accelerationGain = roundedNow(uniform(0, 5));
        s.maxAccelerationMultiplier = roundedNow(uniform(0.5, 20));
        if (chance(1)) s.durationMillis = std::numeric_limits<double>::quiet_NaN();
        return s;
    }

    std::int64_t lineDelta() {
        if (chance(3)) return 0;
        const std::int64_t size = chance(90) ? 1 : 1 + below(chance(90) ? 3 : 300);
        return chance(50) ? size : -size;
    }

    // The next detent's time: quick streaks, pauses, frame-grid and glide-end
    // coincidences, the same instant, and now and then a clock going back.
    double nextTime(double now, const reference::Plan* previousPlan) {
        const ScrollPlan* previous = previousPlan ? &previousPlan->plan : nullptr;
        const int kind = below(20);
        if (kind == 0) return now;
        if (kind == 1) return now - uniform(0, 50);
        if (kind == 2 && previous) return previous->endTimestampMillis();
        if (kind == 3 && previous)
            return previous->startTimestampMillis + previous->firstFrameOffsetMillis +
                   previous->frameIntervalMillis * static_cast<double>(below(40));
        if (kind < 12) return now + roundedNow(logUniform(0.5, 200));
        return now + roundedNow(logUniform(1, 8000));
    }

    // What a caller says has gone out of the previous plan, and when: nothing
    // said, the time alone, a time on a clock apart from the detents', and a
    // count that clock would give, or any count at all.
    std::optional<GlideDelivery> delivery(const reference::Plan* previous, double now) {
        if (chance(40)) return std::nullopt;
        const double at = chance(70) ? now : now + uniform(-3, 3);
        if (!previous || chance(30)) return GlideDelivery{std::nullopt, at};
        if (chance(70)) return GlideDelivery{reference::Transformer::deliveredPixels(*previous, at - uniform(0, 20)), at};
        const std::int64_t magnitude = std::min<std::int64_t>(std::abs(previous->plan.totalPixelDelta), 1'000'000);
        return GlideDelivery{static_cast<std::int64_t>(below(2 * static_cast<int>(magnitude) + 3)) - magnitude - 1, at};
    }

private:
    std::mt19937_64 random_;
};

// The same plan: every field, and the steps made from it are those listed.
inline ::testing::AssertionResult samePlan(const ScrollPlan& got, const reference::Plan& want) {
    ScrollPlan head = got;
    head.steps = {};
    if (head != want.plan) return ::testing::AssertionFailure() << got << "\nwanted " << want.plan;
    const std::vector<ScrollStep> steps = got.steps.all();
    if (steps != want.steps) {
        const auto [mine, theirs] = std::ranges::mismatch(steps, want.steps);
        return ::testing::AssertionFailure() << "step " << (mine - steps.begin()) << " of " << got << "\nwanted "
                                             << (theirs == want.steps.end() ? ScrollStep{} : *theirs);
    }
    return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult sameOutcome(const ScrollOutcome& got, const reference::Outcome& want) {
    if (const ScrollPlan* plan = got.plan()) {
        if (!want.plan) return ::testing::AssertionFailure() << got << "\nwanted " << want.outcome;
        return samePlan(*plan, *want.plan);
    }
    if (got != want.outcome) return ::testing::AssertionFailure() << got << "\nwanted " << want.outcome;
    return ::testing::AssertionSuccess();
}

} // namespace ravolet::testing
