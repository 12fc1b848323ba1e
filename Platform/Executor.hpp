#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>

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

    // now + delay, saturating instead of wrapping; negative delays give now.
    static std::uint64_t deadlineAfter(std::uint64_t now, std::chrono::nanoseconds delay) {
        if (delay.count() <= 0) return now;
        const auto d = static_cast<std::uint64_t>(delay.count());
        return d > UINT64_MAX - now ? UINT64_MAX : now + d;
    }
};

} // namespace ravolet::platform
