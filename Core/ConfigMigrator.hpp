#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "Core/ConfigError.hpp"
#include "Core/Json.hpp"

namespace ravolet {

// The raw schema-version check that runs on a settings file before it is
// decoded, and the chain of single-version steps that would bring an older
// document up to date.
class ConfigMigrator {
public:
    ConfigMigrator() = delete;

    // Bytes ready to decode: a current document comes back byte for byte. Fails
    // with the parser's error for bytes that are no JSON (a bare value at the
    // top included), and with a ConfigError for a root that is no object, a
    // missing or non-numeric "schemaVersion", a newer version, or an older one
    // that no step can bring up to date.
    static std::expected<std::string, ConfigLoadError> migrate(std::string_view rawJSON);

private:
    // The version that the check reads from a "schemaVersion" value: the
    // integer part of a number, true and false as 1 and 0, saturated to the
    // signed 64-bit range (a version written as 1e30 is newer than any we know,
    // -1e300 older than any). Absent for anything that is no number.
    static std::optional<std::int64_t> readVersion(const Json& value);

    // The document of the version after `fromVersion`.
    static std::expected<Json, ConfigError> step(Json document, std::int64_t fromVersion);
};

} // namespace ravolet
