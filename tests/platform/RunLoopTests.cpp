#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <functional>
#include <unistd.h>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Platform/MonotonicClock.hpp"
#include "Platform/RunLoop.hpp"
#include "Platform/RunLoopThread.hpp"
#include "ThreadTestSupport.hpp"

namespace ravolet::platform {
namespace {

using testing::Counter;
using testing::Recorder;
using testing::Sentinel;
using namespace std::chrono_literals;

constexpr std::uint64_t ms = 1'000'000;


TEST(RunLoop, PerformIsFifoAcrossThreadsAndRunsOnTheLoopThread) {
    RunLoopThread loopThread("ai.ravolet.event-tap", ThreadPriority::userInteractive, 0);
    ASSERT_TRUE(loopThread.start());
    EXPECT_FALSE(loopThread.start()); // already running
    auto loop = loopThread.runLoop();
    ASSERT_TRUE(loop);
    EXPECT_FALSE(loop->isCurrent());

    testing::expectFifoAcrossThreads(*loop, "ai.ravolet.event-tap");

    // A block performed by a block runs after the blocks already waiting.
    Recorder<std::string> order;
    loop->perform([&] {
        loop->perform([&] {
            order.add("first");
            loop->perform([&] { order.add("from first"); });
        });
        loop->perform([&] { order.add("second"); });
    });
    ASSERT_TRUE(order.waitForCount(3));
    EXPECT_EQ(order.values(), (std::vector<std::string>{"first", "second", "from first"}));
}

TEST(RunLoop, RunForReturnsWhenTimeIsUpOrWhenStoppedAndKeepsAnEarlyStop) {
    auto loop = RunLoop::current();
    EXPECT_EQ(RunLoop::current(), loop);
    EXPECT_TRUE(loop->isCurrent());
    EXPECT_FALSE(loop->isRunning());

    const std::uint64_t start = MonotonicClock::nowNanos();
    EXPECT_EQ(loop->runFor(0.02), RunResult::timedOut);
    EXPECT_GE(MonotonicClock::nowNanos() - start, 20 * ms);

    // A stop that comes before the run ends the next run at once.
    loop->stop();
    EXPECT_EQ(loop->runFor(3600), RunResult::stopped);

    // Blocks run during the run; a stop from another thread ends it.
    bool ranInside = false;
    Counter blockRan;
    loop->perform([&] {
        ranInside = loop->isRunning();
        blockRan.increment();
    });
    std::thread stopper([&] {
        blockRan.waitFor(1);
        loop->stop();
    });
    EXPECT_EQ(loop->runFor(3600), RunResult::stopped);
    stopper.join();
    EXPECT_TRUE(ranInside);
    EXPECT_FALSE(loop->isRunning());
}

TEST(RunLoop, TimersFireInDeadlineOrderNeverEarlyAndInvalidatedOnesStaySilent) {
    auto loop = RunLoop::current();
    struct Fire {
        std::string name;
        std::uint64_t at;
        std::uint64_t deadline;
    };
    std::vector<Fire> fires;
    const std::uint64_t base = MonotonicClock::nowNanos();
    auto record = [&](std::string name, std::uint64_t deadline) {
        return [&fires, name, deadline] { fires.push_back({name, MonotonicClock::nowNanos(), deadline}); };
    };
    auto late = loop->addTimer(base + 30 * ms, 0, record("30ms", base + 30 * ms));
    auto early = loop->addTimer(base + 10 * ms, 0, record("10ms", base + 10 * ms));
    auto tieA = loop->addTimer(base + 20 * ms, 0, record("20ms a", base + 20 * ms));
    auto tieB = loop->addTimer(base + 20 * ms, 0, record("20ms b", base + 20 * ms));
    auto silent = loop->addTimer(base + 15 * ms, 0, [&] { fires.push_back({"invalidated", 0, 0}); });
    silent->invalidate();
    silent->invalidate(); // twice is harmless
    EXPECT_FALSE(silent->isValid());
    TaskHandle cancelled = loop->postAt(base + 5 * ms, [&] { fires.push_back({"cancelled", 0, 0}); });
    cancelled.cancel();

    // A repeating timer that fires three times and then invalidates itself.
    std::shared_ptr<RunLoopTimer> repeating;
    int repeats = 0;
    repeating = loop->addTimer(base + 40 * ms, 10 * ms, [&] {
        ++repeats;
        const std::uint64_t deadline = base + 40 * ms + static_cast<std::uint64_t>(repeats - 1) * 10 * ms;
        fires.push_back({"repeat", MonotonicClock::nowNanos(), deadline});
        if (repeats == 3) {
            repeating->invalidate();
            loop->stop();
        }
    });

    EXPECT_EQ(loop->runFor(60), RunResult::stopped);
    std::vector<std::string> names;
    for (const Fire& fire : fires) {
        names.push_back(fire.name);
        EXPECT_GE(fire.at, fire.deadline) << fire.name << " fired early";
    }
    EXPECT_EQ(names, (std::vector<std::string>{"10ms", "20ms a", "20ms b", "30ms", "repeat", "repeat", "repeat"}));
    EXPECT_FALSE(early->isValid()); // a one-shot timer is done once it fired
    EXPECT_FALSE(repeating->isValid());
    EXPECT_EQ(repeats, 3);
}

class CountingSource : public RunLoopSource {
public:
    Counter performed;
    std::atomic<bool> onLoopThread{true};
    std::shared_ptr<RunLoop> expectedLoop;

protected:
    void perform() override {
        if (!expectedLoop || !expectedLoop->isCurrent()) onLoopThread = false;
        performed.increment();
    }
};

TEST(RunLoop, SignalledSourcesAreServicedOnTheLoopUntilRemoved) {
    RunLoopThread loopThread("sources", ThreadPriority::userInitiated, 0);
    ASSERT_TRUE(loopThread.start());
    auto loop = loopThread.runLoop();
    auto source = std::make_shared<CountingSource>();
    source->expectedLoop = loop;

    // A signal given before the source is added waits for it.
    source->signal();
    EXPECT_TRUE(source->isSignalled());
    loop->addSource(source);
    EXPECT_TRUE(loop->containsSource(source));
    ASSERT_TRUE(source->performed.waitFor(1));

    std::thread signaller([&] { source->signal(); });
    signaller.join();
    ASSERT_TRUE(source->performed.waitFor(2));
    EXPECT_TRUE(source->onLoopThread.load());

    // Once removed, a signal is not serviced: a block performed afterwards runs
    // and the count stays.
    loop->removeSource(source);
    EXPECT_FALSE(loop->containsSource(source));
    source->signal();
    Counter marker;
    loop->perform([&] { marker.increment(); });
    ASSERT_TRUE(marker.waitFor(1));
    EXPECT_EQ(source->performed.value(), 2);
}

// Reads a pipe on the loop it is added to, as a device reader does.
class PipeReader : public RunLoopSource {
public:
    int descriptor = -1;
    std::shared_ptr<RunLoop> expectedLoop;
    std::atomic<bool> onLoopThread{true};
    Recorder<std::string> reads; // what each call read; "end" at the end of input
    Counter performed;

protected:
    void perform() override {
        if (!expectedLoop || !expectedLoop->isCurrent()) onLoopThread = false;
        std::string text;
        char buffer[64];
        for (;;) {
            const auto n = ::read(descriptor, buffer, sizeof buffer);
            if (n > 0) {
                text.append(buffer, static_cast<std::size_t>(n));
                continue;
            }
            if (n == 0) text += "end";
            break;
        }
        if (!text.empty()) reads.add(text);
        performed.increment();
    }
};

TEST(RunLoop, DescriptorSourcesAreReadOnTheLoopThreadEvenWhenBusyAndLetGoOnceHungUp) {
    RunLoopThread loopThread("ai.ravolet.event-tap", ThreadPriority::userInteractive, 0);
    ASSERT_TRUE(loopThread.start());
    auto loop = loopThread.runLoop();
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_NONBLOCK | O_CLOEXEC), 0);
    auto source = std::make_shared<PipeReader>();
    source->descriptor = ends[0];
    source->expectedLoop = loop;
    ASSERT_TRUE(loop->addSource(source, ends[0]));
    EXPECT_TRUE(loop->containsSource(source));

