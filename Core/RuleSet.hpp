#pragma once

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "Core/Json.hpp"
#include "Core/ProfileResolution.hpp"
#include "Core/Rule.hpp"

namespace ravolet {

// The rules that pick a profile by the frontmost application, and the profile
// to use when none applies. List order is the last tie-break.
struct RuleSet {
    std::vector<Rule> rules;
    std::string defaultProfileID;

    RuleSet(std::vector<Rule> rules, std::string defaultProfileID);

    // One pass in list order over the enabled rules whose pattern matches: the
    // higher priority wins, then the more specific pattern, then the earlier
    // rule. Without a match, `defaultProfileID` and no rule.
    ProfileResolution resolve(const std::optional<std::string>& bundleID) const;

    // {"defaultProfileID", "rules"}, both required.
    Json toJson() const;
    static RuleSet fromJson(const JsonValue& v);

    std::string description() const;
    friend bool operator==(const RuleSet&, const RuleSet&) = default;
};

std::ostream& operator<<(std::ostream&, const RuleSet&);

} // namespace ravolet

template <>
struct std::hash<ravolet::RuleSet> {
    std::size_t operator()(const ravolet::RuleSet& r) const noexcept;
};
