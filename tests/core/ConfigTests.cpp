#include <gtest/gtest.h>

#include <limits>

#include <fmt/format.h>

#include "ConfigTestSupport.hpp"
#include "Core/Config.hpp"
#include "Core/ConfigMigrator.hpp"

using namespace ravolet;
using ravolet::testing::allPointers;
using ravolet::testing::factoryJson;

namespace {

void expectFactoryProfileFields(const Profile& p, Easing easing) {
    SCOPED_TRACE(p.id);
    EXPECT_TRUE(p.scroll.isEnabled);
    EXPECT_EQ(p.scroll.enabledAxes.rawValue, 3);
    EXPECT_EQ(p.scroll.activationModifiers, std::nullopt);
    EXPECT_EQ(p.scroll.durationMillis, 250);
    EXPECT_EQ(p.scroll.easing, easing);
    EXPECT_EQ(p.scroll.pixelsPerDetent, 50);
    EXPECT_EQ(p.scroll.frameIntervalMillis, 8);
    EXPECT_EQ(p.scroll.maxInFlightPixels, 4000);
    EXPECT_FALSE(p.scroll.isInverted);
    EXPECT_TRUE(p.scroll.accelerationEnabled);
    EXPECT_EQ(p.scroll.accelerationWindowMillis, 140);
    EXPECT_EQ(p.scroll.accelerationGain, 1.2);
    EXPECT_EQ(p.scroll.maxAccelerationMultiplier, 6.0);
    EXPECT_TRUE(p.pointer.isEnabled);
    EXPECT_EQ(p.pointer.dpi, 2000);
    EXPECT_EQ(p.pointer.curve.sensitivity, 1.0);
    EXPECT_EQ(p.pointer.curve.acceleration, PointerAcceleration::curve(1.0, 800, 6.0));
    ASSERT_EQ(p.buttons.size(), 1u);
    EXPECT_EQ(p.buttons[0], (ButtonBinding{5, ModifierFlags::none, Action::dpiShift(400), true}));
}

// Keys of every object in the text, in the order written, at every level.
void expectKeysSortedEverywhere(const std::string& text) {
    const nlohmann::ordered_json written = nlohmann::ordered_json::parse(text);
    std::vector<const nlohmann::ordered_json*> pending{&written};
    while (!pending.empty()) {
        const auto* value = pending.back();
        pending.pop_back();
        if (value->is_object()) {
            std::vector<std::string> keys;
            for (const auto& [key, child] : value->items()) keys.push_back(key);
            EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end())) << value->dump();
        }
        if (value->is_structured()) {
            for (const auto& child : *value) pending.push_back(&child);
        }
    }
}

std::string withVersion(const char* version) {
    Json document = factoryJson();
    document["schemaVersion"] = Json::parse(std::string("[") + version + "]")[0];
    return document.dump();
}

} // namespace

TEST(Config, FactoryDocumentFieldByField) {
    const Config config = Config::defaultConfig();
    EXPECT_EQ(config.schemaVersion, 1);
    EXPECT_EQ(Config::currentSchemaVersion, 1);
    EXPECT_TRUE(config.isEnabled);
    ASSERT_EQ(config.profiles.size(), 2u);
    EXPECT_EQ(config.profiles[0].id, "default");
    EXPECT_EQ(config.profiles[0].name, "Default");
    EXPECT_EQ(config.profiles[1].id, "canvas");
    EXPECT_EQ(config.profiles[1].name, "Canvas & Design Apps");
    expectFactoryProfileFields(config.profiles[0], Easing::easeOut);
    expectFactoryProfileFields(config.profiles[1], Easing::easeInOut);
    EXPECT_EQ(config.profiles[0], Profile::defaultProfile());
    EXPECT_EQ(config.profiles[1], Profile::canvasApp("canvas", "Canvas & Design Apps"));

    const std::vector<Rule> rules{
        Rule("gimp", BundleIDPattern::exact("org.gimp.GIMP"), "canvas", 10, true),
        Rule("gimp-debian", BundleIDPattern::exact("gimp"), "canvas", 10, true),
        Rule("krita", BundleIDPattern::exact("org.kde.krita"), "canvas", 10, true),
        Rule("inkscape", BundleIDPattern::exact("org.inkscape.Inkscape"), "canvas", 10, true),
    };
    EXPECT_EQ(config.ruleSet.rules, rules);
    EXPECT_EQ(config.ruleSet.defaultProfileID, "default");
    EXPECT_EQ(std::hash<Config>{}(config), std::hash<Config>{}(Config::defaultConfig()));
}

