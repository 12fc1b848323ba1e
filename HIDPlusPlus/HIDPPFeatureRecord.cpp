#include "HIDPlusPlus/HIDPPFeatureRecord.hpp"

#include <fmt/format.h>

namespace ravolet {

std::string HIDPPFeatureRecord::description() const {
    return fmt::format("idx 0x{:02X} -> 0x{:04X} {} v{} [{}]", index, id, name(), static_cast<int>(version), type.description());
}

} // namespace ravolet
