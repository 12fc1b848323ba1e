#include "Platform/RunLoop.hpp"

#include <algorithm>
#include <cassert>
#include <chrono>
#include <cmath>
#include <limits>

#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include "Platform/MonotonicClock.hpp"

namespace ravolet::platform {

namespace {

// Waits on the condition until the deadline on the monotonic clock (the
// steady clock's base), or without a limit for a deadline out of range.
template <typename Predicate>
void waitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, std::uint64_t deadlineNanos,
               Predicate predicate) {
    if (deadlineNanos >= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        cv.wait(lock, predicate);
        return;
    }
    const std::chrono::steady_clock::time_point until{
        std::chrono::nanoseconds(static_cast<std::int64_t>(deadlineNanos))};
    cv.wait_until(lock, until, predicate);
}

std::uint64_t deadlineAfterSeconds(std::uint64_t now, double seconds) {
    if (!(seconds > 0)) return now; // also NaN
    const double nanos = std::floor(seconds * 1e9);
    if (nanos >= static_cast<double>(std::numeric_limits<std::uint64_t>::max() - now)) return UINT64_MAX;
    return now + static_cast<std::uint64_t>(nanos);
}

// The loop whose turn the calling thread has borrowed, for isCurrent().
thread_local const RunLoop* tlsBorrowedLoop = nullptr;

} // namespace

// Holds the thread's loop for the life of the thread and tells the loop when
// the thread ends.
struct RunLoop::ThreadSlot {
    std::shared_ptr<RunLoop> loop;
    ~ThreadSlot() {
        if (loop) loop->threadEnded();
    }
};

std::shared_ptr<RunLoop> RunLoop::current() {
    thread_local ThreadSlot slot;
    if (!slot.loop) slot.loop = std::make_shared<RunLoop>(Passkey{});
    return slot.loop;
}

RunLoop::RunLoop(Passkey) : owner_(std::this_thread::get_id()) {}

RunLoop::~RunLoop() {
    if (wakeDescriptor_ >= 0) ::close(wakeDescriptor_);
    if (alarmDescriptor_ >= 0) ::close(alarmDescriptor_);
}

bool RunLoop::isCurrent() const {
    if (tlsBorrowedLoop == this) return true;
    if (std::this_thread::get_id() != owner_) return false;
    // A later thread may reuse the id of an ended one.
    std::lock_guard lock(mutex_);
    return !ended_;
}

std::uint64_t RunLoop::nowNanos() const { return MonotonicClock::nowNanos(); }

