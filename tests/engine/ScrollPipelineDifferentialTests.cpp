// The steps the scroll pipeline posts against its rules written out plainly:
// every plan listed whole, frame by frame, by the reference transformer; with
// each detent the transformer is told the queue's time and, while the axis
// has a glide whose steps are not all posted, the pixels it has posted; the
// plan that comes back cancels that glide (its steps not posted are
// cancelled) and takes its place; each step is due at its plan's start plus
// its offset on the queue's clock, and they are posted in the order they
// fall due, the vertical axis first on a tie, from one alarm armed for the
// earliest. The pipeline makes each step only as the one before it goes out.
// Over a million random detents, under every kind of settings the file
// accepts (glides of 1 ms to 5 s, frames of 1 ms up to the glide), in quick
// streaks, reversals, pauses, resets and changes of settings, what reaches
// the poster, when it does and the counters must be exactly the same.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <vector>

#include "Platform/Simulated/ManualScheduler.hpp"
#include "RavoletEngine/EventPath/PipelineQueue.hpp"
#include "RavoletEngine/EventPath/ScrollPipeline.hpp"
#include "tests/core/ScrollReference.hpp"

namespace ravolet {
namespace {

struct Posted {
    std::uint64_t atNanos = 0;
    ScrollAxis axis = ScrollAxis::vertical;
    std::int64_t pixels = 0;
    ScrollPhase phase = ScrollPhase::changed;
    ModifierFlags modifiers;
    std::int64_t glideRemaining = 0;

    friend bool operator==(const Posted&, const Posted&) = default;
    friend std::ostream& operator<<(std::ostream& os, const Posted& p) {
        return os << "at " << p.atNanos << " ns: " << toString(p.axis) << ' ' << p.pixels << "px "
                  << toString(p.phase) << " mods=" << p.modifiers.rawValue << " remaining " << p.glideRemaining;
    }
};

class RecordingPoster final : public EventPosting {
public:
    explicit RecordingPoster(const platform::Scheduler& clock) : clock_(clock) {}
    void postScrollStep(ScrollAxis axis, std::int64_t pixelDelta, ScrollPhase phase, ModifierFlags modifiers,
                        std::int64_t glideRemainingPixels) override {
        posted.push_back({clock_.nowNanos(), axis, pixelDelta, phase, modifiers, glideRemainingPixels});
    }
    void postKey(std::uint16_t, bool, ModifierFlags) override {}
    void postMouseButton(std::int64_t, bool) override {}

    std::vector<Posted> posted;

private:
    const platform::Scheduler& clock_;
};

// The pipeline's rules, on the same clock.
class ReferencePipeline {
public:
    explicit ReferencePipeline(const ScrollSettings& settings) : transformer(settings) {}

    void handle(const ScrollInput& input, std::uint64_t now) {
        std::optional<Live>& running = live_[slot(input.axis)];
        const GlideDelivery delivery{running ? std::optional(running->delivered) : std::nullopt,
                                     static_cast<double>(now) / 1e6};
        reference::Outcome outcome = transformer.transform(input, delivery);
        if (outcome.outcome.isPassThrough()) {
            metrics.inputsPassedThrough += 1;
            return;
        }
        if (!outcome.plan) {
            metrics.inputsIgnored += 1;
            return;
        }
        if (running) {
            if (outcome.plan->plan.supersedes == running->plan.plan.id) metrics.plansSuperseded += 1;
            metrics.stepsCancelled += static_cast<std::int64_t>(running->plan.steps.size() - running->next);
            cancelledUntil_.push_back(nanosAt(running->plan.plan.endTimestampMillis()));
        }
        metrics.inputsTransformed += 1;
        metrics.plansScheduled += 1;
        running = Live{std::move(*outcome.plan), 0, 0};
        // A first step already due goes out at the queue's next turn.
        arm(std::max(deadlineOf(*running), now));
    }

    // Runs the alarm at every time it is armed for by `target`.
    void advanceTo(std::uint64_t target) {
        while (armed_ && *armed_ <= target) {
            const std::uint64_t now = *armed_;
            armed_.reset();
            postDue(now);
        }
    }

    void reset(std::uint64_t now) {
        transformer.reset();
        for (auto& l : live_) {
            if (!l) continue;
            metrics.stepsCancelled += static_cast<std::int64_t>(l->plan.steps.size() - l->next);
            cancelledUntil_.push_back(nanosAt(l->plan.plan.endTimestampMillis()));
            l.reset();
        }
        for (const ScrollAxis axis : allScrollAxes) {
            if (auto& open = open_[slot(axis)]) {
                posted.push_back({now, axis, 0, ScrollPhase::ended, *open, 0});
                metrics.gesturesForceClosed += 1;
                open.reset();
            }
        }
    }

    // Glides with steps to post, and cancelled ones until their end.
    std::size_t inFlight(std::uint64_t now) const {
        return static_cast<std::size_t>(std::ranges::count_if(live_, [](const auto& l) { return l.has_value(); }) +
                                        std::ranges::count_if(cancelledUntil_, [&](std::uint64_t end) { return end > now; }));
    }

    reference::Transformer transformer;
    std::vector<Posted> posted;
    ScrollPipeline::Metrics metrics;

private:
    struct Live {
        reference::Plan plan;
        std::size_t next;
        std::int64_t delivered;
    };

    static std::size_t slot(ScrollAxis axis) { return axis == ScrollAxis::vertical ? 0 : 1; }
    static std::uint64_t nanosAt(double millis) {
        return millis > 0 ? static_cast<std::uint64_t>(std::min(std::round(millis * 1e6), 1.8e19)) : 0;
    }
    static std::uint64_t deadlineOf(const Live& l) {
        const double offset = l.plan.steps[l.next].offsetMillis;
        return nanosAt(l.plan.plan.startTimestampMillis + (offset > 0 ? offset : 0));
    }
    void arm(std::uint64_t deadline) { armed_ = armed_ ? std::min(*armed_, deadline) : deadline; }

