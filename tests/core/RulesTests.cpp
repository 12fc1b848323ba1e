#include <gtest/gtest.h>

#include <limits>
#include <unordered_set>

#include "Core/BundleIDPattern.hpp"
#include "Core/RuleSet.hpp"

using namespace ravolet;

namespace {
const std::optional<std::string> noApp = std::nullopt;

Rule rule(std::string id, BundleIDPattern pattern, std::int64_t priority, bool isEnabled = true) {
    return Rule(id, std::move(pattern), "profile-" + id, priority, isEnabled);
}

Json parsed(const char* text) { return Json::parse(text); }
} // namespace

TEST(BundleIDPattern, ReadsTheTextAUserTyped) {
    EXPECT_EQ(BundleIDPattern(""), BundleIDPattern::any());
    EXPECT_EQ(BundleIDPattern(" \t "), BundleIDPattern::any());
    EXPECT_EQ(BundleIDPattern("  *\n"), BundleIDPattern::any());
    EXPECT_EQ(BundleIDPattern("com.adobe.*"), BundleIDPattern::prefix("com.adobe."));
    EXPECT_EQ(BundleIDPattern(" com.figma.Desktop\r\n"), BundleIDPattern::exact("com.figma.Desktop"));
    EXPECT_EQ(BundleIDPattern("**"), BundleIDPattern::prefix("*"));
    EXPECT_EQ(BundleIDPattern("com.adobe.**"), BundleIDPattern::prefix("com.adobe.*"));
    EXPECT_EQ(BundleIDPattern("a*b"), BundleIDPattern::exact("a*b"));
    // Unicode white space (no-break space, ideographic space, line separator,
    // next line) is trimmed too; a zero-width space is no white space.
    EXPECT_EQ(BundleIDPattern("\u00A0\u3000com.x\u2028\u0085"), BundleIDPattern::exact("com.x"));
    EXPECT_EQ(BundleIDPattern("\u200Bcom.x"), BundleIDPattern::exact("\u200Bcom.x"));
    // Bytes that are no UTF-8 are kept, never taken for white space.
    EXPECT_EQ(BundleIDPattern(" \xFF \xC2"), BundleIDPattern::exact("\xFF \xC2"));
}

TEST(BundleIDPattern, PatternStringReadsBack) {
    EXPECT_EQ(BundleIDPattern::any().patternString(), "*");
    EXPECT_EQ(BundleIDPattern::prefix("").patternString(), "*");
    EXPECT_EQ(BundleIDPattern(BundleIDPattern::prefix("").patternString()), BundleIDPattern::any());
    EXPECT_EQ(BundleIDPattern::prefix("com.adobe.").patternString(), "com.adobe.*");
    const auto figma = BundleIDPattern::exact("com.figma.Desktop");
    EXPECT_EQ(BundleIDPattern(figma.patternString()), figma);
    // An exact string ending in a star can only come from a file.
    EXPECT_EQ(BundleIDPattern(BundleIDPattern::exact("com.x*").patternString()), BundleIDPattern::prefix("com.x"));
}

TEST(BundleIDPattern, MatchingIgnoresCaseButEqualityDoesNot) {
    const auto figma = BundleIDPattern::exact("com.figma.Desktop");
    EXPECT_TRUE(figma.matches("COM.FIGMA.DESKTOP"));
    EXPECT_FALSE(figma.matches("com.figma.Desktop.helper"));
    EXPECT_FALSE(figma.matches(noApp));
    EXPECT_NE(figma, BundleIDPattern::exact("com.figma.desktop"));
    EXPECT_NE(BundleIDPattern::exact("x"), BundleIDPattern::prefix("x"));

    const auto adobe = BundleIDPattern::prefix("com.adobe.");
    EXPECT_TRUE(adobe.matches("com.Adobe.Photoshop"));
    EXPECT_TRUE(adobe.matches("com.adobe."));
    EXPECT_FALSE(adobe.matches("com.adobe"));
    EXPECT_FALSE(adobe.matches("org.com.adobe.x"));
    EXPECT_FALSE(adobe.matches(noApp));

    const auto empty = BundleIDPattern::prefix("");
    EXPECT_TRUE(empty.matches(""));
    EXPECT_TRUE(empty.matches("anything"));
    EXPECT_FALSE(empty.matches(noApp));

    EXPECT_TRUE(BundleIDPattern::any().matches(noApp));
    EXPECT_TRUE(BundleIDPattern::any().matches(""));
    // The prefix is searched for in the identifier, never the reverse.
    EXPECT_FALSE(BundleIDPattern::prefix("com.adobe.Photoshop").matches("com.adobe."));
}

