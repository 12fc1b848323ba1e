#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>

#include "Core/BundleIDPattern.hpp"
#include "Core/Json.hpp"

namespace ravolet {

// Chooses the profile `profileID` for the applications that `pattern` matches.
// Higher `priority` wins (any value, negative ones included); a disabled rule
// is skipped. `id` names the rule and plays no part in resolution.
struct Rule {
    std::string id;
    BundleIDPattern pattern;
    std::string profileID;
    std::int64_t priority = 0;
    bool isEnabled = false;

    Rule(std::string id, BundleIDPattern pattern, std::string profileID, std::int64_t priority, bool isEnabled);

    // {"id", "isEnabled", "pattern", "priority", "profileID"}, all required.
    Json toJson() const;
    static Rule fromJson(const JsonValue& v);

    std::string description() const;
    friend bool operator==(const Rule&, const Rule&) = default;
};

std::ostream& operator<<(std::ostream&, const Rule&);

} // namespace ravolet

template <>
struct std::hash<ravolet::Rule> {
    std::size_t operator()(const ravolet::Rule& r) const noexcept;
};
