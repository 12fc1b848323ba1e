#include "Platform/SerialQueue.hpp"

#include <atomic>
#include <cassert>
#include <chrono>
#include <condition_variable>
#include <future>
#include <limits>
#include <mutex>
#include <vector>

#include "Platform/MonotonicClock.hpp"
#include "Platform/QueueStorage.hpp"

namespace ravolet::platform {

namespace {

struct Item {
    Task task;
    TaskHandle handle; // inert for async blocks
};

struct Timed {
    std::uint64_t deadline;
    std::uint64_t sequence;
    Item item;
};

struct TimedKey {
    static std::uint64_t deadline(const Timed& t) { return t.deadline; }
    static std::uint64_t sequence(const Timed& t) { return t.sequence; }
    static bool isLive(const Timed& t) { return !t.item.handle.isCancelled(); }
};

// Deadlines this far ahead are waited for without a time limit.
constexpr std::uint64_t untimed = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());

} // namespace

// An alarm kept by the queue: one slot, moved in place by arm(), never a
// block of its own until it falls due.
struct SerialQueue::AlarmSlot {
    Alarm::Handler handler; // run on the queue only
    std::atomic<bool> released{false};
    // Guarded by the queue's mutex.
    bool armed = false;
    std::uint64_t deadline = 0;
    std::uint64_t latest = 0; // the deadline plus the least leeway armed with
    std::uint64_t sequence = 0;
};

struct SerialQueue::State {
    std::mutex mutex;
    std::condition_variable changed;
    detail::FifoBuffer<Item> ready;               // due, in the order they became due
    detail::DeadlineHeap<Timed, TimedKey> timed;  // not yet due
    std::vector<std::shared_ptr<AlarmSlot>> alarms;
    std::uint64_t sequence = 0;
    bool closed = false;
    // The worker sleeps on `changed` until `wakeAt` (or until woken, for
    // deadlines at or past `untimed`). Only then does new work notify it:
    // work given while it runs does not, nor work that may wait until then.
    bool waiting = false;
    std::uint64_t wakeAt = 0;
    // A block runs on the queue's thread (`running`), or on a caller's that
    // borrowed the queue's turn (`lent`); while lent, the queue's thread
    // waits (`parked`) to be woken by the borrower when it is done.
    bool running = false;
    bool lent = false;
    bool parked = false;
    const void* lenderOuterQueue = nullptr; // the borrower's own isCurrent() queue, restored after
    Thread thread;

    // The armed alarm with the earliest deadline; a queue has a few at most.
    const std::shared_ptr<AlarmSlot>* earliestAlarmLocked() const {
        const std::shared_ptr<AlarmSlot>* earliest = nullptr;
        for (const auto& slot : alarms) {
            if (!slot->armed) continue;
            if (!earliest || slot->deadline < (*earliest)->deadline ||
                (slot->deadline == (*earliest)->deadline && slot->sequence < (*earliest)->sequence))
                earliest = &slot;
        }
        return earliest;
    }

    std::uint64_t nextDeadlineLocked() const {
        std::uint64_t next = UINT64_MAX;
        if (!timed.empty()) next = timed.front().deadline;
        if (const auto* alarm = earliestAlarmLocked()) next = std::min(next, (*alarm)->deadline);
        return next;
    }

    // Moves every block and alarm whose deadline has come behind the ready
    // ones, earliest first, so that work runs in the order it becomes due.
    // The clock is read only when something waits for a deadline.
    void promoteDueLocked() {
        if (timed.empty() && !earliestAlarmLocked()) return;
        const std::uint64_t now = MonotonicClock::nowNanos();
        for (;;) {
            const Timed* block = timed.empty() ? nullptr : &timed.front();
            const std::shared_ptr<AlarmSlot>* alarm = earliestAlarmLocked();
            const bool blockFirst =
                block && (!alarm || block->deadline < (*alarm)->deadline ||
                          (block->deadline == (*alarm)->deadline && block->sequence < (*alarm)->sequence));
            if (blockFirst) {
                if (block->deadline > now) return;
                ready.push(std::move(timed.pop().item));
            } else if (alarm) {
                if ((*alarm)->deadline > now) return;
                (*alarm)->armed = false;
                // The block holds the slot, so a handler runs to its end even
                // when its alarm is released meanwhile.
                ready.push(Item{[slot = *alarm] {
                                    if (!slot->released.load(std::memory_order_acquire)) slot->handler();
                                },
                                TaskHandle()});
            } else {
                return;
            }
        }
    }

