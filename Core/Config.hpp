#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Core/ConfigError.hpp"
#include "Core/Json.hpp"
#include "Core/Profile.hpp"
#include "Core/ProfileIndex.hpp"
#include "Core/ProfileResolution.hpp"
#include "Core/RuleSet.hpp"

namespace ravolet {

// The whole of the user's configuration, stored as one JSON file: the layout
// version, a master switch, every profile (the first is a fallback) and the
// rules that pick a profile by the frontmost application. Nothing is enforced
// between the fields: the list may be empty, identifiers may repeat (lookups
// take the first) and may name no profile (lookups fall back).
struct Config {
    std::int64_t schemaVersion = 0;
    bool isEnabled = false;
    std::vector<Profile> profiles;
    RuleSet ruleSet;

    // The layout version that this program reads and writes.
    static constexpr std::int64_t currentSchemaVersion = 1;

    Config(std::int64_t schemaVersion, bool isEnabled, std::vector<Profile> profiles, RuleSet ruleSet);

    // The factory document: the default and canvas profiles, and rules giving
    // the canvas profile to Adobe's applications, Figma, Miro and Sketch. Built
    // once on first use; every call gets its own copy.
    static Config defaultConfig();

    // The first profile with exactly this identifier (case counts).
    std::optional<Profile> profile(std::string_view id) const;
    // The rule set's choice for the application (or for none).
    ProfileResolution resolve(const std::optional<std::string>& bundleID) const;
    // The profile to apply for the application, always one: the resolved
    // profile, else the rule set's default, else the first profile, else
    // the default profile.
    Profile activeProfile(const std::optional<std::string>& bundleID) const;
    // The same for a resolution already made (by a RuleSetIndex of this
    // document's rules, say).
    Profile activeProfile(const ProfileResolution& resolution) const;
    // The same, found through an index of this document's profiles, without
    // a copy; null stands for the default profile (a document without any).
    const Profile* activeProfile(const ProfileResolution& resolution, const ProfileIndex& index) const;

    // The document's bytes: sorted keys at every level, pretty printed, "/"
    // written as "\/". Fails when a number is not finite.
    std::expected<std::string, JsonError> encoded() const;
    // Runs the schema-version check on the bytes, then decodes what it returns;
    // fails with the check's ConfigError or the parser's or decoder's JsonError.
    // A document is decoded whole or not at all.
    static std::expected<Config, ConfigLoadError> decoded(std::string_view bytes);

    // {"isEnabled", "profiles", "ruleSet", "schemaVersion"}, all required.
    Json toJson() const;
    static Config fromJson(const JsonValue& v);

    friend bool operator==(const Config&, const Config&) = default;
};

std::ostream& operator<<(std::ostream&, const Config&);

} // namespace ravolet

template <>
struct std::hash<ravolet::Config> {
    std::size_t operator()(const ravolet::Config& c) const noexcept;
};
