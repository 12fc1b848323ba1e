#include <gtest/gtest.h>

#include <functional>
#include <memory>
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

} // namespace
} // namespace ravolet::platform
