#include "HIDPlusPlus/HIDPPDeviceMatch.hpp"

#include <fmt/format.h>

namespace ravolet {

std::string HIDPPDeviceMatch::description() const {
    // Read as unsigned so a negative identifier shows its bits rather than a sign.
    return fmt::format("{:04X}:{:04X}", static_cast<std::uint64_t>(vendorID), static_cast<std::uint64_t>(productID));
}

} // namespace ravolet
