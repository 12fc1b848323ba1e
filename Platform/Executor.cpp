#include "Platform/Executor.hpp"

#include <mutex>

namespace ravolet::platform {

namespace {

// An alarm on any scheduler: each arming that moves the deadline earlier
// posts a block for it and cancels the block it replaces. A block that is no
// longer the armed one does nothing when it comes up. The leeway is not used:
// the block is posted for the deadline itself.
class PostedAlarm final : public Alarm {
public:
    PostedAlarm(Scheduler& scheduler, Handler handler) : scheduler_(scheduler), state_(std::make_shared<State>()) {
        state_->handler = std::move(handler);
    }

    ~PostedAlarm() override {
        TaskHandle pending;
        {
            std::lock_guard lock(state_->mutex);
            state_->released = true;
            state_->armed = false;
            pending = std::move(state_->pending);
        }
        pending.cancel();
    }

    void arm(std::uint64_t deadlineNanos, std::uint64_t) override {
        std::uint64_t generation = 0;
        TaskHandle replaced;
        {
            std::lock_guard lock(state_->mutex);
            if (state_->released || (state_->armed && state_->deadline <= deadlineNanos)) return;
            state_->armed = true;
            state_->deadline = deadlineNanos;
            generation = ++state_->generation;
            replaced = std::move(state_->pending);
        }
        replaced.cancel();
        TaskHandle handle = scheduler_.postAt(deadlineNanos, [weak = std::weak_ptr<State>(state_), generation] {
            if (auto state = weak.lock()) state->fire(generation);
        });
        std::unique_lock lock(state_->mutex);
        if (state_->generation == generation && !state_->released) {
            state_->pending = std::move(handle);
            return;
        }
        // Replaced by an earlier arming meanwhile, or released.
        lock.unlock();
        handle.cancel();
    }

private:
    struct State {
        std::mutex mutex;
        Handler handler; // run on the scheduler only
        std::uint64_t deadline = 0;
        std::uint64_t generation = 0;
        TaskHandle pending;
        bool armed = false;
        bool released = false;

        void fire(std::uint64_t firing) {
            {
                std::lock_guard lock(mutex);
                if (released || !armed || firing != generation) return;
                armed = false;
                pending = TaskHandle();
            }
            handler();
        }
    };

    Scheduler& scheduler_;
    const std::shared_ptr<State> state_;
};

} // namespace

std::unique_ptr<Alarm> Scheduler::makeAlarm(Alarm::Handler handler) {
    return std::make_unique<PostedAlarm>(*this, std::move(handler));
}

} // namespace ravolet::platform
