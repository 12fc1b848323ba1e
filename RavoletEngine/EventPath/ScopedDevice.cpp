#include "RavoletEngine/EventPath/ScopedDevice.hpp"

#include <fmt/format.h>

namespace ravolet {

namespace {
// Formatted as a 32-bit unsigned number, the way "%04X" reads its argument.
std::string hexID(const std::optional<std::int64_t>& id) {
    return id ? fmt::format("0x{:04X}", static_cast<std::uint32_t>(*id)) : std::string("?");
}
} // namespace

std::string ScopedDevice::label() const {
    return fmt::format("{} [{}:{}] usage {}/{}", product.value_or("(unnamed)"), hexID(vendorID), hexID(productID),
                       primaryUsagePage.value_or(-1), primaryUsage.value_or(-1));
}

} // namespace ravolet
