// The rule set index against the resolver it replaced on the switch path,
// kept here as the reference: the one pass over every rule with ICU's
// caseless matching made afresh for each comparison.

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include "Core/RuleSet.hpp"
#include "Core/RuleSetIndex.hpp"
#include "Core/UnicodeText.hpp"
#include "Support/ValueSupport.hpp"

using namespace ravolet;

namespace reference {

bool fitsICU(std::string_view text) {
    if (text.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) return false;
    const auto* s = reinterpret_cast<const std::uint8_t*>(text.data());
    const std::int64_t length = static_cast<std::int64_t>(text.size());
    for (std::int64_t i = 0; i < length;) {
        UChar32 c = 0;
        U8_NEXT(s, i, length, c);
        if (c < 0) return false;
    }
    return true;
}

icu::UnicodeString utf16(std::string_view text) {
    return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<std::int32_t>(text.size())));
}

std::optional<icu::UnicodeString> key(const icu::UnicodeString& text) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
    if (U_FAILURE(status)) return std::nullopt;
    icu::UnicodeString folded = nfd->normalize(text, status);
    folded.foldCase(U_FOLD_CASE_DEFAULT);
    icu::UnicodeString result = nfd->normalize(folded, status);
    if (U_FAILURE(status) || result.isBogus()) return std::nullopt;
    return result;
}

std::unique_ptr<icu::BreakIterator> characterBreaks(const icu::UnicodeString& text) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> breaks(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status) || breaks == nullptr) return nullptr;
    breaks->setText(text);
    return breaks;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a == b) return true;
    if (!fitsICU(a) || !fitsICU(b)) return false;
    const auto keyA = key(utf16(a));
    const auto keyB = key(utf16(b));
    return keyA && keyB && *keyA == *keyB;
}

bool hasPrefixIgnoringCase(std::string_view text, std::string_view prefix) {
    if (prefix.empty() || text == prefix) return true;
    if (!fitsICU(text) || !fitsICU(prefix)) return text.starts_with(prefix);
    const auto wanted = key(utf16(prefix));
    if (!wanted) return false;
    const icu::UnicodeString whole = utf16(text);
    const auto breaks = characterBreaks(whole);
    if (breaks == nullptr) return false;
    for (std::int32_t end = breaks->next(); end != icu::BreakIterator::DONE; end = breaks->next()) {
        const icu::UnicodeString head(whole, 0, end);
        if (head.countChar32() > wanted->countChar32()) break;
        const auto headKey = key(head);
        if (headKey && *headKey == *wanted) return true;
    }
    return false;
}

std::int64_t characterCount(std::string_view text) {
    if (text.empty()) return 0;
    if (!fitsICU(text)) {
        const auto* s = reinterpret_cast<const std::uint8_t*>(text.data());
        const std::int64_t length = static_cast<std::int64_t>(text.size());
        std::int64_t count = 0;
        for (std::int64_t i = 0; i < length; ++count) {
            UChar32 c = 0;
            U8_NEXT(s, i, length, c);
        }
        return count;
    }
    const icu::UnicodeString whole = utf16(text);
    const auto breaks = characterBreaks(whole);
    if (breaks == nullptr) return whole.countChar32();
    std::int64_t count = 0;
    for (std::int32_t end = breaks->next(); end != icu::BreakIterator::DONE; end = breaks->next()) ++count;
    return count;
}

bool matches(const BundleIDPattern& pattern, const std::optional<std::string>& bundleID) {
    return std::visit(Overloaded{
                          [](const BundleIDPattern::Any&) { return true; },
                          [&](const BundleIDPattern::Exact& e) { return bundleID && equalsIgnoringCase(*bundleID, e.value); },
                          [&](const BundleIDPattern::Prefix& p) { return bundleID && hasPrefixIgnoringCase(*bundleID, p.value); },
                      },
                      pattern.value);
}

std::int64_t specificity(const BundleIDPattern& pattern) {
    return std::visit(Overloaded{
                          [](const BundleIDPattern::Any&) -> std::int64_t { return 0; },
                          [](const BundleIDPattern::Exact&) { return std::numeric_limits<std::int64_t>::max(); },
                          [](const BundleIDPattern::Prefix& p) { return characterCount(p.value) + 1; },
                      },
                      pattern.value);
}

ProfileResolution resolve(const RuleSet& set, const std::optional<std::string>& bundleID) {
    const Rule* best = nullptr;
    std::int64_t bestSpecificity = 0;
    for (const Rule& rule : set.rules) {
        if (!rule.isEnabled || !matches(rule.pattern, bundleID)) continue;
        const std::int64_t s = specificity(rule.pattern);
        if (best == nullptr || rule.priority > best->priority || (rule.priority == best->priority && s > bestSpecificity)) {
            best = &rule;
            bestSpecificity = s;
        }
    }
    if (best == nullptr) return ProfileResolution{set.defaultProfileID, std::nullopt};
    return ProfileResolution{best->profileID, *best};
}

} // namespace reference

