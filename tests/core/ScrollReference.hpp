#pragma once

// The scroll transformer as it was, kept as the reference that the one in use
// is compared with: it computed every frame of a glide and listed every step
// of it at once. Beside it, random settings and detents of every kind that
// the settings file accepts, and the comparison of plans.

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

constexpr double epsilon = std::numeric_limits<double>::epsilon();

// Nearest integer, halves away from zero. Callers bound the value well inside
// the 64-bit range first.
inline std::int64_t roundHalfAway(double value) { return std::llround(value); }

// The sanitized settings the algorithm can work with: sanitizing bounds every
// infinity, so only a NaN can be left, and it would poison the arithmetic.
inline bool isWorkable(const ScrollSettings& s) {
    for (double v : {s.durationMillis, s.pixelsPerDetent, s.frameIntervalMillis, s.maxInFlightPixels,
                     s.accelerationWindowMillis, s.accelerationGain, s.maxAccelerationMultiplier}) {
        if (std::isnan(v)) return false;
    }
    return true;
}

inline bool passesGates(const ScrollSettings& s, const ScrollInput& input) {
    if (!s.isEnabled || !s.enabledAxes.contains(input.axis) || input.lineDelta == 0) return false;
    if (s.activationModifiers && !s.activationModifiers->isEmpty()) {
        // Caps lock (and any unnamed bit) in the activation set never blocks.
        if (!input.modifiers.contains(s.activationModifiers->normalized())) return false;
    }
    // A detent count that cannot be negated, a time off the clock or settings
    // that are not numbers cannot be turned into a glide: leave the event alone.
    if (input.lineDelta == std::numeric_limits<std::int64_t>::min()) return false;
    if (!std::isfinite(input.timestampMillis)) return false;
    return isWorkable(s);
}

// The first frame of `plan`'s own step grid strictly after `now`.
inline double nextFrameOf(const ScrollPlan& plan, double now) {
    const double first = plan.startTimestampMillis + plan.firstFrameOffsetMillis;
    const double spacing = std::max(plan.frameIntervalMillis, epsilon);
    if (first <= now) return first + spacing * (std::floor((now - first) / spacing) + 1);
    return first;
}

struct Continuation {
    double start = 0;
    GestureTransition transition = GestureTransition::begin;
    std::optional<std::uint64_t> supersedes = std::nullopt;
    double carry = 0;
    double startProgress = 0;
    double firstOffset = 0;
};

// A plan as the reference made it: every step listed.
struct Plan {
    ScrollPlan plan; // without steps of its own
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
    Outcome transform(const ScrollInput& input, std::optional<std::int64_t> deliveredPixelsOfPreviousPlan = std::nullopt);
    const Plan* inFlightPlan(ScrollAxis axis) const;
    void reset();
    static std::int64_t deliveredPixels(const Plan& plan, double timeMillis);

private:
    struct AxisState {
        std::optional<Plan> plan;
        std::optional<double> lastDetentMillis;
        int lastDirection = 0;
        std::int64_t streak = 0;
    };
    static std::size_t slot(ScrollAxis axis) { return axis == ScrollAxis::vertical ? 0 : 1; }
    std::array<std::optional<AxisState>, 2> axes_{};
    std::uint64_t nextPlanID_ = 1;
};