    // Lets the lock go and wakes the worker when it sleeps past `latest`, the
    // time by which the work just given must start (0: at once); the first
    // to find so wakes it, later ones need not. The notify comes after the
    // unlock, so that the worker does not wake only to wait for the lock;
    // by then the block just given may have run and released the queue, so
    // the state is held until the notify is done.
    static void releaseAndWake(const std::shared_ptr<State>& state, std::unique_lock<std::mutex>& lock,
                               std::uint64_t latest) {
        std::shared_ptr<State> keep;
        if (state->waiting && latest < state->wakeAt) {
            state->waiting = false;
            keep = state;
        }
        lock.unlock();
        if (keep) keep->changed.notify_one();
    }

    void run();
};

namespace {
// The queue whose thread this is, for isCurrent().
thread_local const void* tlsCurrentQueue = nullptr;
} // namespace

void SerialQueue::State::run() {
    tlsCurrentQueue = this;
    std::vector<Timed> dropped;
    std::unique_lock lock(mutex);
    while (!closed) {
        if (lent) {
            parked = true;
            changed.wait(lock);
            parked = false;
            continue;
        }
        promoteDueLocked();
        if (!ready.empty()) {
            Item item = ready.pop();
            running = true;
            lock.unlock();
            if (!item.handle.isCancelled()) item.task();
            item = Item{}; // release captures outside the lock
            lock.lock();
            running = false;
            continue;
        }
        // Cancelled blocks at the front are let go now rather than woken for.
        while (!timed.empty() && !TimedKey::isLive(timed.front())) dropped.push_back(timed.pop());
        if (!dropped.empty()) {
            lock.unlock();
            dropped.clear();
            lock.lock();
            continue;
        }
        wakeAt = nextDeadlineLocked();
        waiting = true;
        if (wakeAt >= untimed) {
            changed.wait(lock);
        } else {
            changed.wait_until(lock, std::chrono::steady_clock::time_point{
                                         std::chrono::nanoseconds(static_cast<std::int64_t>(wakeAt))});
        }
        waiting = false;
    }
}

// The alarm handed to the owner: arm() moves the queue's slot.
class SerialQueue::QueueAlarm final : public Alarm {
public:
    QueueAlarm(std::shared_ptr<State> state, std::shared_ptr<AlarmSlot> slot)
        : state_(std::move(state)), slot_(std::move(slot)) {}

    ~QueueAlarm() override {
        slot_->released.store(true, std::memory_order_release);
        std::lock_guard lock(state_->mutex);
        slot_->armed = false;
        std::erase(state_->alarms, slot_);
    }

    void arm(std::uint64_t deadlineNanos, std::uint64_t leewayNanos) override {
        const std::uint64_t latest = leewayNanos > UINT64_MAX - deadlineNanos ? UINT64_MAX : deadlineNanos + leewayNanos;
        std::unique_lock lock(state_->mutex);
        if (state_->closed) return;
        AlarmSlot& slot = *slot_;
        if (slot.armed && slot.deadline <= deadlineNanos && slot.latest <= latest) return;
        if (!slot.armed || deadlineNanos < slot.deadline) {
            slot.deadline = deadlineNanos;
            slot.sequence = state_->sequence++;
        }
        slot.latest = slot.armed ? std::min(slot.latest, latest) : latest;
        slot.armed = true;
        State::releaseAndWake(state_, lock, slot.latest);
    }

private:
    const std::shared_ptr<State> state_;
    const std::shared_ptr<AlarmSlot> slot_;
};