namespace {

// Pieces that fold, decompose, join into one character or are no UTF-8 at all.
const std::vector<std::string> pieces{
    "a", "B", "c", "x", "X", ".", "-", "1", "\r", "\n", "*", " ",
    "\u00DF", "SS", "ss",                // ß folds to "ss"
    "\u212A", "k",                       // the Kelvin sign folds to "k"
    "\u00E9", "e\u0301", "\u00C9", "e",  // é precomposed and decomposed
    "\uFB00", "ff",                      // the ligature folds to "ff"
    "\u0130", "i\u0307", "i",            // dotted capital I
    "\u0390", "\u03A3", "\u03C3", "\u03C2",
    "\u0301", "\u0345", "\u200D",        // combining marks and a joiner on their own
    "\U0001F1E9\U0001F1EA", "\U0001F468",
    "\xFF", "\xC3",                      // ill-formed bytes
};

class Generator {
public:
    explicit Generator(std::uint32_t seed) : random_(seed) {}

    int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }
    bool chance(int percent) { return below(100) < percent; }

    std::string text(int most) {
        std::string t;
        for (int n = below(most + 1); n > 0; --n) t += pieces[static_cast<std::size_t>(below(static_cast<int>(pieces.size())))];
        return t;
    }

    // ASCII letters in the other case, now and then.
    std::string recased(std::string t) {
        for (char& c : t) {
            if (!chance(30)) continue;
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
            else if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        }
        return t;
    }

    RuleSet ruleSet() {
        // Patterns grow from a few stems, so that rules overlap and tie.
        std::vector<std::string> stems;
        for (int i = 0; i < 3; ++i) stems.push_back(text(3));
        std::vector<Rule> rules;
        for (int i = 0, count = below(25); i < count; ++i) {
            std::string value = stems[static_cast<std::size_t>(below(3))] + text(2);
            const int kind = below(20);
            BundleIDPattern pattern = kind < 2   ? BundleIDPattern::any()
                                      : kind < 3 ? BundleIDPattern::prefix("")
                                      : kind < 11 ? BundleIDPattern::exact(std::move(value))
                                                  : BundleIDPattern::prefix(std::move(value));
            rules.emplace_back("rule-" + std::to_string(i), std::move(pattern), "p" + std::to_string(i), below(4) - 1,
                               chance(85));
        }
        return RuleSet(std::move(rules), "fallback");
    }

    // No application, anything, or what a rule names with more after it.
    std::optional<std::string> bundleID(const RuleSet& set) {
        if (chance(5)) return std::nullopt;
        if (set.rules.empty() || chance(25)) return text(8);
        const Rule& rule = set.rules[static_cast<std::size_t>(below(static_cast<int>(set.rules.size())))];
        std::string named = std::visit(Overloaded{[](const BundleIDPattern::Any&) { return std::string(); },
                                                  [](const auto& p) { return p.value; }},
                                       rule.pattern.value);
        return recased(named) + (chance(50) ? text(3) : "");
    }

private:
    std::mt19937 random_;
};

} // namespace

TEST(RuleSetIndex, ResolvesAsTheOnePassOverEveryRuleDid) {
    Generator generate(20261209);
    for (int set = 0; set < 1500; ++set) {
        const RuleSet rules = generate.ruleSet();
        const RuleSetIndex index(rules);
        for (int lookup = 0; lookup < 12; ++lookup) {
            const auto bundleID = generate.bundleID(rules);
            const ProfileResolution expected = reference::resolve(rules, bundleID);
            ASSERT_EQ(index.resolve(bundleID), expected) << rules << " for " << bundleID.value_or("(none)");
            ASSERT_EQ(rules.resolve(bundleID), expected) << rules << " for " << bundleID.value_or("(none)");
        }
    }
}

TEST(RuleSetIndex, CaselessMatchingAgreesWithTheICUComparisons) {
    Generator generate(7);
    for (int i = 0; i < 20000; ++i) {
        const std::string a = generate.text(6);
        const std::string b = generate.chance(50) ? generate.recased(a) + generate.text(2) : generate.text(6);
        ASSERT_EQ(unicode::equalsIgnoringCase(a, b), reference::equalsIgnoringCase(a, b)) << a << " | " << b;
        ASSERT_EQ(unicode::hasPrefixIgnoringCase(b, a), reference::hasPrefixIgnoringCase(b, a)) << b << " | " << a;
        ASSERT_EQ(unicode::characterCount(b), reference::characterCount(b)) << b;
    }
}
