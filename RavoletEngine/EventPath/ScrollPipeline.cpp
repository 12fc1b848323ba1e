#include "RavoletEngine/EventPath/ScrollPipeline.hpp"

#include <algorithm>
#include <functional>

#include "Core/ScrollOutcome.hpp"
#include "RavoletEngine/EventPath/PipelineQueue.hpp"

namespace ravolet {

namespace {

// Room for the plans alive at once: two per axis while one supersedes another.
constexpr std::size_t reservedPlans = 8;
// Room for the records of cancelled plans, kept until their glide's end, so
// that the tap thread does not allocate for them: a wheel spun freely for
// the longest glide (5 s) at a detent a millisecond and more. Their steps
// are counted off the tap thread, soon after: fewer wait for that.
constexpr std::size_t reservedCancelled = 8192;
constexpr std::size_t reservedUncounted = 256;
// How many cancelled steps are counted under one hold of the lock: a few
// microseconds at most, which is all the tap thread may wait for it.
constexpr std::int64_t countingSlice = 64;

// How much later than its deadline a step may be posted when that spares the
// queue's thread a wake-up (a queue asleep until no later than that is left
// asleep), and how far a superseding glide's first step may move to fall due
// with the step the queue sleeps for. A detent that supersedes a glide
// continues on that glide's frame grid, so its first step falls within
// microseconds of that step, before or after it by the difference in how long
// the two detents took to reach the tap; waking the queue again for that
// difference would cost more than the whole detent. Far below anything
// visible: a frame is 8 ms.
constexpr std::uint64_t stepLeewayNanos = 50'000;

// A step without a usable time goes out at once rather than never.
std::uint64_t deadlineAfter(std::uint64_t base, double offsetMillis) {
    if (!(offsetMillis > 0)) return base;
    return platform::Scheduler::deadlineAfter(base, nanosFromMillis(offsetMillis));
}

} // namespace

std::ostream& operator<<(std::ostream& os, const ScrollPipeline::Metrics& m) {
    return os << "ScrollPipeline.Metrics(transformed " << m.inputsTransformed << ", passedThrough "
              << m.inputsPassedThrough << ", ignored " << m.inputsIgnored << ", scheduled " << m.plansScheduled
              << ", superseded " << m.plansSuperseded << ", stepsPosted " << m.stepsPosted << ", stepsCancelled "
              << m.stepsCancelled << ", gesturesForceClosed " << m.gesturesForceClosed << ", pixelsPosted "
              << m.pixelsPosted << ')';
}

std::shared_ptr<ScrollPipeline> ScrollPipeline::create(const ScrollSettings& settings, std::shared_ptr<EventPosting> poster,
                                                       std::shared_ptr<platform::Scheduler> queue) {
    if (!queue) queue = makePipelineQueue(queueLabel);
    auto pipeline = std::make_shared<ScrollPipeline>(Passkey{}, settings, std::move(poster), std::move(queue));
    pipeline->alarm_ = pipeline->queue_->makeAlarm([weak = std::weak_ptr<ScrollPipeline>(pipeline)] {
        if (auto self = weak.lock()) self->postDueSteps();
    });
    return pipeline;
}

ScrollPipeline::ScrollPipeline(Passkey, const ScrollSettings& settings, std::shared_ptr<EventPosting> poster,
                               std::shared_ptr<platform::Scheduler> queue)
    : poster_(std::move(poster)), queue_(std::move(queue)), transformer_(settings) {
    plans_.reserve(reservedPlans);
    cancelledUntil_.reserve(reservedCancelled);
    uncounted_.reserve(reservedUncounted);
}

ScrollPipeline::PlanRuntime* ScrollPipeline::findPlanLocked(std::uint64_t id) {
    const auto it = std::ranges::find(plans_, id, [](const PlanRuntime& r) { return r.plan.id; });
    if (it == plans_.end()) return nullptr;
    // Found while the queue posts its step: the step after it is made here,
    // as the queue would have before anyone else saw the plan.
    if (it->upcomingTaken && !makeUpcomingLocked(*it)) return nullptr;
    return &*it;
}

bool ScrollPipeline::makeUpcomingLocked(PlanRuntime& runtime) {
    runtime.upcomingTaken = false;
    if (runtime.finishing) {
        plans_.erase(plans_.begin() + (&runtime - plans_.data()));
        return false;
    }
    if (const auto following = runtime.plan.steps.next(runtime.after)) {
        runtime.upcoming = *following;
        return true;
    }
    plans_.erase(plans_.begin() + (&runtime - plans_.data()));
    return false;
}

std::uint64_t ScrollPipeline::deadlineOf(const PlanRuntime& runtime) {
    const std::uint64_t deadline = deadlineAfter(runtime.base, runtime.upcoming.offsetMillis);
    return runtime.finishing ? std::min(deadline, runtime.finishingBy) : deadline;
}

bool ScrollPipeline::isOwed(const PlanRuntime& runtime, std::uint64_t now, double atMillis) {
    if (runtime.finishing) return false;
    // The glide's closing step moves no pixel: it is cancelled with the rest,
    // or it would end the gesture the superseding glide goes on with.
    if (runtime.upcoming.phase == ScrollPhase::ended && runtime.upcoming.pixelDelta == 0) return false;
    return deadlineOf(runtime) <= now || runtime.plan.startTimestampMillis + runtime.upcoming.offsetMillis <= atMillis;
}

ScrollDisposition ScrollPipeline::handle(const ScrollInput& input) {
    // Steps are timed from now on the queue's clock, not from the wheel
    // event's time stamp, which only feeds the transformer.
    const std::uint64_t base = queue_->nowNanos();
    std::optional<std::uint64_t> first;
    {
        std::lock_guard guard(lock_);
        expireCancelledLocked(base);
        std::optional<std::int64_t> delivered;
        ScrollInput glideInput = input;
        if (const auto* previous = transformer_.inFlightPlan(input.axis)) {
            if (const auto* runtime = findPlanLocked(previous->id)) {
                delivered = runtime->delivered;
                // A step whose time has come, on the queue's clock or the
                // wheel's, goes out even when the detent gets to the glide
                // before the queue's thread does (it may wake a little late,
                // and the glide's grid may run a little behind the detents'
                // time stamps): that frame is not lost to the detent. One
                // due only on the queue's clock lies after the detent on the
                // wheel's: for the glide the detent comes after that frame,
                // so that the new glide does not travel that frame again.
                if (isOwed(*runtime, base, input.timestampMillis)) {
                    *delivered += runtime->upcoming.pixelDelta;
                    glideInput.timestampMillis = std::max(
                        input.timestampMillis, runtime->plan.startTimestampMillis + runtime->upcoming.offsetMillis);
                }
            }
        }
        auto outcome = transformer_.transform(glideInput, delivered);
        if (outcome.isPassThrough()) {
            metrics_.inputsPassedThrough += 1;
            return ScrollDisposition::passThrough;
        }
        if (outcome.isIgnore()) {
            metrics_.inputsIgnored += 1;
            return ScrollDisposition::suppress;
        }
        // Registered under the same hold as the transform, so no firing can
        // come up before its plan's record exists.
        first = registerLocked(std::move(std::get<ScrollOutcome::Animate>(outcome.value).plan), base,
                               glideInput.timestampMillis);
    }
    if (first) alarm_->arm(*first, stepLeewayNanos);
    return ScrollDisposition::suppress;
}

void ScrollPipeline::cancelLocked(const PlanRuntime& runtime) {
    // The upcoming step is counted now; the ones after it may be thousands.
    metrics_.stepsCancelled += 1;
    // Those of a finishing plan were counted when it was superseded.
    if (runtime.finishing) return;
    if (runtime.after.stage != GlideSteps::Position::Stage::done)
        uncounted_.push_back(Uncounted{runtime.plan.steps, runtime.after});
    // The closing step at the glide's end is the last.
    cancelledUntil_.push_back(deadlineAfter(runtime.base, runtime.plan.durationMillis));
    std::ranges::push_heap(cancelledUntil_, std::greater<>());
}

bool ScrollPipeline::countCancelledSliceLocked() {
    std::int64_t room = countingSlice;
    while (!uncounted_.empty() && room > 0) {
        Uncounted& plan = uncounted_.back();
        const std::int64_t counted = plan.steps.count(plan.at, room);
        metrics_.stepsCancelled += counted;
        room -= counted;
        if (room > 0) uncounted_.pop_back();
    }
    return uncounted_.empty();
}

void ScrollPipeline::countCancelledSteps() {
    for (;;) {
        std::lock_guard guard(lock_);
        if (countCancelledSliceLocked()) return;
    }
}

void ScrollPipeline::expireCancelledLocked(std::uint64_t now) {
    while (!cancelledUntil_.empty() && cancelledUntil_.front() <= now) {
        std::ranges::pop_heap(cancelledUntil_, std::greater<>());
        cancelledUntil_.pop_back();
    }
}

std::uint64_t ScrollPipeline::movedBy(std::uint64_t time, double millis) {
    if (millis >= 0) return platform::Scheduler::deadlineAfter(time, nanosFromMillis(millis));
    const auto back = static_cast<std::uint64_t>(nanosFromMillis(-millis).count());
    return time > back ? time - back : 0;
}

std::optional<std::uint64_t> ScrollPipeline::continuedBase(const PlanRuntime& previous, const ScrollPlan& plan,
                                                          std::uint64_t now, double detentMillis) {
    if (!(detentMillis >= previous.plan.startTimestampMillis)) return std::nullopt;
    // A glide that goes on with the time of the one it supersedes may start
    // before that one did.
    const std::uint64_t base = movedBy(previous.base, plan.startTimestampMillis - previous.plan.startTimestampMillis);
    const std::uint64_t detent = movedBy(base, detentMillis - plan.startTimestampMillis);
    const auto frame = static_cast<std::uint64_t>(nanosFromMillis(plan.frameIntervalMillis).count());
    if ((detent > now ? detent - now : now - detent) > frame) return std::nullopt;
    return base;
}

std::optional<std::uint64_t> ScrollPipeline::registerLocked(ScrollPlan plan, std::uint64_t base, double detentMillis) {
    // The deadline the queue may already sleep for, and where the plan's
    // steps count from when it goes on from the glide it supersedes.
    std::optional<std::uint64_t> superseded;
    std::optional<std::uint64_t> continued;
    std::optional<std::uint64_t> finishingBy;
    if (plan.supersedes) {
        if (auto* previous = findPlanLocked(*plan.supersedes)) {
            superseded = deadlineOf(*previous);
            continued = continuedBase(*previous, plan, base, detentMillis);
            if (isOwed(*previous, base, detentMillis)) {
                // Its due step, which the transform counted as delivered,
                // still goes out, now at the latest (it may be due only on
                // the wheel's clock), before anything of the new glide; only
                // the ones after it are cancelled.
                cancelLocked(*previous);
                metrics_.stepsCancelled -= 1;
                previous->finishing = true;
                previous->finishingBy = base;
                finishingBy = deadlineOf(*previous);
            } else {
                cancelLocked(*previous);
                plans_.erase(plans_.begin() + (previous - plans_.data()));
            }
            metrics_.plansSuperseded += 1;
        }
    }
    metrics_.inputsTransformed += 1;
    metrics_.plansScheduled += 1;
    if (auto* existing = findPlanLocked(plan.id)) plans_.erase(plans_.begin() + (existing - plans_.data()));
    // The steps are posted in plan order, which is the order they fall due:
    // the immediate ones first, then the rest by offset.
    GlideSteps::Position after;
    const std::optional<ScrollStep> first = plan.steps.next(after);
    // A plan without steps has nothing to post and nothing to wait for.
    if (!first) return finishingBy;
    // A glide that goes on from the one it supersedes has its first timed
    // step on that glide's frame grid, as the wheel's clock has it: on the
    // queue's clock it counts from where that glide did, moved on by the
    // time between their detents, so that a streak of detents faster than
    // the frames keeps one grid and never puts a frame off. Steps due at once
    // (the end of a gesture broken off) are not held for the grid, and
    // neither is a glide whose detent's time stamp runs more than a frame
    // apart from the queue's clock.
    if (continued && first->offsetMillis > 0) base = *continued;
    // Otherwise the detent is now on the queue's clock, and the glide's time
    // starts where the plan says, before the detent when it goes on with the
    // time of the glide it supersedes.
    else base = movedBy(base, plan.startTimestampMillis - detentMillis);
    plans_.push_back(PlanRuntime{std::move(plan), base, *first, after, 0});
    PlanRuntime& runtime = plans_.back();
    // Within the leeway of the step the queue is set to wake for, the first
    // step comes due with that step: the grid reckoned on the two clocks
    // parts by the rounding of their units at most.
    const std::uint64_t due = deadlineOf(runtime);
    if (superseded && (due > *superseded ? due - *superseded : *superseded - due) <= stepLeewayNanos)
        runtime.base = runtime.base - due + *superseded;
    return finishingBy ? std::min(*finishingBy, deadlineOf(runtime)) : deadlineOf(runtime);
}

void ScrollPipeline::postDueSteps() {
    std::optional<std::uint64_t> next;
    // One step at a time, each out before the step after it is made: making
    // a step is the costly part, and the one due is waited for.
    for (;;) {
        const std::uint64_t now = queue_->nowNanos();
        DueStep step{};
        std::uint64_t taken = 0;
        {
            std::lock_guard guard(lock_);
            expireCancelledLocked(now);
            // The plan whose next step is due first; the earlier plan on a tie.
            auto earliest = plans_.end();
            std::uint64_t at = 0;
            for (auto it = plans_.begin(); it != plans_.end(); ++it) {
                const std::uint64_t deadline = deadlineOf(*it);
                if (earliest == plans_.end() || deadline < at) {
                    earliest = it;
                    at = deadline;
                }
            }
            if (earliest == plans_.end()) break;
            if (at > now) {
                next = at;
                break;
            }
            const ScrollPlan& plan = earliest->plan;
            const ScrollStep& upcoming = earliest->upcoming;
            const ModifierFlags modifiers = upcoming.modifiers.value_or(plan.modifiers);
            const std::int64_t remaining = plan.totalPixelDelta - earliest->delivered;
            earliest->delivered += upcoming.pixelDelta;
            earliest->upcomingTaken = true;
            metrics_.stepsPosted += 1;
            metrics_.pixelsPosted += upcoming.pixelDelta < 0 ? -upcoming.pixelDelta : upcoming.pixelDelta;
            openGestureModifiers_[slot(plan.axis)] =
                upcoming.phase == ScrollPhase::ended ? std::nullopt : std::optional<ModifierFlags>(modifiers);
            step = DueStep{plan.axis, upcoming.pixelDelta, upcoming.phase, modifiers, remaining};
            taken = plan.id;
        }
        poster_->postScrollStep(step.axis, step.pixelDelta, step.phase, step.modifiers, step.glideRemaining);
        std::lock_guard guard(lock_);
        // Unless a detent or a reset met the plan meanwhile and did it first.
        const auto it = std::ranges::find_if(
            plans_, [taken](const PlanRuntime& r) { return r.plan.id == taken && r.upcomingTaken; });
        if (it != plans_.end()) makeUpcomingLocked(*it);
    }
    if (next) alarm_->arm(*next, stepLeewayNanos);
    // While the queue's thread is awake anyway, after its steps are out.
    countCancelledSteps();
}

void ScrollPipeline::reset() {
    std::vector<std::pair<ScrollAxis, ModifierFlags>> closing;
    {
        std::lock_guard guard(lock_);
        transformer_.reset();
        // A step the queue is posting is out, not cancelled.
        for (std::size_t i = plans_.size(); i-- > 0;)
            if (plans_[i].upcomingTaken) makeUpcomingLocked(plans_[i]);
        for (const auto& runtime : plans_) cancelLocked(runtime);
        plans_.clear();
        for (const auto axis : allScrollAxes) {
            if (auto& open = openGestureModifiers_[slot(axis)]) {
                closing.emplace_back(axis, *open);
                open.reset();
            }
        }
        metrics_.gesturesForceClosed += static_cast<std::int64_t>(closing.size());
    }
    countCancelledSteps();
    if (closing.empty()) return;
    // Holds the poster, not the pipeline: open gestures are closed even when
    // the pipeline goes away meanwhile.
    queue_->post([poster = poster_, closing = std::move(closing)] {
        for (const auto& [axis, modifiers] : closing) poster->postScrollStep(axis, 0, ScrollPhase::ended, modifiers, 0);
    });
}

ScrollSettings ScrollPipeline::settings() const {
    std::lock_guard guard(lock_);
    return transformer_.settings;
}

void ScrollPipeline::setSettings(const ScrollSettings& settings) {
    std::lock_guard guard(lock_);
    transformer_.settings = settings;
}

ScrollPipeline::Metrics ScrollPipeline::snapshotMetrics() {
    for (;;) {
        std::lock_guard guard(lock_);
        if (countCancelledSliceLocked()) return metrics_;
    }
}

void ScrollPipeline::resetMetrics() {
    std::lock_guard guard(lock_);
    metrics_ = Metrics{};
    uncounted_.clear();
}

std::size_t ScrollPipeline::inFlightPlanCount() const {
    const std::uint64_t now = queue_->nowNanos();
    std::lock_guard guard(lock_);
    const auto cancelled = std::ranges::count_if(cancelledUntil_, [now](std::uint64_t until) { return until > now; });
    // A finishing plan counts among the cancelled ones.
    const auto live = std::ranges::count_if(plans_, [](const PlanRuntime& r) { return !r.finishing; });
    return static_cast<std::size_t>(live) + static_cast<std::size_t>(cancelled);
}

void ScrollPipeline::drain() { drainPipelineQueue(*queue_); }

} // namespace ravolet
