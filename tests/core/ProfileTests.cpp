#include <gtest/gtest.h>

#include "Core/Profile.hpp"

using namespace ravolet;

TEST(Profile, BuiltInProfilesDifferOnlyWhereDocumented) {
    EXPECT_EQ(Profile::defaultProfileID, "default");
    EXPECT_EQ(Profile::defaultDPI, 2000);
    EXPECT_EQ(Profile::sniperButton, 5);

    const Profile standard = Profile::defaultProfile();
    EXPECT_EQ(standard.id, "default");
    EXPECT_EQ(standard.name, "Default");

    Profile expectedCanvas = standard;
    expectedCanvas.id = "x";
    expectedCanvas.name = "y";
    expectedCanvas.scroll.easing = Easing::easeInOut;
    EXPECT_EQ(Profile::canvasApp("x", "y"), expectedCanvas);

    const Profile untouched = Profile::untouched();
    EXPECT_NE(untouched, standard);
    EXPECT_EQ(untouched.id, "passthrough");
    EXPECT_EQ(untouched.name, "Pass Through");
    EXPECT_TRUE(untouched.buttons.empty());
    EXPECT_EQ(untouched.scroll, ScrollSettings::passThrough);
    Profile expectedUntouched = standard;
    expectedUntouched.id = "passthrough";
    expectedUntouched.name = "Pass Through";
    expectedUntouched.scroll.isEnabled = false;
    expectedUntouched.pointer.isEnabled = false;
    expectedUntouched.buttons.clear();
    EXPECT_EQ(untouched, expectedUntouched);
}

TEST(Profile, FactoriesStartIdleFromTheProfilesValues) {
    Profile profile = Profile::defaultProfile();
    profile.pointer.isEnabled = false;
    profile.pointer.dpi = 1234;
    profile.buttons.push_back(ButtonBinding{4, ModifierFlags::shift, Action::passThrough(), true});
    const ButtonRouter router = profile.makeRouter();
    EXPECT_EQ(router.bindings, profile.buttons);
    EXPECT_EQ(router.baseDPI, 1234);
    EXPECT_EQ(router.currentDPI(), 1234);
    EXPECT_TRUE(router.heldButtons().empty());

    profile.scroll.durationMillis = -5;
    const ScrollTransformer stored = profile.makeScrollTransformer();
    EXPECT_EQ(stored.settings, profile.scroll);
    EXPECT_EQ(stored.inFlightPlan(ScrollAxis::vertical), nullptr);
    EXPECT_EQ(stored.inFlightPlan(ScrollAxis::horizontal), nullptr);

    ScrollTransformer fresh = Profile::defaultProfile().makeScrollTransformer();
    const ScrollOutcome outcome = fresh.transform(ScrollInput{1, ScrollAxis::vertical, ModifierFlags::none, 1000, DeviceID(9)});
    ASSERT_NE(outcome.plan(), nullptr);
    EXPECT_EQ(outcome.plan()->id, 1u);
}

TEST(Profile, EqualityAndHashingCoverEveryField) {
    const Profile base = Profile::defaultProfile();
    const std::hash<Profile> hash;
    EXPECT_EQ(hash(base), hash(Profile::defaultProfile()));
    Profile otherBinding = base;
    otherBinding.buttons[0].action = Action::dpiShift(800);
    Profile otherDPI = base;
    otherDPI.pointer.dpi = 1600;
    Profile otherName = base;
    otherName.name = "default";
    for (const Profile& changed : {otherBinding, otherDPI, otherName}) {
        EXPECT_NE(changed, base);
        EXPECT_NE(hash(changed), hash(base));
    }
}

TEST(Profile, JsonFormRoundTripsAndRequiresEveryKey) {
    Profile profile = Profile::canvasApp("c", "Canvas/Design");
    profile.scroll.activationModifiers = ModifierFlags::option;
    profile.buttons.push_back(ButtonBinding{3, ModifierFlags::command, Action::launchApp("com.apple.Safari"), false});
    const std::string text = *encodeJsonValue(profile);
    EXPECT_TRUE(text.starts_with("{\n  \"buttons\": ["));
    const auto keys = {"\n  \"buttons\"", "\n  \"id\"", "\n  \"name\"", "\n  \"pointer\"", "\n  \"scroll\""};
    std::size_t last = 0;
    for (const char* key : keys) {
        const std::size_t at = text.find(key);
        ASSERT_NE(at, std::string::npos) << key;
        EXPECT_GT(at + 1, last) << key;
        last = at + 1;
    }
    EXPECT_EQ(decodeJson<Profile>(text), profile);

    Json document = Json::parse(text);
    document["buttons"] = Json::array();
    document["extra"] = "ignored";
    Profile withoutButtons = profile;
    withoutButtons.buttons.clear();
    EXPECT_EQ(decodeJson<Profile>(document.dump()), withoutButtons);

    document["buttons"] = Json::object();
    EXPECT_FALSE(decodeJson<Profile>(document.dump()).has_value());
    for (const char* key : {"buttons", "id", "name", "pointer", "scroll"}) {
        Json missing = Json::parse(text);
        missing.erase(key);
        EXPECT_FALSE(decodeJson<Profile>(missing.dump()).has_value()) << key;
    }
}
