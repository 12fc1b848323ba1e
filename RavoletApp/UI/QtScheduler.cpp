#include "RavoletApp/UI/QtScheduler.hpp"

#include <QThread>
#include <QTimer>

#include <algorithm>
#include <vector>

#include "Platform/MonotonicClock.hpp"

namespace ravolet {

QtScheduler::QtScheduler() : context_(new QObject()), timer_(new QTimer(context_)) {
    timer_->setSingleShot(true);
    timer_->setTimerType(Qt::PreciseTimer);
}

QtScheduler::~QtScheduler() {
    // The last holder may be another thread, as the program ends: the loop's
    // thread then disposes of the context, if its loop still runs.
    if (isCurrent()) {
        delete context_;
    } else {
        context_->deleteLater();
    }
}

void QtScheduler::post(platform::Task task) { postAt(nowNanos(), std::move(task)); }

bool QtScheduler::isCurrent() const { return QThread::currentThread() == context_->thread(); }

std::uint64_t QtScheduler::nowNanos() const { return platform::MonotonicClock::nowNanos(); }

platform::TaskHandle QtScheduler::postAt(std::uint64_t deadlineNanos, platform::Task task) {
    auto handle = platform::TaskHandle::make();
    bool needsWake = false;
    {
        std::lock_guard lock(mutex_);
        const Key key{deadlineNanos, nextOrder_++};
        const bool earliest = queue_.empty() || key < queue_.begin()->first;
        queue_.emplace(key, Entry{std::move(task), handle});
        // The timer is armed for the earliest deadline only; a new earliest
        // one has the loop's thread arm it again.
        if (earliest && !wakePending_) needsWake = wakePending_ = true;
    }
    if (needsWake) wake();
    return handle;
}

void QtScheduler::wake() {
    QMetaObject::invokeMethod(
        context_,
        [weak = weak_from_this()] {
            if (const auto self = weak.lock()) self->runDue();
        },
        Qt::QueuedConnection);
}

void QtScheduler::runDue() {
    std::vector<Entry> due;
    {
        std::lock_guard lock(mutex_);
        wakePending_ = false;
        const std::uint64_t now = nowNanos();
        // What tasks post while these run waits for the next turn.
        while (!queue_.empty() && queue_.begin()->first.first <= now) {
            due.push_back(std::move(queue_.begin()->second));
            queue_.erase(queue_.begin());
        }
    }
    for (Entry& entry : due) {
        if (!entry.handle.isCancelled()) entry.task();
    }
    rearm();
}

void QtScheduler::discardPending() {
    // A task let go may post again from what it held: go on until none is left.
    for (;;) {
        std::map<Key, Entry> dropped;
        {
            std::lock_guard lock(mutex_);
            dropped.swap(queue_);
        }
        if (dropped.empty()) return;
    }
}

void QtScheduler::rearm() {
    std::lock_guard lock(mutex_);
    if (!timerConnected_) {
        QObject::connect(timer_, &QTimer::timeout, context_, [weak = weak_from_this()] {
            if (const auto self = weak.lock()) self->runDue();
        });
        timerConnected_ = true;
    }
    if (queue_.empty()) {
        timer_->stop();
        return;
    }
    const std::uint64_t next = queue_.begin()->first.first;
    const std::uint64_t now = nowNanos();
    if (next <= now) {
        if (!wakePending_) {
            wakePending_ = true;
            wake();
        }
        return;
    }
    // Whole milliseconds, rounded up: the timer never runs a task early, and
    // runDue() leaves anything not yet due for the next arming.
    const std::uint64_t waitMs = (next - now + 999'999) / 1'000'000;
    timer_->start(static_cast<int>(std::min<std::uint64_t>(waitMs, 24ull * 3600 * 1000)));
}

} // namespace ravolet
