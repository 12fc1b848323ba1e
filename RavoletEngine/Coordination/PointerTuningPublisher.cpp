#include "RavoletEngine/Coordination/PointerTuningPublisher.hpp"

namespace ravolet {

std::shared_ptr<PointerTuningPublisher> PointerTuningPublisher::make(std::shared_ptr<platform::Scheduler> interface,
                                                                     std::chrono::milliseconds waitingAfter,
                                                                     std::function<std::optional<bool>()> switchAsked,
                                                                     const PointerTuningStatus& initial) {
    return std::make_shared<PointerTuningPublisher>(Private{}, std::move(interface), waitingAfter, std::move(switchAsked),
                                                    initial);
}

PointerTuningPublisher::PointerTuningPublisher(Private, std::shared_ptr<platform::Scheduler> interface,
                                               std::chrono::milliseconds waitingAfter,
                                               std::function<std::optional<bool>()> switchAsked,
                                               const PointerTuningStatus& initial)
    : interface_(std::move(interface)),
      waitingAfter_(static_cast<std::uint64_t>(std::chrono::nanoseconds(waitingAfter).count())),
      switchAsked_(std::move(switchAsked)),
      snapshot_(initial),
      status_(initial) {}

PointerTuningStatus PointerTuningPublisher::status() const {
    std::lock_guard guard(lock_);
    return snapshot_;
}

ObserverConnection PointerTuningPublisher::observe(std::function<void(const PointerTuningStatus&)> observer) {
    return status_.observe(std::move(observer));
}

void PointerTuningPublisher::take(const Compose& compose) {
    snapshot_ = compose();
    if (const auto asked = switchAsked_()) snapshot_.isEnabled = *asked;
    snapshot_.isWaitingForDesktop = waiting_;
}

void PointerTuningPublisher::publish(const Compose& compose) {
    {
        std::lock_guard guard(lock_);
        take(compose);
    }
    // A queued operation tells the observers as it finishes.
    if (!interface_) tellObservers();
}

void PointerTuningPublisher::handedOver() {
    {
        std::lock_guard guard(lock_);
        pendingSince_.push_back(interface_->nowNanos());
    }
    armWaitingCheck();
}

void PointerTuningPublisher::finished(const Compose& compose) {
    {
        std::lock_guard guard(lock_);
        pendingSince_.pop_front();
        waiting_ = isOverdue();
        take(compose);
    }
    tellObservers();
    armWaitingCheck();
}

void PointerTuningPublisher::switchSet(bool enabled) {
    {
        std::lock_guard guard(lock_);
        snapshot_.isEnabled = enabled;
    }
    tellObservers();
}

bool PointerTuningPublisher::isOverdue() const {
    if (pendingSince_.empty()) return false;
    return interface_->nowNanos() >= pendingSince_.front() + waitingAfter_;
}

void PointerTuningPublisher::armWaitingCheck() {
    std::uint64_t deadline = 0;
    {
        std::lock_guard guard(lock_);
        if (waitingCheckArmed_ || waiting_ || pendingSince_.empty()) return;
        waitingCheckArmed_ = true;
        deadline = pendingSince_.front() + waitingAfter_;
    }
    interface_->postAt(deadline, [weak = weak_from_this()] {
        if (const auto self = weak.lock()) self->checkWaiting();
    });
}

void PointerTuningPublisher::checkWaiting() {
    bool nowWaiting = false;
    {
        std::lock_guard guard(lock_);
        waitingCheckArmed_ = false;
        if (!waiting_ && isOverdue()) {
            waiting_ = true;
            snapshot_.isWaitingForDesktop = true;
            nowWaiting = true;
        }
    }
    // The operation it was armed for may have finished and another wait since.
    if (nowWaiting)
        status_.set(status());
    else
        armWaitingCheck();
}

void PointerTuningPublisher::tellObservers() {
    if (!interface_) {
        status_.set(status());
        return;
    }
    // The snapshot as it is when the observers are told: never an older one.
    interface_->post([weak = weak_from_this()] {
        if (const auto self = weak.lock()) self->status_.set(self->status());
    });
}

} // namespace ravolet
