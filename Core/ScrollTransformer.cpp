#include "Core/ScrollTransformer.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "Core/Clamp.hpp"
#include "Core/GlideCurve.hpp"

namespace ravolet {

namespace {

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

// How a new glide relates to the one before it on its axis.
struct Continuation {
    // Where the new glide's time starts.
    double start = 0;
    GestureTransition transition = GestureTransition::begin;
    std::optional<std::uint64_t> supersedes = std::nullopt;
    double carry = 0;
    double startProgress = 0;
};

// Whether `previous` is still going out at `now`: the caller says it is
// (it still has steps of it to post, however late), or its end is to come.
bool isRunning(const ScrollPlan* previous, std::optional<std::int64_t> pixelsOut, double now) {
    return previous && (pixelsOut || now < previous->endTimestampMillis());
}

// The point the glide after `previous` goes on from: the last of its frames
// due by `now` whose pixels have all gone out (its start when none has), but
// not before the frame before the last one due. A frame still owed (the
// poster runs a little late) is then the new glide's first, what a longer
// stall left is carried rather than caught up at once, and a detent between
// frames takes nothing of the frame to come.
double goesOnFrom(const ScrollPlan& previous, std::int64_t delivered, double now) {
    if (!(now >= previous.startTimestampMillis)) return now;
    return previous.startTimestampMillis + previous.steps.lastFrameOut(now - previous.startTimestampMillis, delivered);
}

Continuation continuationOf(const ScrollPlan* previous, std::optional<std::int64_t> pixelsOut, double now,
                            const ScrollInput& input, bool reversal) {
    if (!isRunning(previous, pixelsOut, now)) return Continuation{.start = now};
    const std::int64_t delivered = pixelsOut ? *pixelsOut : ScrollTransformer::deliveredPixels(*previous, now);
    Continuation c{.start = goesOnFrom(*previous, delivered, now), .supersedes = previous->id};
    const bool gestureOpen = previous->gestureTransition == GestureTransition::continuePrevious || delivered != 0;
    if (previous->modifiers != input.modifiers || reversal) {
        if (gestureOpen) c.transition = GestureTransition::endPreviousThenBegin;
        return c;
    }
    c.transition = gestureOpen ? GestureTransition::continuePrevious : GestureTransition::begin;
    // Worked in floating point: the caller's count is not trusted to keep the
    // difference inside 64 bits.
    c.carry = static_cast<double>(previous->totalPixelDelta) - static_cast<double>(delivered);
    const double r = clamp((c.start - previous->startTimestampMillis) / previous->durationMillis, 0.0, 1.0);
    c.startProgress = previous->easingStartProgress + r * (1 - previous->easingStartProgress);
    return c;
}

// The plan of a glide of `total` pixels as `c` places it, its id still to
// be given. Every glide takes its first step a frame after its start; the
// steps are made as they are walked, so a detent costs the same whatever the
// length of its glide.
ScrollPlan planOf(const ScrollSettings& s, const ScrollInput& input, const Continuation& c, std::int64_t total,
                  std::optional<ModifierFlags> endsPrevious) {
    const double duration = s.durationMillis;
    const double frame = s.frameIntervalMillis;
    const auto frames = static_cast<std::size_t>(std::ceil(std::max(0.0, duration - frame) / frame)) + 1;
    const GlideCurve curve(s.easing, frame, frame, duration, frames, std::min(std::max(c.startProgress, 0.0), 0.999), total);
    return ScrollPlan{
        .id = 0,
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
        .firstFrameOffsetMillis = frame,
        .steps = GlideSteps(curve, c.transition == GestureTransition::continuePrevious, endsPrevious),
    };
}

} // namespace

std::int64_t ScrollTransformer::streakAfter(const std::optional<AxisState>& stored, const ScrollSettings& s,
                                            const ScrollInput& input, int direction) {
    if (!s.accelerationEnabled || !stored || !stored->lastDetentMillis) return 0;
    if (stored->lastDirection != direction && stored->lastDirection != 0) return 0;
    const double gap = input.timestampMillis - *stored->lastDetentMillis;
    return gap >= 0 && gap <= s.accelerationWindowMillis ? stored->streak + 1 : 0;
}

ScrollOutcome ScrollTransformer::transform(const ScrollInput& input, std::optional<GlideDelivery> delivery) {
    const ScrollSettings s = settings.sanitized();
    const double now = delivery ? delivery->atMillis : input.timestampMillis;
    if (!passesGates(s, input) || !std::isfinite(now)) return ScrollOutcome::passThrough(input);

    const int direction = input.lineDelta >= 1 ? 1 : -1;
    const double sign = s.isInverted ? -direction : direction;
    const double count = std::fabs(static_cast<double>(input.lineDelta));
    std::optional<AxisState>& stored = axes_[slot(input.axis)];
    const bool reversal = stored && stored->lastDirection != 0 && stored->lastDirection != direction;

    // A quick streak in one direction travels further with every detent.
    const std::int64_t streak = streakAfter(stored, s, input, direction);
    const double factor =
        s.accelerationEnabled ? std::min(s.maxAccelerationMultiplier, 1 + s.accelerationGain * static_cast<double>(streak)) : 1;

    const ScrollPlan* previous = stored && stored->plan ? &*stored->plan : nullptr;
    const Continuation c = continuationOf(previous, delivery ? delivery->pixels : std::nullopt, now, input, reversal);
    double travel = s.pixelsPerDetent * count * factor * sign + c.carry;
    if (travel <= -s.maxInFlightPixels) travel = -s.maxInFlightPixels;
    if (travel > s.maxInFlightPixels) travel = s.maxInFlightPixels;
    const std::int64_t total = roundHalfAway(travel);

    // Built outside the optional: some compilers decide whether a nested
    // type is default-constructible while its enclosing class is still open.
    if (!stored) stored = AxisState{};
    const std::optional<ModifierFlags> endsPrevious =
        c.transition == GestureTransition::endPreviousThenBegin ? std::optional(previous->modifiers) : std::nullopt;
    stored->lastDetentMillis = input.timestampMillis;
    stored->lastDirection = direction;
    stored->streak = streak;
    if (total == 0) return ScrollOutcome::ignore();

    ScrollPlan plan = planOf(s, input, c, total, endsPrevious);
    plan.id = nextPlanID_++;
    stored->plan = plan;
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
