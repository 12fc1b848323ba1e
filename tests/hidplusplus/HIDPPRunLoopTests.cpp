#include <gtest/gtest.h>

#include <pthread.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "HIDPlusPlus/HIDPPRunLoop.hpp"
#include "Platform/MonotonicClock.hpp"
#include "Platform/Thread.hpp"
#include "../platform/ThreadTestSupport.hpp"

namespace ravolet {
namespace {

using namespace std::chrono_literals;
using platform::testing::Recorder;
using platform::testing::waitLimit;

// Threads of this process whose kernel name is the given one.
int threadsNamed(const std::string& kernelName) {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(entry.path() / "comm");
        std::string name;
        std::getline(comm, name);
        if (name == kernelName) ++count;
    }
    return count;
}


TEST(HIDPPRunLoop, ConcurrentFirstUseCreatesOneInstanceAndOneThread) {
    // Each test runs in a process of its own, so this is the first use.
    constexpr int contenders = 8;
    std::mutex mutex;
    std::condition_variable go;
    bool released = false;
    std::vector<HIDPPRunLoop*> seen(contenders, nullptr);
    std::vector<std::thread> threads;
    for (int i = 0; i < contenders; ++i)
        threads.emplace_back([&, i] {
            {
                std::unique_lock lock(mutex);
                go.wait(lock, [&] { return released; });
            }
            seen[i] = &HIDPPRunLoop::shared();
            // shared() returns only once the I/O thread has published its loop.
            EXPECT_NE(seen[i]->runLoop(), nullptr);
        });
    {
        std::lock_guard lock(mutex);
        released = true;
    }
    go.notify_all();
    for (auto& t : threads) t.join();
    for (HIDPPRunLoop* instance : seen) EXPECT_EQ(instance, &HIDPPRunLoop::shared());
    EXPECT_EQ(threadsNamed("ai.ravolet.hidp"), 1);
    EXPECT_EQ(HIDPPRunLoop::shared().runLoop(), HIDPPRunLoop::shared().runLoop());
}

TEST(HIDPPRunLoop, RunsBlocksOnItsNamedThreadInSubmissionOrder) {
    struct Seen {
        std::string name;
        platform::ThreadPriority priority;
        std::size_t stack;
        bool onLoop;
    };
    Recorder<Seen> seen;
    auto& hid = HIDPPRunLoop::shared();
    hid.perform([&] {
        std::size_t stack = 0;
        pthread_attr_t attr;
        if (pthread_getattr_np(pthread_self(), &attr) == 0) {
            pthread_attr_getstacksize(&attr, &stack);
            pthread_attr_destroy(&attr);
        }
        seen.add({platform::currentThreadName(), platform::currentThreadPriority(), stack,
                  hid.runLoop()->isCurrent()});
    });
    ASSERT_TRUE(seen.waitForCount(1));
    const Seen s = seen.values().front();
    EXPECT_EQ(s.name, "ai.ravolet.hidpp");
    EXPECT_EQ(s.priority, platform::ThreadPriority::userInitiated);
    EXPECT_GE(s.stack, 0x80000u);
    EXPECT_TRUE(s.onLoop);

    // From one thread, in order; from several threads, each in its own order.
    Recorder<std::pair<int, int>> order;
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 300; ++i) hid.perform([&, t, i] { order.add({t, i}); });
        });
    for (auto& t : threads) t.join();
    ASSERT_TRUE(order.waitForCount(900));
    int next[3] = {0, 0, 0};
    for (auto [t, i] : order.values()) EXPECT_EQ(i, next[t]++);
}

TEST(HIDPPRunLoop, PerformReturnsAtOnceAndTimersRunOnTheLoop) {
    auto& hid = HIDPPRunLoop::shared();
    std::mutex mutex;
    std::condition_variable changed;
    bool secondPerformed = false, firstSawSecond = false, firstDone = false;
    // The first block waits until the caller has performed a second one: a
    // perform that waited for its block would never get there.
    hid.perform([&] {
        std::unique_lock lock(mutex);
        firstSawSecond = changed.wait_for(lock, waitLimit, [&] { return secondPerformed; });
        firstDone = true;
        changed.notify_all();
    });
    hid.perform([] {});
    {
        std::lock_guard lock(mutex);
        secondPerformed = true;
        changed.notify_all();
    }
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, waitLimit, [&] { return firstDone; }));
    }
    EXPECT_TRUE(firstSawSecond);

    // A timer scheduled on the loop from another thread fires there, not early.
    Recorder<bool> fired;
    const std::uint64_t deadline = platform::MonotonicClock::nowNanos() + 5'000'000;
    auto loop = hid.runLoop();
    auto timer = loop->addTimer(deadline, 0, [&, loop] {
        fired.add(loop->isCurrent() && platform::MonotonicClock::nowNanos() >= deadline);
    });
    ASSERT_TRUE(fired.waitForCount(1));
    EXPECT_TRUE(fired.values().front());
}

} // namespace
} // namespace ravolet