    // One run of the alarm: every step due, earliest first, then the alarm
    // armed for the next.
    void postDue(std::uint64_t now) {
        for (;;) {
            std::optional<Live>* earliest = nullptr;
            for (auto& l : live_)
                if (l && (!earliest || deadlineOf(*l) < deadlineOf(**earliest))) earliest = &l;
            if (!earliest) return;
            Live& glide = **earliest;
            if (deadlineOf(glide) > now) return arm(deadlineOf(glide));
            const ScrollPlan& plan = glide.plan.plan;
            const ScrollStep& step = glide.plan.steps[glide.next++];
            const ModifierFlags modifiers = step.modifiers.value_or(plan.modifiers);
            posted.push_back({now, plan.axis, step.pixelDelta, step.phase, modifiers, plan.totalPixelDelta - glide.delivered});
            glide.delivered += step.pixelDelta;
            metrics.stepsPosted += 1;
            metrics.pixelsPosted += std::abs(step.pixelDelta);
            open_[slot(plan.axis)] = step.phase == ScrollPhase::ended ? std::nullopt : std::optional(modifiers);
            if (glide.next == glide.plan.steps.size()) earliest->reset();
        }
    }

    std::array<std::optional<Live>, 2> live_{};
    std::vector<std::uint64_t> cancelledUntil_;
    std::array<std::optional<ModifierFlags>, 2> open_{};
    // The earliest time the alarm was armed for since it last ran.
    std::optional<std::uint64_t> armed_;
};

// Compares what was posted since the last call, then forgets it and counts it.
::testing::AssertionResult samePosts(std::vector<Posted>& got, std::vector<Posted>& want, std::int64_t& posts) {
    if (got != want) {
        const auto [mine, theirs] = std::ranges::mismatch(got, want);
        auto failure = ::testing::AssertionFailure() << "post " << (mine - got.begin()) << " of " << got.size() << ": ";
        if (mine != got.end()) failure << *mine;
        failure << "\nwanted (of " << want.size() << "): ";
        if (theirs != want.end()) failure << *theirs;
        return failure;
    }
    posts += static_cast<std::int64_t>(want.size());
    got.clear();
    want.clear();
    return ::testing::AssertionSuccess();
}

TEST(ScrollPipeline, PostsExactlyTheStepsOfPlansListedWhole) {
    testing::Generator generate(41);
    std::int64_t detents = 0;
    std::int64_t posts = 0;
    while (detents < testing::detentsToCompare) {
        ScrollSettings settings = generate.settings();
        // The longest glide at the finest frames, which the settings file
        // allows, now and then.
        const auto longest = [&](ScrollSettings& s) {
            if (!generate.chance(15)) return;
            s.durationMillis = 5000;
            s.frameIntervalMillis = 1;
        };
        longest(settings);
        auto queue = std::make_shared<platform::ManualScheduler>(
            static_cast<std::uint64_t>(generate.uniform(1, 1e6)) * 1'000'000);
        auto poster = std::make_shared<RecordingPoster>(*queue);
        auto pipeline = ScrollPipeline::create(settings, poster, queue);
        ReferencePipeline expected(settings);
        double wheelMillis = static_cast<double>(queue->nowNanos()) / 1e6;
        ModifierFlags modifiers;
        for (int i = 0, count = 1 + generate.below(120); i < count; ++i, ++detents) {
            const ScrollAxis axis = generate.chance(85) ? ScrollAxis::vertical : ScrollAxis::horizontal;
            wheelMillis = generate.nextTime(wheelMillis, expected.transformer.inFlightPlan(axis));
            // The queue's clock follows the wheel's, which may run a little
            // apart from it, or back.
            const double skew = generate.chance(80) ? 0 : generate.uniform(-3, 3);
            const auto at = static_cast<std::uint64_t>(std::max(0.0, std::round((wheelMillis + skew) * 1e6)));
            queue->advanceTo(at);
            expected.advanceTo(queue->nowNanos());
            ASSERT_TRUE(samePosts(poster->posted, expected.posted, posts)) << "before detent " << detents;

            if (generate.chance(4)) {
                // New settings keep every glide going.
                ScrollSettings changed = generate.settings();
                longest(changed);
                pipeline->setSettings(changed);
                expected.transformer.settings = changed;
            }
            if (generate.chance(1)) {
                pipeline->reset();
                queue->runUntilIdle();
                expected.reset(queue->nowNanos());
            }
            if (generate.chance(10)) modifiers = ModifierFlags(static_cast<std::uint32_t>(generate.below(64)));
            const ScrollInput input{generate.lineDelta(), axis, modifiers, wheelMillis, DeviceID(7)};
            pipeline->handle(input);
            expected.handle(input, queue->nowNanos());
            ASSERT_EQ(pipeline->inFlightPlanCount(), expected.inFlight(queue->nowNanos())) << "detent " << detents;
        }
        queue->advance(std::chrono::seconds(10));
        expected.advanceTo(queue->nowNanos());
        ASSERT_TRUE(samePosts(poster->posted, expected.posted, posts)) << "after detent " << detents;
        ASSERT_EQ(pipeline->snapshotMetrics(), expected.metrics) << "after detent " << detents;
        ASSERT_EQ(pipeline->inFlightPlanCount(), 0u);
    }
    // Most detents glide, and their glides are posted.
    EXPECT_GT(posts, testing::detentsToCompare);
}

} // namespace
} // namespace ravolet
