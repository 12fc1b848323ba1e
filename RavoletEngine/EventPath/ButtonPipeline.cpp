#include "RavoletEngine/EventPath/ButtonPipeline.hpp"

#include <utility>
#include <variant>

namespace ravolet {

std::ostream& operator<<(std::ostream& os, const ButtonPipeline::Metrics& m) {
    return os << "ButtonPipeline.Metrics(seen " << m.eventsSeen << ", passedThrough " << m.passedThrough
              << ", suppressed " << m.suppressed << ", intentsProduced " << m.intentsProduced << ", resets "
              << m.resets << ')';
}

namespace {
// Room for the intents of a key stroke, a short sequence or a repeat.
constexpr std::size_t reservedIntents = 16;
} // namespace

ButtonPipeline::ButtonPipeline(ButtonRouter router, std::shared_ptr<MacroExecutor> executor)
    : executor_(std::move(executor)), router_(std::move(router)) {
    intents_.reserve(reservedIntents);
}

ButtonDisposition ButtonPipeline::handle(const ButtonEvent& event) {
    std::unique_lock guard(lock_);
    metrics_.eventsSeen += 1;
    // Another thread handing a list over may be using the kept one.
    std::vector<ButtonIntent> own;
    std::vector<ButtonIntent>& intents = handingOver_ ? own : intents_;
    intents.clear();
    router_.handle(event, intents);
    metrics_.intentsProduced += static_cast<std::int64_t>(intents.size());

    // The tapped event itself is the output only when the whole answer is
    // to pass this very button and direction through.
    if (intents.size() == 1) {
        const auto* pass = std::get_if<ButtonIntent::PassThroughButton>(&intents.front().value);
        if (pass && pass->number == event.button && pass->isDown == event.isDown) {
            metrics_.passedThrough += 1;
            return ButtonDisposition::passThrough;
        }
    }
    metrics_.suppressed += 1;
    // Anything else, a pass-through of another button or direction included,
    // is re-created by the executor.
    if (!intents.empty()) handOverLocked(guard, false, intents, false);
    return ButtonDisposition::suppress;
}

void ButtonPipeline::reset() {
    std::unique_lock guard(lock_);
    metrics_.resets += 1;
    std::vector<ButtonIntent> releases = router_.reset();
    metrics_.intentsProduced += static_cast<std::int64_t>(releases.size());
    handOverLocked(guard, true, releases, true);
}

void ButtonPipeline::handOverLocked(std::unique_lock<std::mutex>& guard, bool isReset,
                                    std::vector<ButtonIntent>& intents, bool wait) {
    // The executor must see the router's answers in the order the router gave
    // them, or a press and a reset on two threads can leave the mouse at a DPI
    // the router no longer holds. The order is fixed here, under the lock;
    // the executor is called outside it, by one thread at a time, which takes
    // along whatever other threads queued meanwhile.
    const std::uint64_t ticket = ++handOffsQueued_;
    if (handingOver_) {
        handOffs_.push_back(HandOff{isReset, std::move(intents)});
        if (wait) handedOver_.wait(guard, [&] { return handOffsDone_ >= ticket; });
        return;
    }
    handingOver_ = true;
    std::vector<ButtonIntent>* list = &intents;
    HandOff taken;
    for (;;) {
        guard.unlock();
        if (isReset)
            executor_->reset(std::move(*list));
        else
            executor_->execute(*list);
        guard.lock();
        handOffsDone_ += 1;
        if (handOffs_.empty()) break;
        taken = std::move(handOffs_.front());
        handOffs_.pop_front();
        isReset = taken.isReset;
        list = &taken.intents;
    }
    handingOver_ = false;
    handedOver_.notify_all();
}

Action ButtonPipeline::action(std::int64_t button, ModifierFlags modifiers) const {
    std::lock_guard guard(lock_);
    return router_.action(button, modifiers);
}

std::vector<ButtonBinding> ButtonPipeline::bindings() const {
    std::lock_guard guard(lock_);
    return router_.bindings;
}

void ButtonPipeline::setBindings(std::vector<ButtonBinding> bindings) {
    std::lock_guard guard(lock_);
    router_.bindings = std::move(bindings);
}

std::int64_t ButtonPipeline::baseDPI() const {
    std::lock_guard guard(lock_);
    return router_.baseDPI;
}

void ButtonPipeline::setBaseDPI(std::int64_t dpi) {
    std::lock_guard guard(lock_);
    router_.baseDPI = dpi;
}

std::set<std::int64_t> ButtonPipeline::heldButtons() const {
    std::lock_guard guard(lock_);
    return router_.heldButtons();
}

std::int64_t ButtonPipeline::currentDPI() const {
    std::lock_guard guard(lock_);
    return router_.currentDPI();
}

ButtonPipeline::Metrics ButtonPipeline::snapshotMetrics() const {
    std::lock_guard guard(lock_);
    return metrics_;
}

void ButtonPipeline::resetMetrics() {
    std::lock_guard guard(lock_);
    metrics_ = Metrics{};
}

} // namespace ravolet
