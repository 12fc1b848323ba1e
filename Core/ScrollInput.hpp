#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>

#include "Core/DeviceID.hpp"
#include "Support/ValueSupport.hpp"
#include "Core/ModifierFlags.hpp"
#include "Core/ScrollAxis.hpp"

namespace ravolet {

// One wheel event as the scroll transformer sees it.
struct ScrollInput {
    // Detents of this event; the sign is the scroll direction.
    std::int64_t lineDelta = 0;
    ScrollAxis axis = ScrollAxis::vertical;
    ModifierFlags modifiers;
    // On the monotonic clock shared by all inputs of one transformer.
    double timestampMillis = 0;
    DeviceID deviceID;

    friend bool operator==(const ScrollInput&, const ScrollInput&) = default;
};

std::ostream& operator<<(std::ostream& os, const ScrollInput& input);

} // namespace ravolet

template <>
struct std::hash<ravolet::ScrollInput> {
    std::size_t operator()(const ravolet::ScrollInput& i) const noexcept {
        return ravolet::hashFields(i.lineDelta, i.axis, i.modifiers, i.timestampMillis, i.deviceID);
    }
};
