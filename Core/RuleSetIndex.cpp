#include "Core/RuleSetIndex.hpp"

#include <algorithm>
#include <variant>

#include "Core/UnicodeText.hpp"
#include "Support/ValueSupport.hpp"

namespace ravolet {

namespace {

void keepBest(std::optional<RuleRank>& best, const RuleRank& rank) {
    if (!best || rank.outranks(*best)) best = rank;
}

template <class Map>
void keepBest(Map& map, std::string form, const RuleRank& rank) {
    const auto [it, inserted] = map.try_emplace(std::move(form), rank);
    if (!inserted && rank.outranks(it->second)) it->second = rank;
}

} // namespace

RuleSetIndex::RuleSetIndex(RuleSet ruleSet) : ruleSet_(std::move(ruleSet)) {
    for (std::size_t position = 0; position < ruleSet_.rules.size(); ++position) {
        const Rule& rule = ruleSet_.rules[position];
        if (!rule.isEnabled) continue;
        const RuleRank rank{rule.priority, rule.pattern.specificity(), position};
        std::visit(Overloaded{
                       [&](const BundleIDPattern::Any&) { keepBest(any_, rank); },
                       [&](const BundleIDPattern::Exact& exact) {
                           if (auto form = unicode::caselessKey(exact.value))
                               keepBest(exact_, std::move(*form), rank);
                           else
                               oneByOne_.push_back(rank);
                       },
                       [&](const BundleIDPattern::Prefix& prefix) {
                           if (prefix.value.empty()) return keepBest(emptyPrefix_, rank);
                           auto form = unicode::caselessKey(prefix.value);
                           if (!form) return oneByOne_.push_back(rank);
                           longestPrefix_ = std::max(longestPrefix_, unicode::codePointCount(*form));
                           if (prefixLengths_.size() <= form->size()) prefixLengths_.resize(form->size() + 1);
                           prefixLengths_[form->size()] = true;
                           keepBest(prefixes_, std::move(*form), rank);
                       },
                   },
                   rule.pattern.value);
    }
}

ProfileResolution RuleSetIndex::resolve(const std::optional<std::string>& bundleID) const {
    std::optional<RuleRank> best = any_;
    if (!bundleID) return ruleSet_.resolution(best);

    const auto form = unicode::caselessKey(*bundleID);
    if (!form) return ruleSet_.resolve(bundleID);
    if (emptyPrefix_) keepBest(best, *emptyPrefix_);
    if (const auto it = exact_.find(*form); it != exact_.end()) keepBest(best, it->second);
    if (!prefixes_.empty()) {
        const bool told = unicode::forEachCaselessHead(*bundleID, longestPrefix_, [&](std::string_view head) {
            if (head.size() < prefixLengths_.size() && prefixLengths_[head.size()]) {
                if (const auto it = prefixes_.find(head); it != prefixes_.end()) keepBest(best, it->second);
            }
            return true;
        });
        if (!told) return ruleSet_.resolve(bundleID);
    }
    for (const RuleRank& rank : oneByOne_)
        if (ruleSet_.rules[rank.position].pattern.matches(bundleID)) keepBest(best, rank);
    return ruleSet_.resolution(best);
}

} // namespace ravolet
