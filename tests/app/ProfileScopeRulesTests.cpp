#include <gtest/gtest.h>

#include "RavoletApp/ViewModels/ProfileScopeRules.hpp"

namespace ravolet {
namespace {

Config twoProfiles() {
    Config config = Config::defaultConfig();
    config.profiles.erase(config.profiles.begin() + 2, config.profiles.end());
    config.profiles[0].id = "default";
    config.profiles[1].id = "canvas";
    config.profiles[1].name = "Canvas";
    return config;
}

TEST(ProfileScopeRules, TheSelectionFallsBackToTheFirstProfileThenTheBuiltInOne) {
    const Config config = twoProfiles();
    EXPECT_EQ(scopedProfile(config, "canvas").id, "canvas");
    EXPECT_EQ(scopedProfile(config, "gone").id, "default");

    Config empty = config;
    empty.profiles.clear();
    EXPECT_EQ(scopedProfile(empty, "canvas"), Profile::defaultProfile());
    // The built-in profile matches nothing in an empty document: the edit is dropped.
    EXPECT_EQ(replacingProfile(empty, Profile::defaultProfile()), std::nullopt);
}

TEST(ProfileScopeRules, AnEditReplacesTheProfileWithItsOwnIdentifierOnly) {
    Config config = twoProfiles();
    config.profiles.push_back(config.profiles[1]); // a second "canvas": only the first is replaced
    Profile edited = config.profiles[1];
    edited.name = "Drawing";
    const auto changed = replacingProfile(config, edited);
    ASSERT_TRUE(changed);
    EXPECT_EQ(changed->profiles[1].name, "Drawing");
    EXPECT_EQ(changed->profiles[2].name, "Canvas");
    EXPECT_EQ(changed->profiles[0], config.profiles[0]);
}

TEST(ProfileScopeRules, TheInUseLineTakesTheFirstCaseThatHolds) {
    using Kind = ProfileInUseLine::Kind;
    struct Row {
        std::string selected;
        std::optional<std::string> frontmost;
        ProfileInUseLine expected;
    };
    const std::vector<Row> rows = {
        {"default", "Safari", {Kind::inUse, "In use right now"}},
        {"default", std::nullopt, {Kind::inUse, "In use right now"}},
        {"canvas", "Safari", {Kind::usedByFrontApplication, "Safari is currently using \u201CDefault\u201D"}},
        {"canvas", std::nullopt, {}},
        {"Default", "Safari", {Kind::usedByFrontApplication, "Safari is currently using \u201CDefault\u201D"}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(profileInUseLine(row.selected, "default", "Default", row.frontmost), row.expected) << row.selected;
}

} // namespace
} // namespace ravolet
