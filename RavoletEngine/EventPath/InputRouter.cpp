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

TapVerdict InputRouter::passed() {
    std::lock_guard guard(lock_);
    ++metrics_.passedThrough;
    return TapVerdict::pass;
}

template <class Disposition>
TapVerdict InputRouter::verdict(Disposition disposition) {
    std::lock_guard guard(lock_);
    if (disposition == Disposition::suppress) {
        ++metrics_.suppressed;
        return TapVerdict::suppress;
    }
    ++metrics_.passedThrough;
    return TapVerdict::pass;
}

TapVerdict InputRouter::route(platform::EventType type, platform::Event& event) {
    if (isRavoletEmitted(event)) {
        std::lock_guard guard(lock_);
        ++metrics_.selfEmittedSeen;
        return swallowsOwnOutput() ? TapVerdict::suppress : TapVerdict::pass;
    }

    const ScopeDecision decision = scope_->decide(event);
    DeviceID device;
    {
        std::lock_guard guard(lock_);
        if (std::holds_alternative<ScopeDecision::Unidentified>(decision.value)) {
            ++metrics_.unidentified;
            ++metrics_.passedThrough;
            return TapVerdict::pass;
        }
        if (std::holds_alternative<ScopeDecision::Foreign>(decision.value)) {
            ++metrics_.fromForeignDevice;
            ++metrics_.passedThrough;
            return TapVerdict::pass;
        }
        ++metrics_.fromTargetDevice;
        device = decision.deviceID();
    }

    const std::uint64_t bit = type < 28 ? std::uint64_t{1} << type : 0;
    if (bit & buttonTypesMask) {
        const auto button = buttonEvent(event);
        if (!button) return passed();
        {
            std::lock_guard guard(lock_);
            ++metrics_.buttonsHandled;
        }
        return verdict(buttons_->handle(*button));
    }
    if (bit & motionTypesMask) return routeMotion(event, device);
    if (type == platform::EventTypes::scrollWheel) {
        const auto input = scrollInput(event, device);
        if (!input) return passed();
        const double now = platform::MonotonicClock::now();
        {
            std::lock_guard guard(lock_);
            ++metrics_.scrollHandled;
            const double skew = std::abs(now - input->timestampMillis);
            if (skew > metrics_.maxClockSkewMillis) metrics_.maxClockSkewMillis = skew;
        }
        return verdict(scroll_->handle(*input));
    }
    return passed();
}

TapVerdict InputRouter::routeMotion(platform::Event& event, DeviceID device) {
    if (!pointer_->isEnabled()) {
        std::lock_guard guard(lock_);
        ++metrics_.pointerSkippedDisabled;
        ++metrics_.passedThrough;
        return TapVerdict::pass;
    }
    // Ravolet moving the cursor itself wants the raw movement; otherwise the
    // system's accelerated deltas are what gets reshaped.
    const auto motion = pointerMotion(event, device, pointerCursor_ != nullptr);
    if (!motion) return passed();
    const PointerOutcome outcome = pointer_->handle(*motion);
    if (outcome.disposition == PointerDisposition::passThrough) return passed();

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
            return passed();
        }
        event.setLocation(*position);
    }
    event.setIntegerValueField(F::mouseEventDeltaX, outcome.dx);
    event.setIntegerValueField(F::mouseEventDeltaY, outcome.dy);
    std::lock_guard guard(lock_);
    ++metrics_.pointerHandled;
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
