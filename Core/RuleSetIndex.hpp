#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "Core/ProfileResolution.hpp"
#include "Core/RuleSet.hpp"

namespace ravolet {

// A rule set filed for resolving one application after another, as the
// profile watcher does at every application switch. Every pattern is folded
// once, when the index is made: the exact identifiers go into a hash map by
// their caseless form, the prefixes into another. A look-up folds the bundle
// identifier once and visits only the rules that can match it (the exact
// rules of its form, the prefixes of its heads, the best `any` rule), so its
// cost follows the length of the identifier, not the number of rules.
//
// Resolves exactly as RuleSet::resolve does, with the same precedence and
// tie-breaks. What cannot be folded (bytes that are not UTF-8) is compared
// rule by rule as RuleSet::resolve does: such a pattern on every look-up,
// such an identifier against every rule.
//
// A plain value, built once per document; read from any thread.
class RuleSetIndex {
public:
    explicit RuleSetIndex(RuleSet ruleSet);

    ProfileResolution resolve(const std::optional<std::string>& bundleID) const;

    const RuleSet& ruleSet() const { return ruleSet_; }

private:
    struct TextHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const noexcept { return std::hash<std::string_view>{}(text); }
    };
    // The best enabled rule of each caseless form.
    using ByForm = std::unordered_map<std::string, RuleRank, TextHash, std::equal_to<>>;

    RuleSet ruleSet_;
    // The best enabled `any` rule (every application, and none) and empty
    // prefix (every application).
    std::optional<RuleRank> any_;
    std::optional<RuleRank> emptyPrefix_;
    ByForm exact_;
    ByForm prefixes_;
    // Which lengths, in bytes, the prefixes' forms have; and the most code
    // points of any, beyond which no head of an identifier needs folding.
    std::vector<bool> prefixLengths_;
    std::int64_t longestPrefix_ = 0;
    // Enabled rules whose pattern cannot be folded, tried one by one.
    std::vector<RuleRank> oneByOne_;
};

} // namespace ravolet
