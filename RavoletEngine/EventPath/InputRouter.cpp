#include "RavoletEngine/EventPath/InputRouter.hpp"

#include <cmath>
#include <variant>

#include "Platform/Displays.hpp"
#include "Platform/MonotonicClock.hpp"
#include "RavoletEngine/EventPath/EventReaders.hpp"
#include "RavoletEngine/EventPath/RavoletEventTag.hpp"

namespace ravolet {

namespace F = platform::EventFields;

std::ostream& operator<<(std::ostream& os, const InputRouter::Metrics& m) {
    return os << "Metrics(self " << m.selfEmittedSeen << ", target " << m.fromTargetDevice << ", foreign "
              << m.fromForeignDevice << ", unidentified " << m.unidentified << ", scroll " << m.scrollHandled
              << ", buttons " << m.buttonsHandled << ", pointer " << m.pointerHandled << ", pointerSkipped "
              << m.pointerSkippedDisabled << ", passed " << m.passedThrough << ", suppressed " << m.suppressed
              << ", maxSkew " << m.maxClockSkewMillis << "ms)";
}

InputRouter::InputRouter(std::shared_ptr<DeviceScope> scope, std::shared_ptr<ScrollTarget> scroll,
                         std::shared_ptr<ButtonTarget> buttons, std::shared_ptr<PointerTarget> pointer,
                         std::shared_ptr<PointerCursorMoving> pointerCursor)
    : scope_(std::move(scope)), scroll_(std::move(scroll)), buttons_(std::move(buttons)), pointer_(std::move(pointer)),
      pointerCursor_(std::move(pointerCursor)) {}

TapVerdict InputRouter::route(platform::EventType type, platform::Event& event) {
    if (isRavoletEmitted(event)) {
        std::lock_guard guard(lock_);
        ++metrics_.selfEmittedSeen;
        return swallowsOwnOutput() ? TapVerdict::suppress : TapVerdict::pass;
    }

    const ScopeDecision decision = scope_->decide(event);
    const bool unidentified = std::holds_alternative<ScopeDecision::Unidentified>(decision.value);
    if (unidentified || std::holds_alternative<ScopeDecision::Foreign>(decision.value)) {
        std::lock_guard guard(lock_);
        ++(unidentified ? metrics_.unidentified : metrics_.fromForeignDevice);
        ++metrics_.passedThrough;
        return TapVerdict::pass;
    }

    Tally tally;
    const TapVerdict verdict = routeTarget(type, event, decision.deviceID(), tally);
    std::lock_guard guard(lock_);
    ++metrics_.fromTargetDevice;
    if (tally.handled) ++(metrics_.*tally.handled);
    if (tally.clockSkewMillis > metrics_.maxClockSkewMillis) metrics_.maxClockSkewMillis = tally.clockSkewMillis;
    if (tally.countsVerdict) ++(verdict == TapVerdict::suppress ? metrics_.suppressed : metrics_.passedThrough);
    return verdict;
}

TapVerdict InputRouter::routeTarget(platform::EventType type, platform::Event& event, DeviceID device, Tally& tally) {
    const std::uint64_t bit = type < 28 ? std::uint64_t{1} << type : 0;
    if (bit & buttonTypesMask) {
        const auto button = buttonEvent(event);
        if (!button) return TapVerdict::pass;
        tally.handled = &Metrics::buttonsHandled;
        return buttons_->handle(*button) == ButtonDisposition::suppress ? TapVerdict::suppress : TapVerdict::pass;
    }
    if (bit & motionTypesMask) return routeMotion(event, device, tally);
    if (type == platform::EventTypes::scrollWheel) {
        const auto input = scrollInput(event, device);
        if (!input) return TapVerdict::pass;
        tally.handled = &Metrics::scrollHandled;
        tally.clockSkewMillis = std::abs(platform::MonotonicClock::now() - input->timestampMillis);
        return scroll_->handle(*input) == ScrollDisposition::suppress ? TapVerdict::suppress : TapVerdict::pass;
    }
    return TapVerdict::pass;
}

TapVerdict InputRouter::routeMotion(platform::Event& event, DeviceID device, Tally& tally) {
    if (!pointer_->isEnabled()) {
        tally.handled = &Metrics::pointerSkippedDisabled;
        return TapVerdict::pass;
    }
    // Ravolet moving the cursor itself wants the raw movement; otherwise the
    // system's accelerated deltas are what gets reshaped.
    const auto motion = pointerMotion(event, device, pointerCursor_ != nullptr);
    if (!motion) return TapVerdict::pass;
    const PointerOutcome outcome = pointer_->handle(*motion);
    if (outcome.disposition == PointerDisposition::passThrough) return TapVerdict::pass;

    if (!pointerCursor_) {
        if (pointer_->repositionsCursor()) {
            auto location = event.location();
            location.x = location.x - motion->delta.dx + static_cast<double>(outcome.dx);
            location.y = location.y - motion->delta.dy + static_cast<double>(outcome.dy);
            event.setLocation(location);
        }
    } else {
        const auto position = pointerCursor_->move(outcome.dx, outcome.dy);
        if (!position) {
            // The carried fractions belong to a cursor position that never came.
            pointer_->reset();
            return TapVerdict::pass;
        }
        event.setLocation(*position);
    }
    event.setIntegerValueField(F::mouseEventDeltaX, outcome.dx);
    event.setIntegerValueField(F::mouseEventDeltaY, outcome.dy);
    // Rewritten in place: counted as handled, not as passed through.
    tally.handled = &Metrics::pointerHandled;
    tally.countsVerdict = false;
    return TapVerdict::pass;
}

void InputRouter::resetAll() {
    buttons_->reset();
    scroll_->reset();
    pointer_->reset();
}

InputRouter::Metrics InputRouter::snapshotMetrics() const {
    std::lock_guard guard(lock_);
    return metrics_;
}

void InputRouter::resetMetrics() {
    std::lock_guard guard(lock_);
    metrics_ = Metrics{};
}

} // namespace ravolet