inline Outcome Transformer::transform(const ScrollInput& input, std::optional<std::int64_t> deliveredOfPrevious) {
    const ScrollSettings s = settings.sanitized();
    if (!passesGates(s, input)) return {ScrollOutcome::passThrough(input), std::nullopt};

    const double now = input.timestampMillis;
    const int direction = input.lineDelta >= 1 ? 1 : -1;
    const double sign = s.isInverted ? -direction : direction;
    const double count = std::fabs(static_cast<double>(input.lineDelta));

    std::optional<AxisState>& stored = axes_[slot(input.axis)];
    const int lastDirection = stored ? stored->lastDirection : 0;
    const bool reversal = lastDirection != 0 && lastDirection != direction;

    // A quick streak in one direction travels further with every detent.
    std::int64_t streak = 0;
    double factor = 1;
    if (s.accelerationEnabled) {
        if (stored && stored->lastDetentMillis && (lastDirection == direction || lastDirection == 0)) {
            const double gap = now - *stored->lastDetentMillis;
            if (gap >= 0 && gap <= s.accelerationWindowMillis) streak = stored->streak + 1;
        }
        factor = std::min(s.maxAccelerationMultiplier, 1 + s.accelerationGain * static_cast<double>(streak));
    }

    // How the new glide relates to the one before it.
    Continuation c{.start = now, .firstOffset = s.frameIntervalMillis};
    const Plan* previousPlan = stored && stored->plan ? &*stored->plan : nullptr;
    const ScrollPlan* previous = previousPlan ? &previousPlan->plan : nullptr;
    if (previous && now < previous->startTimestampMillis + previous->durationMillis) {
        c.supersedes = previous->id;
        const std::int64_t delivered = deliveredOfPrevious ? *deliveredOfPrevious : deliveredPixels(*previousPlan, now);
        const bool gestureOpen = previous->gestureTransition == GestureTransition::continuePrevious || delivered != 0;
        const bool needsBreak = previous->modifiers != input.modifiers || reversal;
        if (needsBreak) {
            if (gestureOpen) c.transition = GestureTransition::endPreviousThenBegin;
        } else {
            c.transition = gestureOpen ? GestureTransition::continuePrevious : GestureTransition::begin;
            // Worked in floating point: the caller's count is not trusted to
            // keep the difference inside 64 bits.
            c.carry = static_cast<double>(previous->totalPixelDelta) - static_cast<double>(delivered);
            // A detent less than a frame after the last one goes on with the
            // glide's time from the frame of its grid before the next one.
            const double next = nextFrameOf(*previous, now);
            const double frameBefore = next - std::max(previous->frameIntervalMillis, epsilon);
            const bool quick = stored->lastDetentMillis && now - *stored->lastDetentMillis >= 0 &&
                               now - *stored->lastDetentMillis < s.frameIntervalMillis;
            if (quick && frameBefore <= now && now - frameBefore < s.frameIntervalMillis) {
                c.start = frameBefore;
                c.firstOffset = std::min(s.frameIntervalMillis, next - frameBefore);
            } else {
                c.firstOffset = std::min(s.frameIntervalMillis, std::max(0.0, next - now));
            }
            if (previous->durationMillis > 0) {
                const double r = clamp((c.start - previous->startTimestampMillis) / previous->durationMillis, 0.0, 1.0);
                c.startProgress = previous->easingStartProgress + r * (1 - previous->easingStartProgress);
            } else {
                c.startProgress = 1;
            }
        }
    }

    double travel = s.pixelsPerDetent * count * factor * sign + c.carry;
    if (travel <= -s.maxInFlightPixels) travel = -s.maxInFlightPixels;
    if (travel > s.maxInFlightPixels) travel = s.maxInFlightPixels;
    const std::int64_t total = roundHalfAway(travel);

    // Built outside the optional: some compilers decide whether a nested
    // type is default-constructible while its enclosing class is still open.
    if (!stored) stored = AxisState{};
    AxisState& state = *stored;
    state.lastDetentMillis = now;
    state.lastDirection = direction;
    state.streak = streak;
    if (total == 0) return {ScrollOutcome::ignore(), std::nullopt};

    const double duration = s.durationMillis;
    const double frame = s.frameIntervalMillis;
    const double t0 = c.firstOffset > 0 ? c.firstOffset : 0;
    const auto frames = static_cast<std::size_t>(std::ceil(std::max(0.0, duration - t0) / frame)) + 1;
    const double startOnCurve = std::min(std::max(c.startProgress, 0.0), 0.999);
    const double e0 = easingValue(s.easing, startOnCurve);
    const double denominator = std::max(1 - e0, epsilon);

    Plan made;
    made.plan = ScrollPlan{
        .id = nextPlanID_++,
        .axis = input.axis,
        .modifiers = input.modifiers,
        .deviceID = input.deviceID,
        .startTimestampMillis = c.start,
        .durationMillis = duration,
        .totalPixelDelta = total,
        .supersedes = c.supersedes,
        .gestureTransition = c.transition,
        .easingStartProgress = c.startProgress,
        .frameIntervalMillis = frame,
        .firstFrameOffsetMillis = c.firstOffset,
        .steps = {},
    };
    std::vector<ScrollStep>& steps = made.steps;
    steps.reserve(frames + 2);
    if (c.transition == GestureTransition::endPreviousThenBegin) {
        steps.push_back({.offsetMillis = 0,
                              .pixelDelta = 0,
                              .isContinuous = true,
                              .phase = ScrollPhase::ended,
                              .modifiers = previous->modifiers});
    }
    std::int64_t previousCumulative = 0;
    bool addedTimedStep = false;
    for (std::size_t k = 1; k <= frames; ++k) {
        const double t = t0 + frame * static_cast<double>(k - 1);
        const double tc = std::min(t, duration);
        const double p = clamp(startOnCurve + (1 - startOnCurve) * tc / duration, 0.0, 1.0);
        const std::int64_t cumulative =
            roundHalfAway((easingValue(s.easing, p) - e0) / denominator * static_cast<double>(total));
        const std::int64_t delta = cumulative - previousCumulative;
        previousCumulative = cumulative;
        if (delta == 0) continue;
        ScrollPhase phase = ScrollPhase::changed;
        if (!addedTimedStep && c.transition != GestureTransition::continuePrevious) phase = ScrollPhase::began;
        addedTimedStep = true;
        steps.push_back({.offsetMillis = tc, .pixelDelta = delta, .isContinuous = true, .phase = phase});
    }
    steps.push_back({.offsetMillis = duration, .pixelDelta = 0, .isContinuous = true, .phase = ScrollPhase::ended});

    state.plan = made;
    return {ScrollOutcome::animate(made.plan), std::move(made)};
}

inline const Plan* Transformer::inFlightPlan(ScrollAxis axis) const {
    const std::optional<AxisState>& state = axes_[slot(axis)];
    return state && state->plan ? &*state->plan : nullptr;
}

inline void Transformer::reset() { axes_ = {}; }

inline std::int64_t Transformer::deliveredPixels(const Plan& plan, double timeMillis) {
    const double elapsed = timeMillis - plan.plan.startTimestampMillis;
    if (!(elapsed > 0)) return 0;
    if (elapsed >= plan.plan.durationMillis) return plan.plan.totalPixelDelta;
    // Summed with wrapping so that no hand-made plan can overflow the sum.
    std::uint64_t sum = 0;
    for (const ScrollStep& step : plan.steps) {
        if (step.offsetMillis > elapsed) break;
        sum += static_cast<std::uint64_t>(step.pixelDelta);
    }
    return static_cast<std::int64_t>(sum);
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

    // What a caller says it has posted of the previous plan: nothing said, a
    // count its own clock would give, or any count at all.
    std::optional<std::int64_t> delivered(const reference::Plan* previous, double now) {
        if (!previous || chance(50)) return std::nullopt;
        if (chance(70)) return reference::Transformer::deliveredPixels(*previous, now - uniform(0, 20));
        const std::int64_t magnitude = std::min<std::int64_t>(std::abs(previous->plan.totalPixelDelta), 1'000'000);
        return static_cast<std::int64_t>(below(2 * static_cast<int>(magnitude) + 3)) - magnitude - 1;
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
