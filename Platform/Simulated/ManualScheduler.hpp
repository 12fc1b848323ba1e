#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "Platform/Executor.hpp"

namespace ravolet::platform {

// A scheduler with virtual time for tests. Nothing runs by itself: the test
// advances the clock and the due blocks run on the test's thread, in deadline
// order (in scheduling order among equal deadlines), with the clock set to
// each block's deadline while it runs, then to the target. No sleeping, fully
// deterministic. Blocks may be scheduled from any thread and from blocks.
class ManualScheduler final : public Scheduler {
public:
    explicit ManualScheduler(std::uint64_t startNanos = 0) : now_(startNanos) {}
    ~ManualScheduler() override;
    ManualScheduler(const ManualScheduler&) = delete;
    ManualScheduler& operator=(const ManualScheduler&) = delete;

    // Moves the clock forward by `delta` (negative counts as 0), running every
    // block that falls due on the way, also those scheduled by blocks.
    // Returns how many blocks ran.
    std::size_t advance(std::chrono::nanoseconds delta);
    // Moves the clock to the deadline (never backwards) likewise.
    std::size_t advanceTo(std::uint64_t deadlineNanos);
    // Runs every block due at the current time, also those they schedule for
    // now, without moving the clock. Returns how many blocks ran.
    std::size_t runUntilIdle();
    // Advances to each pending deadline in turn until nothing is left, at most
    // `limit` blocks (a repeating timer never runs out).
    std::size_t runAll(std::size_t limit = 100000);

    std::size_t pendingCount() const;
    std::optional<std::uint64_t> nextDeadline() const;

    // Scheduler
    void post(Task task) override;
    // True on the thread that is running this scheduler's blocks, while it is.
    bool isCurrent() const override;
    std::uint64_t nowNanos() const override;
    TaskHandle postAt(std::uint64_t deadlineNanos, Task task) override;
    // An alarm is one entry, moved when it is armed earlier and taken out
    // when it is released: pendingCount() counts it once while armed. It
    // fires at its deadline exactly (the leeway is not used).
    std::unique_ptr<Alarm> makeAlarm(Alarm::Handler handler) override;

private:
    class ManualAlarm;

    struct Entry {
        std::uint64_t deadline;
        std::uint64_t sequence;
        mutable Task task;
        TaskHandle handle;
        bool operator<(const Entry& other) const {
            return deadline != other.deadline ? deadline < other.deadline : sequence < other.sequence;
        }
    };

    // Adds an entry for the deadline (none: now); dropped once closed.
    void schedule(std::optional<std::uint64_t> deadline, Task task, const TaskHandle& handle);
    // Runs due entries up to `target`, then sets the clock to it.
    std::size_t runTo(std::uint64_t target);

    mutable std::mutex mutex_;
    std::set<Entry> entries_;
    std::uint64_t now_;
    std::uint64_t sequence_ = 0;
    std::thread::id runner_;
    bool running_ = false;
    bool closed_ = false; // being destroyed: later blocks are dropped
};

} // namespace ravolet::platform
