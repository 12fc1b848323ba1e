#include "RavoletEngine/EventPath/ScopedDevice.hpp"

#include <fmt/format.h>

namespace ravolet {

namespace {
// Formatted as a 32-bit unsigned number, the way "%04X" reads its argument.
std::string hexID(const std::optional<std::int64_t>& id) {
    return id ? fmt::format("0x{:04X}", static_cast<std::uint32_t>(*id)) : std::string("?");
}
} // namespace

std::string hidServiceLabel(const std::optional<std::string>& product, std::optional<std::int64_t> vendorID,
                            std::optional<std::int64_t> productID, std::optional<std::int64_t> primaryUsagePage,
                            std::optional<std::int64_t> primaryUsage) {
    return fmt::format("{} [{}:{}] usage {}/{}", product.value_or("(unnamed)"), hexID(vendorID), hexID(productID),
                       primaryUsagePage.value_or(-1), primaryUsage.value_or(-1));
}

std::string ScopedDevice::label() const {
    return hidServiceLabel(product, vendorID, productID, primaryUsagePage, primaryUsage);
}

} // namespace ravolet
