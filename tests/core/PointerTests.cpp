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

TEST(PointerCurve, GainOverSpeed) {
    const PointerCurve& desktop = PointerCurve::desktop;
    EXPECT_EQ(desktop.gain(2000), 2.5);
    EXPECT_EQ(desktop.gain(800), 1.0) << "a speed at the threshold gets the base gain";
    EXPECT_EQ(desktop.gain(125), 1.0);
    EXPECT_EQ(desktop.gain(1e9), 6.0);

    auto curve = [](double sensitivity, double exponent, double threshold, double maxGain) {
        return PointerCurve{sensitivity, PointerAcceleration::curve(exponent, threshold, maxGain)};
    };
    EXPECT_EQ(curve(2, 0, 800, 6).gain(5000), 2) << "exponent 0";
    EXPECT_EQ(curve(2, -1, 800, 6).gain(5000), 2) << "negative exponent";
    EXPECT_EQ(curve(1.5, 1, 0, 4).gain(0.001), 6) << "threshold 0: any speed is above it";
    EXPECT_EQ(curve(1.5, 1, -3, 4).gain(0), 1.5) << "speed 0 is not above the smallest threshold";
    EXPECT_EQ(curve(1, 1, 800, 0.5).gain(8000), 1) << "a maximum gain below 1 works as 1";
    EXPECT_EQ(curve(2, 2, 100, 50).gain(300), 18);
    EXPECT_EQ(curve(-1, 1, 800, 6).gain(8000), 0);
    EXPECT_EQ((PointerCurve{0.5, PointerAcceleration::off()}).gain(1e6), 0.5);
}

TEST(PointerCurve, ApplyScalesBothAxesAlike) {
    const PointerCurve& desktop = PointerCurve::desktop;
    EXPECT_EQ(desktop.apply({3, 4}, 2.5), (PointerDelta{7.5, 10}));
    EXPECT_EQ(desktop.apply({1, 0}, 8), (PointerDelta{1, 0}));
    EXPECT_EQ(desktop.apply({3, 4}, 0), (PointerDelta{3, 4})) << "no interval: the constant gain";
    EXPECT_EQ(desktop.apply({3, 4}, -2), (PointerDelta{3, 4}));
    EXPECT_EQ(desktop.apply(PointerDelta::zero, 0), PointerDelta::zero);
    EXPECT_EQ((PointerCurve{2, PointerAcceleration::off()}).apply({3, -4}, 1), (PointerDelta{6, -8}));

    EXPECT_EQ((PointerDelta{3, 4}).magnitude(), 5);
    EXPECT_TRUE(PointerDelta::zero.isZero());
    EXPECT_FALSE((PointerDelta{0, -0.1}).isZero());
}

TEST(PointerAccumulator, CarriesSubPixelRests) {
    PointerAccumulator acc(PointerCurve::desktop);
    EXPECT_EQ(acc.apply({3, 4}, 2.5), (PointerAccumulator::Pixels{7, 10}));
    EXPECT_EQ(acc.remainderX(), 0.5);
    EXPECT_EQ(acc.remainderY(), 0);
    EXPECT_EQ(acc.apply({3, 4}, 2.5), (PointerAccumulator::Pixels{8, 10}));
    EXPECT_EQ(acc.remainderX(), 0);

    PointerAccumulator negative(PointerCurve::desktop);
    EXPECT_EQ(negative.apply({-3, -4}, 2.5), (PointerAccumulator::Pixels{-7, -10}));
    EXPECT_EQ(negative.remainderX(), -0.5);
    EXPECT_EQ(negative.apply({1, 0}, 8), (PointerAccumulator::Pixels{0, 0}));
    EXPECT_EQ(negative.remainderX(), 0.5);

    PointerAccumulator linear(PointerCurve::linear);
    std::vector<std::int64_t> xs;
    for (int i = 0; i < 10; ++i) xs.push_back(linear.apply({0.25, 0}, 8).dx);
    EXPECT_EQ(xs, (std::vector<std::int64_t>{0, 0, 0, 1, 0, 0, 0, 1, 0, 0}));
    EXPECT_EQ(linear.remainderX(), 0.5);
    linear.reset();
    EXPECT_EQ(linear.remainderX(), 0);
}

TEST(PointerAccumulator, ZeroMotionAndCurveChangesKeepTheRests) {
    PointerAccumulator acc(PointerCurve::linear);
    acc.apply({0.75, -0.5}, 8);
    EXPECT_EQ(acc.apply(PointerDelta::zero, 8), (PointerAccumulator::Pixels{0, 0}));
    EXPECT_EQ(acc.remainderX(), 0.75);
    EXPECT_EQ(acc.remainderY(), -0.5);

    acc.curve = PointerCurve{-1, PointerAcceleration::off()};
    EXPECT_EQ(acc.apply({100, 100}, 8), (PointerAccumulator::Pixels{0, 0}));
    EXPECT_EQ(acc.remainderX(), 0.75);
    EXPECT_EQ(acc.remainderY(), -0.5);

    acc.curve = PointerCurve::linear;
    EXPECT_EQ(acc.apply({0.5, -0.5}, 8), (PointerAccumulator::Pixels{1, -1}));
    EXPECT_EQ(acc.remainderX(), 0.25);
    EXPECT_EQ(acc.remainderY(), 0);
}

TEST(PointerAccumulator, SumsOutside64BitsDropTheSample) {
    PointerAccumulator acc(PointerCurve{1e300, PointerAcceleration::off()});
    acc.curve = PointerCurve::linear;
    acc.apply({0.5, 0.5}, 8);
    acc.curve = PointerCurve{1e300, PointerAcceleration::off()};
    EXPECT_EQ(acc.apply({1, 0}, 8), (PointerAccumulator::Pixels{0, 0}));
    EXPECT_EQ(acc.remainderX(), 0) << "the rests are cleared";
    EXPECT_EQ(acc.remainderY(), 0);
    EXPECT_EQ(acc.apply({std::numeric_limits<double>::infinity(), 0}, 8), (PointerAccumulator::Pixels{0, 0}));
    EXPECT_EQ(acc.apply({std::numeric_limits<double>::quiet_NaN(), 0}, 8), (PointerAccumulator::Pixels{0, 0}));

    acc.curve = PointerCurve::linear;
    EXPECT_EQ(acc.apply({-0x1p63, 0x1p62}, 8), (PointerAccumulator::Pixels{INT64_MIN, std::int64_t{1} << 62}));
    EXPECT_EQ(acc.apply({0x1p63, 0}, 8), (PointerAccumulator::Pixels{0, 0}));
}