TEST(Config, FactoryDocumentResolvesAsDocumented) {
    const Config config = Config::defaultConfig();
    EXPECT_EQ(config.activeProfile("ORG.GIMP.GIMP").id, "canvas");
    EXPECT_EQ(config.activeProfile("gimp").id, "canvas");
    EXPECT_EQ(config.activeProfile("org.inkscape.Inkscape").id, "canvas");
    EXPECT_EQ(config.activeProfile("org.kde.krita2").id, "default");
    EXPECT_EQ(config.activeProfile(std::nullopt).id, "default");
    const auto resolution = config.resolve("org.kde.krita");
    EXPECT_EQ(resolution.profileID, "canvas");
    EXPECT_EQ(resolution.matchedRule->id, "krita");
    EXPECT_TRUE(config.resolve("com.apple.Safari").usedFallback());
}

TEST(Config, EncodedWithSortedKeysAndReadBackEqual) {
    const Config config = Config::defaultConfig();
    const std::string text = *config.encoded();
    expectKeysSortedEverywhere(text);
    EXPECT_TRUE(text.starts_with("{\n  \"isEnabled\": true,\n  \"profiles\": [\n"));
    EXPECT_NE(text.find("\n  \"ruleSet\": {\n    \"defaultProfileID\": \"default\",\n    \"rules\": ["), std::string::npos);
    EXPECT_TRUE(text.ends_with("\n  \"schemaVersion\": 1\n}"));
    EXPECT_NE(text.find("\"name\": \"Canvas & Design Apps\""), std::string::npos);
    EXPECT_EQ(Config::decoded(text), config);

    Config edited = config;
    edited.profiles[0].name = "Web/Design";
    edited.profiles.push_back(Profile::untouched());
    edited.ruleSet.rules.push_back(Rule("all", BundleIDPattern::any(), "passthrough", -1, false));
    edited.isEnabled = false;
    const std::string editedText = *edited.encoded();
    EXPECT_NE(editedText.find("\"Web\\/Design\""), std::string::npos);
    EXPECT_EQ(Config::decoded(editedText), edited);
    EXPECT_NE(std::hash<Config>{}(edited), std::hash<Config>{}(config));

    Config infinite = config;
    infinite.profiles[1].scroll.accelerationGain = std::numeric_limits<double>::infinity();
    ASSERT_FALSE(infinite.encoded().has_value());
    EXPECT_EQ(infinite.encoded().error().kind, JsonError::Kind::encode);
    infinite.profiles[1].scroll.accelerationGain = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(infinite.encoded().has_value());
}

