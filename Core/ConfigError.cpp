#include "Core/ConfigError.hpp"

#include <ostream>

#include <fmt/format.h>

namespace ravolet {

std::string ConfigError::noMigrationReason(std::int64_t fromVersion) {
    return fmt::format("no migration registered from schema version {}", fromVersion);
}

std::string ConfigError::description() const {
    if (const auto* u = std::get_if<UnsupportedSchemaVersion>(&value)) {
        return fmt::format("unsupportedSchemaVersion(found: {}, supported: {})", u->found, u->supported);
    }
    return fmt::format("malformed(\"{}\")", std::get<Malformed>(value).reason);
}

std::ostream& operator<<(std::ostream& os, const ConfigError& e) { return os << e.description(); }

std::string describe(const ConfigLoadError& error) {
    return std::visit([](const auto& e) { return e.description(); }, error);
}

} // namespace ravolet
