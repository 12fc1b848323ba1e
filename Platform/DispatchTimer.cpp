#include "Platform/DispatchTimer.hpp"

#include <utility>

namespace ravolet::platform {

std::shared_ptr<DispatchTimer> DispatchTimer::create(Scheduler& scheduler, std::uint64_t startNanos,
                                                     std::uint64_t intervalNanos, std::uint64_t leewayNanos,
                                                     Handler handler) {
    return std::make_shared<DispatchTimer>(Passkey{}, scheduler, startNanos, intervalNanos, leewayNanos,
                                           std::move(handler));
}

DispatchTimer::DispatchTimer(Passkey, Scheduler& scheduler, std::uint64_t startNanos, std::uint64_t intervalNanos,
                             std::uint64_t leewayNanos, Handler handler)
    : scheduler_(scheduler), intervalNanos_(intervalNanos), leewayNanos_(leewayNanos), handler_(std::move(handler)),
      nextDeadline_(startNanos) {}

DispatchTimer::~DispatchTimer() { pending_.cancel(); }

void DispatchTimer::resume() {
    std::unique_lock lock(mutex_);
    if (resumed_ || cancelled_) return;
    resumed_ = true;
    scheduleLocked(lock);
}

void DispatchTimer::cancel() {
    TaskHandle pending;
    {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
        pending = pending_;
    }
    pending.cancel();
}

bool DispatchTimer::isCancelled() const {
    std::lock_guard lock(mutex_);
    return cancelled_;
}

// Posts the next fire. The lock is released before the scheduler is called.
void DispatchTimer::scheduleLocked(std::unique_lock<std::mutex>& lock) {
    const std::uint64_t deadline = nextDeadline_;
    const std::uint64_t generation = ++generation_;
    lock.unlock();
    TaskHandle handle = scheduler_.postAt(deadline, [weak = weak_from_this(), deadline] {
        if (auto self = weak.lock()) self->fire(deadline);
    });
    lock.lock();
    // The fire may already have run and scheduled the next one meanwhile.
    if (generation_ == generation) pending_ = handle;
    // A cancel() that came while the lock was released saw the old handle.
    if (cancelled_) handle.cancel();
}

void DispatchTimer::fire(std::uint64_t deadline) {
    const std::uint64_t now = scheduler_.nowNanos();
    {
        std::lock_guard lock(mutex_);
        if (cancelled_) return;
        if (intervalNanos_ == 0) {
            cancelled_ = true; // a one-shot timer is done once it fired
        } else {
            // The next deadline follows this one by an interval; fires missed
            // while the scheduler was late are merged into this one.
            std::uint64_t next = deadline + intervalNanos_;
            if (next <= now) next += ((now - next) / intervalNanos_ + 1) * intervalNanos_;
            nextDeadline_ = next;
        }
    }
    // Only one fire is ever pending, so the handler never runs twice at once.
    if (handler_) handler_();
    std::unique_lock lock(mutex_);
    if (!cancelled_) scheduleLocked(lock);
}

} // namespace ravolet::platform
