#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "Platform/Executor.hpp"
#include "Platform/Thread.hpp"

namespace ravolet::platform {

// A serial dispatch queue: blocks run one at a time on the queue's own thread
// (named after the label), in the order in which they become due: async blocks
// in submission order, blocks for a deadline once the monotonic clock reaches
// it (never earlier), earlier deadlines first.
//
// New work wakes the queue's thread only when it sleeps and the work is due
// before the time it sleeps for.
//
// Destroying the queue discards every block that has not started (async,
// deadline and timer fires alike) without running it, waits for the block that
// is running to finish (unless the queue is destroyed by that very block), and
// ends the thread. So nothing runs after the queue's owner is gone, and a
// queue with work pending for the distant future is destroyed at once.
//
// A queue whose thread could not be started reports it (started() is false)
// and releases every block it is given without running it; sync() then
// returns false at once, and asyncAfter() gives a cancelled handle.
class SerialQueue final : public Scheduler {
public:
    SerialQueue(std::string label, QueuePriority priority);
    ~SerialQueue() override;
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const std::string& label() const { return label_; }
    // False when the queue's thread could not be started.
    bool started() const;
    QueuePriority priority() const { return priority_; }

    // Enqueues the block; returns at once.
    void async(Task block);

    // Enqueues the block for a deadline on the monotonic clock (nanoseconds).
    TaskHandle asyncAfter(std::uint64_t deadlineNanos, Task block);

    // Runs the block on the queue after every block already enqueued and
    // returns once it has run: true, or false when the queue dropped it
    // (it has no thread). Never call it on the queue itself: that is a
    // programming error, caught by an assertion in debug builds (in release
    // builds the block runs at once on the caller rather than deadlocking).
    bool sync(Task block);

    // Scheduler
    void post(Task task) override { async(std::move(task)); }
    // The queue keeps its alarms itself: arming moves one slot, allocates
    // nothing, and wakes the queue's thread only when it sleeps past the
    // deadline plus the leeway.
    std::unique_ptr<Alarm> makeAlarm(Alarm::Handler handler) override;
    bool isCurrent() const override;
    std::uint64_t nowNanos() const override;
    TaskHandle postAt(std::uint64_t deadlineNanos, Task task) override {
        return asyncAfter(deadlineNanos, std::move(task));
    }

protected:
    // Lends the queue's turn to the calling thread while its own thread has
    // no block running and none is due; the queue's thread waits meanwhile.
    bool beginRunHere() override;
    void endRunHere() override;

private:
    struct State;
    struct AlarmSlot;
    class QueueAlarm;
    const std::string label_;
    const QueuePriority priority_;
    std::shared_ptr<State> state_;
};

} // namespace ravolet::platform
