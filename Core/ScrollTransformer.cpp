#include "Core/ScrollTransformer.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "Core/Clamp.hpp"
#include "Core/GlideCurve.hpp"

namespace ravolet {

namespace {

constexpr double epsilon = std::numeric_limits<double>::epsilon();

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
    // Where the glide's time starts: the detent's own time unless it goes on
    // from the glide before it.
    double start = 0;
    GestureTransition transition = GestureTransition::begin;
    std::optional<std::uint64_t> supersedes = std::nullopt;
    double carry = 0;
    double startProgress = 0;
    double firstOffset = 0;
};

} // namespace

ScrollOutcome ScrollTransformer::transform(const ScrollInput& input, std::optional<std::int64_t> deliveredOfPrevious) {
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
    Continuation c{.start = now, .firstOffset = s.frameIntervalMillis};
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
            const double next = nextFrameOf(*previous, now);
            // A detent less than a frame after the one before it goes on with
            // the running glide's time, from that glide's frame before it (the
            // last one due, or the point its first frame counts from), so that
            // its first frame carries the curve's travel over a whole frame,
            // as every frame of a glide alone does. Timed from the detent, the
            // frame after a quick detent would carry only the curve between
            // the two: next to nothing when detents come a millisecond or two
            // apart, and the rest would pile up until the in-flight bound cut
            // it off. Slower detents start from their own time.
            const double frameBefore = next - std::max(previous->frameIntervalMillis, epsilon);
            const double gap = now - stored->lastDetentMillis.value_or(-std::numeric_limits<double>::infinity());
            if (gap >= 0 && gap < s.frameIntervalMillis && frameBefore <= now && now - frameBefore < s.frameIntervalMillis) {
                c.start = frameBefore;
                // Lands on `next` itself, not a rounding off it.
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
    if (total == 0) return ScrollOutcome::ignore();

    const double duration = s.durationMillis;
    const double frame = s.frameIntervalMillis;
    const double t0 = c.firstOffset > 0 ? c.firstOffset : 0;
    const auto frames = static_cast<std::size_t>(std::ceil(std::max(0.0, duration - t0) / frame)) + 1;
    const GlideCurve curve(s.easing, t0, frame, duration, frames, std::min(std::max(c.startProgress, 0.0), 0.999), total);

    // The steps themselves are made as they are walked: a detent costs the
    // same whatever the length of its glide.
    const std::optional<ModifierFlags> endsPrevious =
        c.transition == GestureTransition::endPreviousThenBegin ? std::optional(previous->modifiers) : std::nullopt;
    ScrollPlan plan{
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
        .steps = GlideSteps(curve, c.transition == GestureTransition::continuePrevious, endsPrevious),
    };
    state.plan = plan;
    return ScrollOutcome::animate(std::move(plan));
}

const ScrollPlan* ScrollTransformer::inFlightPlan(ScrollAxis axis) const {
    const std::optional<AxisState>& state = axes_[slot(axis)];
    return state && state->plan ? &*state->plan : nullptr;
}

void ScrollTransformer::reset() { axes_ = {}; }

std::int64_t ScrollTransformer::deliveredPixels(const ScrollPlan& plan, double timeMillis) {
    const double elapsed = timeMillis - plan.startTimestampMillis;
    if (!(elapsed > 0)) return 0;
    if (elapsed >= plan.durationMillis) return plan.totalPixelDelta;
    // The timed steps due by then: the count of the last frame due.
    return plan.steps.pixelsBy(elapsed);
}

} // namespace ravolet
