#pragma once

#include <optional>

#include "Core/ButtonEvent.hpp"
#include "Core/DeviceID.hpp"
#include "Core/ModifierFlags.hpp"
#include "Core/ScrollInput.hpp"
#include "Platform/Event.hpp"
#include "RavoletEngine/EventPath/EventFlagMapping.hpp"
#include "RavoletEngine/EventPath/PointerMotion.hpp"

namespace ravolet {

// The event's time in milliseconds on the monotonic clock; the current time
// when the event has no time stamp (0).
double timestampMillis(const platform::Event& event);

// A wheel detent: none for a continuous event or one without line deltas.
// Axis 1 (vertical) wins when both axes moved.
std::optional<ScrollInput> scrollInput(const platform::Event& event, DeviceID deviceID);

// A press or release of a mouse button; none for other event types.
std::optional<ButtonEvent> buttonEvent(const platform::Event& event);

// A pointer sample: the unaccelerated movement (fields 170, 171) or the mouse
// deltas (fields 4, 5); none when a value is not finite or both are 0.
std::optional<PointerMotion> pointerMotion(const platform::Event& event, DeviceID deviceID, bool unaccelerated);

} // namespace ravolet
