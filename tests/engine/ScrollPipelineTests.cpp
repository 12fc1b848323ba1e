#include <gtest/gtest.h>

#include <fmt/format.h>
#include <fmt/ostream.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <functional>
#include <memory>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

#include "Core/ScrollSettings.hpp"
#include "PipelineTestSupport.hpp"
#include "SpinPace.hpp"
#include "Core/ScrollTransformer.hpp"
#include "Platform/MonotonicClock.hpp"
#include "RavoletEngine/EventPath/PipelineQueue.hpp"
#include "Platform/Simulated/ManualScheduler.hpp"
#include "RavoletEngine/EventPath/ScrollPipeline.hpp"

namespace ravolet {
namespace {

using namespace std::chrono_literals;
using testing::LoggingPoster;
using Lines = std::vector<std::string>;

constexpr std::uint64_t startNanos = 5'000'000'000;
const DeviceID mouse{0xC0990001};

ScrollSettings smoothing() {
    ScrollSettings s;
    s.isEnabled = true;
    return s;
}

ScrollInput detent(std::int64_t lines, double atMillis, ModifierFlags modifiers = {}) {
    return ScrollInput{lines, ScrollAxis::vertical, modifiers, atMillis, mouse};
}

// The pixel count of a "scroll(<axis> <n>px ...)" line.
std::int64_t pixelsOf(const std::string& line) {
    const auto start = line.find(' ') + 1;
    return std::stoll(line.substr(start, line.find("px") - start));
}

std::int64_t sumOfPixels(const Lines& lines) {
    return std::accumulate(lines.begin(), lines.end(), std::int64_t{0},
                           [](std::int64_t sum, const std::string& line) { return sum + pixelsOf(line); });
}

std::size_t countContaining(const Lines& lines, const std::string& part) {
    return static_cast<std::size_t>(
        std::ranges::count_if(lines, [&](const std::string& line) { return line.find(part) != std::string::npos; }));
}

struct ScrollPipelineTest : ::testing::Test {
    std::shared_ptr<platform::ManualScheduler> queue = std::make_shared<platform::ManualScheduler>(startNanos);
    std::shared_ptr<LoggingPoster> poster = std::make_shared<LoggingPoster>();
    std::shared_ptr<ScrollPipeline> pipeline = ScrollPipeline::create(smoothing(), poster, queue);

