// The scroll transformer against the one it replaced, kept here as the
// reference: it computed every frame of a glide, where the transformer now
// finds only the frames where the pixel count changes. Plans, outcomes and the
// state they leave must stay exactly the same.

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
#include "Core/GlideCurve.hpp"
#include "Core/ScrollTransformer.hpp"

using namespace ravolet;

namespace reference {

constexpr double epsilon = std::numeric_limits<double>::epsilon();

// Nearest integer, halves away from zero. Callers bound the value well inside
// the 64-bit range first.
std::int64_t roundHalfAway(double value) { return std::llround(value); }

// The sanitized settings the algorithm can work with: sanitizing bounds every
// infinity, so only a NaN can be left, and it would poison the arithmetic.
bool isWorkable(const ScrollSettings& s) {
    for (double v : {s.durationMillis, s.pixelsPerDetent, s.frameIntervalMillis, s.maxInFlightPixels,
                     s.accelerationWindowMillis, s.accelerationGain, s.maxAccelerationMultiplier}) {
        if (std::isnan(v)) return false;
    }
    return true;
}

bool passesGates(const ScrollSettings& s, const ScrollInput& input) {
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
double nextFrameOf(const ScrollPlan& plan, double now) {
    const double first = plan.startTimestampMillis + plan.firstFrameOffsetMillis;
    const double spacing = std::max(plan.frameIntervalMillis, epsilon);
    if (first <= now) return first + spacing * (std::floor((now - first) / spacing) + 1);
    return first;
}

struct Continuation {
    GestureTransition transition = GestureTransition::begin;
    std::optional<std::uint64_t> supersedes = std::nullopt;
    double carry = 0;
    double startProgress = 0;
    double firstOffset = 0;
};

class Transformer {
public:
    ScrollSettings settings;
    explicit Transformer(const ScrollSettings& settings) : settings(settings) {}
    ScrollOutcome transform(const ScrollInput& input, std::optional<std::int64_t> deliveredPixelsOfPreviousPlan = std::nullopt);
    const ScrollPlan* inFlightPlan(ScrollAxis axis) const;
    void reset();
    static std::int64_t deliveredPixels(const ScrollPlan& plan, double timeMillis);

private:
    struct AxisState {
        std::optional<ScrollPlan> plan;
        std::optional<double> lastDetentMillis;
        int lastDirection = 0;
        std::int64_t streak = 0;
    };
    static std::size_t slot(ScrollAxis axis) { return axis == ScrollAxis::vertical ? 0 : 1; }
    std::array<std::optional<AxisState>, 2> axes_{};
    std::uint64_t nextPlanID_ = 1;
};

ScrollOutcome Transformer::transform(const ScrollInput& input, std::optional<std::int64_t> deliveredOfPrevious) {
    const ScrollSettings s = settings.sanitized();
    if (!passesGates(s, input)) return ScrollOutcome::passThrough(input);

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
    Continuation c{.firstOffset = s.frameIntervalMillis};
    const ScrollPlan* previous = stored && stored->plan ? &*stored->plan : nullptr;
    if (previous && now < previous->startTimestampMillis + previous->durationMillis) {
        c.supersedes = previous->id;
        const std::int64_t delivered = deliveredOfPrevious ? *deliveredOfPrevious : deliveredPixels(*previous, now);
        const bool gestureOpen = previous->gestureTransition == GestureTransition::continuePrevious || delivered != 0;
        const bool needsBreak = previous->modifiers != input.modifiers || reversal;
        if (needsBreak) {
            if (gestureOpen) c.transition = GestureTransition::endPreviousThenBegin;
        } else {
            c.transition = gestureOpen ? GestureTransition::continuePrevious : GestureTransition::begin;
            // Worked in floating point: the caller's count is not trusted to
            // keep the difference inside 64 bits.
            c.carry = static_cast<double>(previous->totalPixelDelta) - static_cast<double>(delivered);
            if (previous->durationMillis > 0) {
                const double r = clamp((now - previous->startTimestampMillis) / previous->durationMillis, 0.0, 1.0);
                c.startProgress = previous->easingStartProgress + r * (1 - previous->easingStartProgress);
            } else {
                c.startProgress = 1;
            }
            c.firstOffset = std::min(s.frameIntervalMillis, std::max(0.0, nextFrameOf(*previous, now) - now));
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
    if (total == 0) return ScrollOutcome::ignore();

    const double duration = s.durationMillis;
    const double frame = s.frameIntervalMillis;
    const double t0 = c.firstOffset > 0 ? c.firstOffset : 0;
    const auto frames = static_cast<std::size_t>(std::ceil(std::max(0.0, duration - t0) / frame)) + 1;
    const double startOnCurve = std::min(std::max(c.startProgress, 0.0), 0.999);
    const double e0 = easingValue(s.easing, startOnCurve);
    const double denominator = std::max(1 - e0, epsilon);

    ScrollPlan plan{
        .id = nextPlanID_++,
        .axis = input.axis,
        .modifiers = input.modifiers,
        .deviceID = input.deviceID,
        .startTimestampMillis = now,
        .durationMillis = duration,
        .totalPixelDelta = total,
        .supersedes = c.supersedes,
        .gestureTransition = c.transition,
        .easingStartProgress = c.startProgress,
        .frameIntervalMillis = frame,
        .firstFrameOffsetMillis = c.firstOffset,
        .steps = {},
    };
    plan.steps.reserve(frames + 2);
    if (c.transition == GestureTransition::endPreviousThenBegin) {
        plan.steps.push_back({.offsetMillis = 0,
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
        plan.steps.push_back({.offsetMillis = tc, .pixelDelta = delta, .isContinuous = true, .phase = phase});
    }
    plan.steps.push_back({.offsetMillis = duration, .pixelDelta = 0, .isContinuous = true, .phase = ScrollPhase::ended});

    // The stored copy keeps a buffer large enough for any plan under these
    // settings (a first offset of 0 gives the most frames), and assigning into
    // it reuses that buffer: after an axis's first glide, a detent allocates
    // only the returned plan's list.
    if (!state.plan) state.plan.emplace();
    state.plan->steps.reserve(static_cast<std::size_t>(std::ceil(duration / frame)) + 3);
    *state.plan = plan;
    return ScrollOutcome::animate(std::move(plan));
}

const ScrollPlan* Transformer::inFlightPlan(ScrollAxis axis) const {
    const std::optional<AxisState>& state = axes_[slot(axis)];
    return state && state->plan ? &*state->plan : nullptr;
}

void Transformer::reset() { axes_ = {}; }

std::int64_t Transformer::deliveredPixels(const ScrollPlan& plan, double timeMillis) {
    const double elapsed = timeMillis - plan.startTimestampMillis;
    if (!(elapsed > 0)) return 0;
    if (elapsed >= plan.durationMillis) return plan.totalPixelDelta;
    // Summed with wrapping so that no hand-made plan can overflow the sum.
    std::uint64_t sum = 0;
    for (const ScrollStep& step : plan.steps) {
        if (step.offsetMillis > elapsed) break;
        sum += static_cast<std::uint64_t>(step.pixelDelta);
    }
    return static_cast<std::int64_t>(sum);
}

} // namespace reference

namespace {

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
    double nextTime(double now, const ScrollPlan* previous) {
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
    std::optional<std::int64_t> delivered(const ScrollPlan* previous, double now) {
        if (!previous || chance(50)) return std::nullopt;
        if (chance(70)) return ScrollTransformer::deliveredPixels(*previous, now - uniform(0, 20));
        return static_cast<std::int64_t>(below(2 * static_cast<int>(std::min<std::int64_t>(std::abs(previous->totalPixelDelta), 1'000'000)) + 3)) -
               std::min<std::int64_t>(std::abs(previous->totalPixelDelta), 1'000'000) - 1;
    }

private:
    std::mt19937_64 random_;
};

} // namespace

TEST(ScrollTransformer, PlansStayExactlyThoseOfEveryFrameComputed) {
    Generator generate(32);
    std::int64_t detents = 0;
    std::int64_t glides = 0;
    while (detents < detentsToCompare) {
        const ScrollSettings first = generate.settings();
        ScrollTransformer transformer(first);
        reference::Transformer expected(first);
        double now = generate.uniform(0, 1e6);
        ModifierFlags modifiers;
        for (int i = 0, count = 1 + generate.below(40); i < count; ++i, ++detents) {
            if (generate.chance(5)) {
                // New settings keep every axis's state.
                transformer.settings = expected.settings = generate.settings();
            }
            if (generate.chance(2)) {
                transformer.reset();
                expected.reset();
            }
            if (generate.chance(10)) modifiers = ModifierFlags(static_cast<std::uint32_t>(generate.below(64)));
            const ScrollAxis axis = generate.chance(85) ? ScrollAxis::vertical : ScrollAxis::horizontal;
            now = generate.nextTime(now, expected.inFlightPlan(axis));
            const auto delivered = generate.delivered(expected.inFlightPlan(axis), now);
            const ScrollInput input{generate.lineDelta(), axis, modifiers, now, DeviceID(7)};

            const ScrollOutcome want = expected.transform(input, delivered);
            const ScrollOutcome got = transformer.transform(input, delivered);
            ASSERT_EQ(got, want) << "detent " << detents << ": " << input << " under " << transformer.settings;
            for (const auto a : allScrollAxes) {
                const ScrollPlan* stored = transformer.inFlightPlan(a);
                const ScrollPlan* storedWant = expected.inFlightPlan(a);
                ASSERT_EQ(stored != nullptr, storedWant != nullptr) << "detent " << detents;
                if (stored) {
                    ASSERT_EQ(*stored, *storedWant) << "detent " << detents;
                }
            }
            if (want.plan()) ++glides;
        }
    }
    // Most detents glide; the rest pass through or are ignored.
    EXPECT_GT(glides, detentsToCompare / 2);
}

// The plan's steps are where the glide's pixel count changes; the search for
// each finds the same frame wherever it starts, early, late or far off.
TEST(GlideCurve, TheNextChangeIsTheSameFromAnyStartingFrame) {
    Generator generate(502);
    for (int curveIndex = 0; curveIndex < 300; ++curveIndex) {
        const std::size_t frames = 1 + static_cast<std::size_t>(generate.below(120));
        const double frame = generate.roundedNow(generate.logUniform(1, 50));
        const double firstOffset = generate.chance(20) ? 0 : generate.roundedNow(generate.uniform(0, frame));
        const double duration = firstOffset + frame * static_cast<double>(frames - 1) - generate.uniform(0, frame * 0.99);
        const std::int64_t total = (generate.chance(50) ? 1 : -1) * (1 + generate.below(generate.chance(50) ? 40 : 3000));
        const GlideCurve curve(allEasings[static_cast<std::size_t>(generate.below(3))], firstOffset, frame,
                               std::max(duration, 1.0), frames, generate.chance(50) ? 0 : generate.uniform(0, 0.999), total);
        std::size_t from = 0;
        std::int64_t count = 0;
        std::vector<GlideCurve::Change> everyChange;
        for (;;) {
            // Frame by frame, as the plans were once made.
            std::optional<GlideCurve::Change> expected;
            for (std::size_t k = from + 1; k <= curve.frames() && !expected; ++k)
                if (curve.cumulativeAt(k) != count) expected = GlideCurve::Change{k, curve.cumulativeAt(k)};
            for (std::size_t start = from + 1; start <= curve.frames(); ++start) {
                const auto found = curve.nextChange(from, count, start);
                ASSERT_EQ(found.has_value(), expected.has_value()) << "curve " << curveIndex << " from " << from << " start " << start;
                if (found) {
                    ASSERT_EQ(found->frame, expected->frame) << "curve " << curveIndex << " from " << from << " start " << start;
                    ASSERT_EQ(found->cumulative, expected->cumulative);
                }
            }
            if (!expected) break;
            everyChange.push_back(*expected);
            from = expected->frame;
            count = expected->cumulative;
        }
        std::vector<GlideCurve::Change> walked;
        curve.forEachChange([&](const GlideCurve::Change& change) { walked.push_back(change); });
        ASSERT_EQ(walked.size(), everyChange.size()) << "curve " << curveIndex;
        for (std::size_t i = 0; i < walked.size(); ++i) {
            ASSERT_EQ(walked[i].frame, everyChange[i].frame) << "curve " << curveIndex;
            ASSERT_EQ(walked[i].cumulative, everyChange[i].cumulative);
        }
    }
}
