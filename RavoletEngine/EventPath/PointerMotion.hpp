#pragma once

#include <functional>
#include <ostream>

#include "Core/DeviceID.hpp"
#include "Support/ValueSupport.hpp"
#include "Core/PointerDelta.hpp"

namespace ravolet {

// One pointer sample of a tapped motion event: its delta in device counts, its
// time in milliseconds on the monotonic clock, and the device it came from.
struct PointerMotion {
    PointerDelta delta;
    double timestampMillis = 0;
    DeviceID deviceID;

    friend constexpr bool operator==(const PointerMotion&, const PointerMotion&) = default;
    friend std::ostream& operator<<(std::ostream& os, const PointerMotion& m) {
        return os << "PointerMotion(" << m.delta << ", " << m.timestampMillis << "ms, " << m.deviceID << ')';
    }
};

} // namespace ravolet

template <>
struct std::hash<ravolet::PointerMotion> {
    std::size_t operator()(const ravolet::PointerMotion& m) const noexcept {
        return ravolet::hashFields(m.delta, m.timestampMillis, m.deviceID);
    }
};
