#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <utility>

#include "Platform/Task.hpp"

namespace ravolet::platform {

// Where code runs: a serial queue, a run loop, the UI loop, or a manual
// scheduler in tests. Tasks posted to one executor run one at a time, in
// the order they were posted.
class Executor {
public:
    virtual ~Executor() = default;

    // Schedules the task to run soon on this executor; returns at once.
    // Callable from any thread. An executor that is being destroyed (or a
    // run loop whose thread has ended) drops the task without running it.
    virtual void post(Task task) = 0;

    // True when the calling thread is the one this executor runs its tasks on.
    virtual bool isCurrent() const = 0;

    // Runs `work` at once on the calling thread as one of this executor's
    // tasks, when none of them runs and none is due: true. Meanwhile
    // isCurrent() is true there and the executor starts nothing else, so
    // order and exclusion stay as if `work` had been posted. Otherwise (work
    // pending or running, or an executor that cannot lend its turn) false,
    // and `work` is not called. It spares a thread hand-off on a path that
    // finds its executor idle; it allocates nothing.
    template <class Work>
    bool runHereIfIdle(Work&& work) {
        if (!beginRunHere()) return false;
        struct End {
            Executor* executor;
            ~End() { executor->endRunHere(); }
        } end{this};
        std::forward<Work>(work)();
        return true;
    }

protected:
    // The two halves of runHereIfIdle(): take the executor's turn for the
    // calling thread if it is free (true), and give it back.
    virtual bool beginRunHere() { return false; }
    virtual void endRunHere() {}
};

// A cancellable handle to scheduled work. Copies share one state, so any copy
// can cancel. A default-constructed handle refers to nothing: cancelling it
// does nothing and it never reports cancelled. Cancelling after the task ran,
// or twice, is harmless. A task whose handle was cancelled before it started
// never runs.
class TaskHandle {
public:
    TaskHandle() = default;

    // A fresh, live handle; schedulers make one per scheduled task.
    static TaskHandle make() { return TaskHandle(std::make_shared<std::atomic<bool>>(false)); }

    void cancel() const {
        if (cancelled_) cancelled_->store(true, std::memory_order_release);
    }
    bool isCancelled() const { return cancelled_ && cancelled_->load(std::memory_order_acquire); }

    // Whether this handle refers to scheduled work at all.
    explicit operator bool() const { return cancelled_ != nullptr; }

private:
    explicit TaskHandle(std::shared_ptr<std::atomic<bool>> state) : cancelled_(std::move(state)) {}
    std::shared_ptr<std::atomic<bool>> cancelled_;
};

// A wake-up on a scheduler for an owner that keeps at most one deadline
// pending on it (a glide's next step): the owner arms it again and again and
// its handler works out what is due. The handler runs on the scheduler once
// the clock has reached the earliest deadline armed since the handler last
// started (never before it); arming for a later deadline meanwhile changes
// nothing, so the handler arms again for whatever it still needs.
//
// `leeway` is how much later than the deadline the run may come when that
// spares the scheduler a wake-up: a serial queue already asleep until a time
// no later than deadline + leeway is left asleep rather than woken to sleep
// again. Other schedulers run it at the deadline. Arming and firing allocate
// nothing on schedulers that keep alarms themselves (the serial queue).
//
// arm() may be called from any thread, also from the handler. Destroying the
// alarm disarms it for good; a run that has already started on another thread
// finishes. An alarm must not outlive its scheduler.
class Alarm {
public:
    using Handler = std::move_only_function<void()>;

    virtual ~Alarm() = default;
    virtual void arm(std::uint64_t deadlineNanos, std::uint64_t leewayNanos) = 0;
};

// An executor with a clock: work can be scheduled for a deadline on the
// monotonic clock (nanoseconds, the base of MonotonicClock::nowNanos() and of
// event timestamps; a virtual clock in the manual scheduler). Work is never
// run before its deadline. Among tasks that are due, the earlier deadline runs
// first, and equal deadlines run in the order they were scheduled.
class Scheduler : public Executor {
public:
    virtual std::uint64_t nowNanos() const = 0;

    // Runs the task on this scheduler once the clock has reached the deadline
    // (at once when it already has). Callable from any thread.
    virtual TaskHandle postAt(std::uint64_t deadlineNanos, Task task) = 0;

    // postAt(nowNanos() + delay); a negative delay counts as zero.
    TaskHandle postAfter(std::chrono::nanoseconds delay, Task task) {
        return postAt(deadlineAfter(nowNanos(), delay), std::move(task));
    }

    // An alarm whose handler runs on this scheduler. This general form posts
    // one block per arming that moves the deadline earlier (and cancels the
    // one it replaces); schedulers that can keep alarms themselves do better.
    virtual std::unique_ptr<Alarm> makeAlarm(Alarm::Handler handler);

    // now + delay, saturating instead of wrapping; negative delays give now.
    static std::uint64_t deadlineAfter(std::uint64_t now, std::chrono::nanoseconds delay) {
        if (delay.count() <= 0) return now;
        const auto d = static_cast<std::uint64_t>(delay.count());
        return d > UINT64_MAX - now ? UINT64_MAX : now + d;
    }
};

} // namespace ravolet::platform
