#include "Platform/Simulated/ManualScheduler.hpp"

#include <algorithm>
#include <cassert>
#include <vector>

namespace ravolet::platform {

ManualScheduler::~ManualScheduler() {
    // Release the blocks outside the lock: their captures may schedule more,
    // which is dropped from now on.
    std::set<Entry> entries;
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        entries.swap(entries_);
    }
}

void ManualScheduler::post(Task task) { schedule(std::nullopt, std::move(task), TaskHandle()); }

TaskHandle ManualScheduler::postAt(std::uint64_t deadlineNanos, Task task) {
    TaskHandle handle = TaskHandle::make();
    schedule(deadlineNanos, std::move(task), handle);
    return handle;
}

void ManualScheduler::schedule(std::optional<std::uint64_t> deadline, Task task, const TaskHandle& handle) {
    std::unique_lock lock(mutex_);
    if (closed_) {
        lock.unlock();
        handle.cancel();
        return; // the task is released here, outside the lock
    }
    entries_.insert(Entry{deadline.value_or(now_), sequence_++, std::move(task), handle});
}

class ManualScheduler::ManualAlarm final : public Alarm {
public:
    ManualAlarm(ManualScheduler& scheduler, Handler handler)
        : scheduler_(scheduler), slot_(std::make_shared<Slot>()) {
        slot_->handler = std::move(handler);
        slot_->mutex = &scheduler.mutex_;
    }

    ~ManualAlarm() override {
        std::set<Entry> removed; // released after the lock
        std::lock_guard lock(scheduler_.mutex_);
        slot_->released = true;
        takeEntryLocked(removed);
    }

    void arm(std::uint64_t deadlineNanos, std::uint64_t) override {
        std::set<Entry> removed; // released after the lock
        std::lock_guard lock(scheduler_.mutex_);
        if (scheduler_.closed_ || (slot_->armed && slot_->deadline <= deadlineNanos)) return;
        takeEntryLocked(removed);
        slot_->armed = true;
        slot_->deadline = deadlineNanos;
        slot_->sequence = scheduler_.sequence_++;
        scheduler_.entries_.insert(Entry{deadlineNanos, slot_->sequence,
                                         [slot = slot_, sequence = slot_->sequence] {
                                             {
                                                 // Armed again since it was taken to run: the newer
                                                 // entry, due as well, runs instead.
                                                 std::lock_guard fireLock(*slot->mutex);
                                                 if (slot->released || slot->sequence != sequence) return;
                                                 slot->armed = false;
                                             }
                                             slot->handler();
                                         },
                                         TaskHandle()});
    }

private:
    struct Slot {
        Handler handler;
        std::mutex* mutex = nullptr; // the scheduler's
        // Guarded by the scheduler's mutex.
        bool armed = false;
        bool released = false;
        std::uint64_t deadline = 0;
        std::uint64_t sequence = 0;
    };

    // Takes the armed entry out of the scheduler (into `removed`).
    void takeEntryLocked(std::set<Entry>& removed) {
        if (!slot_->armed) return;
        slot_->armed = false;
        Entry key{slot_->deadline, slot_->sequence, nullptr, TaskHandle()};
        if (auto node = scheduler_.entries_.extract(key)) removed.insert(std::move(node));
    }

    ManualScheduler& scheduler_;
    const std::shared_ptr<Slot> slot_;
};

std::unique_ptr<Alarm> ManualScheduler::makeAlarm(Alarm::Handler handler) {
    return std::make_unique<ManualAlarm>(*this, std::move(handler));
}

bool ManualScheduler::isCurrent() const {
    std::lock_guard lock(mutex_);
    return running_ && runner_ == std::this_thread::get_id();
}

std::uint64_t ManualScheduler::nowNanos() const {
    std::lock_guard lock(mutex_);
    return now_;
}

std::size_t ManualScheduler::pendingCount() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

std::optional<std::uint64_t> ManualScheduler::nextDeadline() const {
    std::lock_guard lock(mutex_);
    if (entries_.empty()) return std::nullopt;
    return entries_.begin()->deadline;
}

std::size_t ManualScheduler::advance(std::chrono::nanoseconds delta) {
    return advanceTo(deadlineAfter(nowNanos(), delta));
}

std::size_t ManualScheduler::advanceTo(std::uint64_t deadlineNanos) { return runTo(deadlineNanos); }

std::size_t ManualScheduler::runUntilIdle() { return runTo(nowNanos()); }

std::size_t ManualScheduler::runAll(std::size_t limit) {
    std::size_t ran = 0;
    while (ran < limit) {
        const auto next = nextDeadline();
        if (!next) break;
        ran += runTo(std::max(*next, nowNanos()));
    }
    return ran;
}

std::size_t ManualScheduler::runTo(std::uint64_t target) {
    std::size_t ran = 0;
    std::unique_lock lock(mutex_);
    assert(!running_ && "ManualScheduler is not re-entrant: do not advance it from one of its own blocks");
    running_ = true;
    runner_ = std::this_thread::get_id();
    while (!entries_.empty() && entries_.begin()->deadline <= std::max(target, now_)) {
        auto node = entries_.extract(entries_.begin());
        Entry& entry = node.value();
        // Time never moves backwards: a block scheduled for the past runs "now".
        now_ = std::max(now_, entry.deadline);
        Task task = std::move(entry.task);
        TaskHandle handle = entry.handle;
        lock.unlock();
        if (!handle.isCancelled()) {
            task();
            ++ran;
        }
        task = nullptr; // release captures before taking the lock again
        lock.lock();
    }
    now_ = std::max(now_, target);
    running_ = false;
    runner_ = {};
    return ran;
}

} // namespace ravolet::platform
