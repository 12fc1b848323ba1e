#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "Platform/Executor.hpp"

namespace ravolet::platform {

// A timer whose handler runs on a Scheduler (a serial queue, a run loop, the
// manual scheduler): first at `startNanos`, then, when `intervalNanos` is not
// 0, every interval after that. `leewayNanos` is how late a fire may be; the
// timer asks for the exact deadline and never fires before it. Fires missed
// while the scheduler was busy are merged into one.
//
// The timer is created suspended; resume() starts it (later calls do nothing).
// cancel() (any thread) stops it for good: no fire starts after cancel()
// returns on the scheduler itself; called from another thread, a fire that has
// already started finishes. Releasing the last reference cancels it too, and
// pending fires hold the timer only weakly. The scheduler must outlive resume();
// a fire queued on a scheduler that is destroyed is simply dropped with it.
class DispatchTimer : public std::enable_shared_from_this<DispatchTimer> {
public:
    using Handler = std::function<void()>;

    static std::shared_ptr<DispatchTimer> create(Scheduler& scheduler, std::uint64_t startNanos,
                                                 std::uint64_t intervalNanos, std::uint64_t leewayNanos,
                                                 Handler handler);
    ~DispatchTimer();
    DispatchTimer(const DispatchTimer&) = delete;
    DispatchTimer& operator=(const DispatchTimer&) = delete;

    void resume();
    void cancel();
    bool isCancelled() const;

    std::uint64_t intervalNanos() const { return intervalNanos_; }
    std::uint64_t leewayNanos() const { return leewayNanos_; }

    struct Passkey {
    private:
        friend class DispatchTimer;
        Passkey() = default;
    };
    DispatchTimer(Passkey, Scheduler& scheduler, std::uint64_t startNanos, std::uint64_t intervalNanos,
                  std::uint64_t leewayNanos, Handler handler);

private:
    void scheduleLocked(std::unique_lock<std::mutex>& lock);
    void fire(std::uint64_t deadline);

    Scheduler& scheduler_;
    const std::uint64_t intervalNanos_;
    const std::uint64_t leewayNanos_;
    mutable std::mutex mutex_;
    const Handler handler_;
    std::uint64_t nextDeadline_;
    TaskHandle pending_;
    std::uint64_t generation_ = 0;
    bool resumed_ = false;
    bool cancelled_ = false;
};

} // namespace ravolet::platform
