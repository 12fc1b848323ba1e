#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <poll.h>

#include "Platform/Executor.hpp"
#include "Platform/QueueStorage.hpp"

namespace ravolet::platform {

class RunLoop;

// Why runFor() returned.
enum class RunResult {
    timedOut, // the time given was used up
    stopped,  // stop() was called
};

// A timer on a run loop: fires its handler on the loop's thread once the
// monotonic clock reaches its deadline (never earlier), then, when repeating,
// every interval after that deadline; fires that were missed while the loop
// was busy are skipped, not bunched. Invalidating (from any thread, also from
// its own handler) stops it for good; a one-shot timer invalidates itself
// after firing. The handler stays alive until the timer object is released.
class RunLoopTimer {
public:
    using Handler = std::move_only_function<void()>;

    void invalidate();
    bool isValid() const { return valid_.load(std::memory_order_acquire); }

    std::uint64_t intervalNanos() const { return intervalNanos_; }
    // The next deadline (the first one until it has fired). Read on the loop's thread.
    std::uint64_t fireDateNanos() const { return fireDate_; }

    struct Passkey {
    private:
        friend class RunLoop;
        Passkey() = default;
    };
    RunLoopTimer(Passkey, std::weak_ptr<RunLoop> loop, std::uint64_t deadlineNanos, std::uint64_t intervalNanos,
                 Handler handler);

private:
    friend class RunLoop;
    // Still to fire: not invalidated, and (for a block of postAt()) not cancelled.
    bool isLive() const { return isValid() && !cancellation_.isCancelled(); }

    std::weak_ptr<RunLoop> loop_;
    std::atomic<bool> valid_{true};
    std::uint64_t fireDate_;       // guarded by the loop's mutex
    const std::uint64_t intervalNanos_;
    std::uint64_t sequence_ = 0;   // creation order among equal deadlines; guarded by the loop's mutex
    Handler handler_;              // only called on the loop's thread
    TaskHandle cancellation_;      // the handle of a block of postAt(); set before the timer is added
};

// Something that wakes a run loop from outside and is then serviced on the
// loop's thread: HID notifications and input reports, a descriptor watched by
// a reader, or by the loop itself. A backend derives from it and implements
// perform(). signal() (from any thread) marks it ready and wakes the loop it
// is added to; the loop then calls perform() once for any number of signals
// since the last call. A signal given before the source is added is kept
// until it is.
class RunLoopSource : public std::enable_shared_from_this<RunLoopSource> {
public:
    virtual ~RunLoopSource() = default;

    void signal();
    bool isSignalled() const { return signalled_.load(std::memory_order_acquire); }

protected:
    // Runs on the loop's thread.
    virtual void perform() = 0;

private:
    friend class RunLoop;
    std::atomic<bool> signalled_{false};
    // The loop this source is added to, read by signal() on any thread.
    std::mutex loopLock_;
    std::weak_ptr<RunLoop> loop_;
};

// A run loop owned by one thread: it runs blocks performed from any thread (in
// the order they were performed), due timers and signalled sources, while its
// thread is inside runFor(). It is also a Scheduler: post() is perform() and
// postAt() is a one-shot timer.
//
// New work wakes the loop only while it waits, and a timer only when it is due
// before the time the loop waits for.
//
// While the loop waits with nothing to do, another thread may take its turn
// (runHereIfIdle): the work runs there, isCurrent() is true for it, and the
// loop's thread, should it wake meanwhile, runs nothing until the turn is
// back. A request then leaves from its caller's thread instead of waking the
// loop's thread only to send it. Work run so must not wait for the loop's
// own thread (which waits for it).
//
// Lifetime: the loop lives while its thread does (the thread keeps it) and
// while anyone else holds it. When its thread ends, everything still queued is
// released without running, and later blocks and timers are dropped at once;
// nothing queued is ever run by the destructor.
class RunLoop final : public Scheduler, public std::enable_shared_from_this<RunLoop> {
public:
    // The calling thread's run loop, created on first use.
    static std::shared_ptr<RunLoop> current();

    // Runs the block on the loop's thread after the blocks performed before it
    // (FIFO across all threads), and wakes the loop. Returns at once.
    void perform(Task block);

    // Makes a waiting runFor() look at its work again (it does not return).
    void wakeUp();

    // Runs the loop on its own thread (only there; not nested) until `seconds`
    // have passed or stop() is called; blocks, due timers and signalled sources
    // are run as they come. A stop() that arrives while the loop is not running
    // makes the next runFor() (or run()) return at once, so a stop is never lost.
    RunResult runFor(double seconds);

    // Runs the loop until stop() is called, sleeping whenever it has nothing
    // to do: it wakes only for work (a block, a due timer, a signalled
    // source) and for the stop, never to look at the time.
    void run();

    // Makes the current (or the next) runFor() return `stopped`. Any thread.
    void stop();

    // True while the loop's thread is inside runFor().
    bool isRunning() const;

    // A timer firing first at the deadline, then every interval (0 = one-shot).
    std::shared_ptr<RunLoopTimer> addTimer(std::uint64_t deadlineNanos, std::uint64_t intervalNanos,
                                           RunLoopTimer::Handler handler);

