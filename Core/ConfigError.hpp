#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <variant>

#include "Core/Json.hpp"

namespace ravolet {

// Why the schema-version check of a settings document refused it. Covers only
// that check: bytes that are no JSON fail with the parser's error and a
// document of the wrong shape with the decoder's error.
struct ConfigError {
    // The document is newer than this program; `supported` is the current version.
    struct UnsupportedSchemaVersion {
        std::int64_t found = 0;
        std::int64_t supported = 0;
        friend bool operator==(const UnsupportedSchemaVersion&, const UnsupportedSchemaVersion&) = default;
    };
    // No usable version, or a version that cannot be brought up to date.
    struct Malformed {
        std::string reason;
        friend bool operator==(const Malformed&, const Malformed&) = default;
    };

    std::variant<UnsupportedSchemaVersion, Malformed> value;

    static ConfigError unsupportedSchemaVersion(std::int64_t found, std::int64_t supported) {
        return ConfigError{UnsupportedSchemaVersion{found, supported}};
    }
    static ConfigError malformed(std::string reason) { return ConfigError{Malformed{std::move(reason)}}; }

    // The reasons that `malformed` carries.
    static constexpr std::string_view rootNotAnObjectReason = "root of the config must be a JSON object";
    static constexpr std::string_view missingSchemaVersionReason = "missing or non-numeric schemaVersion";
    static std::string noMigrationReason(std::int64_t fromVersion);

    // For logs and test failures; the application words the problem for the user.
    std::string description() const;
    friend bool operator==(const ConfigError&, const ConfigError&) = default;
};

std::ostream& operator<<(std::ostream&, const ConfigError&);

// Why a settings document could not be read: the version check's ConfigError,
// or the JSON layer's parse or decode error.
using ConfigLoadError = std::variant<ConfigError, JsonError>;

std::string describe(const ConfigLoadError& error);

} // namespace ravolet