    Lines posted() const { return poster->log.lines(); }
    void advanceToMillis(double offset) {
        queue->advanceTo(startNanos + static_cast<std::uint64_t>(offset * 1e6));
    }
};

TEST_F(ScrollPipelineTest, ADetentBecomesAGlidePostedAtThePlansTimesFromTheQueue) {
    // The event's own time stamp only feeds the transformer: steps are timed
    // from the moment the plan is scheduled on the queue's clock.
    EXPECT_EQ(pipeline->handle(detent(1, 123.0, ModifierFlags::shift)), ScrollDisposition::suppress);
    EXPECT_TRUE(posted().empty());
    EXPECT_EQ(pipeline->inFlightPlanCount(), 1u);

    const std::vector<double> offsets{8,   16,  24,  32,  40,  48,  56,  64,  72,  80,  88, 96,
                                      104, 112, 120, 128, 136, 144, 152, 160, 176, 200, 250};
    for (std::size_t i = 0; i < offsets.size(); ++i) {
        advanceToMillis(offsets[i] - 0.001);
        ASSERT_EQ(posted().size(), i) << "nothing before " << offsets[i] << " ms";
        advanceToMillis(offsets[i]);
        ASSERT_EQ(posted().size(), i + 1) << "the step at " << offsets[i] << " ms";
    }
    const auto lines = posted();
    EXPECT_EQ(lines.front(), "scroll(vertical 5px began mods=2)");
    EXPECT_EQ(lines[1], "scroll(vertical 4px changed mods=2)");
    EXPECT_EQ(lines.back(), "scroll(vertical 0px ended mods=2)");
    EXPECT_EQ(sumOfPixels(lines), 50);
    EXPECT_EQ(pipeline->inFlightPlanCount(), 0u);

    ScrollPipeline::Metrics expected;
    expected.inputsTransformed = 1;
    expected.plansScheduled = 1;
    expected.stepsPosted = 23;
    expected.pixelsPosted = 50;
    EXPECT_EQ(pipeline->snapshotMetrics(), expected);

    // A detent after the glide's last step has run gets no delivered count: it
    // begins afresh.
    advanceToMillis(260);
    poster->log.clear();
    pipeline->handle(detent(1, 123.0 + 260));
    queue->advance(250ms);
    EXPECT_EQ(posted().front(), "scroll(vertical 5px began mods=0)");
}

TEST_F(ScrollPipelineTest, ASecondDetentMidGlideSupersedesTheFirstWithoutLosingOrDoublingPixels) {
    pipeline->handle(detent(1, 0));
    advanceToMillis(39);
    // Steps at 8 to 32 ms: 5 + 4 + 4 + 4 pixels really posted. The wheel's
    // clock says 48 ms, but the glide's time is the queue's: the transformer
    // must get the pipeline's 17, not the 24 due by the time stamp, and go
    // on from the frame at 32 ms.
    ASSERT_EQ(sumOfPixels(posted()), 17);
    EXPECT_EQ(pipeline->handle(detent(1, 48)), ScrollDisposition::suppress);
    auto m = pipeline->snapshotMetrics();
    EXPECT_EQ(m.plansSuperseded, 1);
    EXPECT_EQ(m.stepsCancelled, 19);
    EXPECT_EQ(pipeline->inFlightPlanCount(), 2u);
    advanceToMillis(39.99);
    EXPECT_EQ(posted().size(), 4u);
    advanceToMillis(40);
    EXPECT_EQ(posted().size(), 5u) << "the next frame on the same grid";

    queue->advance(1s);
    const auto lines = posted();
    // 50 for the first detent, 50 × 2.2 for the second within the streak.
    EXPECT_EQ(sumOfPixels(lines), 160);
    EXPECT_EQ(countContaining(lines, "px began "), 1u) << "one began";
    EXPECT_EQ(countContaining(lines, "px ended "), 1u) << "one ended";
    EXPECT_EQ(lines.back(), "scroll(vertical 0px ended mods=0)");
    // Each step carries what it and the rest of its glide post: 50 for the
    // first glide, 160 - 17 = 143 from the second's first step, 0 at its end.
    const auto remaining = poster->glideRemaining.lines();
    ASSERT_EQ(remaining.size(), lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::int64_t glideStart = i < 4 ? 50 : 143;
        const std::int64_t before = sumOfPixels(Lines(lines.begin() + (i < 4 ? 0 : 4), lines.begin() + static_cast<std::ptrdiff_t>(i)));
        EXPECT_EQ(std::stoll(remaining[i]), glideStart - before) << "step " << i;
    }
    m = pipeline->snapshotMetrics();
    EXPECT_EQ(m.pixelsPosted, 160);
    EXPECT_EQ(m.stepsPosted, static_cast<std::int64_t>(lines.size()));
    EXPECT_EQ(pipeline->inFlightPlanCount(), 0u);
}

// A poster that runs `interrupt` once, while the `at`-th step is being posted.
class InterruptingPoster final : public EventPosting {
public:
    void postScrollStep(ScrollAxis axis, std::int64_t pixelDelta, ScrollPhase phase, ModifierFlags modifiers,
                        std::int64_t glideRemainingPixels) override {
        log.postScrollStep(axis, pixelDelta, phase, modifiers, glideRemainingPixels);
        if (++steps == at && interrupt) interrupt();
    }
    void postKey(std::uint16_t code, bool isDown, ModifierFlags modifiers) override { log.postKey(code, isDown, modifiers); }
    void postMouseButton(std::int64_t number, bool isDown) override { log.postMouseButton(number, isDown); }