TEST(BundleIDPattern, MatchingIsUnicodeCaselessAndCanonical) {
    EXPECT_TRUE(BundleIDPattern::exact("de.Straße").matches("DE.STRASSE"));
    EXPECT_TRUE(BundleIDPattern::exact("com.ÉCOLE").matches("com.e\u0301cole"));
    EXPECT_TRUE(BundleIDPattern::exact("ΣΊΣΥΦΟΣ").matches("σίσυφος"));
    EXPECT_TRUE(BundleIDPattern::prefix("de.STRASSE.").matches("de.straße.app"));
    EXPECT_TRUE(BundleIDPattern::prefix("com.é").matches("COM.E\u0301x"));
    // A match must end on a character boundary: "e" is no prefix of "é" spelt
    // with a combining accent.
    EXPECT_FALSE(BundleIDPattern::prefix("com.e").matches("com.e\u0301x"));
    EXPECT_FALSE(BundleIDPattern::exact("i").matches("İ"));
    // Ill-formed bytes compare exactly.
    EXPECT_TRUE(BundleIDPattern::exact("a\xFF").matches("a\xFF"));
    EXPECT_FALSE(BundleIDPattern::exact("A\xFF").matches("a\xFF"));
    EXPECT_TRUE(BundleIDPattern::prefix("a\xFF").matches("a\xFFz"));
}