bool RunLoop::setAlarmLocked(std::uint64_t at) {
    if (alarmDescriptor_ < 0) return false;
    itimerspec value{};
    value.it_value.tv_sec = static_cast<time_t>(at / 1'000'000'000u);
    value.it_value.tv_nsec = static_cast<long>(at % 1'000'000'000u);
    return ::timerfd_settime(alarmDescriptor_, TFD_TIMER_ABSTIME, &value, nullptr) == 0;
}

void RunLoop::releaseAndWake(std::unique_lock<std::mutex>& lock, std::uint64_t latest) {
    std::shared_ptr<RunLoop> keep;
    bool polling = false;
    // A polling thread that must look by a later time (a timer, not work to
    // do now) is given an alarm among its descriptors instead of a wake-up:
    // it sleeps on until then, or until its descriptors wake it first, as a
    // time-out's does when the answer it guards arrives.
    if (waiting_ && polling_ && latest != 0 && latest < waitingUntil_ && setAlarmLocked(latest)) {
        waitingUntil_ = latest;
        lock.unlock();
        return;
    }
    if (waiting_ && latest < waitingUntil_) {
        waiting_ = false;
        woken_ = true;
        polling = polling_;
        keep = shared_from_this();
    }
    lock.unlock();
    if (!keep) return;
    if (polling) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(keep->wakeDescriptor_, &one, sizeof one);
    } else {
        keep->wake_.notify_one();
    }
}

void RunLoop::perform(Task block) {
    std::unique_lock lock(mutex_);
    if (ended_) {
        lock.unlock();
        return; // the thread is gone; the block is released here, outside the lock
    }
    blocks_.push_back(std::move(block));
    releaseAndWake(lock, 0);
}

void RunLoop::wakeUp() {
    std::unique_lock lock(mutex_);
    woken_ = true;
    releaseAndWake(lock, 0);
}

void RunLoop::stop() {
    std::unique_lock lock(mutex_);
    stopRequested_ = true;
    releaseAndWake(lock, 0);
}

bool RunLoop::isRunning() const {
    std::lock_guard lock(mutex_);
    return running_;
}

void RunLoop::sourceSignalled() { wakeUp(); }

RunResult RunLoop::runFor(double seconds) {
    assert(isCurrent() && "a run loop runs only on its own thread");
    const std::uint64_t deadline = deadlineAfterSeconds(nowNanos(), seconds);
    {
        std::lock_guard lock(mutex_);
        assert(!running_ && "runFor is not re-entrant");
        running_ = true;
    }
    RunResult result = RunResult::timedOut;
    for (;;) {
        if (!runOnePass()) {
            result = RunResult::stopped;
            break;
        }
        std::unique_lock lock(mutex_);
        if (stopRequested_) {
            stopRequested_ = false;
            result = RunResult::stopped;
            break;
        }
        const std::uint64_t now = nowNanos();
        if (now >= deadline) break;
        const bool busy = woken_ || !blocks_.empty();
        std::uint64_t wakeAt = deadline;
        if (!timers_.empty()) wakeAt = std::min(wakeAt, timers_.front()->fireDate_);
        if (hasWatches()) {
            // Descriptors are looked at on every pass, also when there is
            // work already, so that a busy loop never leaves input waiting.
            pollDescriptors(lock, busy || wakeAt <= now ? 0 : wakeAt);
            continue;
        }
        if (busy) continue;
        if (wakeAt <= now) continue;
        waiting_ = true;
        waitingUntil_ = wakeAt;
        waitUntil(wake_, lock, wakeAt, [&] { return woken_ || stopRequested_; });
        waiting_ = false;
    }
    std::lock_guard lock(mutex_);
    running_ = false;
    return result;
}

void RunLoop::run() { runFor(std::numeric_limits<double>::infinity()); }

bool RunLoop::beginRunHere() {
    if (isCurrent()) return false;
    std::lock_guard lock(mutex_);
    // Idle: the loop's thread waits and nothing woke it. A timer that fell
    // due or a descriptor that became readable meanwhile is serviced after
    // the work, as after a block performed now.
    if (ended_ || !waiting_ || lent_ || woken_ || stopRequested_ || !blocks_.empty()) return false;
    lent_ = true;
    lenderOuterLoop_ = tlsBorrowedLoop;
    tlsBorrowedLoop = this;
    return true;
}

void RunLoop::endRunHere() {
    std::unique_lock lock(mutex_);
    tlsBorrowedLoop = lenderOuterLoop_;
    lent_ = false;
    // The loop's thread waits for the turn only when something woke it
    // meanwhile; otherwise it sleeps on undisturbed.
    const bool wake = awaitingTurn_;
    lock.unlock();
    if (wake) turnReturned_.notify_one();
}

bool RunLoop::runOnePass() {
    // Timers invalidated or cancelled before their time, let go of here.
    std::vector<std::shared_ptr<RunLoopTimer>> dropped;
    {
        std::unique_lock lock(mutex_);
        if (lent_) {
            awaitingTurn_ = true;
            turnReturned_.wait(lock, [&] { return !lent_; });
            awaitingTurn_ = false;
        }
        if (stopRequested_) {
            stopRequested_ = false;
            return false;
        }
        woken_ = false;
        passBlocks_.swap(blocks_);
        const std::uint64_t now = nowNanos();
        // Due timers come off the heap earliest first; a repeating one goes
        // back with its next fire, which follows this one by an interval
        // (fires missed while the loop was busy are skipped).
        while (!timers_.empty() && (timers_.front()->fireDate_ <= now || !timers_.front()->isLive())) {
            std::shared_ptr<RunLoopTimer> timer = timers_.pop();
            if (!timer->isLive()) {
                dropped.push_back(std::move(timer));
                continue;
            }
            if (timer->intervalNanos_ != 0) {
                std::uint64_t next = timer->fireDate_ + timer->intervalNanos_;
                if (next <= now) next += ((now - next) / timer->intervalNanos_ + 1) * timer->intervalNanos_;
                // Still due in this pass: it fires once now, at the deadline it had.
                passTimers_.push_back(timer);
                timer->fireDate_ = next;
                timers_.push(std::move(timer), dropped);
            } else {
                passTimers_.push_back(std::move(timer));
            }
        }
        for (const auto& source : sources_)
            if (source->signalled_.exchange(false, std::memory_order_acq_rel)) passSources_.push_back(source);
    }
    dropped.clear();
    for (auto& block : passBlocks_) {
        block();
        block = nullptr; // release what it captured before the next one runs
    }
    passBlocks_.clear();
    for (auto& timer : passTimers_) {
        // A handler that ran before may have invalidated or cancelled a later timer.
        if (timer->isLive()) {
            if (timer->intervalNanos_ == 0) timer->valid_.store(false, std::memory_order_release);
            if (timer->handler_) timer->handler_();
        }
        timer = nullptr;
    }
    passTimers_.clear();
    for (auto& source : passSources_) {
        // Removed meanwhile by an earlier block or handler: not serviced.
        if (containsSource(source)) source->perform();
        source = nullptr;
    }
    passSources_.clear();
    return true;
}

std::shared_ptr<RunLoopTimer> RunLoop::addTimer(std::uint64_t deadlineNanos, std::uint64_t intervalNanos,
                                                RunLoopTimer::Handler handler) {
    auto timer = std::make_shared<RunLoopTimer>(RunLoopTimer::Passkey{}, weak_from_this(), deadlineNanos,
                                                intervalNanos, std::move(handler));
    insertTimer(timer);
    return timer;
}

void RunLoop::insertTimer(std::shared_ptr<RunLoopTimer> timer) {
    std::vector<std::shared_ptr<RunLoopTimer>> dropped; // released after the lock
    std::unique_lock lock(mutex_);
    if (ended_) {
        timer->valid_.store(false, std::memory_order_release);
        return;
    }
    timer->sequence_ = timerSequence_++;
    const std::uint64_t fireDate = timer->fireDate_;
    timers_.push(std::move(timer), dropped);
    releaseAndWake(lock, fireDate); // the wait may have to end sooner now
}

TaskHandle RunLoop::postAt(std::uint64_t deadlineNanos, Task task) {
    TaskHandle handle = TaskHandle::make();
    auto timer = std::make_shared<RunLoopTimer>(RunLoopTimer::Passkey{}, weak_from_this(), deadlineNanos, 0,
                                                std::move(task));
    timer->cancellation_ = handle;
    insertTimer(std::move(timer));
    return handle;
}

void RunLoop::removeTimer(RunLoopTimer* timer) {
    std::shared_ptr<RunLoopTimer> removed; // released after the lock
    std::lock_guard lock(mutex_);
    removed = timers_.remove([timer](const auto& t) { return t.get() == timer; });
}

void RunLoop::addSource(const std::shared_ptr<RunLoopSource>& source) {
    if (!source) return;
    {
        std::lock_guard lock(source->loopLock_);
        source->loop_ = weak_from_this();
    }
    std::unique_lock lock(mutex_);
    if (ended_ || std::find(sources_.begin(), sources_.end(), source) != sources_.end()) return;
    sources_.push_back(source);
    woken_ = true; // a signal given before the source was added is serviced now
    releaseAndWake(lock, 0);
}

bool RunLoop::addSource(const std::shared_ptr<RunLoopSource>& source, int descriptor) {
    if (!source || descriptor < 0) return false;
    {
        std::lock_guard lock(source->loopLock_);
        source->loop_ = weak_from_this();
    }
    std::unique_lock lock(mutex_);
    if (ended_) return false;
    if (wakeDescriptor_ < 0) {
        wakeDescriptor_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (wakeDescriptor_ < 0) return false;
        // Without an alarm, later deadlines wake the thread instead.
        alarmDescriptor_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    }
    if (std::find(sources_.begin(), sources_.end(), source) == sources_.end()) sources_.push_back(source);
    const auto watch = std::find_if(watches_.begin(), watches_.end(), [&](const Watch& w) { return w.source == source; });
    if (watch != watches_.end()) {
        watch->descriptor = descriptor;
        watch->watched = true;
    } else {
        watches_.push_back(Watch{source, descriptor, true});
    }
    // The loop's thread looks again, with the descriptor among those it polls.
    woken_ = true;
    releaseAndWake(lock, 0);
    return true;
}

bool RunLoop::hasWatches() const {
    return std::any_of(watches_.begin(), watches_.end(), [](const Watch& w) { return w.watched; });
}

void RunLoop::pollDescriptors(std::unique_lock<std::mutex>& lock, std::uint64_t until) {
    pollDescriptors_.clear();
    pollSources_.clear();
    pollDescriptors_.push_back(pollfd{wakeDescriptor_, POLLIN, 0});
    pollSources_.push_back(nullptr);
    if (alarmDescriptor_ >= 0) {
        pollDescriptors_.push_back(pollfd{alarmDescriptor_, POLLIN, 0});
        pollSources_.push_back(nullptr);
    }
    for (const Watch& watch : watches_) {
        if (!watch.watched) continue;
        pollDescriptors_.push_back(pollfd{watch.descriptor, POLLIN, 0});
        pollSources_.push_back(watch.source.get());
    }
    timespec timeout{};
    timespec* limit = &timeout;
    if (until != 0) {
        waiting_ = true;
        polling_ = true;
        waitingUntil_ = until;
        const std::uint64_t now = nowNanos();
        if (until >= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            limit = nullptr;
        } else if (until > now) {
            timeout.tv_sec = static_cast<time_t>((until - now) / 1'000'000'000u);
            timeout.tv_nsec = static_cast<long>((until - now) % 1'000'000'000u);
        }
    }
    lock.unlock();
    const int ready = ::ppoll(pollDescriptors_.data(), pollDescriptors_.size(), limit, nullptr);
    lock.lock();
    waiting_ = false;
    polling_ = false;
    if (ready <= 0) return;
    for (std::size_t i = 0; i < pollDescriptors_.size(); ++i) {
        const short events = pollDescriptors_[i].revents;
        if (events == 0) continue;
        if (pollSources_[i] == nullptr) {
            // The wake-up or the alarm: read, so that it is quiet again.
            std::uint64_t count = 0;
            [[maybe_unused]] const auto drained = ::read(pollDescriptors_[i].fd, &count, sizeof count);
            continue;
        }
        // Removed while the loop polled: nothing to signal.
        const auto watch = std::find_if(watches_.begin(), watches_.end(),
                                        [&](const Watch& w) { return w.source.get() == pollSources_[i]; });
        if (watch == watches_.end()) continue;
        if ((events & (POLLHUP | POLLERR | POLLNVAL)) != 0) watch->watched = false;
        watch->source->signalled_.store(true, std::memory_order_release);
    }
}

void RunLoop::removeSource(const std::shared_ptr<RunLoopSource>& source) {
    if (!source) return;
    {
        std::unique_lock lock(mutex_);
        std::erase(sources_, source);
        const auto removed =
            std::erase_if(watches_, [&](const Watch& w) { return w.source == source; });
        // A thread polling the descriptor polls the ones left instead.
        if (removed != 0) {
            woken_ = true;
            releaseAndWake(lock, 0);
        }
    }
    std::lock_guard lock(source->loopLock_);
    if (auto loop = source->loop_.lock(); loop.get() == this) source->loop_.reset();
}

bool RunLoop::containsSource(const std::shared_ptr<RunLoopSource>& source) const {
    std::lock_guard lock(mutex_);
    return std::find(sources_.begin(), sources_.end(), source) != sources_.end();
}

void RunLoop::threadEnded() {
    std::vector<Task> blocks;
    std::vector<std::shared_ptr<RunLoopTimer>> timers;
    std::vector<std::shared_ptr<RunLoopSource>> sources;
    {
        std::lock_guard lock(mutex_);
        ended_ = true;
        blocks.swap(blocks_);
        timers = timers_.takeAll();
        sources.swap(sources_);
        watches_.clear();
    }
    for (const auto& timer : timers) timer->valid_.store(false, std::memory_order_release);
    // Everything is released here, outside the lock, without running.
}

RunLoopTimer::RunLoopTimer(Passkey, std::weak_ptr<RunLoop> loop, std::uint64_t deadlineNanos,
                           std::uint64_t intervalNanos, Handler handler)
    : loop_(std::move(loop)), fireDate_(deadlineNanos), intervalNanos_(intervalNanos), handler_(std::move(handler)) {}

void RunLoopTimer::invalidate() {
    if (!valid_.exchange(false, std::memory_order_acq_rel)) return;
    if (auto loop = loop_.lock()) loop->removeTimer(this);
}

void RunLoopSource::signal() {
    signalled_.store(true, std::memory_order_release);
    std::shared_ptr<RunLoop> loop;
    {
        std::lock_guard lock(loopLock_);
        loop = loop_.lock();
    }
    if (loop) loop->sourceSignalled();
}

} // namespace ravolet::platform
