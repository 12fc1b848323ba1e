#include <gtest/gtest.h>

#include <pthread.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "HIDPPDeviceTestSupport.hpp"
#include "HIDPlusPlus/HIDPPRunLoop.hpp"
#include "Platform/IOReturn.hpp"
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

// ---- Process exit, in child processes of their own ----

[[noreturn]] void exitWhileTheHIDThreadClosesALink() {
    platform::testing::failExitIfOurThreadsRemain();
    auto bus = platform::SimulatedHIDBus::make();
    auto mouse = platform::SimulatedMouse::make();
    mouse->plugIn(bus);
    // The device's own steps run here, on main, so that it is gone for good
    // when main lets it go; its link lives on the HID thread.
    auto queue = std::make_shared<platform::ManualScheduler>();
    auto device = HIDPPDevice::create(HIDPPDeviceMatch::g502X, testing::threadedEnvironment(bus), queue);
    std::optional<HIDPPResult<void>> connected;
    device->connect(nullptr, [&connected](HIDPPResult<void> result) { connected = std::move(result); });
    const auto limit = std::chrono::steady_clock::now() + waitLimit;
    while (!connected && std::chrono::steady_clock::now() < limit) {
        queue->runUntilIdle();
        std::this_thread::sleep_for(1ms);
    }
    if (!connected || !*connected) _exit(2);
    device.reset(); // its link is closed on the HID thread, while main goes on to exit
    std::exit(0);
}

[[noreturn]] void useHIDPPWithoutThreads() {
    platform::testing::ChildChecks check;
    platform::finishThreads();
    auto& hid = HIDPPRunLoop::shared(); // returns, without its thread
    check.expect(!hid.isRunning() && !hid.runLoop(), "the HID thread reports it runs");
    platform::testing::Counter released;
    hid.perform([s = std::make_shared<platform::testing::Sentinel>(&released)] {});
    check.expect(released.value() == 1, "a block performed without the HID thread was kept");

    const auto unavailable = std::unexpected(HIDPPError::ioKit("HID I/O", platform::kIOReturnNotReady));
    // Neither the device's queue nor the HID thread runs.
    std::optional<HIDPPResult<void>> result;
    auto device = HIDPPDevice::create(HIDPPDeviceMatch::g502X);
    device->connect(nullptr, [&](HIDPPResult<void> r) { result = std::move(r); });
    check.expect(result == unavailable, "connect() without the device's queue");
    // The device's queue runs, the HID thread does not: the attempt ends
    // with the error and leaves nothing behind.
    auto queue = std::make_shared<platform::ManualScheduler>();
    auto queued = HIDPPDevice::create(HIDPPDeviceMatch::g502X, HIDPPEnvironment::standard(), queue);
    result.reset();
    queued->connect(nullptr, [&](HIDPPResult<void> r) { result = std::move(r); });
    queue->runUntilIdle();
    check.expect(result == unavailable, "connect() without the HID thread");
    check.expect(!queued->isConnecting(), "an attempt without the HID thread stays under way");
    check.exitWithResult();
}

// The HID thread is stopped and joined as the process exits, with what it was
// still to do (here, closing a released device's link) released on it, so
// that nothing runs on it while static objects are destroyed.
TEST(HIDPPRunLoop, ProcessExitStopsTheHIDThreadFirst) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(exitWhileTheHIDThreadClosesALink(), ::testing::ExitedWithCode(0), "");
}

// Without a HID thread (it could not start) the client neither hangs nor
// loses an answer: work is released unrun and operations fail.
TEST(HIDPPRunLoop, WithoutItsThreadOperationsFailInsteadOfWaiting) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(useHIDPPWithoutThreads(), ::testing::ExitedWithCode(0), "");
}

} // namespace
} // namespace ravolet