    // An idle loop wakes for the input.
    ASSERT_EQ(::write(ends[1], "abc", 3), 3);
    ASSERT_TRUE(source->reads.waitForCount(1));

    // Timers another thread adds while the loop sleeps in its poll fire at
    // their time, never early, the later one added first.
    std::vector<std::uint64_t> due;
    std::vector<std::atomic<std::uint64_t>> firedAt(2);
    const std::uint64_t start = MonotonicClock::nowNanos();
    std::vector<std::shared_ptr<RunLoopTimer>> timers;
    for (const std::uint64_t after : {80 * ms, 30 * ms}) {
        due.push_back(start + after);
        timers.push_back(loop->addTimer(due.back(), 0, [&firedAt, i = due.size() - 1] { firedAt[i] = MonotonicClock::nowNanos(); }));
    }
    for (int i = 0; i < 400 && firedAt[0] == 0; ++i) std::this_thread::sleep_for(5ms);
    ASSERT_NE(firedAt[0].load(), 0u);
    ASSERT_NE(firedAt[1].load(), 0u);
    EXPECT_GE(firedAt[0].load(), due[0]);
    EXPECT_GE(firedAt[1].load(), due[1]);
    EXPECT_LT(firedAt[1].load(), firedAt[0].load());

    // A loop kept busy by blocks still looks at its descriptors.
    std::atomic<bool> busy{true};
    std::function<void()> spin = [&] {
        if (busy) loop->perform([&] { spin(); });
    };
    loop->perform([&] { spin(); });
    ASSERT_EQ(::write(ends[1], "def", 3), 3);
    ASSERT_TRUE(source->reads.waitForCount(2));
    busy = false;

