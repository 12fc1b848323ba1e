#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <set>
#include <vector>

#include "Core/Action.hpp"
#include "Core/ButtonBinding.hpp"
#include "Core/ButtonEvent.hpp"
#include "Core/ButtonRouter.hpp"
#include "Core/ModifierFlags.hpp"
#include "Support/ValueSupport.hpp"
#include "RavoletEngine/EventPath/MacroExecutor.hpp"
#include "RavoletEngine/EventPath/RouterTargets.hpp"

namespace ravolet {

// The event-path face of the button router. Each press or release of the
// target mouse goes through the router under the pipeline's lock; the tapped
// event passes only when the router's whole answer is to pass that very button
// and direction through. In every other case the event is swallowed and the
// macro executor produces what should happen instead, on its own queue.
//
// The lock guards the router, the counters and the hand-offs to the executor,
// and is never held while calling the executor. Hand-offs reach the executor
// in the order the router produced them, whichever threads press and reset.
class ButtonPipeline final : public ButtonTarget {
public:
    struct Metrics {
        std::int64_t eventsSeen = 0;
        std::int64_t passedThrough = 0;
        std::int64_t suppressed = 0;
        std::int64_t intentsProduced = 0;
        std::int64_t resets = 0;

        friend constexpr bool operator==(const Metrics&, const Metrics&) = default;
        friend std::ostream& operator<<(std::ostream& os, const Metrics& m);
    };

    ButtonPipeline(ButtonRouter router, std::shared_ptr<MacroExecutor> executor);

    // One press or release of the target mouse, on the event-tap thread: one
    // router step, then at most one enqueue on the executor.
    ButtonDisposition handle(const ButtonEvent& event) override;
    // Releases everything the router holds and starts a new epoch in the
    // executor, also when nothing is held. Returns once the executor has it.
    void reset() override;

    // The action a press of the button with these modifiers would trigger now.
    Action action(std::int64_t button, ModifierFlags modifiers) const;

    // Replacing the bindings or the base DPI keeps the held-button state.
    std::vector<ButtonBinding> bindings() const;
    void setBindings(std::vector<ButtonBinding> bindings);
    std::int64_t baseDPI() const;
    void setBaseDPI(std::int64_t dpi);

    std::set<std::int64_t> heldButtons() const;
    // The DPI of the last active DPI shift, else the base DPI.
    std::int64_t currentDPI() const;

    Metrics snapshotMetrics() const;
    void resetMetrics();

    const std::shared_ptr<MacroExecutor>& executor() const { return executor_; }

private:
    // What one router step hands to the executor.
    struct HandOff {
        bool isReset = false;
        std::vector<ButtonIntent> intents;
    };
    // Hands `intents` to the executor after every hand-off queued before it.
    // When another thread is handing over, it takes this one along (moved
    // from `intents`) and the call returns at once, unless `wait` asks to see
    // it handed over.
    void handOverLocked(std::unique_lock<std::mutex>& guard, bool isReset, std::vector<ButtonIntent>& intents,
                        bool wait);

    const std::shared_ptr<MacroExecutor> executor_;
    mutable std::mutex lock_;
    ButtonRouter router_;
    // The router's answer to a press or release, kept with its room so that
    // the next one allocates nothing; in use while handingOver_.
    std::vector<ButtonIntent> intents_;
    Metrics metrics_;
    std::deque<HandOff> handOffs_; // queued behind the one being handed over
    bool handingOver_ = false;
    std::uint64_t handOffsQueued_ = 0;
    std::uint64_t handOffsDone_ = 0;
    std::condition_variable handedOver_;
};

} // namespace ravolet

template <>
struct std::hash<ravolet::ButtonPipeline::Metrics> {
    std::size_t operator()(const ravolet::ButtonPipeline::Metrics& m) const noexcept {
        return ravolet::hashFields(m.eventsSeen, m.passedThrough, m.suppressed, m.intentsProduced, m.resets);
    }
};