TEST(BundleIDPattern, SpecificityCountsUserPerceivedCharacters) {
    EXPECT_EQ(BundleIDPattern::any().specificity(), 0);
    EXPECT_EQ(BundleIDPattern::exact("").specificity(), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(BundleIDPattern::prefix("").specificity(), 1);
    EXPECT_EQ(BundleIDPattern::prefix("com.adobe.").specificity(), 11);
    // "é" with a combining accent, a flag and a family emoji: one character each.
    EXPECT_EQ(BundleIDPattern::prefix("e\u0301\U0001F1E9\U0001F1EA\U0001F468\u200D\U0001F469\u200D\U0001F467").specificity(), 4);
}

TEST(BundleIDPattern, JsonFormAndItsErrors) {
    EXPECT_EQ(*encodeJson(BundleIDPattern::any().toJson()), "{\n  \"any\": {}\n}");
    EXPECT_EQ(*encodeJson(BundleIDPattern::exact("a/b").toJson()), "{\n  \"exact\": {\n    \"_0\": \"a\\/b\"\n  }\n}");
    EXPECT_EQ(BundleIDPattern::fromJson(JsonValue(parsed(R"({"prefix": {"_0": " com.adobe.* ", "x": 1}})"))),
              BundleIDPattern::prefix(" com.adobe.* "));
    EXPECT_EQ(BundleIDPattern::fromJson(JsonValue(parsed(R"({"any": {}, "other": 3})"))), BundleIDPattern::any());

    for (const char* twoOrNone : {R"({"exact": {"_0": "a"}, "prefix": {"_0": "a"}})", R"({"Any": {}})", "{}"}) {
        try {
            BundleIDPattern::fromJson(JsonValue(parsed(twoOrNone)));
            ADD_FAILURE() << twoOrNone;
        } catch (const JsonDecodeError& e) {
            EXPECT_NE(std::string(e.what()).find("Invalid number of keys found, expected one."), std::string::npos);
        }
    }
    for (const char* bad : {R"({"exact": {}})", R"({"exact": {"_0": 3}})", R"({"prefix": "a"})", R"({"any": []})",
                            R"({"any": null})", R"(["any"])"}) {
        EXPECT_THROW(BundleIDPattern::fromJson(JsonValue(parsed(bad))), JsonDecodeError) << bad;
    }
}

TEST(BundleIDPattern, HashingFollowsEquality) {
    const std::hash<BundleIDPattern> hash;
    EXPECT_EQ(hash(BundleIDPattern::exact("a")), hash(BundleIDPattern::exact("a")));
    const std::unordered_set<BundleIDPattern> set{BundleIDPattern::any(), BundleIDPattern::exact("a"),
                                                  BundleIDPattern::prefix("a"), BundleIDPattern::exact("A")};
    EXPECT_EQ(set.size(), 4u);
}

TEST(RuleSet, PriorityThenSpecificityThenListOrder) {
    const std::string app = "com.adobe.Photoshop";
    {   // `any` and `prefix ""` of equal priority: the prefix wins, whichever comes first.
        const RuleSet a({rule("any", BundleIDPattern::any(), 5), rule("empty", BundleIDPattern::prefix(""), 5)}, "d");
        const RuleSet b({rule("empty", BundleIDPattern::prefix(""), 5), rule("any", BundleIDPattern::any(), 5)}, "d");
        EXPECT_EQ(a.resolve(app).profileID, "profile-empty");
        EXPECT_EQ(b.resolve(app).profileID, "profile-empty");
    }
    {   // Equal exact rules: the earlier; a later prefix or any of equal priority never displaces it.
        const RuleSet set({rule("first", BundleIDPattern::exact(app), 10), rule("second", BundleIDPattern::exact(app), 10),
                           rule("prefix", BundleIDPattern::prefix("com.adobe.Photosho"), 10),
                           rule("any", BundleIDPattern::any(), 10)},
                          "d");
        const auto resolution = set.resolve(app);
        EXPECT_EQ(resolution.profileID, "profile-first");
        EXPECT_EQ(resolution.matchedRule, set.rules[0]);
        EXPECT_FALSE(resolution.usedFallback());
    }
    {   // Priority decides alone when it differs, negative values included.
        const RuleSet set({rule("exact", BundleIDPattern::exact(app), 10), rule("prefix", BundleIDPattern::prefix("com."), 11)}, "d");
        EXPECT_EQ(set.resolve(app).profileID, "profile-prefix");
        const RuleSet negative({rule("low", BundleIDPattern::exact(app), -5), rule("lower", BundleIDPattern::any(), -6)}, "d");
        EXPECT_EQ(negative.resolve(app).profileID, "profile-low");
    }
    {   // Longer prefixes are more specific.
        const RuleSet set({rule("short", BundleIDPattern::prefix("com."), 1), rule("long", BundleIDPattern::prefix("COM.ADOBE."), 1)}, "d");
        EXPECT_EQ(set.resolve(app).profileID, "profile-long");
    }
}

TEST(RuleSet, DisabledRulesAndFallbacks) {
    const RuleSet set({rule("off", BundleIDPattern::any(), 1000, false), rule("figma", BundleIDPattern::exact("com.figma.Desktop"), 0)},
                      "fallback");
    EXPECT_EQ(set.resolve("com.figma.desktop").profileID, "profile-figma");
    const auto none = set.resolve(noApp);
    EXPECT_EQ(none, (ProfileResolution{"fallback", std::nullopt}));
    EXPECT_TRUE(none.usedFallback());
    EXPECT_EQ(set.resolve("com.other").profileID, "fallback");

    const RuleSet withAny({rule("all", BundleIDPattern::any(), 0)}, "fallback");
    EXPECT_EQ(withAny.resolve(noApp).profileID, "profile-all");

    const RuleSet empty({}, "x");
    EXPECT_TRUE(empty.resolve("com.apple.finder").usedFallback());
    EXPECT_EQ(empty.resolve("com.apple.finder").profileID, "x");
}

TEST(RuleSet, JsonFormIsStrictAndSorted) {
    const RuleSet set({Rule("adobe", BundleIDPattern::prefix("com.adobe."), "canvas", -3, true)}, "default");
    const std::string text = *encodeJson(set.toJson());
    EXPECT_EQ(text, R"({
  "defaultProfileID": "default",
  "rules": [
    {
      "id": "adobe",
      "isEnabled": true,
      "pattern": {
        "prefix": {
          "_0": "com.adobe."
        }
      },
      "priority": -3,
      "profileID": "canvas"
    }
  ]
})");
    EXPECT_EQ(decodeJson<RuleSet>(text), set);
    EXPECT_EQ(decodeJson<RuleSet>(R"({"rules": [], "defaultProfileID": "d", "extra": [1]})"), RuleSet({}, "d"));

    const char* ruleText = R"({"id": "r", "pattern": {"any": {}}, "profileID": "p", "priority": 2.0, "isEnabled": false})";
    EXPECT_EQ(decodeJson<Rule>(ruleText), Rule("r", BundleIDPattern::any(), "p", 2, false));
    for (const char* bad : {
             R"({"id": "r", "pattern": {"any": {}}, "profileID": "p", "priority": 2.5, "isEnabled": false})",
             R"({"id": "r", "pattern": {"any": {}}, "profileID": "p", "priority": 9223372036854775808, "isEnabled": false})",
             R"({"id": "r", "pattern": {"any": {}}, "profileID": "p", "priority": 2, "isEnabled": 0})",
             R"({"id": "r", "pattern": {"any": {}}, "profileID": "p", "priority": 2})",
             R"({"id": 1, "pattern": {"any": {}}, "profileID": "p", "priority": 2, "isEnabled": true})",
         }) {
        const auto decoded = decodeJson<Rule>(bad);
        ASSERT_FALSE(decoded.has_value()) << bad;
        EXPECT_EQ(decoded.error().kind, JsonError::Kind::decode);
    }
    EXPECT_FALSE(decodeJson<RuleSet>(R"({"rules": {}, "defaultProfileID": "d"})").has_value());
    EXPECT_FALSE(decodeJson<RuleSet>(R"({"rules": []})").has_value());
}
