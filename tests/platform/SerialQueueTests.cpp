#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Platform/DispatchTimer.hpp"
#include "Platform/MonotonicClock.hpp"
#include "Platform/SerialQueue.hpp"
#include "ThreadTestSupport.hpp"

namespace ravolet::platform {
namespace {

using testing::Counter;
using testing::Recorder;
using testing::Sentinel;

constexpr std::uint64_t ms = 1'000'000;


TEST(SerialQueue, AsyncIsFifoAcrossThreadsOnTheQueuesOwnThread) {
    SerialQueue queue("ai.ravolet.scroll", QueuePriority::userInteractive);
    EXPECT_EQ(queue.label(), "ai.ravolet.scroll");
    EXPECT_EQ(queue.priority(), QueuePriority::userInteractive);
    EXPECT_FALSE(queue.isCurrent());

    testing::expectFifoAcrossThreads(queue, "ai.ravolet.scroll");
    queue.sync([&] { EXPECT_EQ(currentThreadPriority(), QueuePriority::userInteractive); });
}

TEST(SerialQueue, SyncFromAnotherThreadDrainsWhatWasEnqueuedBefore) {
    SerialQueue queue("ai.ravolet.macro", QueuePriority::userInteractive);
    int done = 0; // only touched on the queue, and read after sync
    for (int i = 0; i < 200; ++i) queue.async([&] { ++done; });
    int seen = -1;
    bool onQueue = false;
    queue.sync([&] {
        seen = done;
        onQueue = queue.isCurrent();
    });
    EXPECT_EQ(seen, 200);
    EXPECT_TRUE(onQueue);

    // From several threads at once.
    std::vector<std::thread> threads;
    std::atomic<int> synced{0};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 50; ++i) queue.sync([&] { ++synced; });
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(synced.load(), 200);
}

TEST(SerialQueue, SyncOnTheQueueItselfIsAProgrammingError) {
    SerialQueue queue("self", QueuePriority::defaultPriority);
#ifdef NDEBUG
    // Release builds run the block on the spot instead of deadlocking.
    bool ran = false;
    queue.sync([&] { queue.sync([&] { ran = true; }); });
    EXPECT_TRUE(ran);
#else
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(queue.sync([&] { queue.sync([] {}); }), "");
#endif
}

TEST(SerialQueue, DeadlinesAreHonouredInOrderAndCancelledBlocksStaySilent) {
    SerialQueue queue("deadlines", QueuePriority::userInteractive);
    struct Run {
        std::string name;
        std::uint64_t at;
        std::uint64_t deadline;
    };
    Recorder<Run> runs;
    // The queue is held busy until everything is scheduled and the one block
    // cancelled, however slow this thread is.
    Counter gate;
    queue.async([&] {
        runs.add({"now", MonotonicClock::nowNanos(), 0});
        gate.waitFor(1);
    });
    const std::uint64_t base = MonotonicClock::nowNanos();
    auto at = [&](std::string name, std::uint64_t offset) {
        const std::uint64_t deadline = base + offset;
        return queue.asyncAfter(deadline, [&runs, name, deadline] {
            runs.add({name, MonotonicClock::nowNanos(), deadline});
        });
    };
    at("30ms", 30 * ms);
    at("10ms", 10 * ms);
    at("20ms a", 20 * ms);
    at("20ms b", 20 * ms);
    TaskHandle cancelled = at("cancelled", 15 * ms);
    cancelled.cancel();
    queue.postAfter(std::chrono::milliseconds(40), [&] { runs.add({"after", MonotonicClock::nowNanos(), base + 40 * ms}); });
    gate.increment();
    ASSERT_TRUE(runs.waitForCount(6));
    std::vector<std::string> names;
    for (const Run& run : runs.values()) {
        names.push_back(run.name);
        EXPECT_GE(run.at, run.deadline) << run.name << " ran early";
    }
    EXPECT_EQ(names, (std::vector<std::string>{"now", "10ms", "20ms a", "20ms b", "30ms", "after"}));
    // The cancelled block's time has long passed: a marker behind it runs, it does not.
    queue.sync([] {});
    EXPECT_EQ(runs.values().size(), 6u);
}

TEST(SerialQueue, RepeatingTimerNeverFiresEarlyAndIsSilentAfterCancel) {
    SerialQueue queue("ai.ravolet.macro", QueuePriority::userInteractive);
    Recorder<std::uint64_t> fires;
    const std::uint64_t start = MonotonicClock::nowNanos() + 5 * ms;
    auto timer = DispatchTimer::create(queue, start, 5 * ms, 2 * ms, [&] {
        EXPECT_TRUE(queue.isCurrent());
        fires.add(MonotonicClock::nowNanos());
    });
    timer->resume();
    ASSERT_TRUE(fires.waitForCount(4));
    queue.sync([&] { timer->cancel(); });
    const auto before = fires.values();
    for (std::size_t i = 0; i < before.size(); ++i)
        EXPECT_GE(before[i], start + i * 5 * ms) << "fire " << i << " early";

    // Three intervals later nothing more has fired.
    Counter marker;
    queue.asyncAfter(MonotonicClock::nowNanos() + 15 * ms, [&] { marker.increment(); });
    ASSERT_TRUE(marker.waitFor(1));
    EXPECT_EQ(fires.values().size(), before.size());
}

TEST(SerialQueue, DestroyingWithPendingWorkReleasesItUnrunAndWaitsOnlyForTheRunningBlock) {
    Counter released, gate, started;
    std::atomic<int> ranAfterwards{0};
    auto queue = std::make_unique<SerialQueue>("teardown", QueuePriority::utility);
    queue->async([&] {
        started.increment();
        gate.waitFor(1);
    });
    queue->async([&, s = std::make_shared<Sentinel>(&released)] { ++ranAfterwards; });
    queue->asyncAfter(MonotonicClock::nowNanos() + 3600'000 * ms,
                      [&, s = std::make_shared<Sentinel>(&released)] { ++ranAfterwards; });
    auto timer = DispatchTimer::create(*queue, MonotonicClock::nowNanos(), 1 * ms, 0, [&] { ++ranAfterwards; });
    timer->resume();
    ASSERT_TRUE(started.waitFor(1));

    std::thread destroyer([&] { queue.reset(); });
    // The destructor releases the pending blocks before it waits for the busy one.
    ASSERT_TRUE(released.waitFor(2));
    gate.increment();
    destroyer.join();
    EXPECT_EQ(ranAfterwards.load(), 0);
    timer->cancel();
}

TEST(SerialQueue, AQueueDestroyedByItsOwnBlockLetsThatBlockFinish) {
    struct Owner {
        SerialQueue queue{"owned", QueuePriority::defaultPriority};
        Counter* destroyed;
        explicit Owner(Counter* counter) : destroyed(counter) {}
        ~Owner() { destroyed->increment(); }
    };
    Counter destroyed, gate;
    std::atomic<int> ranAfterwards{0};
    auto owner = std::make_shared<Owner>(&destroyed);
    Owner* raw = owner.get();
    // The block holds the last reference; the queue goes with it on its own thread.
    raw->queue.async([&, owner]() mutable {
        gate.waitFor(1);
        owner.reset();
    });
    raw->queue.async([&] { ++ranAfterwards; });
    owner.reset();
    gate.increment();
    ASSERT_TRUE(destroyed.waitFor(1));
    EXPECT_EQ(ranAfterwards.load(), 0);
}

} // namespace
} // namespace ravolet::platform
