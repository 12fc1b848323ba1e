#include "RavoletEngine/EventPath/EventReaders.hpp"

#include <cmath>

#include "Platform/MonotonicClock.hpp"

namespace ravolet {

namespace E = platform::EventTypes;
namespace F = platform::EventFields;

double timestampMillis(const platform::Event& event) {
    const auto stamp = event.timestamp();
    if (stamp == 0) return platform::MonotonicClock::nanoseconds(platform::MonotonicClock::ticks()) / 1e6;
    return static_cast<double>(stamp) / 1e6;
}

std::optional<ScrollInput> scrollInput(const platform::Event& event, DeviceID deviceID) {
    if (event.integerValueField(F::scrollWheelEventIsContinuous) != 0) return std::nullopt;
    const auto axis1 = event.integerValueField(F::scrollWheelEventDeltaAxis1);
    const auto axis2 = event.integerValueField(F::scrollWheelEventDeltaAxis2);
    if (axis1 == 0 && axis2 == 0) return std::nullopt;
    ScrollInput input;
    input.lineDelta = axis1 != 0 ? axis1 : axis2;
    input.axis = axis1 != 0 ? ScrollAxis::vertical : ScrollAxis::horizontal;
    input.modifiers = modifierFlags(event.flags());
    input.timestampMillis = timestampMillis(event);
    input.deviceID = deviceID;
    return input;
}

std::optional<ButtonEvent> buttonEvent(const platform::Event& event) {
    std::int64_t button = 0;
    bool isDown = false;
    switch (event.type()) {
    case E::leftMouseDown: button = 0; isDown = true; break;
    case E::leftMouseUp: button = 0; isDown = false; break;
    case E::rightMouseDown: button = 1; isDown = true; break;
    case E::rightMouseUp: button = 1; isDown = false; break;
    case E::otherMouseDown: button = event.integerValueField(F::mouseEventButtonNumber); isDown = true; break;
    case E::otherMouseUp: button = event.integerValueField(F::mouseEventButtonNumber); isDown = false; break;
    default: return std::nullopt;
    }
    return ButtonEvent{button, isDown, modifierFlags(event.flags()), timestampMillis(event)};
}

std::optional<PointerMotion> pointerMotion(const platform::Event& event, DeviceID deviceID, bool unaccelerated) {
    const double dx = unaccelerated ? event.doubleValueField(F::unacceleratedPointerMovementX)
                                    : static_cast<double>(event.integerValueField(F::mouseEventDeltaX));
    const double dy = unaccelerated ? event.doubleValueField(F::unacceleratedPointerMovementY)
                                    : static_cast<double>(event.integerValueField(F::mouseEventDeltaY));
    if (!std::isfinite(dx) || !std::isfinite(dy) || (dx == 0 && dy == 0)) return std::nullopt;
    return PointerMotion{PointerDelta{dx, dy}, timestampMillis(event), deviceID};
}

} // namespace ravolet
