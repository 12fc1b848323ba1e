#include <gtest/gtest.h>

#include <unordered_set>

#include "Core/ScrollSettings.hpp"

using namespace ravolet;

namespace {

ScrollSettings decode(const std::string& text) {
    const Json j = Json::parse(text);
    return ScrollSettings::fromJson(JsonValue(j));
}

Json factoryJson() { return ScrollSettings{.isEnabled = true}.toJson(); }

} // namespace

TEST(Easing, CurvesAtTheirKnownPoints) {
    EXPECT_DOUBLE_EQ(easingValue(Easing::easeOut, 0.5), 0.875);
    EXPECT_DOUBLE_EQ(easingValue(Easing::easeInOut, 0.25), 0.0625);
    EXPECT_DOUBLE_EQ(easingValue(Easing::easeInOut, 0.75), 0.9375);
    EXPECT_DOUBLE_EQ(easingValue(Easing::linear, 0.3), 0.3);
    for (Easing e : allEasings) {
        EXPECT_EQ(easingValue(e, 0), 0) << e;
        EXPECT_EQ(easingValue(e, 1), 1) << e;
        EXPECT_EQ(easingValue(e, -3), 0) << e;
        EXPECT_EQ(easingValue(e, 7), 1) << e;
    }
    EXPECT_EQ(easingValue(Easing::easeInOut, 0.5), 0.5);
    EXPECT_DOUBLE_EQ(easingValue(Easing::easeInOut, std::nextafter(0.5, 0.0)), 0.5);
}

TEST(Easing, RawValuesAreCaseSensitive) {
    EXPECT_EQ(easingFromString("easeInOut"), Easing::easeInOut);
    EXPECT_EQ(easingFromString("linear"), Easing::linear);
    EXPECT_EQ(easingFromString("EaseOut"), std::nullopt);
    EXPECT_EQ(toString(Easing::easeOut), "easeOut");
}

TEST(ScrollSettings, PassThroughIsTheFactoryValuesWithSmoothingOff) {
    const ScrollSettings& p = ScrollSettings::passThrough;
    EXPECT_FALSE(p.isEnabled);
    EXPECT_EQ(p.enabledAxes, ScrollAxes::both);
    EXPECT_EQ(p.activationModifiers, std::nullopt);
    EXPECT_EQ(p.durationMillis, 250);
    EXPECT_EQ(p.easing, Easing::easeOut);
    EXPECT_EQ(p.pixelsPerDetent, 50);
    EXPECT_EQ(p.frameIntervalMillis, 8);
    EXPECT_EQ(p.maxInFlightPixels, 4000);
    EXPECT_FALSE(p.isInverted);
    EXPECT_TRUE(p.accelerationEnabled);
    EXPECT_EQ(p.accelerationWindowMillis, 140);
    EXPECT_EQ(p.accelerationGain, 1.2);
    EXPECT_EQ(p.maxAccelerationMultiplier, 6);
    EXPECT_EQ(p.sanitized(), p);
}

TEST(ScrollSettings, SanitizingBoundsEveryNumber) {
    ScrollSettings s = ScrollSettings::passThrough;
    s.durationMillis = 0;
    s.frameIntervalMillis = 0.5;
    s.maxAccelerationMultiplier = 0.5;
    s.accelerationGain = -2;
    s.accelerationWindowMillis = -5;
    s.maxInFlightPixels = 2000000;
    s.pixelsPerDetent = 20000;
    ScrollSettings t = s.sanitized();
    EXPECT_EQ(t.durationMillis, 1);
    EXPECT_EQ(t.frameIntervalMillis, 1);
    EXPECT_EQ(t.maxAccelerationMultiplier, 1);
    EXPECT_EQ(t.accelerationGain, 0);
    EXPECT_EQ(t.accelerationWindowMillis, 0);
    EXPECT_EQ(t.maxInFlightPixels, 1000000);
    EXPECT_EQ(t.pixelsPerDetent, 10000);
    EXPECT_EQ(s.durationMillis, 0) << "the stored settings stay as they are";

    s.durationMillis = 9000;
    s.accelerationGain = 500;
    s.maxAccelerationMultiplier = 1000;
    s.pixelsPerDetent = -1;
    s.accelerationWindowMillis = 1e9;
    t = s.sanitized();
    EXPECT_EQ(t.durationMillis, 5000);
    EXPECT_EQ(t.accelerationGain, 100);
    EXPECT_EQ(t.maxAccelerationMultiplier, 100);
    EXPECT_EQ(t.pixelsPerDetent, 0);
    EXPECT_EQ(t.accelerationWindowMillis, 1e9) << "the window has no upper bound";

    // The frame interval is bounded by the already sanitized duration.
    s.durationMillis = 10;
    s.frameIntervalMillis = 20;
    EXPECT_EQ(s.sanitized().frameIntervalMillis, 10);
    s.durationMillis = 250;
    s.frameIntervalMillis = 300;
    EXPECT_EQ(s.sanitized().frameIntervalMillis, 250);
}

