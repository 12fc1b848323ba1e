#include "RavoletEngine/EventPath/ScrollPipeline.hpp"

#include <algorithm>

#include "Core/ScrollOutcome.hpp"
#include "Core/ScrollPhase.hpp"
#include "RavoletEngine/EventPath/PipelineQueue.hpp"

namespace ravolet {

namespace {

// Room for the plans alive at once: two per axis while one supersedes another.
constexpr std::size_t reservedPlans = 8;

bool isImmediate(const ScrollStep& step) {
    // A step without a usable time goes out at once rather than never.
    return !(step.offsetMillis > 0);
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
    return std::make_shared<ScrollPipeline>(Passkey{}, settings, std::move(poster), std::move(queue));
}

ScrollPipeline::ScrollPipeline(Passkey, const ScrollSettings& settings, std::shared_ptr<EventPosting> poster,
                               std::shared_ptr<platform::Scheduler> queue)
    : poster_(std::move(poster)), queue_(std::move(queue)), transformer_(settings) {
    plans_.reserve(reservedPlans);
}

ScrollPipeline::PlanRuntime* ScrollPipeline::findPlanLocked(std::uint64_t id) {
    const auto it = std::ranges::find(plans_, id, &std::pair<std::uint64_t, PlanRuntime>::first);
    return it == plans_.end() ? nullptr : &it->second;
}

ScrollDisposition ScrollPipeline::handle(const ScrollInput& input) {
    std::shared_ptr<const Schedule> scheduled;
    {
        std::lock_guard guard(lock_);
        std::optional<std::int64_t> delivered;
        if (const auto* previous = transformer_.inFlightPlan(input.axis)) {
            if (const auto* runtime = findPlanLocked(previous->id)) delivered = runtime->delivered;
        }
        auto outcome = transformer_.transform(input, delivered);
        if (outcome.isPassThrough()) {
            metrics_.inputsPassedThrough += 1;
            return ScrollDisposition::passThrough;
        }
        if (outcome.isIgnore()) {
            metrics_.inputsIgnored += 1;
            return ScrollDisposition::suppress;
        }
        // Registered under the same hold as the transform, so no step block
        // can come up before its plan's record exists.
        registerLocked(*outcome.plan());
        scheduled = std::make_shared<const Schedule>(
            Schedule{weak_from_this(), std::move(std::get<ScrollOutcome::Animate>(outcome.value).plan)});
    }
    schedule(scheduled);
    return ScrollDisposition::suppress;
}

void ScrollPipeline::cancelLocked(PlanRuntime& runtime) {
    // A plan already cancelled had its pending steps counted then.
    if (runtime.cancelled) return;
    runtime.cancelled = true;
    metrics_.stepsCancelled += std::max<std::int64_t>(runtime.pending, 0);
}

void ScrollPipeline::registerLocked(const ScrollPlan& plan) {
    if (plan.supersedes) {
        if (auto* previous = findPlanLocked(*plan.supersedes)) {
            cancelLocked(*previous);
            metrics_.plansSuperseded += 1;
        }
    }
    PlanRuntime runtime{plan.axis, plan.modifiers, false, 0, static_cast<std::int64_t>(plan.steps.size())};
    if (auto* existing = findPlanLocked(plan.id)) {
        *existing = runtime;
    } else if (!plan.steps.empty()) {
        // A plan without steps has no block that would ever remove its record.
        plans_.emplace_back(plan.id, runtime);
    }
    metrics_.inputsTransformed += 1;
    metrics_.plansScheduled += 1;
}

void ScrollPipeline::schedule(const std::shared_ptr<const Schedule>& scheduled) {
    const auto& steps = scheduled->plan.steps;
    if (std::ranges::any_of(steps, isImmediate)) {
        queue_->post([scheduled] {
            for (const auto& step : scheduled->plan.steps) {
                if (!isImmediate(step)) continue;
                if (auto self = scheduled->pipeline.lock()) self->postStep(scheduled->plan, step);
            }
        });
    }
    // Later steps are timed from now on the queue's clock, not from the wheel
    // event's time stamp, which only feeds the transformer.
    const std::uint64_t base = queue_->nowNanos();
    for (std::size_t i = 0; i < steps.size(); ++i) {
        if (isImmediate(steps[i])) continue;
        const auto deadline = platform::Scheduler::deadlineAfter(base, nanosFromMillis(steps[i].offsetMillis));
        queue_->postAt(deadline, [scheduled, index = static_cast<std::uint32_t>(i)] {
            if (auto self = scheduled->pipeline.lock()) self->postStep(scheduled->plan, scheduled->plan.steps[index]);
        });
    }
}

void ScrollPipeline::postStep(const ScrollPlan& plan, const ScrollStep& step) {
    const ModifierFlags modifiers = step.modifiers.value_or(plan.modifiers);
    bool post = false;
    {
        std::lock_guard guard(lock_);
        const auto it = std::ranges::find(plans_, plan.id, &std::pair<std::uint64_t, PlanRuntime>::first);
        if (it == plans_.end()) return;
        auto& runtime = it->second;
        runtime.pending -= 1;
        if (!runtime.cancelled) {
            post = true;
            runtime.delivered += step.pixelDelta;
            metrics_.stepsPosted += 1;
            metrics_.pixelsPosted += step.pixelDelta < 0 ? -step.pixelDelta : step.pixelDelta;
            openGestureModifiers_[slot(plan.axis)] =
                step.phase == ScrollPhase::ended ? std::nullopt : std::optional<ModifierFlags>(modifiers);
        }
        if (runtime.pending <= 0) plans_.erase(it);
    }
    if (post) poster_->postScrollStep(plan.axis, step.pixelDelta, step.phase, modifiers);
}

void ScrollPipeline::reset() {
    std::vector<std::pair<ScrollAxis, ModifierFlags>> closing;
    {
        std::lock_guard guard(lock_);
        transformer_.reset();
        for (auto& [id, runtime] : plans_) cancelLocked(runtime);
        for (const auto axis : allScrollAxes) {
            if (auto& open = openGestureModifiers_[slot(axis)]) {
                closing.emplace_back(axis, *open);
                open.reset();
            }
        }
        metrics_.gesturesForceClosed += static_cast<std::int64_t>(closing.size());
    }
    if (closing.empty()) return;
    // Holds the poster, not the pipeline: open gestures are closed even when
    // the pipeline goes away meanwhile.
    queue_->post([poster = poster_, closing = std::move(closing)] {
        for (const auto& [axis, modifiers] : closing) poster->postScrollStep(axis, 0, ScrollPhase::ended, modifiers);
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

ScrollPipeline::Metrics ScrollPipeline::snapshotMetrics() const {
    std::lock_guard guard(lock_);
    return metrics_;
}

void ScrollPipeline::resetMetrics() {
    std::lock_guard guard(lock_);
    metrics_ = Metrics{};
}

std::size_t ScrollPipeline::inFlightPlanCount() const {
    std::lock_guard guard(lock_);
    return plans_.size();
}

void ScrollPipeline::drain() { drainPipelineQueue(*queue_); }

} // namespace ravolet