TEST(Config, DecodingFailsWithTheVersionCheckOrTheJsonLayer) {
    const auto configError = [](std::string_view bytes) -> std::optional<ConfigError> {
        const auto decoded = Config::decoded(bytes);
        if (decoded || !std::holds_alternative<ConfigError>(decoded.error())) return std::nullopt;
        return std::get<ConfigError>(decoded.error());
    };
    const auto jsonErrorKind = [](std::string_view bytes) -> std::optional<JsonError::Kind> {
        const auto decoded = Config::decoded(bytes);
        if (decoded || !std::holds_alternative<JsonError>(decoded.error())) return std::nullopt;
        return std::get<JsonError>(decoded.error()).kind;
    };
    EXPECT_EQ(configError("{}"), ConfigError::malformed("missing or non-numeric schemaVersion"));
    EXPECT_EQ(configError("[1]"), ConfigError::malformed("root of the config must be a JSON object"));
    EXPECT_EQ(configError(withVersion("2")), ConfigError::unsupportedSchemaVersion(2, 1));
    EXPECT_EQ(configError(withVersion("1e30")),
              ConfigError::unsupportedSchemaVersion(std::numeric_limits<std::int64_t>::max(), 1));
    EXPECT_EQ(configError(withVersion("-1e300")),
              ConfigError::malformed("no migration registered from schema version -9223372036854775808"));
    EXPECT_EQ(configError(withVersion("0")), ConfigError::malformed("no migration registered from schema version 0"));
    EXPECT_EQ(jsonErrorKind("42"), JsonError::Kind::parse);
    EXPECT_EQ(jsonErrorKind("{\"schemaVersion\": 1"), JsonError::Kind::parse);
    // Past the version check but not a document: 1.7 and true are no integers.
    EXPECT_EQ(jsonErrorKind(withVersion("1.7")), JsonError::Kind::decode);
    EXPECT_EQ(jsonErrorKind(withVersion("true")), JsonError::Kind::decode);
    EXPECT_EQ(Config::decoded(withVersion("1.0")), Config::defaultConfig());

    Json noRuleSet = factoryJson();
    noRuleSet.erase("ruleSet");
    EXPECT_EQ(jsonErrorKind(noRuleSet.dump()), JsonError::Kind::decode);
}

TEST(Config, UnknownKeysAreIgnoredAtEveryLevel) {
    Json document = factoryJson();
    int objects = 0;
    for (const auto& pointer : allPointers(document)) {
        if (document.at(pointer).is_object()) {
            document.at(pointer)["zzUnknown"] = Json{{"nested", {1, 2}}};
            ++objects;
        }
    }
    document["aaUnknown"] = nullptr;
    EXPECT_GT(objects, 30);
    EXPECT_EQ(Config::decoded(document.dump()), Config::defaultConfig());
}

TEST(Config, AnyMissingOrMistypedValueFailsTheWholeDocument) {
    const Json factory = factoryJson();
    for (const auto& pointer : allPointers(factory)) {
        SCOPED_TRACE(pointer.to_string());
        const Json& original = factory.at(pointer);
        const bool inArray = factory.at(pointer.parent_pointer()).is_array();
        if (!inArray && pointer != Json::json_pointer("/schemaVersion")) {
            Json missing = factory;
            ravolet::testing::erase(missing, pointer);
            EXPECT_FALSE(Config::decoded(missing.dump()).has_value());
            Json nulled = factory;
            nulled.at(pointer) = nullptr;
            EXPECT_FALSE(Config::decoded(nulled.dump()).has_value());
        }
        Json retyped = factory;
        retyped.at(pointer) = original.is_string() ? Json(1) : Json("1");
        EXPECT_FALSE(Config::decoded(retyped.dump()).has_value());
        if (original.is_number_integer()) {
            Json fractional = factory;
            fractional.at(pointer) = original.get<double>() + 0.5;
            // Integer fields refuse a fraction, the schema version too once
            // past the version check.
            EXPECT_FALSE(Config::decoded(fractional.dump()).has_value());
        }
    }
}