    // The hang-up is reported once; the loop then stops watching, rather
    // than waking for it again and again.
    ::close(ends[1]);
    ASSERT_TRUE(source->reads.waitForCount(3));
    // A block performed now runs once the call that read the end is over.
    Counter marker;
    loop->perform([&] { marker.increment(); });
    ASSERT_TRUE(marker.waitFor(1));
    const int calls = source->performed.value();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(source->performed.value(), calls);
    EXPECT_EQ(source->reads.values(), (std::vector<std::string>{"abc", "def", "end"}));
    EXPECT_TRUE(source->onLoopThread.load());

    loop->removeSource(source);
    EXPECT_FALSE(loop->containsSource(source));
    ::close(ends[0]);
}

TEST(RunLoopThread, TeardownReleasesPendingWorkWithoutRunningItAndRestartsCleanly) {
    RunLoopThread loopThread("ai.ravolet.event-tap", ThreadPriority::userInteractive, 0x80000);
    ASSERT_TRUE(loopThread.start());
    std::shared_ptr<RunLoop> first = loopThread.runLoop();

    // A block stops the thread from inside (no join on itself) and leaves a
    // block and a far timer behind; both are released, neither runs.
    Counter released;
    std::atomic<int> ranAfterStop{0};
    loopThread.perform([&, first] {
        first->perform([&, s = std::make_shared<Sentinel>(&released)] { ++ranAfterStop; });
        first->addTimer(MonotonicClock::nowNanos() + 3600'000 * ms, 0,
                        [&, s = std::make_shared<Sentinel>(&released)] { ++ranAfterStop; });
        loopThread.stop();
    });
    ASSERT_TRUE(released.waitFor(2));
    EXPECT_FALSE(loopThread.isRunning());
    EXPECT_EQ(loopThread.runLoop(), nullptr);

    // Work handed to the ended loop is dropped at once.
    first->perform([&, s = std::make_shared<Sentinel>(&released)] { ++ranAfterStop; });
    EXPECT_EQ(released.value(), 3);
    EXPECT_FALSE(first->addTimer(0, 0, [] {})->isValid());

    // Started again: a new thread and a new loop, with the same name.
    ASSERT_TRUE(loopThread.start());
    std::shared_ptr<RunLoop> second = loopThread.runLoop();
    EXPECT_NE(second, first);
    Recorder<std::string> names;
    loopThread.perform([&] { names.add(currentThreadName()); });
    ASSERT_TRUE(names.waitForCount(1));
    EXPECT_EQ(names.values().front(), "ai.ravolet.event-tap");

    // Stopped from outside with a block waiting behind a busy one and a timer
    // an hour away: stop() waits only for the busy block.
    Counter gate;
    loopThread.perform([&] { gate.waitFor(1); });
    second->addTimer(MonotonicClock::nowNanos() + 3600'000 * ms, 0,
                     [&, s = std::make_shared<Sentinel>(&released)] { ++ranAfterStop; });
    std::thread stopper([&] { loopThread.stop(); });
    gate.increment();
    stopper.join();
    second.reset();
    ASSERT_TRUE(released.waitFor(4));
    EXPECT_EQ(ranAfterStop.load(), 0);
    loopThread.stop(); // harmless when stopped
}

} // namespace
} // namespace ravolet::platform
