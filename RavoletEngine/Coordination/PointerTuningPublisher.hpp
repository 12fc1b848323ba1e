#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "Platform/Executor.hpp"
#include "RavoletEngine/Coordination/PointerTuningStatus.hpp"
#include "Support/Observable.hpp"

namespace ravolet {

// What the callers of a tuner see of its status: the snapshot its work last
// published, read from any thread without ever waiting on the desktop, and
// its observers, told of each change after the operation that made it.
//
// With no `interface` scheduler (a tuner that runs each operation on the
// caller's thread), observers are told at once. With one (a queued tuner),
// they are told there, and an operation handed over that has not finished
// within `waitingAfter` makes the snapshot say isWaitingForDesktop until the
// work has caught up with every operation handed over by then.
//
// `switchAsked` gives the user's switch as set and not yet taken by the
// work; the snapshot shows it in place of the work's. It is read under the
// snapshot's lock, so no snapshot the work publishes shows the switch older
// than the caller last set it.
class PointerTuningPublisher : public std::enable_shared_from_this<PointerTuningPublisher> {
public:
    using Compose = std::function<PointerTuningStatus()>;

    static std::shared_ptr<PointerTuningPublisher> make(std::shared_ptr<platform::Scheduler> interface,
                                                        std::chrono::milliseconds waitingAfter,
                                                        std::function<std::optional<bool>()> switchAsked,
                                                        const PointerTuningStatus& initial);

    PointerTuningStatus status() const;
    ObserverConnection observe(std::function<void(const PointerTuningStatus&)> observer);

    // The work's status, composed by `compose` (on the work's thread), as
    // an operation publishes it: observers are told at once when not queued,
    // else as the operation finishes.
    void publish(const Compose& compose);
    // An operation was handed over to the work queue.
    void handedOver();
    // A handed-over operation has finished with what `compose` gives.
    void finished(const Compose& compose);
    // The caller has just set the switch to `enabled`: the snapshot says so
    // at once, even where the work has taken it already and not yet finished.
    void switchSet(bool enabled);

    struct Private {};
    PointerTuningPublisher(Private, std::shared_ptr<platform::Scheduler> interface, std::chrono::milliseconds waitingAfter,
                           std::function<std::optional<bool>()> switchAsked, const PointerTuningStatus& initial);

private:
    void take(const Compose& compose); // under lock_
    bool isOverdue() const;            // under lock_
    void armWaitingCheck();
    void checkWaiting();
    void tellObservers();

    const std::shared_ptr<platform::Scheduler> interface_;
    const std::uint64_t waitingAfter_;
    const std::function<std::optional<bool>()> switchAsked_;

    mutable std::mutex lock_;
    PointerTuningStatus snapshot_;
    // When each operation handed over and not finished was handed over, oldest first.
    std::deque<std::uint64_t> pendingSince_;
    bool waiting_ = false;
    bool waitingCheckArmed_ = false;

    // Told on the interface's scheduler (the caller's thread, not queued).
    Observable<PointerTuningStatus> status_;
};

} // namespace ravolet