    // A source is added to at most one loop; adding it again to this loop does
    // nothing. A removed source is no longer serviced.
    void addSource(const std::shared_ptr<RunLoopSource>& source);
    // Adds the source and has the loop signal it whenever `descriptor` is
    // readable, hung up or in error. The loop's own thread watches the
    // descriptor (poll) whenever it looks for work, waiting on it while
    // idle, so that input is read on the thread that acts on it with no
    // other thread in between (a device node read by the event tap). After
    // a hang-up or an error the source is signalled once more and the
    // descriptor is no longer watched, since poll would report it for ever:
    // the source then removes itself. The descriptor stays the caller's; it
    // may be closed once the source is removed. Adding the source again
    // replaces the descriptor. False when the loop cannot watch descriptors
    // (its wake-up descriptor cannot be made) or its thread has ended.
    bool addSource(const std::shared_ptr<RunLoopSource>& source, int descriptor);
    void removeSource(const std::shared_ptr<RunLoopSource>& source);
    bool containsSource(const std::shared_ptr<RunLoopSource>& source) const;

    // Scheduler
    void post(Task task) override { perform(std::move(task)); }
    // True on the loop's own thread while that thread lives.
    bool isCurrent() const override;
    std::uint64_t nowNanos() const override;
    TaskHandle postAt(std::uint64_t deadlineNanos, Task task) override;

    struct Passkey {
    private:
        friend class RunLoop;
        Passkey() = default;
    };
    explicit RunLoop(Passkey);
    ~RunLoop() override;
    RunLoop(const RunLoop&) = delete;
    RunLoop& operator=(const RunLoop&) = delete;

private:
    friend class RunLoopTimer;
    friend class RunLoopSource;

    bool beginRunHere() override;
    void endRunHere() override;

    struct ThreadSlot;
    struct TimerKey {
        static std::uint64_t deadline(const std::shared_ptr<RunLoopTimer>& t) { return t->fireDate_; }
        static std::uint64_t sequence(const std::shared_ptr<RunLoopTimer>& t) { return t->sequence_; }
        static bool isLive(const std::shared_ptr<RunLoopTimer>& t) { return t->isLive(); }
    };
    void insertTimer(std::shared_ptr<RunLoopTimer> timer);
    void removeTimer(RunLoopTimer* timer);
    // Lets the lock go and wakes the loop's thread when it waits past
    // `latest`, the time by which the work just given must be looked at (0:
    // at once); the first to find so wakes it, later ones need not. The
    // notify comes after the unlock, so that the thread does not wake only
    // to wait for the lock; the loop is held until it is done.
    void releaseAndWake(std::unique_lock<std::mutex>& lock, std::uint64_t latest);
    // Sets the alarm for `at` (not 0) on the monotonic clock; false when
    // there is no alarm or it cannot be set.
    bool setAlarmLocked(std::uint64_t at);
    void sourceSignalled();
    // The owning thread is ending: release everything queued, accept nothing more.
    void threadEnded();
    // One pass over the work that is ready now, once a lent turn is back;
    // false when stop() was seen.
    bool runOnePass();
    // With descriptors to watch: polls them (and the wake-up descriptor) until
    // `until`, 0 for a look without waiting, and marks the sources of those
    // that are ready. Called with the lock held; lets it go while polling.
    void pollDescriptors(std::unique_lock<std::mutex>& lock, std::uint64_t until);
    bool hasWatches() const;

    const std::thread::id owner_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<Task> blocks_;
    detail::DeadlineHeap<std::shared_ptr<RunLoopTimer>, TimerKey> timers_;
    std::vector<std::shared_ptr<RunLoopSource>> sources_;
    // Descriptors the loop watches for their sources; `watched` false once
    // hung up.
    struct Watch {
        std::shared_ptr<RunLoopSource> source;
        int descriptor = -1;
        bool watched = true;
    };
    std::vector<Watch> watches_;
    // Written to wake the loop's thread while it polls; made with the first watch.
    int wakeDescriptor_ = -1;
    // A timer descriptor the polling thread watches too, set by another
    // thread whose timer falls due before the poll would end. It is left set
    // when that timer goes: clearing it would cost a system call on every
    // answered request, letting it ring costs one look at the timers.
    int alarmDescriptor_ = -1;
    std::uint64_t timerSequence_ = 0;
    bool woken_ = false;
    bool stopRequested_ = false;
    bool running_ = false;
    bool ended_ = false;
    // The loop's thread waits on `wake_` (or, while `polling_`, on its
    // descriptors) until `waitingUntil_`.
    bool waiting_ = false;
    bool polling_ = false;
    std::uint64_t waitingUntil_ = 0;
    // The turn is lent to another thread (`lent_`); the loop's thread, woken
    // meanwhile, waits on `turnReturned_` (`awaitingTurn_`) until it is back.
    bool lent_ = false;
    bool awaitingTurn_ = false;
    std::condition_variable turnReturned_;
    const RunLoop* lenderOuterLoop_ = nullptr; // the borrower's own lent loop, restored after
    // What one pass takes out to run; used on the loop's thread only, and
    // kept so that a pass does not allocate.
    std::vector<Task> passBlocks_;
    std::vector<std::shared_ptr<RunLoopTimer>> passTimers_;
    std::vector<std::shared_ptr<RunLoopSource>> passSources_;
    std::vector<pollfd> pollDescriptors_;
    std::vector<RunLoopSource*> pollSources_;
};

} // namespace ravolet::platform
