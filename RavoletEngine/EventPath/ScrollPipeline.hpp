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
// steps are posted from the pipeline's own serial queue: the steps due at once
// together in one block, every later step in a block of its own at its
// deadline on the queue's clock. A plan superseded by the next detent, or
// cancelled by a reset, posts nothing more; its queued blocks still run and
// only count down. The axes with a scroll gesture open are remembered so that a
// reset can close them.
//
// Queued blocks hold the pipeline weakly. The lock guards the transformer, the
// plan records, the open gestures and the counters; it is never held while
// posting or enqueuing.
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

    Metrics snapshotMetrics() const;
    void resetMetrics();
    // Plans with steps whose blocks have not run yet.
    std::size_t inFlightPlanCount() const;

    // Returns once every block already enqueued has run; steps whose time has
    // not come are not waited for. Not from the queue itself.
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
    // A scheduled plan with the pipeline its blocks post for, shared by those
    // blocks: each block then carries one pointer and a step index, small
    // enough to be queued without an allocation of its own.
    struct Schedule {
        std::weak_ptr<ScrollPipeline> pipeline;
        ScrollPlan plan;
    };

    struct PlanRuntime {
        ScrollAxis axis = ScrollAxis::vertical;
        ModifierFlags modifiers;
        bool cancelled = false;
        // Signed sum of the pixels posted so far.
        std::int64_t delivered = 0;
        // Steps whose block has not run yet.
        std::int64_t pending = 0;
    };

    PlanRuntime* findPlanLocked(std::uint64_t id);
    void registerLocked(const ScrollPlan& plan);
    // Cancels the plan and counts its pending steps, once in its life.
    void cancelLocked(PlanRuntime& runtime);
    void schedule(const std::shared_ptr<const Schedule>& schedule);
    void postStep(const ScrollPlan& plan, const ScrollStep& step);
    static std::size_t slot(ScrollAxis axis) { return axis == ScrollAxis::vertical ? 0 : 1; }

    const std::shared_ptr<EventPosting> poster_;
    const std::shared_ptr<platform::Scheduler> queue_;

    mutable std::mutex lock_;
    ScrollTransformer transformer_;
    // A few plans at most are alive at once: a flat list keyed by plan id,
    // with room reserved up front so that the tap thread does not allocate.
    std::vector<std::pair<std::uint64_t, PlanRuntime>> plans_;
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