TEST(Config, LookupsAndTheirFallbacks) {
    Profile first = Profile::canvasApp("default", "First");
    Profile second = Profile::defaultProfile();
    Profile other = Profile::canvasApp("other", "Other");
    const Config duplicates(1, true, {first, second, other}, RuleSet({}, "default"));
    EXPECT_EQ(duplicates.profile("default"), first);
    EXPECT_EQ(duplicates.profile("Default"), std::nullopt);
    EXPECT_EQ(duplicates.profile("other"), other);

    // The rule's profile, else the rule set's default, else the first profile,
    // else the built-in default profile.
    const RuleSet rules({Rule("x", BundleIDPattern::prefix("com.x."), "other", 0, true)}, "missing");
    const Config withRule(1, true, {first, other}, rules);
    EXPECT_EQ(withRule.activeProfile("com.x.app"), other);
    EXPECT_EQ(withRule.activeProfile("com.y.app"), first);

    const Config danglingRule(1, true, {other, first},
                              RuleSet({Rule("x", BundleIDPattern::any(), "gone", 0, true)}, "default"));
    EXPECT_EQ(danglingRule.activeProfile("com.x.app"), first);
    EXPECT_EQ(danglingRule.resolve("com.x.app").profileID, "gone");

    const Config nothingNamed(1, true, {other, first}, RuleSet({}, "gone"));
    EXPECT_EQ(nothingNamed.activeProfile(std::nullopt), other);

    const Config empty(1, true, {}, RuleSet({}, "default"));
    EXPECT_EQ(empty.activeProfile("com.x.app"), Profile::defaultProfile());
    EXPECT_EQ(empty.profile("default"), std::nullopt);

    // Through an index of the profiles, the same choices, the first of a
    // repeated identifier included; none stands for the built-in default.
    for (const Config* config : {&duplicates, &withRule, &danglingRule, &nothingNamed, &empty}) {
        const ProfileIndex index(config->profiles);
        for (const char* app : {"com.x.app", "com.y.app", static_cast<const char*>(nullptr)}) {
            const auto bundleID = app ? std::optional<std::string>(app) : std::nullopt;
            const Profile* chosen = config->activeProfile(config->resolve(bundleID), index);
            EXPECT_EQ(chosen ? *chosen : Profile::defaultProfile(), config->activeProfile(bundleID)) << *config;
            if (chosen) {
                EXPECT_EQ(chosen, &*std::ranges::find(config->profiles, chosen->id, &Profile::id));
            }
        }
    }
}

// Two hostile files that once loaded: the factory document with text hidden
// after a NUL byte, and an integer just below the signed 64-bit minimum.
TEST(Config, EveryByteCountsAndIntegersBeyondSixtyFourBitsAreRefused) {
    const std::string factory = *Config::defaultConfig().encoded();
    for (const std::string& bytes : {factory + std::string("\0}}garbage[", 11), factory + std::string(1, '\0'),
                                     std::string("{\"schemaVersion\": 1, \"x\": \"a\0b\"}", 32)}) {
        const auto decoded = Config::decoded(bytes);
        ASSERT_FALSE(decoded.has_value());
        ASSERT_TRUE(std::holds_alternative<JsonError>(decoded.error()));
        EXPECT_EQ(std::get<JsonError>(decoded.error()).kind, JsonError::Kind::parse);
        EXPECT_FALSE(ConfigMigrator::migrate(bytes).has_value()) << "the migration passes nothing through";
    }
    EXPECT_EQ(std::get<JsonError>(Config::decoded(factory + std::string(1, '\0')).error()).message,
              fmt::format("syntax error at byte {}: a NUL character cannot appear in JSON text", factory.size() + 1));

    const auto withPriority = [](const char* priority) {
        Json document = factoryJson();
        std::string text = document.dump();
        const std::string written = "\"priority\":" + document["ruleSet"]["rules"][0]["priority"].dump();
        return text.replace(text.find(written), written.size(), std::string("\"priority\":") + priority);
    };
    constexpr auto min = std::numeric_limits<std::int64_t>::min();
    const std::vector<std::pair<const char*, std::optional<std::int64_t>>> priorities = {
        {"-9223372036854775808", min},
        {"-9223372036854775808.0", min}, // exactly the minimum, written as a number with a fraction
        {"-9223372036854775809", std::nullopt},
        {"-9223372036854776832", std::nullopt}, // the last token that rounds to the minimum
        {"-9223372036854776833", std::nullopt},
        {"9223372036854775808", std::nullopt},
        {"-18446744073709551616", std::nullopt},
    };
    for (const auto& [priority, expected] : priorities) {
        SCOPED_TRACE(priority);
        const auto decoded = Config::decoded(withPriority(priority));
        if (!expected) {
            ASSERT_FALSE(decoded.has_value());
            EXPECT_EQ(std::get<JsonError>(decoded.error()).kind, JsonError::Kind::decode);
            EXPECT_NE(std::get<JsonError>(decoded.error()).message.find("does not fit the integer field"), std::string::npos);
        } else {
            ASSERT_TRUE(decoded.has_value());
            EXPECT_EQ(decoded->ruleSet.rules[0].priority, *expected);
        }
    }
}
