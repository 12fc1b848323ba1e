#include "Platform/SerialQueue.hpp"

#include <cassert>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <future>
#include <limits>
#include <mutex>
#include <set>

#include "Platform/MonotonicClock.hpp"

namespace ravolet::platform {

namespace {

struct Item {
    Task task;
    TaskHandle handle; // inert for async blocks
};

struct Timed {
    std::uint64_t deadline;
    std::uint64_t sequence;
    mutable Item item;
    bool operator<(const Timed& other) const {
        return deadline != other.deadline ? deadline < other.deadline : sequence < other.sequence;
    }
};

} // namespace

struct SerialQueue::State {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Item> ready; // due, in the order they became due
    std::set<Timed> timed;  // not yet due, by deadline
    std::uint64_t sequence = 0;
    bool closed = false;
    Thread thread;

    // Moves every block whose deadline has come behind the ready ones, so that
    // blocks run in the order in which they become due.
    void promoteDueLocked(std::uint64_t now) {
        while (!timed.empty() && timed.begin()->deadline <= now) {
            auto node = timed.extract(timed.begin());
            ready.push_back(std::move(node.value().item));
        }
    }

    void run();
};

namespace {
// The queue whose thread this is, for isCurrent().
thread_local const void* tlsCurrentQueue = nullptr;
} // namespace

void SerialQueue::State::run() {
    tlsCurrentQueue = this;
    std::unique_lock lock(mutex);
    while (!closed) {
        promoteDueLocked(MonotonicClock::nowNanos());
        if (!ready.empty()) {
            Item item = std::move(ready.front());
            ready.pop_front();
            lock.unlock();
            if (!item.handle.isCancelled()) item.task();
            item = Item{}; // release captures outside the lock
            lock.lock();
            continue;
        }
        const auto wake = [&] { return closed || !ready.empty(); };
        if (timed.empty()) {
            changed.wait(lock, [&] { return wake() || !timed.empty(); });
        } else {
            const std::uint64_t deadline = timed.begin()->deadline;
            if (deadline >= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
                changed.wait(lock, [&] { return wake() || timed.begin()->deadline != deadline; });
            } else {
                // Also wake when an earlier deadline arrives.
                changed.wait_until(lock,
                                   std::chrono::steady_clock::time_point{
                                       std::chrono::nanoseconds(static_cast<std::int64_t>(deadline))},
                                   [&] { return wake() || timed.begin()->deadline != deadline; });
            }
        }
    }
}

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
    std::deque<Item> ready;
    std::set<Timed> timed;
    Thread thread;
    {
        std::lock_guard lock(state_->mutex);
        state_->closed = true;
        ready.swap(state_->ready);
        timed.swap(state_->timed);
        thread = std::move(state_->thread);
        state_->changed.notify_all();
    }
    // Pending blocks are released here without running.
    ready.clear();
    timed.clear();
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
    state_->promoteDueLocked(MonotonicClock::nowNanos());
    state_->ready.push_back(Item{std::move(block), TaskHandle()});
    state_->changed.notify_one();
}

TaskHandle SerialQueue::asyncAfter(std::uint64_t deadlineNanos, Task block) {
    TaskHandle handle = TaskHandle::make();
    std::unique_lock lock(state_->mutex);
    if (state_->closed) {
        lock.unlock();
        handle.cancel(); // it will never run
        return handle;
    }
    state_->timed.insert(Timed{deadlineNanos, state_->sequence++, Item{std::move(block), handle}});
    state_->changed.notify_one();
    return handle;
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
