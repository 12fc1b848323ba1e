#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <utility>
#include <vector>

#include "Core/ModifierFlags.hpp"
#include "Core/ScrollAxis.hpp"
#include "Core/ScrollInput.hpp"
#include "Core/ScrollPhase.hpp"
#include "Core/ScrollPlan.hpp"
#include "Core/ScrollSettings.hpp"
#include "Core/ScrollTransformer.hpp"
#include "Support/ValueSupport.hpp"
#include "Platform/Executor.hpp"
#include "RavoletEngine/EventPath/EventPosting.hpp"
#include "RavoletEngine/EventPath/RouterTargets.hpp"

namespace ravolet {

// Turns the target mouse's wheel detents into glides. handle() tells the
// transformer, on the event-tap thread, what of the axis's running glide has
// gone out and the queue's time, posts what comes back and answers at once.
// The transformer owns the glides' time on the queue's clock: each step goes
// out from the pipeline's serial queue at its plan's start plus its offset
// (those due at once right away), or up to 50 µs later where that spares the
// queue's thread a wake-up. Each axis has one glide going out; the next
// detent's plan supersedes it, and it posts nothing more. One alarm on the
// queue is armed for the earliest step to come; when it fires, every step
// that is due goes out, each made only once the one before it is out.
//
// A superseded or reset glide leaves nothing queued: its record stays until
// its end (it counts in inFlightPlanCount()), and its steps not posted are
// counted off the tap thread. A reset closes the axes' open gestures. The
// alarm holds the pipeline weakly; the lock is never held while posting or
// calling the queue, nor for more than a short slice of the counting.
class ScrollPipeline final : public ScrollTarget, public std::enable_shared_from_this<ScrollPipeline> {
public:
    struct Metrics {
        std::int64_t inputsTransformed = 0;
        std::int64_t inputsPassedThrough = 0;
        std::int64_t inputsIgnored = 0;
        std::int64_t plansScheduled = 0;
        std::int64_t plansSuperseded = 0;
        std::int64_t stepsPosted = 0;
        std::int64_t stepsCancelled = 0;
        std::int64_t gesturesForceClosed = 0;
        std::int64_t pixelsPosted = 0;

        friend constexpr bool operator==(const Metrics&, const Metrics&) = default;
        friend std::ostream& operator<<(std::ostream& os, const Metrics& m);
    };

    static constexpr const char* queueLabel = "ai.ravolet.scroll";

    // `queue` posts every step; by default a serial queue labelled
    // "ai.ravolet.scroll". Tests pass a virtual-time scheduler.
    static std::shared_ptr<ScrollPipeline> create(const ScrollSettings& settings, std::shared_ptr<EventPosting> poster,
                                                  std::shared_ptr<platform::Scheduler> queue = nullptr);
    ScrollPipeline(const ScrollPipeline&) = delete;
    ScrollPipeline& operator=(const ScrollPipeline&) = delete;

    // One wheel detent of the target mouse, on the event-tap thread. Never
    // waits for the queue.
    ScrollDisposition handle(const ScrollInput& input) override;
    // Cancels every plan, forgets the transformer's axis state and closes
    // every open gesture with an ended step of 0 pixels.
    void reset() override;

    ScrollSettings settings() const;
    // Replaces the transformer's settings only: glides in flight finish as
    // scheduled.
    void setSettings(const ScrollSettings& settings);

    // Counts what is left of the cancelled steps first.
    Metrics snapshotMetrics();
    void resetMetrics();
    // Plans whose steps have not all come due: the live ones, and cancelled
    // ones until their end.
    std::size_t inFlightPlanCount() const;

    // Returns once every step already due has been posted and every block
    // already enqueued has run; steps whose time has not come are not waited
    // for. Not from the queue itself.
    void drain();

    platform::Scheduler& queue() const { return *queue_; }

    struct Passkey {
    private:
        friend class ScrollPipeline;
        Passkey() = default;
    };
    ScrollPipeline(Passkey, const ScrollSettings& settings, std::shared_ptr<EventPosting> poster,
                   std::shared_ptr<platform::Scheduler> queue);

private:
    // What posting a glide needs of its plan, and how far it has gone out.
    struct Glide {
        std::uint64_t id = 0;
        ScrollAxis axis = ScrollAxis::vertical;
        ModifierFlags modifiers;
        // On the queue's clock, in ms.
        double startMillis = 0;
        double endMillis = 0;
        std::int64_t total = 0;
        GlideSteps steps;
        // The next step, made ahead so that its deadline is known, and where
        // the steps after it are made from.
        ScrollStep upcoming;
        GlideSteps::Position after;
        // Signed sum of the pixels posted so far.
        std::int64_t delivered = 0;
        // The queue is posting `upcoming` and makes the step after it once
        // it is out; whoever meets the glide first makes it instead.
        bool upcomingTaken = false;
    };

    // The steps of a cancelled plan that are still to be counted.
    struct Uncounted {
        GlideSteps steps;
        GlideSteps::Position at;
    };

    // One step taken for posting, with what the poster is given.
    struct DueStep {
        ScrollAxis axis;
        std::int64_t pixelDelta;
        ScrollPhase phase;
        ModifierFlags modifiers;
        std::int64_t glideRemaining;
    };

    // Makes the step after a taken one; the glide is gone when it has none.
    static void settleLocked(std::optional<Glide>& glide);
    // Cancels the axis's glide, if any, for the plan that replaces it.
    void startLocked(const ScrollPlan& plan);
    // Leaves a glide's pending steps to be counted and its end to be kept.
    void cancelLocked(const Glide& glide);
    // Takes the earliest step due by `now`; otherwise tells when the next is.
    std::optional<DueStep> takeDueLocked(std::uint64_t now, std::optional<std::uint64_t>& next);
    // Counts a slice of the cancelled steps; true once none is left.
    bool countCancelledSliceLocked();
    // Counts them all, a slice per hold of the lock.
    void countCancelledSteps();
    // Forgets cancelled plans whose end has come.
    void expireCancelledLocked(std::uint64_t now);
    // Runs on the queue when the alarm fires.
    void postDueSteps();
    static std::uint64_t deadlineOf(const Glide& glide);
    static std::size_t slot(ScrollAxis axis) { return axis == ScrollAxis::vertical ? 0 : 1; }

    const std::shared_ptr<EventPosting> poster_;
    const std::shared_ptr<platform::Scheduler> queue_;
    // Declared after the queue, which it must not outlive.
    std::unique_ptr<platform::Alarm> alarm_;

    mutable std::mutex lock_;
    ScrollTransformer transformer_;
    // Per axis, the glide whose steps are going out.
    std::array<std::optional<Glide>, 2> glides_{};
    // The ends of cancelled plans that have not come, as a min-heap; kept
    // only to be counted.
    std::vector<std::uint64_t> cancelledUntil_;
    // Cancelled plans whose steps have not all been counted yet.
    std::vector<Uncounted> uncounted_;
    // Per axis, the modifiers of the last began or changed step posted while
    // its gesture is open.
    std::array<std::optional<ModifierFlags>, 2> openGestureModifiers_{};
    Metrics metrics_;
};

} // namespace ravolet

template <>
struct std::hash<ravolet::ScrollPipeline::Metrics> {
    std::size_t operator()(const ravolet::ScrollPipeline::Metrics& m) const noexcept {
        return ravolet::hashFields(m.inputsTransformed, m.inputsPassedThrough, m.inputsIgnored, m.plansScheduled,
                                   m.plansSuperseded, m.stepsPosted, m.stepsCancelled, m.gesturesForceClosed,
                                   m.pixelsPosted);
    }
};
