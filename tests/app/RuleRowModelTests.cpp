#include <gtest/gtest.h>

#include "Core/Config.hpp"
#include "RavoletApp/ViewModels/RuleRowModel.hpp"

namespace ravolet {
namespace {

TEST(RuleRowModel, TypedTextBecomesThePatternTheFieldTheIconAndTheSentence) {
    struct Row {
        std::string typed;
        BundleIDPattern pattern;
        std::string field;
        std::optional<std::string> icon;
        std::string explanation;
    };
    const std::vector<Row> rows = {
        {"", BundleIDPattern::any(), "", std::nullopt,
         "Matches every app, including the moment no app is frontmost. Give it a low priority or it will win "
         "everywhere."},
        {" * ", BundleIDPattern::any(), "", std::nullopt, ""},
        {" com.figma.Desktop\n", BundleIDPattern::exact("com.figma.Desktop"), "com.figma.Desktop", "com.figma.Desktop",
         "Matches only com.figma.Desktop. End the identifier with * to match a family of apps instead."},
        {"com.adobe.*", BundleIDPattern::prefix("com.adobe."), "com.adobe.*", std::nullopt,
         "Matches every app whose identifier starts with com.adobe. \u2014 for example every Adobe app at once."},
    };
    const Rule blank("r", BundleIDPattern::exact(""), "default", 0, true);
    for (const Row& row : rows) {
        const Rule typed = ruleRow::withPatternText(blank, row.typed);
        EXPECT_EQ(typed.pattern, row.pattern) << row.typed;
        EXPECT_EQ(ruleRow::patternText(typed.pattern), row.field) << row.typed;
        EXPECT_EQ(ruleRow::iconBundleID(typed.pattern), row.icon) << row.typed;
        if (!row.explanation.empty()) {
            EXPECT_EQ(ruleRow::explanation(typed.pattern), row.explanation) << row.typed;
        }
    }
    EXPECT_EQ(ruleRow::patternText(blank.pattern), "");
    EXPECT_EQ(ruleRow::iconBundleID(blank.pattern), std::nullopt);
    EXPECT_EQ(ruleRow::explanation(blank.pattern),
              "Type an application ID, or use Choose App\u2026 to fill one in. Ending it with * matches a whole "
              "family, e.g. org.kde.*");
    // A pick is always exact, even over a family.
    const Rule picked = ruleRow::withPickedApplication(ruleRow::withPatternText(blank, "com.adobe.*"), "org.gimp.GIMP");
    EXPECT_EQ(picked.pattern, BundleIDPattern::exact("org.gimp.GIMP"));
    EXPECT_EQ(ruleRow::exactBundleID(picked.pattern), "org.gimp.GIMP");
    EXPECT_EQ(ruleRow::exactBundleID(BundleIDPattern::prefix("com.adobe.")), "");
}

TEST(RuleRowModel, ResetsPutBackTheFactoryRuleWithAListedProfile) {
    const std::vector<Profile> factoryProfiles = Config::defaultConfig().profiles;
    std::vector<Profile> others = {Profile::canvasApp("mine", "Mine")};
    const Rule edited("krita", BundleIDPattern::any(), "mine", -7, false);
    const Rule userMade("rule-1234abcd", BundleIDPattern::any(), "mine", 42, false);
    struct Row {
        Rule rule;
        const std::vector<Profile>* profiles;
        Rule expected;
    };
    const std::vector<Profile> none;
    const std::vector<Row> rows = {
        {edited, &factoryProfiles, Rule("krita", BundleIDPattern::exact("org.kde.krita"), "canvas", 10, true)},
        {edited, &others, Rule("krita", BundleIDPattern::exact("org.kde.krita"), "mine", 10, true)},
        {userMade, &factoryProfiles, Rule("rule-1234abcd", BundleIDPattern::exact(""), "default", 0, true)},
        {userMade, &others, Rule("rule-1234abcd", BundleIDPattern::exact(""), "mine", 0, true)},
        {userMade, &none, Rule("rule-1234abcd", BundleIDPattern::exact(""), "default", 0, true)},
    };
    for (const Row& row : rows) EXPECT_EQ(ruleRow::factoryRule(row.rule, *row.profiles), row.expected) << row.rule;

    EXPECT_EQ(ruleRow::priorityTitle(-3), "Priority -3");
    const std::vector<std::array<std::int64_t, 3>> steps = {
        {0, 1, 1}, {100, 1, 100}, {-100, -1, -100}, {99, 5, 100}, {500, -1, 99}, {INT64_MIN, 1, -99}, {0, INT64_MAX, 100},
    };
    for (const auto& [from, by, to] : steps) EXPECT_EQ(ruleRow::steppedPriority(from, by), to) << from << " by " << by;
}

} // namespace
} // namespace ravolet
