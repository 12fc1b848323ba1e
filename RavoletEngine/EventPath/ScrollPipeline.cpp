#include "RavoletEngine/EventPath/ScrollPipeline.hpp"

#include <algorithm>
#include <cmath>
#include <functional>

#include "Core/ScrollOutcome.hpp"
#include "RavoletEngine/EventPath/PipelineQueue.hpp"

namespace ravolet {

namespace {

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
// asleep). Far below anything visible: a frame is 8 ms.
constexpr std::uint64_t stepLeewayNanos = 50'000;

// A time on the queue's clock, from and to the milliseconds of the glides.
double millisOf(std::uint64_t nanos) { return static_cast<double>(nanos) / 1e6; }
std::uint64_t nanosAt(double millis) {
    if (!(millis > 0)) return 0;
    const double nanos = std::round(millis * 1e6);
    return nanos >= 1.8e19 ? UINT64_MAX : static_cast<std::uint64_t>(nanos);
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
    cancelledUntil_.reserve(reservedCancelled);
    uncounted_.reserve(reservedUncounted);
}

void ScrollPipeline::settleLocked(std::optional<Glide>& glide) {
    if (!glide || !glide->upcomingTaken) return;
    glide->upcomingTaken = false;
    if (const auto following = glide->steps.next(glide->after)) glide->upcoming = *following;
    else glide.reset();
}

std::uint64_t ScrollPipeline::deadlineOf(const Glide& glide) {
    // A step without a usable time goes out at once rather than never.
    const double offset = glide.upcoming.offsetMillis > 0 ? glide.upcoming.offsetMillis : 0;
    return nanosAt(glide.startMillis + offset);
}

ScrollDisposition ScrollPipeline::handle(const ScrollInput& input) {
    const std::uint64_t now = queue_->nowNanos();
    std::optional<std::uint64_t> first;
    {
        std::lock_guard guard(lock_);
        expireCancelledLocked(now);
        std::optional<Glide>& running = glides_[slot(input.axis)];
        settleLocked(running);
        const GlideDelivery delivery{running ? std::optional(running->delivered) : std::nullopt, millisOf(now)};
        const ScrollOutcome outcome = transformer_.transform(input, delivery);
        if (outcome.isPassThrough()) {
            metrics_.inputsPassedThrough += 1;
            return ScrollDisposition::passThrough;
        }
        const ScrollPlan* plan = outcome.plan();
        if (!plan) {
            metrics_.inputsIgnored += 1;
            return ScrollDisposition::suppress;
        }
        // Recorded under the same hold as the transform, so no firing can
        // come up before its glide's record exists.
        startLocked(*plan);
        if (running) first = deadlineOf(*running);
    }
    if (first) alarm_->arm(*first, stepLeewayNanos);
    return ScrollDisposition::suppress;
}

void ScrollPipeline::startLocked(const ScrollPlan& plan) {
    std::optional<Glide>& glide = glides_[slot(plan.axis)];
    // The transformer supersedes every glide still going out on the axis.
    if (glide) {
        if (plan.supersedes == glide->id) metrics_.plansSuperseded += 1;
        cancelLocked(*glide);
        glide.reset();
    }
    metrics_.inputsTransformed += 1;
    metrics_.plansScheduled += 1;
    Glide made{.id = plan.id,
               .axis = plan.axis,
               .modifiers = plan.modifiers,
               .startMillis = plan.startTimestampMillis,
               .endMillis = plan.endTimestampMillis(),
               .total = plan.totalPixelDelta,
               .steps = plan.steps,
               .upcoming = {},
               .after = {}};
    // A plan always has its closing step at least.
    if (const auto step = made.steps.next(made.after)) {
        made.upcoming = *step;
        glide = std::move(made);
    }
}

void ScrollPipeline::cancelLocked(const Glide& glide) {
    // The upcoming step is counted now; the ones after it may be thousands.
    metrics_.stepsCancelled += 1;
    if (glide.after.stage != GlideSteps::Position::Stage::done) uncounted_.push_back(Uncounted{glide.steps, glide.after});
    cancelledUntil_.push_back(nanosAt(glide.endMillis));
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

std::optional<ScrollPipeline::DueStep> ScrollPipeline::takeDueLocked(std::uint64_t now, std::optional<std::uint64_t>& next) {
    // The glide whose next step is due first; the vertical one on a tie.
    Glide* earliest = nullptr;
    std::uint64_t at = 0;
    for (auto& glide : glides_) {
        if (!glide || glide->upcomingTaken) continue;
        const std::uint64_t deadline = deadlineOf(*glide);
        if (!earliest || deadline < at) {
            earliest = &*glide;
            at = deadline;
        }
    }
    if (!earliest) return std::nullopt;
    if (at > now) {
        next = at;
        return std::nullopt;
    }
    const ScrollStep& step = earliest->upcoming;
    const ModifierFlags modifiers = step.modifiers.value_or(earliest->modifiers);
    const DueStep due{earliest->axis, step.pixelDelta, step.phase, modifiers, earliest->total - earliest->delivered};
    earliest->delivered += step.pixelDelta;
    earliest->upcomingTaken = true;
    metrics_.stepsPosted += 1;
    metrics_.pixelsPosted += step.pixelDelta < 0 ? -step.pixelDelta : step.pixelDelta;
    openGestureModifiers_[slot(earliest->axis)] =
        step.phase == ScrollPhase::ended ? std::nullopt : std::optional<ModifierFlags>(modifiers);
    return due;
}

void ScrollPipeline::postDueSteps() {
    std::optional<std::uint64_t> next;
    // One step at a time, each out before the step after it is made: making
    // a step is the costly part, and the one due is waited for.
    for (;;) {
        std::optional<DueStep> step;
        std::uint64_t taken = 0;
        {
            std::lock_guard guard(lock_);
            const std::uint64_t now = queue_->nowNanos();
            expireCancelledLocked(now);
            step = takeDueLocked(now, next);
            if (!step) break;
            taken = glides_[slot(step->axis)]->id;
        }
        poster_->postScrollStep(step->axis, step->pixelDelta, step->phase, step->modifiers, step->glideRemaining);
        std::lock_guard guard(lock_);
        // Unless a detent or a reset met the glide meanwhile and did it first.
        std::optional<Glide>& glide = glides_[slot(step->axis)];
        if (glide && glide->id == taken) settleLocked(glide);
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
        for (auto& glide : glides_) {
            // A step the queue is posting is out, not cancelled.
            settleLocked(glide);
            if (glide) cancelLocked(*glide);
            glide.reset();
        }
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
    const auto live = std::ranges::count_if(glides_, [](const auto& glide) { return glide.has_value(); });
    return static_cast<std::size_t>(live) + static_cast<std::size_t>(cancelled);
}

void ScrollPipeline::drain() { drainPipelineQueue(*queue_); }

} // namespace ravolet
