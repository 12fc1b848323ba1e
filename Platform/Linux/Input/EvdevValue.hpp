#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>

namespace ravolet::platform {

// The value field of an evdev event is a signed 32-bit number: a larger
// amount goes out as the nearest value that fits rather than wrapping round
// to the other direction.
constexpr std::int32_t toInt32(std::int64_t value) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(),
                                                              std::numeric_limits<std::int32_t>::max()));
}

} // namespace ravolet::platform
