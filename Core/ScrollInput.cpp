#include "Core/ScrollInput.hpp"

#include <ostream>

#include <fmt/format.h>

namespace ravolet {

std::ostream& operator<<(std::ostream& os, const ScrollInput& input) {
    return os << fmt::format("ScrollInput(lineDelta: {}, axis: {}, modifiers: {}, timestampMillis: {}, deviceID: {})",
                             input.lineDelta, toString(input.axis), input.modifiers.rawValue, input.timestampMillis,
                             input.deviceID.rawValue);
}

} // namespace ravolet
