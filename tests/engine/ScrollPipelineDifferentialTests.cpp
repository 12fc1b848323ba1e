// The steps the scroll pipeline posts against those of the pipeline as it was:
// every plan listed whole, frame by frame, when its detent came (the
// reference transformer), and its steps posted one by one in the order they
// fall due, the earlier plan first on a tie, from one alarm armed for the
// earliest step; a plan that supersedes another and whose first step is
// timed counts from where that one did, moved on by the time between their
// detents, unless that is more than a frame from the queue's clock, and it
// is timed from the step the alarm is set for when its own first step falls
// within 50 µs of it; the superseded plan's next step, when it is due on
// the queue's clock or the wheel's, still goes out and counts as delivered,
// at the detent's time at the latest, unless it is the glide's closing step,
// which moves no pixel; for the transformer the detent then comes no earlier
// than that step, on the wheel's clock; and a plan whose time starts before
// its detent counts from that point.
// The
// pipeline now makes each step only as the one before it goes out. Over a million random detents, under
// every kind of settings the file accepts (glides of 1 ms to 5 s, frames of
// 1 ms up to the glide), in quick streaks, reversals, pauses, resets and
// changes of settings, what reaches the poster, when it does and the counters
// must stay exactly the same.

#include <gtest/gtest.h>

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

// The pipeline as it was, on the same clock.
class ReferencePipeline {
public:
    explicit ReferencePipeline(const ScrollSettings& settings) : transformer(settings) {}

