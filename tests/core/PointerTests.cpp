#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <unordered_set>

#include "Core/PointerAccumulator.hpp"
#include "Core/PointerSettings.hpp"

using namespace ravolet;

namespace {

Json parse(const char* text) { return Json::parse(text); }

std::string decodeFailure(const char* text) {
    const auto result = decodeJson<PointerAcceleration>(text);
    return result ? std::string("decoded") : result.error().message;
}

} // namespace

TEST(PointerSettings, JsonFormAndPresets) {
    const PointerSettings settings{true, 2000, PointerCurve::desktop};
    EXPECT_EQ(*encodeJsonValue(settings),
              "{\n"
              "  \"curve\": {\n"
              "    \"acceleration\": {\n"
              "      \"curve\": {\n"
              "        \"exponent\": 1.0,\n"
              "        \"maxGain\": 6.0,\n"
              "        \"thresholdCountsPerSecond\": 800.0\n"
              "      }\n"
              "    },\n"
              "    \"sensitivity\": 1.0\n"
              "  },\n"
              "  \"dpi\": 2000,\n"
              "  \"isEnabled\": true\n"
              "}");
    EXPECT_EQ(decodeJson<PointerSettings>(*encodeJsonValue(settings)), settings);

    const PointerSettings plain{false, -5, PointerCurve::linear};
    EXPECT_EQ(plain.curve.toJson(), parse(R"({"sensitivity": 1.0, "acceleration": {"off": {}}})"));
    EXPECT_EQ(decodeJson<PointerSettings>(*encodeJsonValue(plain)), plain);
    EXPECT_EQ(PointerCurve::linear.sensitivity, 1.0);
    EXPECT_TRUE(PointerCurve::linear.acceleration.isOff());
}

TEST(PointerSettings, AccelerationNeedsExactlyOneCase) {
    EXPECT_EQ(decodeJson<PointerAcceleration>(R"({"off": {"x": 1}})"), PointerAcceleration::off());
    EXPECT_EQ(decodeJson<PointerAcceleration>(R"({"off": {}, "linear": 3})"), PointerAcceleration::off());
    EXPECT_EQ(decodeFailure("{}"), "Invalid number of keys found, expected one. (at the top level)");
    EXPECT_EQ(decodeFailure(R"({"off": {}, "curve": {"exponent": 1, "thresholdCountsPerSecond": 8, "maxGain": 2}})"),
              "Invalid number of keys found, expected one. (at the top level)");
    EXPECT_NE(decodeFailure(R"({"curve": {"exponent": 1, "thresholdCountsPerSecond": 800}})"), "decoded");
    EXPECT_NE(decodeFailure(R"({"off": 1})"), "decoded");
    EXPECT_NE(decodeFailure(R"({"off": null})"), "decoded");
    EXPECT_NE(decodeFailure(R"({"curve": {"exponent": "1", "thresholdCountsPerSecond": 800, "maxGain": 2}})"),
              "decoded");
}

TEST(PointerSettings, MissingOrMistypedKeysFail) {
    const Json base = PointerSettings{true, 2000, PointerCurve::desktop}.toJson();
    for (const char* key : {"isEnabled", "dpi", "curve"}) {
        Json j = base;
        j.erase(key);
        EXPECT_THROW(PointerSettings::fromJson(JsonValue(j)), JsonDecodeError) << key;
    }
    for (const char* key : {"sensitivity", "acceleration"}) {
        Json j = base;
        j["curve"].erase(key);
        EXPECT_THROW(PointerSettings::fromJson(JsonValue(j)), JsonDecodeError) << key;
    }
    for (Json dpi : {Json(2000.5), Json("2000"), Json(1e19), Json(true)}) {
        Json j = base;
        j["dpi"] = dpi;
        EXPECT_THROW(PointerSettings::fromJson(JsonValue(j)), JsonDecodeError) << dpi;
    }
    Json j = base;
    j["dpi"] = 1600.0;
    j["extra"] = 1;
    EXPECT_EQ(PointerSettings::fromJson(JsonValue(j)).dpi, 1600);
}

TEST(PointerSettings, EqualityAndHashCoverTheCurveNumbers) {
    const PointerSettings base{true, 2000, PointerCurve::desktop};
    std::unordered_set<PointerSettings> set{base};
    for (const PointerSettings& other : {
             PointerSettings{true, 2000, PointerCurve{1.0, PointerAcceleration::curve(1.0, 800, 6.5)}},
             PointerSettings{true, 2000, PointerCurve{1.0, PointerAcceleration::curve(1.5, 800, 6.0)}},
             PointerSettings{true, 2000, PointerCurve{1.0, PointerAcceleration::off()}},
             PointerSettings{true, 2000, PointerCurve{1.1, PointerAcceleration::curve(1.0, 800, 6.0)}},
             PointerSettings{true, 1600, PointerCurve::desktop},
             PointerSettings{false, 2000, PointerCurve::desktop},
         }) {
        EXPECT_NE(other, base) << other;
        EXPECT_FALSE(set.contains(other)) << other;
    }
    EXPECT_TRUE(set.contains(PointerSettings{true, 2000, PointerCurve::desktop}));
}
