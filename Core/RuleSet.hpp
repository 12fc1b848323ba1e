#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "Core/Json.hpp"
#include "Core/ProfileResolution.hpp"
#include "Core/Rule.hpp"

namespace ravolet {

// How resolution ranks the rules that match: the higher priority first, then
// the more specific pattern, then the earlier place in the list.
struct RuleRank {
    std::int64_t priority = 0;
    std::int64_t specificity = 0;
    std::size_t position = 0;

    bool outranks(const RuleRank& other) const {
        if (priority != other.priority) return priority > other.priority;
        if (specificity != other.specificity) return specificity > other.specificity;
        return position < other.position;
    }
};

// The rules that pick a profile by the frontmost application, and the profile
// to use when none applies. List order is the last tie-break.
struct RuleSet {
    std::vector<Rule> rules;
    std::string defaultProfileID;

    RuleSet(std::vector<Rule> rules, std::string defaultProfileID);

    // One pass in list order over the enabled rules whose pattern matches: the
    // higher priority wins, then the more specific pattern, then the earlier
    // rule. Without a match, `defaultProfileID` and no rule. For one look-up;
    // RuleSetIndex answers the same for one application after another without
    // going through every rule each time.
    ProfileResolution resolve(const std::optional<std::string>& bundleID) const;

    // The resolution that names the best rule (found by its position), or
    // `defaultProfileID` when there is none.
    ProfileResolution resolution(const std::optional<RuleRank>& best) const;

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