    void handle(const ScrollInput& detent, std::uint64_t now) {
        std::optional<std::int64_t> delivered;
        bool owed = false;
        ScrollInput input = detent;
        if (const reference::Plan* previous = transformer.inFlightPlan(input.axis)) {
            if (const Live* live = find(previous->plan.id)) {
                delivered = live->delivered;
                // Its next step due on either clock still goes, as delivered,
                // and the detent comes after it for the glide.
                const ScrollStep& next = live->plan.steps[live->next];
                const double nextAt = live->plan.plan.startTimestampMillis + next.offsetMillis;
                owed = !(next.phase == ScrollPhase::ended && next.pixelDelta == 0) &&
                       (deadlineOf(*live) <= now || nextAt <= input.timestampMillis);
                if (owed) {
                    *delivered += next.pixelDelta;
                    input.timestampMillis = std::max(input.timestampMillis, nextAt);
                }
            }
        }
        reference::Outcome outcome = transformer.transform(input, delivered);
        if (outcome.outcome.isPassThrough()) {
            metrics.inputsPassedThrough += 1;
            return;
        }
        if (!outcome.plan) {
            metrics.inputsIgnored += 1;
            return;
        }
        std::optional<std::uint64_t> superseded;
        std::optional<std::uint64_t> continued;
        if (const auto supersedes = outcome.plan->plan.supersedes) {
            if (const Live* previous = find(*supersedes)) {
                superseded = deadlineOf(*previous);
                const double start = outcome.plan->plan.startTimestampMillis;
                if (input.timestampMillis >= previous->plan.plan.startTimestampMillis) {
                    const std::uint64_t base = moved(previous->base, start - previous->plan.plan.startTimestampMillis);
                    const std::uint64_t at = moved(base, input.timestampMillis - start);
                    const auto frame = static_cast<std::uint64_t>(nanosFromMillis(outcome.plan->plan.frameIntervalMillis).count());
                    if (std::max(at, now) - std::min(at, now) <= frame) continued = base;
                }
                metrics.stepsCancelled += static_cast<std::int64_t>(previous->plan.steps.size() - previous->next - (owed ? 1 : 0));
                metrics.plansSuperseded += 1;
                if (owed) {
                    Live* finishing = find(*supersedes);
                    finishing->finishing = true;
                    finishing->finishingBy = now;
                    arm(deadlineOf(*finishing));
                } else
                    std::erase_if(live_, [&](const Live& l) { return l.plan.plan.id == *supersedes; });
            }
        }
        metrics.inputsTransformed += 1;
        metrics.plansScheduled += 1;
        if (outcome.plan->steps.empty()) return;
        // Its time may start before the detent.
        const std::uint64_t base = continued && outcome.plan->steps.front().offsetMillis > 0
                                       ? *continued
                                       : moved(now, outcome.plan->plan.startTimestampMillis - input.timestampMillis);
        live_.push_back({std::move(*outcome.plan), base, 0, 0, false});
        const std::uint64_t due = deadlineOf(live_.back());
        if (superseded && std::max(due, *superseded) - std::min(due, *superseded) <= 50'000)
            live_.back().base = base - due + *superseded;
        // A first step already due (its grid went on from an earlier detent)
        // goes out at the queue's next turn.
        arm(std::max(deadlineOf(live_.back()), now));
    }

    // Runs the alarm at every deadline it is armed for by `target`.
    void advanceTo(std::uint64_t target) {
        while (armed_ && *armed_ <= target) {
            const std::uint64_t now = *armed_;
            armed_.reset();
            postDue(now);
        }
    }

    void reset(std::uint64_t now) {
        transformer.reset();
        for (const Live& l : live_)
            metrics.stepsCancelled += l.finishing ? 1 : static_cast<std::int64_t>(l.plan.steps.size() - l.next);
        live_.clear();
        for (const ScrollAxis axis : allScrollAxes) {
            if (auto& open = open_[axis == ScrollAxis::vertical ? 0 : 1]) {
                posted.push_back({now, axis, 0, ScrollPhase::ended, *open, 0});
                metrics.gesturesForceClosed += 1;
                open.reset();
            }
        }
    }

    reference::Transformer transformer;
    std::vector<Posted> posted;
    ScrollPipeline::Metrics metrics;

private:
    struct Live {
        reference::Plan plan;
        std::uint64_t base;
        std::size_t next;
        std::int64_t delivered;
        // Superseded with its next step due: that step is its last, due
        // by the detent's time.
        bool finishing = false;
        std::uint64_t finishingBy = 0;
    };

    Live* find(std::uint64_t id) {
        for (Live& l : live_)
            if (l.plan.plan.id == id && !l.finishing) return &l;
        return nullptr;
    }
    // A time on the queue's clock moved either way by whole nanoseconds of
    // the milliseconds, truncated.
    static std::uint64_t moved(std::uint64_t time, double millis) {
        const auto nanos = static_cast<std::uint64_t>(nanosFromMillis(std::fabs(millis)).count());
        if (millis >= 0) return platform::Scheduler::deadlineAfter(time, std::chrono::nanoseconds(nanos));
        return time > nanos ? time - nanos : 0;
    }
    void arm(std::uint64_t deadline) { armed_ = armed_ ? std::min(*armed_, deadline) : deadline; }

    // One run of the alarm: every step due, earliest first, then the alarm
    // armed for the next.
    void postDue(std::uint64_t now) {
        for (;;) {
            Live* earliest = nullptr;
            std::uint64_t at = 0;
            for (Live& l : live_) {
                const std::uint64_t deadline = deadlineOf(l);
                if (!earliest || deadline < at) {
                    earliest = &l;
                    at = deadline;
                }
            }
            if (!earliest) return;
            if (at > now) return arm(at);
            const ScrollPlan& plan = earliest->plan.plan;
            const ScrollStep& step = earliest->plan.steps[earliest->next++];
            const ModifierFlags modifiers = step.modifiers.value_or(plan.modifiers);
            posted.push_back({now, plan.axis, step.pixelDelta, step.phase, modifiers, plan.totalPixelDelta - earliest->delivered});
            earliest->delivered += step.pixelDelta;
            metrics.stepsPosted += 1;
            metrics.pixelsPosted += std::abs(step.pixelDelta);
            open_[plan.axis == ScrollAxis::vertical ? 0 : 1] =
                step.phase == ScrollPhase::ended ? std::nullopt : std::optional(modifiers);
            if (earliest->finishing || earliest->next == earliest->plan.steps.size())
                std::erase_if(live_, [&](const Live& l) { return &l == earliest; });
        }
    }

    static std::uint64_t deadlineOf(const Live& l) {
        const double offset = l.plan.steps[l.next].offsetMillis;
        const std::uint64_t deadline =
            offset > 0 ? platform::Scheduler::deadlineAfter(l.base, nanosFromMillis(offset)) : l.base;
        return l.finishing ? std::min(deadline, l.finishingBy) : deadline;
    }

    std::vector<Live> live_;
    std::array<std::optional<ModifierFlags>, 2> open_{};
    // The earliest deadline the alarm was armed for since it last ran.
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