    LoggingPoster log;
    int steps = 0;
    int at = 0;
    std::function<void()> interrupt;
};

TEST(ScrollPipelineWhilePosting, ADetentOrAResetWhileAStepGoesOutMeetsTheGlideAsJustAfterIt) {
    // The queue makes a step's successor only once the step is out; whoever
    // meets the glide in between must see it as if that had happened already.
    const std::vector<std::function<void(ScrollPipeline&)>> actions{
        [](ScrollPipeline& p) { p.handle(detent(1, 32)); },
        [](ScrollPipeline& p) { p.reset(); },
    };
    for (std::size_t n = 0; n < actions.size(); ++n) {
        std::vector<std::string> outcomes;
        for (const bool duringPost : {false, true}) {
            auto queue = std::make_shared<platform::ManualScheduler>(startNanos);
            auto poster = std::make_shared<InterruptingPoster>();
            auto pipeline = ScrollPipeline::create(smoothing(), poster, queue);
            pipeline->handle(detent(1, 0));
            // The fourth step falls due at 32 ms.
            if (duringPost) {
                poster->at = 4;
                poster->interrupt = [&] { actions[n](*pipeline); };
            }
            queue->advanceTo(startNanos + 32'000'000);
            if (!duringPost) actions[n](*pipeline);
            const auto inFlight = pipeline->inFlightPlanCount();
            queue->advance(1s);
            const auto m = pipeline->snapshotMetrics();
            std::string outcome = fmt::format("in flight {}; {}; ", inFlight, fmt::streamed(m));
            for (const auto& line : poster->log.log.lines()) outcome += line + "; ";
            for (const auto& line : poster->log.glideRemaining.lines()) outcome += line + " ";
            outcomes.push_back(outcome);
        }
        EXPECT_EQ(outcomes[1], outcomes[0]) << "action " << n;
    }
}

TEST_F(ScrollPipelineTest, GlidesKeepOneEntryOnTheQueueAndSupersededStepsLeaveIt) {
    // Ten detents 20 ms apart, the last one reversing (its first step, the
    // closing of the gesture, is due at once): each supersedes the glide
    // before it, whose steps are not left queued.
    for (int i = 0; i < 10; ++i) {
        pipeline->handle(detent(i == 9 ? -1 : 1, 20.0 * i));
        EXPECT_EQ(queue->pendingCount(), 1u) << "detent " << i;
        advanceToMillis(20.0 * i + 19);
        EXPECT_EQ(queue->pendingCount(), 1u) << "detent " << i;
    }
    EXPECT_EQ(pipeline->snapshotMetrics().plansSuperseded, 9);
    queue->advance(1s);
    EXPECT_EQ(queue->pendingCount(), 0u);
    EXPECT_EQ(pipeline->inFlightPlanCount(), 0u);
    EXPECT_EQ(posted().back(), "scroll(vertical 0px ended mods=0)");
}

TEST_F(ScrollPipelineTest, PassedThroughAndIgnoredDetents) {
    auto off = smoothing();
    off.isEnabled = false;
    pipeline->setSettings(off);
    EXPECT_EQ(pipeline->handle(detent(1, 0)), ScrollDisposition::passThrough);

    auto still = smoothing();
    still.pixelsPerDetent = 0;
    pipeline->setSettings(still);
    EXPECT_EQ(pipeline->settings(), still);
    EXPECT_EQ(pipeline->handle(detent(1, 10)), ScrollDisposition::suppress);

    queue->advance(1s);
    EXPECT_TRUE(posted().empty());
    EXPECT_EQ(queue->pendingCount(), 0u);
    ScrollPipeline::Metrics expected;
    expected.inputsPassedThrough = 1;
    expected.inputsIgnored = 1;
    EXPECT_EQ(pipeline->snapshotMetrics(), expected);
}

TEST_F(ScrollPipelineTest, ResetCancelsTheGlideAndClosesItsGestureOnce) {
    pipeline->handle(detent(-1, 0, ModifierFlags::command));
    advanceToMillis(24);
    ASSERT_EQ(posted().size(), 3u);
    pipeline->reset();
    queue->runUntilIdle();
    EXPECT_EQ(posted().back(), "scroll(vertical 0px ended mods=16)");
    auto m = pipeline->snapshotMetrics();
    EXPECT_EQ(m.gesturesForceClosed, 1);
    EXPECT_EQ(m.stepsCancelled, 20);
    // The record stays until its queued steps have run, posting nothing.
    EXPECT_EQ(pipeline->inFlightPlanCount(), 1u);

    pipeline->reset(); // the plan was cancelled already: its steps are not counted again
    queue->advance(1s);
    EXPECT_EQ(posted().size(), 4u);
    EXPECT_EQ(pipeline->snapshotMetrics().gesturesForceClosed, 1);
    EXPECT_EQ(pipeline->snapshotMetrics().stepsCancelled, 20);
    EXPECT_EQ(pipeline->inFlightPlanCount(), 0u);

    // The transformer forgot the glide: the next detent begins afresh.
    pipeline->handle(detent(-1, 30));
    queue->advance(8ms);
    EXPECT_EQ(posted().back(), "scroll(vertical -5px began mods=0)");
}

TEST_F(ScrollPipelineTest, AReversalEndsTheOpenGestureAtOnceAndBeginsANewOne) {
    pipeline->handle(detent(1, 0));
    advanceToMillis(16);
    pipeline->handle(detent(-1, 16, ModifierFlags::option));
    // The closing step of the previous gesture is due at once, with that
    // gesture's modifiers; it closes the axis although more steps follow.
    queue->runUntilIdle();
    EXPECT_EQ(posted().back(), "scroll(vertical 0px ended mods=0)");
    pipeline->reset();
    EXPECT_EQ(pipeline->snapshotMetrics().gesturesForceClosed, 0);

    pipeline->handle(detent(-1, 40, ModifierFlags::option));
    queue->advance(8ms);
    EXPECT_EQ(posted().back(), "scroll(vertical -5px began mods=8)");
    pipeline->reset();
    EXPECT_EQ(pipeline->snapshotMetrics().gesturesForceClosed, 1);
}

// A virtual-time queue whose clock can run ahead of its thread: steps whose
// time has come on the clock the pipeline reads have not gone out yet, as when
// the machine keeps the queue's thread from running.
class LateQueue final : public platform::Scheduler {
public:
    void post(platform::Task task) override { inner->post(std::move(task)); }
    bool isCurrent() const override { return inner->isCurrent(); }
    std::uint64_t nowNanos() const override { return inner->nowNanos() + ahead; }
    platform::TaskHandle postAt(std::uint64_t deadline, platform::Task task) override {
        return inner->postAt(deadline, std::move(task));
    }
    std::unique_ptr<platform::Alarm> makeAlarm(platform::Alarm::Handler handler) override {
        return inner->makeAlarm(std::move(handler));
    }
    const std::shared_ptr<platform::ManualScheduler> inner = std::make_shared<platform::ManualScheduler>(startNanos);
    std::uint64_t ahead = 0;
};

// Whatever the queue's lateness and the wheel's time stamps, each axis's
// steps form whole gestures: began, changed ones, ended, and no step outside
// one. A glide superseded with steps still due posts none of them; the glide
// that supersedes it goes on from its last frame out, and a closing step
// still owed is never kept for a glide that goes on with its gesture.
TEST(ScrollPipelineRunningLate, EveryGestureBeginsBeforeItsStepsAndEndsOnceAfterThem) {
    struct Case {
        const char* name;
        double firstAt;       // the first detent, on the wheel's clock (ms; the queue starts at 5000)
        double queueRanTo;    // how far the queue's thread has posted when the second detent comes
        double queueAhead;    // how far the queue's clock has run past that
        std::int64_t secondLines;
        double secondAt;
        std::optional<double> secondGlideMillis; // the settings changed meanwhile
    };
    const std::vector<Case> cases{
        {"the closing step due on the queue's clock, then a detent in the same direction", 4999, 5249.99, 0.21, 1,
         5248.9, std::nullopt},
        {"a reversal stamped before a frame the queue has not posted", 4998, 5007, 1.2, -1, 5006.5, std::nullopt},
        {"the same with a glide of 1 ms after it", 4997, 5006, 0, -1, 5005.5, 1.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto queue = std::make_shared<LateQueue>();
        auto poster = std::make_shared<LoggingPoster>();
        auto pipeline = ScrollPipeline::create(smoothing(), poster, queue);
        const auto at = [](double millis) { return static_cast<std::uint64_t>(millis * 1e6); };
        pipeline->handle(detent(1, c.firstAt));
        queue->inner->advanceTo(at(c.queueRanTo));
        queue->ahead = at(c.queueAhead);
        if (c.secondGlideMillis) {
            ScrollSettings shorter = smoothing();
            shorter.durationMillis = shorter.frameIntervalMillis = *c.secondGlideMillis;
            pipeline->setSettings(shorter);
        }
        pipeline->handle(detent(c.secondLines, c.secondAt));
        queue->ahead = 0;
        queue->inner->advanceTo(at(6000));
        EXPECT_EQ(pipeline->inFlightPlanCount(), 0u);
        pipeline->reset();
        queue->inner->runUntilIdle();

        bool open = false;
        for (const auto& line : poster->log.lines()) {
            SCOPED_TRACE(line);
            if (line.find(" began ") != std::string::npos) {
                EXPECT_FALSE(open) << "began inside an open gesture";
                open = true;
            } else {
                EXPECT_TRUE(open) << "a step outside any gesture";
                if (line.find(" ended ") != std::string::npos) open = false;
            }
        }
        EXPECT_FALSE(open);
        EXPECT_EQ(pipeline->snapshotMetrics().gesturesForceClosed, 0) << "left open until the reset";
    }
}

// A detent stamped just before a frame that reaches the glide once the
// frame is due on the queue's clock, before the queue's thread has posted it:
// the glide that supersedes it goes on from the frame before, so that frame
// goes out once, as the new glide's first, and nothing of it is travelled
// twice or left out.
TEST(ScrollPipelineRunningLate, ADetentThatComesAfterAFrameWasDueGoesOnFromThatFrame) {
    auto queue = std::make_shared<LateQueue>();
    auto poster = std::make_shared<LoggingPoster>();
    ScrollSettings settings = smoothing();
    settings.accelerationEnabled = false;
    auto pipeline = ScrollPipeline::create(settings, poster, queue);
    const auto at = [](double millis) { return static_cast<std::uint64_t>(millis * 1e6); };
    pipeline->handle(detent(1, 5000));
    queue->inner->advanceTo(at(5006));
    pipeline->handle(detent(1, 5006));
    // The frame at 5008 is due on the queue's clock; its thread is behind.
    queue->inner->advanceTo(at(5007.95));
    queue->ahead = at(0.15);
    pipeline->handle(detent(1, 5007.9));
    queue->ahead = 0;
    queue->inner->advanceTo(at(5015.99));
    ASSERT_EQ(poster->log.lines().size(), 1u) << "the frame at 5008 once";
    queue->inner->advanceTo(at(5016));
    EXPECT_EQ(poster->log.lines().size(), 2u) << "the next glide's first frame at 5016";
    queue->inner->advance(1s);
    EXPECT_EQ(sumOfPixels(poster->log.lines()), 150);
}

TEST_F(ScrollPipelineTest, NewSettingsDoNotCutAGlideShortAndAReleasedPipelinePostsNothing) {
    pipeline->handle(detent(1, 0));
    advanceToMillis(40);
    auto off = smoothing();
    off.isEnabled = false;
    pipeline->setSettings(off);
    queue->advance(1s);
    EXPECT_EQ(sumOfPixels(posted()), 50);

    poster->log.clear();
    pipeline->setSettings(smoothing());
    pipeline->handle(detent(1, 2000));
    pipeline.reset();
    queue->advance(1s);
    EXPECT_TRUE(posted().empty());
}

TEST(ScrollPipelineOnItsQueue, GlidesReachThePosterFromTheScrollQueueAndDrainWaitsForDueSteps) {
    auto poster = std::make_shared<LoggingPoster>();
    auto pipeline = ScrollPipeline::create(smoothing(), poster);
    EXPECT_EQ(pipeline->handle(detent(2, 0)), ScrollDisposition::suppress);
    ASSERT_TRUE(poster->log.waitUntil([](const Lines& lines) { return !lines.empty() && lines.back().find("px ended ") != std::string::npos; }));
    pipeline->drain();
    EXPECT_EQ(sumOfPixels(poster->log.lines()), 100);
    EXPECT_EQ(pipeline->snapshotMetrics().pixelsPosted, 100);

    // A reset from another thread while a glide runs: what was posted plus
    // the force-closing step is all there is.
    pipeline->handle(detent(2, 1000));
    std::thread resetter([&] { pipeline->reset(); });
    resetter.join();
    pipeline->drain();
    const auto settled = poster->log.lines().size();
    EXPECT_EQ(pipeline->snapshotMetrics().stepsPosted + pipeline->snapshotMetrics().gesturesForceClosed,
              static_cast<std::int64_t>(settled));
}

// A poster that notes when each step reaches it on the monotonic clock.
class TimedPoster final : public EventPosting {
public:
    struct Step {
        std::uint64_t atNanos;
        std::int64_t pixels;
        ScrollPhase phase;
        std::int64_t glideRemaining;
    };
    void postScrollStep(ScrollAxis, std::int64_t pixelDelta, ScrollPhase phase, ModifierFlags,
                        std::int64_t glideRemainingPixels) override {
        const std::uint64_t now = platform::MonotonicClock::nowNanos();
        {
            std::lock_guard guard(lock_);
            steps_.push_back({now, pixelDelta, phase, glideRemainingPixels});
            pixels_ += pixelDelta;
        }
        changed_.notify_all();
    }
    void postKey(std::uint16_t, bool, ModifierFlags) override {}
    void postMouseButton(std::int64_t, bool) override {}

    // Once a step has been posted at `time` or later; false after the limit.
    bool waitForStepAfter(std::uint64_t time) {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, testing::generousLimit,
                                 [&] { return !steps_.empty() && steps_.back().atNanos >= time; });
    }
    std::vector<Step> steps() const {
        std::lock_guard guard(lock_);
        return steps_;
    }

private:
    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::vector<Step> steps_;
    std::int64_t pixels_ = 0;
};

// The scroll queue as deployed, noting each time its alarm fires how late
// it fired after the earliest deadline it was armed for: how long the
// machine kept the queue's thread from running.
class WatchedQueue final : public platform::Scheduler {
public:
    struct Firing {
        std::uint64_t deadline;
        std::uint64_t at;
    };
    void post(platform::Task task) override { queue_->post(std::move(task)); }
    bool isCurrent() const override { return queue_->isCurrent(); }
    std::uint64_t nowNanos() const override { return queue_->nowNanos(); }
    platform::TaskHandle postAt(std::uint64_t deadline, platform::Task task) override {
        return queue_->postAt(deadline, std::move(task));
    }
    std::unique_ptr<platform::Alarm> makeAlarm(platform::Alarm::Handler handler) override {
        return std::make_unique<WatchedAlarm>(*this, queue_->makeAlarm([this, handler = std::move(handler)]() mutable {
            {
                std::lock_guard guard(lock_);
                if (armed_) firings_.push_back({*armed_, platform::MonotonicClock::nowNanos()});
                armed_.reset();
            }
            handler();
        }));
    }
    std::vector<Firing> firings() const {
        std::lock_guard guard(lock_);
        return firings_;
    }

private:
    class WatchedAlarm final : public platform::Alarm {
    public:
        WatchedAlarm(WatchedQueue& queue, std::unique_ptr<platform::Alarm> alarm) : queue_(queue), alarm_(std::move(alarm)) {}
        void arm(std::uint64_t deadline, std::uint64_t leeway) override {
            {
                std::lock_guard guard(queue_.lock_);
                queue_.armed_ = queue_.armed_ ? std::min(*queue_.armed_, deadline) : deadline;
            }
            alarm_->arm(deadline, leeway);
        }

