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

// Turns the target mouse's wheel detents into glides. handle() asks the
// transformer on the event-tap thread and answers at once; the plan's pixel
// steps are posted from the pipeline's own serial queue, each at its deadline
// on the queue's clock (the steps due at once right away, in plan order), or
// up to 50 µs later where that spares the queue's thread a wake-up. A glide
// that goes on from the one it supersedes stays on that glide's frame grid:
// its timed steps count from where that glide's did, moved on by the time
// between the two detents, so that a streak of detents faster than the
// frames never puts a frame off (unless the detent's time stamp is more than
// a frame apart from the queue's clock). A glide whose time starts before its
// detent (it goes on with the time of the glide it supersedes) counts from
// that earlier point. The
// glides in flight keep one alarm armed on the queue for the earliest step
// still to come: when it fires, every step that is due is posted, each made
// to follow its plan's step only once that step is out (making a step is the
// costly part, and the step due should not wait for it), and the alarm is
// armed for the next. A detent
// therefore costs the tap thread one transform, making its glide's first
// step and, at most, moving that alarm earlier, however long the glide; it
// never queues a block per step. A plan superseded by the next detent, or
// cancelled by a reset, posts nothing more and leaves nothing queued: only its
// record stays until its last step's time (it still counts in
// inFlightPlanCount()), and its steps not posted are counted off the tap
// thread (by the queue while it is awake anyway, by a reset, and before the
// counters are read). The axes with a scroll gesture open are remembered so
// that a reset can close them.
//
// The alarm holds the pipeline weakly. The lock guards the transformer, the
// plan records, the open gestures and the counters; it is never held while
// posting or while calling the queue, nor for more than a short slice of the
// counting.
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
    // ones until their last step's time.
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
    // A plan with steps still to post.
    struct PlanRuntime {
        ScrollPlan plan;
        // The queue's clock when the plan was scheduled: its steps' deadlines
        // count from here.
        std::uint64_t base = 0;
        // The next step to post, made ahead so that its deadline is known,
        // and where the steps after it are made from.
        ScrollStep upcoming;
        GlideSteps::Position after;
        // Signed sum of the pixels posted so far.
        std::int64_t delivered = 0;
        // The queue has taken `upcoming` to post it and makes the step after
        // it once it is out; until then `upcoming` is no longer to come.
        bool upcomingTaken = false;
        // Superseded when `upcoming` was already due: that step still goes
        // out (it counted as delivered), and it is the plan's last. It is due
        // by `finishingBy` at the latest, the detent's time on the queue's
        // clock, so that it goes out before any step of the plan that
        // superseded it.
        bool finishing = false;
        std::uint64_t finishingBy = 0;
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

    // The plan's record with its upcoming step made; none once it has no
    // step left (its record is then gone).
    PlanRuntime* findPlanLocked(std::uint64_t id);
    // Makes the step after a taken one, or drops the plan's record when there
    // is none; false then.
    bool makeUpcomingLocked(PlanRuntime& runtime);
    // Where the steps of `plan`, which supersedes `previous`, count from on
    // the queue's clock to stay on `previous`'s frame grid; none when that
    // would be more than a frame from `now`.
    static std::optional<std::uint64_t> continuedBase(const PlanRuntime& previous, const ScrollPlan& plan,
                                                      std::uint64_t now, double detentMillis);
    // `time` on the queue's clock moved by `millis`, either way.
    static std::uint64_t movedBy(std::uint64_t time, double millis);
    // Records the plan (superseding the one it names) and returns the deadline
    // of its first step, if it has any, or of the superseded plan's step
    // still to go out where that is sooner. `base` is now on the queue's
    // clock, `detentMillis` the detent's time on the wheel's as the
    // transformer was given it.
    std::optional<std::uint64_t> registerLocked(ScrollPlan plan, std::uint64_t base, double detentMillis);
    // Whether the plan's upcoming step is still to go out and due at `now`
    // on the queue's clock or at `atMillis` on the wheel's.
    static bool isOwed(const PlanRuntime& runtime, std::uint64_t now, double atMillis);
    // Cancels a live plan: its pending steps are left to be counted and only
    // its record's end is kept.
    void cancelLocked(const PlanRuntime& runtime);
    // Counts a slice of the cancelled steps; true once none is left.
    bool countCancelledSliceLocked();
    // Counts them all, a slice per hold of the lock.
    void countCancelledSteps();
    // Forgets cancelled plans whose last step's time has come.
    void expireCancelledLocked(std::uint64_t now);
    // Runs on the queue when the alarm fires.
    void postDueSteps();
    static std::uint64_t deadlineOf(const PlanRuntime& runtime);
    static std::size_t slot(ScrollAxis axis) { return axis == ScrollAxis::vertical ? 0 : 1; }

    const std::shared_ptr<EventPosting> poster_;
    const std::shared_ptr<platform::Scheduler> queue_;
    // Declared after the queue, which it must not outlive.
    std::unique_ptr<platform::Alarm> alarm_;

    mutable std::mutex lock_;
    ScrollTransformer transformer_;
    // The live plans in the order they were registered: a few at most, with
    // room reserved up front so that the tap thread does not allocate.
    std::vector<PlanRuntime> plans_;
    // The last-step deadlines of cancelled plans whose time has not come, as a
    // min-heap; kept only to be counted.
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
