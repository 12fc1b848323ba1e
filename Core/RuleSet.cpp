#include "Core/RuleSet.hpp"

#include <ostream>

#include <fmt/format.h>

#include "Support/ValueSupport.hpp"

namespace ravolet {

RuleSet::RuleSet(std::vector<Rule> rules, std::string defaultProfileID)
    : rules(std::move(rules)), defaultProfileID(std::move(defaultProfileID)) {}

ProfileResolution RuleSet::resolve(const std::optional<std::string>& bundleID) const {
    std::optional<RuleRank> best;
    for (std::size_t position = 0; position < rules.size(); ++position) {
        const Rule& rule = rules[position];
        if (!rule.isEnabled || !rule.pattern.matches(bundleID)) continue;
        const RuleRank rank{rule.priority, rule.pattern.specificity(), position};
        if (!best || rank.outranks(*best)) best = rank;
    }
    return resolution(best);
}

ProfileResolution RuleSet::resolution(const std::optional<RuleRank>& best) const {
    if (!best) return ProfileResolution{defaultProfileID, std::nullopt};
    const Rule& rule = rules[best->position];
    return ProfileResolution{rule.profileID, rule};
}

Json RuleSet::toJson() const {
    Json list = Json::array();
    for (const Rule& rule : rules) list.push_back(rule.toJson());
    return Json{{"rules", std::move(list)}, {"defaultProfileID", defaultProfileID}};
}

RuleSet RuleSet::fromJson(const JsonValue& v) {
    std::vector<Rule> rules;
    for (const JsonValue& item : v["rules"].asArray()) rules.push_back(Rule::fromJson(item));
    return RuleSet(std::move(rules), v["defaultProfileID"].asString());
}

std::string RuleSet::description() const {
    std::string list;
    for (const Rule& rule : rules) list += (list.empty() ? "" : ", ") + rule.description();
    return fmt::format("RuleSet(rules: [{}], defaultProfileID: \"{}\")", list, defaultProfileID);
}

std::ostream& operator<<(std::ostream& os, const RuleSet& r) { return os << r.description(); }

} // namespace ravolet

std::size_t std::hash<ravolet::RuleSet>::operator()(const ravolet::RuleSet& r) const noexcept {
    std::size_t seed = 0;
    for (const ravolet::Rule& rule : r.rules) seed = ravolet::hashCombine(seed, std::hash<ravolet::Rule>{}(rule));
    return ravolet::hashCombine(seed, std::hash<std::string>{}(r.defaultProfileID));
}
