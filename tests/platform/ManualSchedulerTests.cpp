#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "Platform/DispatchTimer.hpp"
#include "Platform/Simulated/ManualScheduler.hpp"

namespace ravolet::platform {
namespace {

using namespace std::chrono_literals;

struct Fired {
    std::string what;
    std::uint64_t at;
    bool operator==(const Fired&) const = default;
};

TEST(ManualScheduler, RunsBlocksInDeadlineOrderAtTheirVirtualTimes) {
    ManualScheduler scheduler(1000);
    std::vector<Fired> fired;
    auto record = [&](std::string what) {
        return [&fired, &scheduler, what] { fired.push_back({what, scheduler.nowNanos()}); };
    };
    scheduler.postAt(1300, record("c"));
    scheduler.postAt(1100, record("a"));
    scheduler.postAfter(200ns, record("b1")); // 1200
    scheduler.postAt(1200, record("b2"));     // same deadline: in scheduling order
    scheduler.post(record("now"));
    EXPECT_EQ(scheduler.pendingCount(), 5u);
    EXPECT_EQ(scheduler.nextDeadline(), 1000u);

    EXPECT_EQ(scheduler.runUntilIdle(), 1u);
    EXPECT_EQ(scheduler.nowNanos(), 1000u);
    EXPECT_EQ(scheduler.advance(250ns), 3u);
    EXPECT_EQ(scheduler.nowNanos(), 1250u);
    EXPECT_EQ(scheduler.advanceTo(5000), 1u);
    EXPECT_EQ(scheduler.nowNanos(), 5000u);
    EXPECT_EQ(fired, (std::vector<Fired>{{"now", 1000}, {"a", 1100}, {"b1", 1200}, {"b2", 1200}, {"c", 1300}}));
    EXPECT_EQ(scheduler.pendingCount(), 0u);
    EXPECT_FALSE(scheduler.nextDeadline().has_value());
}

TEST(ManualScheduler, BlocksScheduledByBlocksRunWithinTheSameAdvance) {
    ManualScheduler scheduler;
    std::vector<Fired> fired;
    scheduler.postAt(10, [&] {
        fired.push_back({"first", scheduler.nowNanos()});
        scheduler.postAfter(5ns, [&] { fired.push_back({"chained", scheduler.nowNanos()}); });
        scheduler.postAfter(50ns, [&] { fired.push_back({"later", scheduler.nowNanos()}); });
        scheduler.post([&] { fired.push_back({"posted", scheduler.nowNanos()}); });
    });
    EXPECT_EQ(scheduler.advance(20ns), 3u);
    EXPECT_EQ(fired, (std::vector<Fired>{{"first", 10}, {"posted", 10}, {"chained", 15}}));
    EXPECT_EQ(scheduler.nowNanos(), 20u);
    EXPECT_EQ(scheduler.runAll(), 1u);
    EXPECT_EQ(fired.back(), (Fired{"later", 60}));
}

TEST(ManualScheduler, CancelledBlocksNeverRunAndTimeNeverGoesBack) {
    ManualScheduler scheduler(100);
    int runs = 0;
    TaskHandle cancelled = scheduler.postAt(150, [&] { runs += 100; });
    TaskHandle kept = scheduler.postAt(150, [&] { runs += 1; });
    cancelled.cancel();
    cancelled.cancel(); // twice is harmless
    EXPECT_TRUE(cancelled.isCancelled());
    EXPECT_FALSE(kept.isCancelled());
    EXPECT_EQ(scheduler.advanceTo(200), 1u);
    EXPECT_EQ(runs, 1);
    kept.cancel(); // after it ran: harmless
    EXPECT_EQ(scheduler.advanceTo(50), 0u);
    EXPECT_EQ(scheduler.nowNanos(), 200u);
    scheduler.postAfter(-5ms, [&] { runs += 10; }); // negative delay: due now
    EXPECT_EQ(scheduler.runUntilIdle(), 1u);
    EXPECT_EQ(runs, 11);

    TaskHandle inert;
    inert.cancel();
    EXPECT_FALSE(inert.isCancelled());
    EXPECT_FALSE(static_cast<bool>(inert));
}

TEST(ManualScheduler, IsCurrentOnlyWhileRunningItsBlocksAndAcceptsOtherThreads) {
    ManualScheduler scheduler;
    EXPECT_FALSE(scheduler.isCurrent());
    bool currentInside = false;
    bool currentElsewhere = true;
    std::thread poster([&] {
        scheduler.post([&] {
            currentInside = scheduler.isCurrent();
            std::thread other([&] { currentElsewhere = scheduler.isCurrent(); });
            other.join();
        });
    });
    poster.join();
    EXPECT_EQ(scheduler.runUntilIdle(), 1u);
    EXPECT_TRUE(currentInside);
    EXPECT_FALSE(currentElsewhere);
    EXPECT_FALSE(scheduler.isCurrent());
}

TEST(DispatchTimer, RepeatsFromItsStartAndFallsSilentWhenCancelled) {
    ManualScheduler scheduler(0);
    std::vector<std::uint64_t> fires;
    auto timer = DispatchTimer::create(scheduler, 10'000'000, 10'000'000, 2'000'000,
                                       [&] { fires.push_back(scheduler.nowNanos()); });
    EXPECT_EQ(timer->leewayNanos(), 2'000'000u);
    scheduler.advance(50ms);
    EXPECT_TRUE(fires.empty()); // created suspended
    timer->resume();
    timer->resume(); // once is enough
    scheduler.advance(45ms);    // 50 → 95 ms: deadlines were 10, 20, ... ms, long past
    // A start in the past fires at once; the missed deadlines merge into it.
    ASSERT_FALSE(fires.empty());
    EXPECT_EQ(fires.front(), 50'000'000u);
    fires.clear();

    auto second = DispatchTimer::create(scheduler, scheduler.nowNanos() + 10'000'000, 10'000'000, 0,
                                        [&] { fires.push_back(scheduler.nowNanos()); });
    timer->cancel();
    second->resume();
    scheduler.advance(35ms);
    EXPECT_EQ(fires, (std::vector<std::uint64_t>{105'000'000, 115'000'000, 125'000'000}));
    second->cancel();
    EXPECT_TRUE(second->isCancelled());
    scheduler.advance(100ms);
    EXPECT_EQ(fires.size(), 3u);
    EXPECT_EQ(scheduler.runAll(), 0u);
}

TEST(DispatchTimer, OneShotFiresOnceAndAReleasedOrSelfCancelledTimerStops) {
    ManualScheduler scheduler;
    int oneShot = 0, released = 0, selfCancelled = 0;
    auto once = DispatchTimer::create(scheduler, 5, 0, 0, [&] { ++oneShot; });
    once->resume();
    auto dropped = DispatchTimer::create(scheduler, 5, 5, 0, [&] { ++released; });
    dropped->resume();
    std::shared_ptr<DispatchTimer> self;
    self = DispatchTimer::create(scheduler, 5, 5, 0, [&] {
        if (++selfCancelled == 2) self->cancel();
    });
    self->resume();
    scheduler.advanceTo(5);
    EXPECT_EQ(released, 1);
    dropped.reset();
    scheduler.advanceTo(100);
    EXPECT_EQ(oneShot, 1);
    EXPECT_TRUE(once->isCancelled());
    EXPECT_EQ(released, 1);
    EXPECT_EQ(selfCancelled, 2);
    EXPECT_EQ(scheduler.pendingCount(), 0u);
}

} // namespace
} // namespace ravolet::platform
