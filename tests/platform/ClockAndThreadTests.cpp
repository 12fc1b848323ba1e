#include <gtest/gtest.h>

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <memory>
#include <optional>
#include <semaphore>
#include <string>
#include <thread>
#include <vector>

#include "Platform/MonotonicClock.hpp"
#include "Platform/Thread.hpp"
#include "ThreadTestSupport.hpp"

namespace ravolet::platform {
namespace {

using testing::waitLimit;

TEST(MonotonicClock, ConvertsTicksThroughItsTimeBase) {
    const auto base = MonotonicClock::timeBase();
    EXPECT_EQ(base.numerator, 1u);
    EXPECT_EQ(base.denominator, 1u);
    EXPECT_DOUBLE_EQ(MonotonicClock::nanoseconds(1'234'567), 1'234'567.0);
    EXPECT_DOUBLE_EQ(MonotonicClock::milliseconds(2'500'000), 2.5);
    EXPECT_DOUBLE_EQ(MonotonicClock::milliseconds(0), 0.0);
}

TEST(MonotonicClock, ReadsTheSameBaseAsTheSteadyClock) {
    // Waits elsewhere use std::chrono::steady_clock; both must be CLOCK_MONOTONIC.
    const std::uint64_t before = MonotonicClock::nowNanos();
    const auto steady = static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
    const double millis = MonotonicClock::now();
    const std::uint64_t ticks = MonotonicClock::ticks();
    const std::uint64_t after = MonotonicClock::nowNanos();
    EXPECT_LE(before, steady);
    EXPECT_LE(steady, after);
    EXPECT_LE(static_cast<double>(before) / 1e6, millis);
    EXPECT_LE(millis, static_cast<double>(after) / 1e6);
    EXPECT_LE(before, ticks);
    EXPECT_LE(ticks, after);
}

std::string kernelNameOfCurrentThread() {
    char buffer[64] = {};
    pthread_getname_np(pthread_self(), buffer, sizeof buffer);
    return buffer;
}

struct Observed {
    std::string name;
    std::string kernelName;
    ThreadPriority priority = ThreadPriority::defaultPriority;
    std::size_t stackSize = 0;
};

Observed runAndObserve(Thread::Options options) {
    Observed observed;
    Thread thread(std::move(options), [&] {
        observed.name = currentThreadName();
        observed.kernelName = kernelNameOfCurrentThread();
        observed.priority = currentThreadPriority();
        pthread_attr_t attr;
        if (pthread_getattr_np(pthread_self(), &attr) == 0) {
            pthread_attr_getstacksize(&attr, &observed.stackSize);
            pthread_attr_destroy(&attr);
        }
    });
    EXPECT_TRUE(thread.started());
    thread.join();
    EXPECT_FALSE(thread.joinable());
    return observed;
}

TEST(Thread, KeepsTheFullNameAndGivesTheKernelItsFirst15Bytes) {
    const Observed tap = runAndObserve({"ai.ravolet.event-tap", ThreadPriority::userInteractive, 0});
    EXPECT_EQ(tap.name, "ai.ravolet.event-tap");
    EXPECT_EQ(tap.name.size(), 20u);
    EXPECT_EQ(tap.kernelName, "ai.ravolet.even");
    EXPECT_EQ(tap.priority, ThreadPriority::userInteractive);

    const Observed shortName = runAndObserve({"ai.ravolet", ThreadPriority::utility, 0});
    EXPECT_EQ(shortName.name, "ai.ravolet");
    EXPECT_EQ(shortName.kernelName, "ai.ravolet");
    EXPECT_EQ(shortName.priority, ThreadPriority::utility);

    // The kernel cut never splits a UTF-8 character ("é" is bytes 14 and 15).
    const Observed accented = runAndObserve({"abcdefghijklmn\xC3\xA9-suffix", ThreadPriority::background, 0});
    EXPECT_EQ(accented.name, "abcdefghijklmn\xC3\xA9-suffix");
    EXPECT_EQ(accented.kernelName, "abcdefghijklmn");
}

TEST(Thread, StartsWithTheRequestedStackSize) {
    const Observed observed = runAndObserve({"stack", ThreadPriority::userInitiated, 0x80000});
    EXPECT_GE(observed.stackSize, 0x80000u);
}

TEST(Thread, UnnamedThreadsHaveNoNameAndNamingOneSticks) {
    std::string before, after;
    std::thread plain([&] {
        before = currentThreadName();
        setCurrentThreadName("ai.ravolet.event-tap");
        after = currentThreadName();
    });
    plain.join();
    EXPECT_EQ(before, "");
    EXPECT_EQ(after, "ai.ravolet.event-tap");
}

TEST(Thread, PriorityClassesCarryTheHostRawValues) {
    EXPECT_EQ(rawValue(ThreadPriority::userInteractive), 33);
    EXPECT_EQ(rawValue(ThreadPriority::userInitiated), 25);
    EXPECT_EQ(rawValue(ThreadPriority::defaultPriority), 21);
    EXPECT_EQ(rawValue(ThreadPriority::utility), 17);
    EXPECT_EQ(rawValue(ThreadPriority::background), 9);
}

TEST(Thread, DestroyingJoinsAndAThreadMayReleaseItself) {
    std::atomic<bool> ran{false};
    {
        Thread thread("joined", ThreadPriority::defaultPriority, 0, [&] { ran = true; });
    }
    EXPECT_TRUE(ran.load());

    // The last reference to a Thread dropped on that very thread detaches it
    // instead of deadlocking in join.
    auto holder = std::make_shared<std::optional<Thread>>();
    std::binary_semaphore stored{0};
    testing::Counter finished;
    holder->emplace("self-release", ThreadPriority::defaultPriority, 0, [holder, &stored, &finished]() mutable {
        stored.acquire();
        EXPECT_TRUE((*holder)->isCurrent());
        holder->reset();
        holder.reset();
        finished.increment();
    });
    EXPECT_FALSE((*holder)->isCurrent());
    holder.reset();
    stored.release();
    EXPECT_TRUE(finished.waitFor(1));
}

} // namespace
} // namespace ravolet::platform

