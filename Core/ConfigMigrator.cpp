#include "Core/ConfigMigrator.hpp"

#include <cmath>
#include <limits>

#include "Core/Config.hpp"

namespace ravolet {

std::optional<std::int64_t> ConfigMigrator::readVersion(const Json& value) {
    constexpr auto min = std::numeric_limits<std::int64_t>::min();
    constexpr auto max = std::numeric_limits<std::int64_t>::max();
    if (value.is_boolean()) return value.get<bool>() ? 1 : 0;
    if (value.is_number_integer() && !value.is_number_unsigned()) return value.get<std::int64_t>();
    if (value.is_number_unsigned()) {
        const auto u = value.get<std::uint64_t>();
        return u > static_cast<std::uint64_t>(max) ? max : static_cast<std::int64_t>(u);
    }
    if (value.is_number_float()) {
        const double d = value.get<double>();
        if (std::isnan(d)) return std::nullopt;
        // -2^63 is exact in a double; anything at or beyond either end saturates
        // rather than being converted, which would be undefined.
        if (d >= 9223372036854775808.0) return max;
        if (d <= -9223372036854775808.0) return min;
        return static_cast<std::int64_t>(std::trunc(d));
    }
    return std::nullopt;
}

std::expected<std::string, ConfigLoadError> ConfigMigrator::migrate(std::string_view rawJSON) {
    auto parsed = parseJson(rawJSON);
    if (!parsed) return std::unexpected(parsed.error());
    Json document = std::move(*parsed);
    if (!document.is_object()) return std::unexpected(ConfigError::malformed(std::string(ConfigError::rootNotAnObjectReason)));

    const auto member = document.find("schemaVersion");
    const auto version = member == document.end() ? std::nullopt : readVersion(*member);
    if (!version) return std::unexpected(ConfigError::malformed(std::string(ConfigError::missingSchemaVersionReason)));

    if (*version > Config::currentSchemaVersion) return std::unexpected(ConfigError::unsupportedSchemaVersion(*version, Config::currentSchemaVersion));
    if (*version == Config::currentSchemaVersion) return std::string(rawJSON);

    for (std::int64_t from = *version; from < Config::currentSchemaVersion; ++from) {
        auto next = step(std::move(document), from);
        if (!next) return std::unexpected(next.error());
        document = std::move(*next);
        document["schemaVersion"] = from + 1;
    }
    return document.dump();
}

std::expected<Json, ConfigError> ConfigMigrator::step(Json, std::int64_t fromVersion) {
    // No older layout has ever been written, so there is nothing to convert.
    return std::unexpected(ConfigError::malformed(ConfigError::noMigrationReason(fromVersion)));
}

} // namespace ravolet