SerialQueue::SerialQueue(std::string label, QueuePriority priority)
    : label_(std::move(label)), priority_(priority), state_(std::make_shared<State>()) {
    // The thread keeps the state alive, so a queue destroyed by one of its own
    // blocks lets that block finish safely.
    Thread thread(Thread::Options{label_, priority_, 0}, [state = state_] { state->run(); });
    std::lock_guard lock(state_->mutex);
    // Without its thread the queue is closed from the start: what it is given
    // is released unrun (a sync() returns false at once) instead of waiting
    // for ever.
    if (!thread.started()) state_->closed = true;
    state_->thread = std::move(thread);
}

bool SerialQueue::started() const {
    std::lock_guard lock(state_->mutex);
    return state_->thread.started();
}

SerialQueue::~SerialQueue() {
    std::vector<Item> ready;
    std::vector<Timed> timed;
    std::vector<std::shared_ptr<AlarmSlot>> alarms;
    Thread thread;
    {
        std::lock_guard lock(state_->mutex);
        state_->closed = true;
        ready = state_->ready.takeAll();
        timed = state_->timed.takeAll();
        alarms.swap(state_->alarms);
        for (const auto& slot : alarms) slot->armed = false;
        thread = std::move(state_->thread);
    }
    state_->changed.notify_all();
    // Pending blocks are released here without running.
    ready.clear();
    timed.clear();
    alarms.clear();
    // Waits for a running block, or detaches when destroyed by one.
    thread = Thread();
}

bool SerialQueue::isCurrent() const { return tlsCurrentQueue == state_.get(); }

std::uint64_t SerialQueue::nowNanos() const { return MonotonicClock::nowNanos(); }

void SerialQueue::async(Task block) {
    std::unique_lock lock(state_->mutex);
    if (state_->closed) {
        lock.unlock();
        return; // released outside the lock
    }
    state_->promoteDueLocked();
    state_->ready.push(Item{std::move(block), TaskHandle()});
    State::releaseAndWake(state_, lock, 0);
}

TaskHandle SerialQueue::asyncAfter(std::uint64_t deadlineNanos, Task block) {
    TaskHandle handle = TaskHandle::make();
    std::vector<Timed> dropped; // released after the lock
    std::unique_lock lock(state_->mutex);
    if (state_->closed) {
        lock.unlock();
        handle.cancel(); // it will never run
        return handle;
    }
    state_->timed.push(Timed{deadlineNanos, state_->sequence++, Item{std::move(block), handle}}, dropped);
    State::releaseAndWake(state_, lock, deadlineNanos);
    return handle;
}

std::unique_ptr<Alarm> SerialQueue::makeAlarm(Alarm::Handler handler) {
    auto slot = std::make_shared<AlarmSlot>();
    slot->handler = std::move(handler);
    {
        std::lock_guard lock(state_->mutex);
        // A closed queue never fires it: arm() does nothing there.
        if (!state_->closed) state_->alarms.push_back(slot);
    }
    return std::make_unique<QueueAlarm>(state_, std::move(slot));
}

bool SerialQueue::beginRunHere() {
    if (isCurrent()) return false;
    std::lock_guard lock(state_->mutex);
    if (state_->closed || state_->running || state_->lent) return false;
    state_->promoteDueLocked();
    if (!state_->ready.empty()) return false;
    state_->lent = true;
    state_->lenderOuterQueue = tlsCurrentQueue;
    tlsCurrentQueue = state_.get();
    return true;
}

void SerialQueue::endRunHere() {
    std::unique_lock lock(state_->mutex);
    tlsCurrentQueue = state_->lenderOuterQueue;
    state_->lent = false;
    // The queue's thread waits for the turn only when work came meanwhile;
    // otherwise it sleeps on undisturbed.
    const bool wake = state_->parked;
    state_->parked = false;
    lock.unlock();
    if (wake) state_->changed.notify_one();
}

bool SerialQueue::sync(Task block) {
    if (isCurrent()) {
        assert(false && "SerialQueue::sync called on the queue itself would deadlock");
        block();
        return true;
    }
    bool ran = false;
    std::promise<void> done;
    std::future<void> finished = done.get_future();
    async([&block, &ran, done = std::move(done)]() mutable {
        block();
        ran = true;
        done.set_value();
    });
    // A block the queue drops (it has no thread) ends the wait as well: the
    // promise breaks when the block is released.
    finished.wait();
    return ran;
}

} // namespace ravolet::platform
