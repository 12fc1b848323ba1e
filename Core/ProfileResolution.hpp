#pragma once

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

#include "Core/Rule.hpp"

namespace ravolet {

// The outcome of resolving a bundle identifier: the chosen profile identifier
// and the rule that chose it, absent when the rule set's default was used.
struct ProfileResolution {
    std::string profileID;
    std::optional<Rule> matchedRule;

    bool usedFallback() const { return !matchedRule.has_value(); }

    std::string description() const;
    friend bool operator==(const ProfileResolution&, const ProfileResolution&) = default;
};

std::ostream& operator<<(std::ostream&, const ProfileResolution&);

} // namespace ravolet

template <>
struct std::hash<ravolet::ProfileResolution> {
    std::size_t operator()(const ravolet::ProfileResolution& r) const noexcept;
};
