#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "Platform/MonotonicClock.hpp"
#include "Platform/PostedWork.hpp"
#include "Platform/RunLoopThread.hpp"
#include "Platform/SerialQueue.hpp"
#include "Platform/Simulated/ManualScheduler.hpp"
#include "ThreadTestSupport.hpp"

namespace ravolet::platform {
namespace {

using testing::Counter;
using testing::Recorder;
using testing::Sentinel;

constexpr std::uint64_t ms = 1'000'000;

// A scheduler of each kind, with a way to let its clock pass a time.
struct Rig {
    std::function<Scheduler&()> scheduler;
    // Returns once the clock has passed `deadline` and what was due by then has run.
    std::function<void(std::uint64_t deadline)> runUntil;
    std::shared_ptr<void> keep;
    // Hands the block over from outside (any thread): posted, unless the
    // rig has another way in.
    std::function<void(Task)> fromOutside = {};
    void give(Task task) const {
        if (fromOutside) return fromOutside(std::move(task));
        scheduler().post(std::move(task));
    }
};

struct RigKind {
    const char* name;
    Rig (*make)();
};

Rig manualRig() {
    auto manual = std::make_shared<ManualScheduler>(1000 * ms);
    return {[manual]() -> Scheduler& { return *manual; }, [manual](std::uint64_t t) { manual->advanceTo(t); }, manual};
}

// A marker for just after `deadline`, run behind whatever was due by then.
void waitPast(Scheduler& scheduler, std::uint64_t deadline) {
    Counter passed;
    scheduler.postAt(deadline + 1, [&passed] { passed.increment(); });
    ASSERT_TRUE(passed.waitFor(1));
}

Rig serialQueueRig() {
    auto queue = std::make_shared<SerialQueue>("alarms", QueuePriority::userInteractive);
    return {[queue]() -> Scheduler& { return *queue; }, [queue](std::uint64_t t) { waitPast(*queue, t); }, queue};
}

Rig runLoopRig() {
    auto thread = std::make_shared<RunLoopThread>("alarms", ThreadPriority::userInteractive, 0);
    thread->start();
    auto loop = thread->runLoop();
    return {[loop]() -> Scheduler& { return *loop; }, [loop](std::uint64_t t) { waitPast(*loop, t); },
            std::shared_ptr<void>(thread, nullptr)};
}

// A run loop that watches a pipe, and so waits for work in poll as the HID
// I/O thread does; blocks given from outside come through the pipe's source.
struct PipeSource final : RunLoopSource {
    PipeSource() {
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) fds[0] = fds[1] = -1;
    }
    ~PipeSource() override {
        ::close(fds[0]);
        ::close(fds[1]);
    }
    void give(Task task) {
        {
            std::lock_guard lock(mutex);
            tasks.push_back(std::move(task));
        }
        const char byte = 1;
        [[maybe_unused]] const auto written = ::write(fds[1], &byte, 1);
    }
    void perform() override {
        char drained[64];
        while (::read(fds[0], drained, sizeof drained) > 0) {
        }
        std::deque<Task> ready;
        {
            std::lock_guard lock(mutex);
            ready.swap(tasks);
        }
        for (auto& task : ready) task();
    }
    int fds[2];
    std::mutex mutex;
    std::deque<Task> tasks;
};

Rig pollingRunLoopRig() {
    auto thread = std::make_shared<RunLoopThread>("polling", ThreadPriority::userInteractive, 0);
    thread->start();
    auto loop = thread->runLoop();
    auto source = std::make_shared<PipeSource>();
    EXPECT_TRUE(loop->addSource(source, source->fds[0]));
    // The thread stops before the source's pipe closes.
    std::shared_ptr<void> keep(nullptr, [thread, source](std::nullptr_t) { thread->stop(); });
    return {[loop]() -> Scheduler& { return *loop; }, [loop](std::uint64_t t) { waitPast(*loop, t); }, keep,
            [source](Task task) { source->give(std::move(task)); }};
}

class AlarmOn : public ::testing::TestWithParam<RigKind> {};
class CancelledWorkOn : public ::testing::TestWithParam<RigKind> {};

// The serial queue and the manual scheduler keep alarms themselves; the run
// loop uses the general form, a posted block per arming.
TEST_P(AlarmOn, ItRunsOnceForTheEarliestDeadlineArmedNeverEarlyAndNotOnceReleased) {
    Rig rig = GetParam().make();
    Scheduler& scheduler = rig.scheduler();
    Recorder<std::uint64_t> runs;
    std::unique_ptr<Alarm> alarm;
    bool rearm = false;
    alarm = scheduler.makeAlarm([&] {
        EXPECT_TRUE(scheduler.isCurrent());
        runs.add(scheduler.nowNanos());
        if (std::exchange(rearm, false)) alarm->arm(scheduler.nowNanos() + 5 * ms, 0);
    });

    const std::uint64_t base = scheduler.nowNanos();
    alarm->arm(base + 30 * ms, 0);
    alarm->arm(base + 10 * ms, 2 * ms); // earlier: replaces the first
    alarm->arm(base + 20 * ms, 0);      // later: changes nothing
    if (auto* manual = dynamic_cast<ManualScheduler*>(&scheduler)) {
        EXPECT_EQ(manual->pendingCount(), 1u);
    }
    rig.runUntil(base + 40 * ms);
    auto seen = runs.values();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_GE(seen[0], base + 10 * ms);
    if (GetParam().make == &manualRig) {
        EXPECT_EQ(seen[0], base + 10 * ms);
    }

    // Armed again from its own handler.
    const std::uint64_t second = scheduler.nowNanos();
    rearm = true;
    alarm->arm(second, 0);
    rig.runUntil(second + 10 * ms);
    seen = runs.values();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_GE(seen[2], seen[1] + 5 * ms);

    // Released while armed: it never runs.
    const std::uint64_t third = scheduler.nowNanos();
    alarm->arm(third + 5 * ms, 0);
    alarm.reset();
    rig.runUntil(third + 10 * ms);
    EXPECT_EQ(runs.values().size(), 3u);
}

// Cancelled blocks for an hour ahead are let go of (their captures released)
// the next time the executor looks at its work, not an hour later.
TEST_P(CancelledWorkOn, BlocksCancelledLongBeforeTheirDeadlineAreLetGoOfAtOnce) {
    Rig rig = GetParam().make();
    Scheduler& scheduler = rig.scheduler();
    Counter released;
    constexpr int count = 200;
    std::vector<TaskHandle> handles;
    const std::uint64_t hour = MonotonicClock::nowNanos() + 3'600'000 * ms;
    for (int i = 0; i < count; ++i)
        handles.push_back(scheduler.postAt(hour + static_cast<std::uint64_t>(i),
                                           [s = std::make_shared<Sentinel>(&released)] {}));
    for (const auto& handle : handles) handle.cancel();
    ASSERT_TRUE(waitForPostedWork(scheduler));
    EXPECT_TRUE(released.waitFor(count));
}

class LentTurnOn : public ::testing::TestWithParam<RigKind> {};

// Runs the block on the executor and waits until it has.
void runThere(Executor& executor, std::function<void()> block) {
    Counter done;
    executor.post([&] {
        block();
        done.increment();
    });
    ASSERT_TRUE(done.waitFor(1));
}

// The executor's thread goes back to sleep a little after its last block;
// until then nothing is lent.
template <class Work>
bool runHereOnceIdle(Executor& executor, Work&& work) {
    const auto limit = std::chrono::steady_clock::now() + testing::waitLimit;
    while (!executor.runHereIfIdle(work)) {
        if (std::chrono::steady_clock::now() > limit) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

TEST_P(LentTurnOn, ACallerRunsHereOnlyWhenIdleAndKeepsTheTurnMeanwhile) {
    Rig rig = GetParam().make();
    Executor& executor = rig.scheduler();
    runThere(executor, [] {}); // its thread is up
    const auto caller = std::this_thread::get_id();

    // Idle: the work runs on the caller, counted as the executor's.
    bool ranHere = false;
    EXPECT_TRUE(runHereOnceIdle(executor, [&] { ranHere = executor.isCurrent() && std::this_thread::get_id() == caller; }));
    EXPECT_TRUE(ranHere);
    EXPECT_FALSE(executor.isCurrent());

    // Not idle: a block running, a block waiting, the executor's own thread,
    // a turn already lent (to this thread, or to another).
    Counter entered, gate;
    executor.post([&] {
        entered.increment();
        gate.waitFor(1);
    });
    ASSERT_TRUE(entered.waitFor(1));
    std::atomic<int> refused{0};
    const auto tryHere = [&] { return executor.runHereIfIdle([&] { ADD_FAILURE() << "ran while not idle"; }); };
    refused += !tryHere();
    executor.post([] {});
    refused += !tryHere();
    gate.increment();
    runThere(executor, [&] { refused += !tryHere(); });
    EXPECT_TRUE(runHereOnceIdle(executor, [&] {
        refused += !tryHere();
        std::thread([&] { refused += !tryHere(); }).join();
    }));
    EXPECT_EQ(refused.load(), 5);

    // Work given while the caller holds the turn runs after it, in order,
    // also when it wakes the executor's thread meanwhile.
    Recorder<int> order;
    EXPECT_TRUE(runHereOnceIdle(executor, [&] {
        order.add(1);
        std::thread([&] { rig.give([&] { order.add(3); }); }).join();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        order.add(2);
    }));
    ASSERT_TRUE(order.waitForCount(3));
    EXPECT_EQ(order.values(), (std::vector<int>{1, 2, 3}));

    // Callers racing with the executor's own work never run two at once.
    int unguarded = 0;
    std::atomic<int> inside{0}, overlaps{0};
    Counter ran;
    const auto work = [&] {
        if (inside.fetch_add(1) != 0) overlaps.fetch_add(1);
        ++unguarded;
        inside.fetch_sub(1);
        ran.increment();
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 2000; ++i)
                if (!executor.runHereIfIdle(work)) rig.give(work);
        });
    for (auto& thread : threads) thread.join();
    // Work given through another way in than post() (a pipe's source) need
    // not run before a block posted after it: wait for each piece itself.
    ASSERT_TRUE(ran.waitFor(8000));
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_EQ(unguarded, 8000);
}

std::string nameOf(const ::testing::TestParamInfo<RigKind>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Scheduling, AlarmOn,
                         ::testing::Values(RigKind{"ManualScheduler", &manualRig},
                                           RigKind{"SerialQueue", &serialQueueRig},
                                           RigKind{"RunLoop", &runLoopRig}),
                         nameOf);
// Virtual time keeps what it is given until it is due.
INSTANTIATE_TEST_SUITE_P(Scheduling, CancelledWorkOn,
                         ::testing::Values(RigKind{"SerialQueue", &serialQueueRig}, RigKind{"RunLoop", &runLoopRig}),
                         nameOf);

INSTANTIATE_TEST_SUITE_P(Scheduling, LentTurnOn,
                         ::testing::Values(RigKind{"SerialQueue", &serialQueueRig}, RigKind{"RunLoop", &runLoopRig},
                                           RigKind{"PollingRunLoop", &pollingRunLoopRig}),
                         nameOf);

} // namespace
} // namespace ravolet::platform
