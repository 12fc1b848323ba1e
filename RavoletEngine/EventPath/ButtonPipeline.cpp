#include "RavoletEngine/EventPath/ButtonPipeline.hpp"

#include <utility>
#include <variant>

namespace ravolet {

std::ostream& operator<<(std::ostream& os, const ButtonPipeline::Metrics& m) {
    return os << "ButtonPipeline.Metrics(seen " << m.eventsSeen << ", passedThrough " << m.passedThrough
              << ", suppressed " << m.suppressed << ", intentsProduced " << m.intentsProduced << ", resets "
              << m.resets << ')';
}

ButtonPipeline::ButtonPipeline(ButtonRouter router, std::shared_ptr<MacroExecutor> executor)
    : executor_(std::move(executor)), router_(std::move(router)) {}

ButtonDisposition ButtonPipeline::handle(const ButtonEvent& event) {
    std::vector<ButtonIntent> intents;
    {
        std::lock_guard guard(lock_);
        metrics_.eventsSeen += 1;
        intents = router_.handle(event);
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
    }
    // Anything else, a pass-through of another button or direction included,
    // is re-created by the executor.
    if (!intents.empty()) executor_->execute(std::move(intents));
    return ButtonDisposition::suppress;
}

void ButtonPipeline::reset() {
    std::vector<ButtonIntent> releases;
    {
        std::lock_guard guard(lock_);
        metrics_.resets += 1;
        releases = router_.reset();
        metrics_.intentsProduced += static_cast<std::int64_t>(releases.size());
    }
    executor_->reset(std::move(releases));
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
