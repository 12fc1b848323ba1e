#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Core/BundleIDPattern.hpp"
#include "Core/Profile.hpp"
#include "Core/Rule.hpp"

namespace ravolet {

// What the editor of one per-application rule shows and how its edits change
// the rule. Every edit yields the whole new rule; the row writes it back.
namespace ruleRow {

inline constexpr std::int64_t minimumPriority = -100;
inline constexpr std::int64_t maximumPriority = 100;

// The rule's factory form, which its resets put back: the factory
// document's rule with its identifier, else an enabled exact rule with an
// empty identifier, priority 0, for the default profile; a profile that is
// not listed gives way to the first listed one (or "default" when none is).
Rule factoryRule(const Rule& rule, const std::vector<Profile>& profiles);

// The pattern field's text: the pattern as typed, except that the pattern
// for every application shows as an empty field.
std::string patternText(const BundleIDPattern& pattern);

// The rule with the pattern parsed from the field's text (blanks trimmed;
// empty or "*" for every application; a final "*" for a family).
Rule withPatternText(Rule rule, const std::string& text);

// The identifier the application picker fills in: the exact identifier, else
// empty. Picking one always makes the pattern exact.
std::string exactBundleID(const BundleIDPattern& pattern);
Rule withPickedApplication(Rule rule, const std::string& bundleID);

// The application whose icon the row shows: the exact identifier when there
// is one; none for a family, every application or an empty identifier.
std::optional<std::string> iconBundleID(const BundleIDPattern& pattern);

// The sentence under the row that says what the pattern matches.
std::string explanation(const BundleIDPattern& pattern);

// "Priority " and the priority in decimal.
std::string priorityTitle(std::int64_t priority);
// The priority moved by `steps`, kept within -100 ... 100.
std::int64_t steppedPriority(std::int64_t priority, std::int64_t steps);

} // namespace ruleRow
} // namespace ravolet
