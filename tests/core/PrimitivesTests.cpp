#include <gtest/gtest.h>

#include "Core/Clamp.hpp"
#include "Core/DeviceID.hpp"
#include "Core/ModifierFlags.hpp"
#include "Core/ScrollAxis.hpp"

using namespace ravolet;

TEST(ModifierFlags, NormalizedDropsCapsLockAndUnnamedBits) {
    EXPECT_EQ(ModifierFlags(63).normalized(), ModifierFlags::bindable);
    EXPECT_TRUE(ModifierFlags::capsLock.normalized().isEmpty());
    const ModifierFlags withHighBit(64 | 2);
    EXPECT_EQ(withHighBit.rawValue, 66u);
    EXPECT_EQ(withHighBit.normalized(), ModifierFlags::shift);
    EXPECT_NE(withHighBit, ModifierFlags::shift);
    EXPECT_EQ(ModifierFlags(0xFFFFFFFFu).count(), 32);
}

TEST(ModifierFlags, SetAlgebraReportsWhatChanged) {
    ModifierFlags flags = ModifierFlags::of({ModifierFlags::shift, ModifierFlags::command});
    EXPECT_EQ(flags.rawValue, 18u);
    EXPECT_EQ(ModifierFlags::of({}).rawValue, 0u);

    auto [added, member] = flags.insert(ModifierFlags::shift);
    EXPECT_FALSE(added);
    EXPECT_EQ(member, ModifierFlags::shift);
    EXPECT_TRUE(flags.insert(ModifierFlags::option).first);

    EXPECT_EQ(flags.remove(ModifierFlags::control), std::nullopt);
    EXPECT_EQ(flags.remove(ModifierFlags::option | ModifierFlags::control), ModifierFlags::option);
    EXPECT_EQ(flags.update(ModifierFlags::function), std::nullopt);
    EXPECT_EQ(flags.update(ModifierFlags::shift | ModifierFlags::control), ModifierFlags::shift);

    EXPECT_TRUE(ModifierFlags::shift.isSubset(flags));
    EXPECT_TRUE(flags.isSuperset(ModifierFlags::command));
    EXPECT_TRUE(ModifierFlags::capsLock.isDisjoint(flags));
    EXPECT_EQ((flags ^ ModifierFlags::shift).contains(ModifierFlags::shift), false);
    EXPECT_EQ(flags.subtracting(ModifierFlags::bindable), ModifierFlags::none);
}

TEST(ModifierFlags, JsonIsABareUnsigned32BitNumber) {
    const ModifierFlags flags = ModifierFlags::shift | ModifierFlags::command;
    EXPECT_EQ(*encodeJson(Json::array({flags.toJson()})), "[\n  18\n]");
    const Json good = Json::parse("[18, 1.0, 4294967295]");
    EXPECT_EQ(ModifierFlags::fromJson(JsonValue(good[0])), flags);
    EXPECT_EQ(ModifierFlags::fromJson(JsonValue(good[1])), ModifierFlags::capsLock);
    EXPECT_EQ(ModifierFlags::fromJson(JsonValue(good[2])).count(), 32);
    for (const char* bad : {"[-1]", "[4294967296]", "[1.7]", "[\"2\"]", "[true]", "[1e30]", "[null]"}) {
        const Json j = Json::parse(bad);
        EXPECT_THROW(ModifierFlags::fromJson(JsonValue(j[0])), JsonDecodeError) << bad;
    }
}

TEST(DeviceIDAndAxes, DescriptionsRawValuesAndJson) {
    EXPECT_EQ(DeviceID(7).description(), "DeviceID(7)");
    EXPECT_EQ(DeviceID::unknown.rawValue, 0u);
    const Json big = Json::parse("[18446744073709551615, 18446744073709551616]");
    EXPECT_EQ(DeviceID::fromJson(JsonValue(big[0])).rawValue, 18446744073709551615ull);
    EXPECT_THROW(DeviceID::fromJson(JsonValue(big[1])), JsonDecodeError);

    EXPECT_EQ(scrollAxisFromString("Vertical"), std::nullopt);
    EXPECT_EQ(scrollAxisFromString("horizontal"), ScrollAxis::horizontal);
    EXPECT_EQ(ScrollAxes(ScrollAxis::horizontal).rawValue, 2);
    EXPECT_FALSE(ScrollAxes(std::uint8_t{1}).contains(ScrollAxis::horizontal));
    EXPECT_TRUE(ScrollAxes::both.contains(ScrollAxis::vertical));
    EXPECT_TRUE(ScrollAxes::both.contains(ScrollAxis::horizontal));

    for (const char* bad : {"[256]", "[-1]"}) {
        const Json j = Json::parse(bad);
        EXPECT_THROW(ScrollAxes::fromJson(JsonValue(j[0])), JsonDecodeError) << bad;
    }
}

TEST(Clamp, CrossedBoundsGiveTheUpperOne) {
    EXPECT_EQ(clamp(5, 1, 3), 3);
    EXPECT_EQ(clamp(0, 1, 3), 1);
    EXPECT_EQ(clamp(2, 3, 1), 1);
}

TEST(JsonLayer, ParsingAndEncodingRules) {
    EXPECT_EQ(parseJson("12").error().kind, JsonError::Kind::parse);
    EXPECT_EQ(parseJson("{").error().kind, JsonError::Kind::parse);
    EXPECT_TRUE(parseJson("[1]").has_value());

    Json doc = {{"b", "a/b"}, {"a", {{"z", 1}, {"y", 2.5}}}};
    EXPECT_EQ(*encodeJson(doc), "{\n  \"a\": {\n    \"y\": 2.5,\n    \"z\": 1\n  },\n  \"b\": \"a\\/b\"\n}");
    EXPECT_EQ(encodeJson(Json{{"x", std::nan("")}}).error().kind, JsonError::Kind::encode);
    EXPECT_EQ(encodeJson(Json{{"x", std::numeric_limits<double>::infinity()}}).error().kind, JsonError::Kind::encode);

    const Json cases = Json::parse(R"([{"a":{}}, {"a":{},"b":{}}, {"zz":1,"b":{"_0":3}}, {}, {"zz":1}])");
    EXPECT_EQ(JsonValue(cases[0]).singleCase({"a", "b"}).first, "a");
    EXPECT_THROW(JsonValue(cases[1]).singleCase({"a", "b"}), JsonDecodeError);
    EXPECT_EQ(JsonValue(cases[2]).singleCase({"a", "b"}).second["_0"].asInteger<int>(), 3);
    EXPECT_THROW(JsonValue(cases[3]).singleCase({"a", "b"}), JsonDecodeError);
    try {
        JsonValue(cases[4], "buttons[0].action").singleCase({"a", "b"});
        FAIL();
    } catch (const JsonDecodeError& e) {
        EXPECT_EQ(std::string(e.what()), "Invalid number of keys found, expected one. (at buttons[0].action)");
    }
}