    private:
        WatchedQueue& queue_;
        std::unique_ptr<platform::Alarm> alarm_;
    };

    const std::shared_ptr<platform::Scheduler> queue_ = makePipelineQueue(ScrollPipeline::queueLabel);
    mutable std::mutex lock_;
    std::optional<std::uint64_t> armed_;
    std::vector<Firing> firings_;
};

// A spinning wheel on the real queue: detents faster than the frames. The
// glides that fold into one another post on the first glide's frame grid,
// so that nearly every frame of the spin carries a step (a frame whose
// steps all round to 0 pixels, or one the queue's thread wakes late for,
// may be empty), each within its frame (frames the queue's thread was kept
// from running through by the machine, which its alarm's firing shows, are
// left out of the count); and no pixel is lost or doubled on
// the way: with acceleration and no bound on the travel in flight, the
// pixels posted and those the last glide still has to post are the sum of
// every detent's travel, as the transformer reckons it when it is told
// nothing was delivered.
TEST(ScrollPipelineOnItsQueue, AFastSpinPostsAStepOnNearlyEveryFrameOfTheFirstGlidesGrid) {
    struct Case {
        double apartMillis;
        double durationMillis;
        double frameMillis;
    };
    const std::vector<Case> cases{{1, 250, 8}, {2, 250, 8}, {4, 250, 8}, {6, 250, 8},
                                  {1, 5000, 8}, {2, 5000, 8}, {4, 5000, 8}, {6, 5000, 8}};
    constexpr auto spin = 500ms;
    for (const Case& c : cases) {
        SCOPED_TRACE(fmt::format("{} ms apart, {} ms glide", c.apartMillis, c.durationMillis));
        ScrollSettings settings = smoothing();
        settings.durationMillis = c.durationMillis;
        settings.frameIntervalMillis = c.frameMillis;
        settings.maxInFlightPixels = 1'000'000;
        auto poster = std::make_shared<TimedPoster>();
        auto queue = std::make_shared<WatchedQueue>();
        auto pipeline = ScrollPipeline::create(settings, poster, queue);
        ScrollTransformer reference(settings);
        const auto apart = static_cast<std::uint64_t>(c.apartMillis * 1e6);
        const auto frame = static_cast<std::uint64_t>(c.frameMillis * 1e6);

        // The first glide's first step is one frame after its detent, on the
        // queue's clock, and no earlier than that.
        const std::uint64_t start = platform::MonotonicClock::nowNanos();
        const std::uint64_t spinEnd = start + static_cast<std::uint64_t>(std::chrono::nanoseconds(spin).count());
        std::int64_t travel = 0;
        for (std::uint64_t at = start; at < spinEnd; at += apart) {
            const std::uint64_t now = platform::MonotonicClock::nowNanos();
            if (at > now) std::this_thread::sleep_for(std::chrono::nanoseconds(at - now));
            // Stamped as the tap stamps it, when it reads the event.
            const std::uint64_t stamp = at == start ? start : platform::MonotonicClock::nowNanos();
            const ScrollInput input = detent(1, static_cast<double>(stamp) / 1e6);
            ASSERT_EQ(pipeline->handle(input), ScrollDisposition::suppress);
            const ScrollOutcome outcome = reference.transform(input, GlideDelivery{0, input.timestampMillis});
            ASSERT_NE(outcome.plan(), nullptr);
            travel = outcome.plan()->totalPixelDelta;
        }
        const std::uint64_t lastDetent = platform::MonotonicClock::nowNanos();
        ASSERT_TRUE(poster->waitForStepAfter(lastDetent + 2 * frame));
        const auto steps = poster->steps();
        pipeline->reset();
        pipeline->drain();

        // What was posted and what the last glide still had to post.
        std::int64_t pixels = steps.back().glideRemaining - steps.back().pixels;
        for (const auto& step : steps) pixels += step.pixels;
        EXPECT_EQ(pixels, travel);

        // The frames of the grid during the spin, and those with a step.
        const std::uint64_t firstFrame = start + frame;
        const std::size_t frames = (lastDetent - firstFrame) / frame;
        std::vector<bool> stepped(frames, false);
        for (const auto& step : steps) {
            ASSERT_GE(step.atNanos, firstFrame) << "no step before the first frame";
            const std::size_t k = (step.atNanos - firstFrame) / frame;
            if (k < frames) stepped[k] = true;
        }
        // A firing more than a frame after its deadline: the frames it spans
        // had no thread to post them.
        std::vector<bool> starved(frames, false);
        for (const auto& firing : queue->firings()) {
            if (firing.at < firing.deadline || firing.at - firing.deadline <= frame || firing.at < firstFrame) continue;
            const std::size_t from = firing.deadline < firstFrame ? 0 : (firing.deadline - firstFrame) / frame;
            for (std::size_t k = from; k < frames && k <= (firing.at - firstFrame) / frame; ++k) starved[k] = true;
        }
        std::size_t counted = 0, withSteps = 0;
        std::string missing;
        for (std::size_t k = 0; k < frames; ++k) {
            if (starved[k] && !stepped[k]) continue;
            ++counted;
            if (stepped[k]) ++withSteps;
            else missing += " " + std::to_string(k);
        }
        EXPECT_GE(withSteps * 10, counted * 9) << withSteps << " of " << counted << " frames posted a step; none in" << missing;
    }
}

// A spinning wheel at the user's own settings (the factory glide, the
// in-flight bound of 4,000 pixels), on virtual time: detents a few tenths of
// a millisecond off their beat, as a hand gives them, at every pace from a
// free spin to slow notches. While it spins steadily, the page moves about
// as far at every frame, and never stands still; by the last detent it is
// within 5 points of the pace limit (every detent gliding alone, the glides
// added up), and when the wheel stops the glide runs out at the pace it had:
// no step after the last detent much larger than those just before it.
// Without acceleration nothing the wheel turned is lost.
TEST(ScrollPipelineSpin, ThePageFollowsTheWheelEvenlyAndOnPaceAtEverySpeed) {
    struct Spin {
        int detents;
        double apartMillis;
        bool accelerate;
        double leastShare; // of what the spin posted, by its last detent
        bool steady;       // long enough for the middle of it to be steady
    };
    const std::vector<Spin> spins{
        {250, 2, false, 0.80, true}, {60, 2, false, 0.45, false},  {250, 2, true, 0.80, true},
        {100, 4, false, 0.75, true}, {100, 10, false, 0.80, true}, {100, 12, false, 0.80, true},
        {100, 16, false, 0.80, true}, {40, 50, false, 0.94, true},
    };
    const std::vector<double> offBeat{0, 0.35, -0.2, 0.45, -0.4, 0.15, -0.05};
    for (const Spin& spin : spins) {
        SCOPED_TRACE(fmt::format("{} detents {} ms apart{}", spin.detents, spin.apartMillis,
                                 spin.accelerate ? ", accelerated" : ""));
        ScrollSettings settings = smoothing();
        settings.accelerationEnabled = spin.accelerate;
        auto queue = std::make_shared<platform::ManualScheduler>(startNanos);
        auto poster = std::make_shared<testing::StepTimingPoster>([queue] { return queue->nowNanos(); });
        auto pipeline = ScrollPipeline::create(settings, poster, queue);
        std::vector<double> times;
        std::uint64_t last = 0;
        for (int i = 0; i < spin.detents; ++i) {
            const double wobble = i == 0 ? 0 : offBeat[static_cast<std::size_t>(i) % offBeat.size()];
            last = startNanos + static_cast<std::uint64_t>((spin.apartMillis * i + wobble) * 1e6);
            queue->advanceTo(last);
            times.push_back(static_cast<double>(last) / 1e6);
            pipeline->handle(detent(1, times.back()));
        }
        queue->advance(1s);
        const testing::SpinPace pace = testing::paceOf(poster->take(), startNanos, last, 8'000'000);
        const std::int64_t turned = 50 * spin.detents;
        if (spin.accelerate) EXPECT_LE(pace.posted, 6 * turned);
        else EXPECT_EQ(pace.posted, turned) << "every pixel the wheel turned";
        EXPECT_GE(pace.shareByLastDetent, spin.leastShare) << "out by the last detent";
        if (!spin.accelerate) {
            const double limit = testing::superposedShareByLastDetent(settings, times);
            EXPECT_GE(pace.shareByLastDetent, limit - 0.05) << "the pace limit is " << limit;
        }
        EXPECT_LE(2 * pace.largestAfter, 3 * pace.largestDuring)
            << "largest step after the spin " << pace.largestAfter << ", in its last 50 ms " << pace.largestDuring;
        if (!spin.steady) continue;
        EXPECT_EQ(pace.emptyFrames, 0);
        EXPECT_LE(pace.frameP90 * 10, pace.frameP10 * 16)
            << "frames of " << pace.frameP10 << ", " << pace.frameMedian << ", " << pace.frameP90 << " px";
    }
}

} // namespace
} // namespace ravolet