TEST(ScrollSettings, JsonHasExactlyTheFieldKeys) {
    ScrollSettings s{.isEnabled = true, .easing = Easing::easeInOut};
    const auto text = encodeJsonValue(s);
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(*text,
              "{\n"
              "  \"accelerationEnabled\": true,\n"
              "  \"accelerationGain\": 1.2,\n"
              "  \"accelerationWindowMillis\": 140.0,\n"
              "  \"durationMillis\": 250.0,\n"
              "  \"easing\": \"easeInOut\",\n"
              "  \"enabledAxes\": 3,\n"
              "  \"frameIntervalMillis\": 8.0,\n"
              "  \"isEnabled\": true,\n"
              "  \"isInverted\": false,\n"
              "  \"maxAccelerationMultiplier\": 6.0,\n"
              "  \"maxInFlightPixels\": 4000.0,\n"
              "  \"pixelsPerDetent\": 50.0\n"
              "}");
    EXPECT_EQ(decodeJson<ScrollSettings>(*text), s);

    s.activationModifiers = ModifierFlags::command | ModifierFlags::shift;
    EXPECT_EQ(s.toJson()["activationModifiers"], 18);
    EXPECT_EQ(decodeJson<ScrollSettings>(*encodeJsonValue(s)), s);
}

TEST(ScrollSettings, ActivationModifiersIsOptional) {
    Json j = factoryJson();
    EXPECT_FALSE(j.contains("activationModifiers"));
    EXPECT_EQ(ScrollSettings::fromJson(JsonValue(j)).activationModifiers, std::nullopt);

    j["activationModifiers"] = nullptr;
    const ScrollSettings fromNull = ScrollSettings::fromJson(JsonValue(j));
    EXPECT_EQ(fromNull.activationModifiers, std::nullopt);
    EXPECT_FALSE(fromNull.toJson().contains("activationModifiers"));

    // An empty set is present and written back.
    j["activationModifiers"] = 0;
    const ScrollSettings empty = ScrollSettings::fromJson(JsonValue(j));
    EXPECT_EQ(empty.activationModifiers, ModifierFlags::none);
    EXPECT_EQ(empty.toJson()["activationModifiers"], 0);
}

TEST(ScrollSettings, DecodingKeepsNumbersAsStoredAndIgnoresUnknownKeys) {
    Json j = factoryJson();
    j["durationMillis"] = -7;
    j["frameIntervalMillis"] = 1e9;
    j["enabledAxes"] = 255;
    j["somethingNew"] = {{"x", 1}};
    const ScrollSettings s = ScrollSettings::fromJson(JsonValue(j));
    EXPECT_EQ(s.durationMillis, -7);
    EXPECT_EQ(s.frameIntervalMillis, 1e9);
    EXPECT_EQ(s.enabledAxes.rawValue, 255);
}

TEST(ScrollSettings, MissingOrMistypedKeysFail) {
    const Json base = factoryJson();
    for (const auto& [key, _] : base.items()) {
        Json j = base;
        j.erase(key);
        EXPECT_THROW(ScrollSettings::fromJson(JsonValue(j)), JsonDecodeError) << "without " << key;
        j[key] = "1";
        EXPECT_THROW(ScrollSettings::fromJson(JsonValue(j)), JsonDecodeError) << "string " << key;
    }
    const std::pair<const char*, Json> bad[] = {
        {"easing", "EaseOut"},     {"isEnabled", 1},         {"enabledAxes", 256},  {"enabledAxes", 1.5},
        {"activationModifiers", -1}, {"activationModifiers", "16"}, {"durationMillis", nullptr},
        {"isInverted", nullptr},
    };
    for (const auto& [key, value] : bad) {
        Json j = base;
        j[key] = value;
        EXPECT_THROW(ScrollSettings::fromJson(JsonValue(j)), JsonDecodeError) << key << " = " << value;
    }
    EXPECT_THROW(decode("[]"), JsonDecodeError);
    try {
        Json j = base;
        j["easing"] = "EaseOut";
        ScrollSettings::fromJson(JsonValue(j, "profiles[0].scroll"));
        FAIL();
    } catch (const JsonDecodeError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot initialize Easing from invalid String value EaseOut (at profiles[0].scroll.easing)");
    }
}

TEST(ScrollSettings, EqualityAndHashCoverEveryField) {
    const ScrollSettings base{.isEnabled = true};
    std::unordered_set<ScrollSettings> set{base};
    auto differs = [&](auto change) {
        ScrollSettings s = base;
        change(s);
        EXPECT_NE(s, base);
        EXPECT_FALSE(set.contains(s));
    };
    differs([](ScrollSettings& s) { s.isEnabled = false; });
    differs([](ScrollSettings& s) { s.activationModifiers = ModifierFlags::none; });
    differs([](ScrollSettings& s) { s.easing = Easing::linear; });
    differs([](ScrollSettings& s) { s.maxAccelerationMultiplier = 5; });
    EXPECT_TRUE(set.contains(ScrollSettings{.isEnabled = true}));
}
