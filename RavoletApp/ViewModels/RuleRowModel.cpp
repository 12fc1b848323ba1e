#include "RavoletApp/ViewModels/RuleRowModel.hpp"

#include <algorithm>
#include <variant>

#include "Core/Clamp.hpp"
#include "Core/Config.hpp"
#include "Support/ValueSupport.hpp"

namespace ravolet::ruleRow {

Rule factoryRule(const Rule& rule, const std::vector<Profile>& profiles) {
    const Config factory = Config::defaultConfig();
    const auto stored = std::ranges::find(factory.ruleSet.rules, rule.id, &Rule::id);
    Rule result = stored != factory.ruleSet.rules.end()
                      ? *stored
                      : Rule(rule.id, BundleIDPattern::exact(""), std::string(Profile::defaultProfileID), 0, true);
    if (std::ranges::find(profiles, result.profileID, &Profile::id) == profiles.end())
        result.profileID = profiles.empty() ? std::string(Profile::defaultProfileID) : profiles.front().id;
    return result;
}

std::string patternText(const BundleIDPattern& pattern) {
    return std::holds_alternative<BundleIDPattern::Any>(pattern.value) ? std::string() : pattern.patternString();
}

Rule withPatternText(Rule rule, const std::string& text) {
    rule.pattern = BundleIDPattern(text);
    return rule;
}

std::string exactBundleID(const BundleIDPattern& pattern) {
    const auto* exact = std::get_if<BundleIDPattern::Exact>(&pattern.value);
    return exact ? exact->value : std::string();
}

Rule withPickedApplication(Rule rule, const std::string& bundleID) {
    rule.pattern = BundleIDPattern::exact(bundleID);
    return rule;
}

std::optional<std::string> iconBundleID(const BundleIDPattern& pattern) {
    const std::string exact = exactBundleID(pattern);
    return exact.empty() ? std::nullopt : std::optional(exact);
}

std::string explanation(const BundleIDPattern& pattern) {
    return std::visit(
        Overloaded{
            [](const BundleIDPattern::Exact& exact) -> std::string {
                if (exact.value.empty())
                    return "Type an application ID, or use Choose App\u2026 to fill one in. Ending it with * matches "
                           "a whole family, e.g. org.kde.*";
                return "Matches only " + exact.value + ". End the identifier with * to match a family of apps instead.";
            },
            [](const BundleIDPattern::Prefix& prefix) -> std::string {
                return "Matches every app whose identifier starts with " + prefix.value +
                       " \u2014 for example every Adobe app at once.";
            },
            [](const BundleIDPattern::Any&) -> std::string {
                return "Matches every app, including the moment no app is frontmost. Give it a low priority or it "
                       "will win everywhere.";
            },
        },
        pattern.value);
}

std::string priorityTitle(std::int64_t priority) { return "Priority " + std::to_string(priority); }

std::int64_t steppedPriority(std::int64_t priority, std::int64_t steps) {
    // Stored priorities may lie anywhere; the stepper works within its range.
    const std::int64_t start = clamp(priority, minimumPriority, maximumPriority);
    return clamp(start + clamp(steps, minimumPriority * 2, maximumPriority * 2), minimumPriority, maximumPriority);
}

} // namespace ravolet::ruleRow