namespace ravolet {
namespace {

// A thread that may not lower its nice value (here: one that gave up the
// capability to) gets it from the broker, which answers from elsewhere, as
// RealtimeKit does; without a broker, or with one that refuses, it stays.
TEST(Thread, AnUrgencyTheKernelRefusesIsAskedOfTheBroker) {
    if (geteuid() != 0) GTEST_SKIP() << "only root can lower a nice value for the broker here";
    struct Granting {
        std::atomic<pid_t> tid{0};
        std::atomic<int> nice{0};
        std::binary_semaphore asked{0};
        std::binary_semaphore granted{0};
    };
    auto granting = std::make_shared<Granting>();
    std::atomic<int> answer{0}; // 0: none set, 1: refuses, 2: grants
    platform::setNiceBroker([granting, &answer](std::int64_t tid, int nice) {
        if (answer == 1) return false;
        granting->tid = static_cast<pid_t>(tid);
        granting->nice = nice;
        granting->asked.release();
        granting->granted.acquire();
        return true;
    });
    std::vector<platform::ThreadNice> outcomes;
    // The nice value the suite was started with (`nice -n 10`, say): the
    // kernel leaves a thread there while it may not lower it.
    std::atomic<int> found{0};
    std::thread worker([&] {
        errno = 0;
        found = getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)));
        ASSERT_EQ(errno, 0);
        // Without the capability, a process keeps to RLIMIT_NICE, 0 for root too.
        struct {
            std::uint32_t version = 0x20080522; // _LINUX_CAPABILITY_VERSION_3
            int pid = 0;
        } header;
        struct {
            std::uint32_t effective, permitted, inheritable;
        } data[2] = {};
        ASSERT_EQ(syscall(SYS_capget, &header, data), 0);
        data[0].effective &= ~(1u << 23); // CAP_SYS_NICE
        ASSERT_EQ(syscall(SYS_capset, &header, data), 0);
        platform::setCurrentThreadPriority(platform::ThreadPriority::userInteractive);
        outcomes.push_back(platform::currentThreadNice());
        answer = 1;
        outcomes.push_back(platform::raiseCurrentThreadPriority());
        answer = 2;
        outcomes.push_back(platform::raiseCurrentThreadPriority());
        outcomes.push_back(platform::currentThreadNice());
    });
    if (granting->asked.try_acquire_for(std::chrono::seconds(20))) {
        EXPECT_EQ(setpriority(PRIO_PROCESS, static_cast<id_t>(granting->tid.load()), granting->nice), 0);
        granting->granted.release();
    } else {
        ADD_FAILURE() << "the broker was never asked";
    }
    worker.join();
    platform::setNiceBroker(nullptr);
    using SetBy = platform::ThreadNice::SetBy;
    EXPECT_EQ(outcomes, (std::vector<platform::ThreadNice>{
                            {-4, found, SetBy::nobody}, {-4, found, SetBy::nobody}, {-4, -4, SetBy::broker}, {-4, -4, SetBy::broker}}));
}

} // namespace
} // namespace ravolet
