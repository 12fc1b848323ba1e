#include <gtest/gtest.h>

#include "Core/ConfigMigrator.hpp"

using namespace ravolet;

namespace {
ConfigLoadError failureOf(std::string_view raw) {
    auto migrated = ConfigMigrator::migrate(raw);
    if (migrated) {
        ADD_FAILURE() << "migrated: " << raw;
        return ConfigError::malformed("");
    }
    return migrated.error();
}

ConfigLoadError malformed(std::string_view reason) { return ConfigError::malformed(std::string(reason)); }
ConfigLoadError unsupported(std::int64_t found) { return ConfigError::unsupportedSchemaVersion(found, 1); }
} // namespace

TEST(ConfigMigrator, CurrentDocumentsComeBackByteForByte) {
    for (std::string_view raw : {
             std::string_view("{\"schemaVersion\":1}"),
             std::string_view("  {\n\t\"zzz\" : [1,2 ,3],  \"schemaVersion\"  :  1 , \"a\\/b\": null }  \n"),
             std::string_view("{\"schemaVersion\": 1.0, \"x\": \"\\u00e9\"}"),
             // Accepted here as version 1, refused later by the decoder.
             std::string_view("{\"schemaVersion\": 1.7}"),
             std::string_view("{\"schemaVersion\": true}"),
         }) {
        EXPECT_EQ(ConfigMigrator::migrate(raw), std::string(raw));
    }
}

TEST(ConfigMigrator, ExactReasonsForUnusableDocuments) {
    EXPECT_EQ(failureOf("[]"), malformed("root of the config must be a JSON object"));
    EXPECT_EQ(failureOf("[{\"schemaVersion\": 1}]"), malformed("root of the config must be a JSON object"));
    for (const char* raw : {"{}", R"({"schemaVersion": "1"})", R"({"schemaVersion": null})", R"({"schemaversion": 1})",
                            R"({"schemaVersion": [1]})", R"({"schemaVersion": {}})"}) {
        EXPECT_EQ(failureOf(raw), malformed("missing or non-numeric schemaVersion")) << raw;
    }
    EXPECT_EQ(failureOf(R"({"schemaVersion": 2})"), unsupported(2));
    EXPECT_EQ(failureOf(R"({"schemaVersion": 2.5})"), unsupported(2));
    EXPECT_EQ(failureOf(R"({"schemaVersion": 0})"), malformed("no migration registered from schema version 0"));
    EXPECT_EQ(failureOf(R"({"schemaVersion": -3})"), malformed("no migration registered from schema version -3"));
    EXPECT_EQ(failureOf(R"({"schemaVersion": false})"), malformed("no migration registered from schema version 0"));
    // The fraction goes toward zero, so -0.9 is version 0.
    EXPECT_EQ(failureOf(R"({"schemaVersion": -0.9})"), malformed("no migration registered from schema version 0"));
}

TEST(ConfigMigrator, VersionsBeyondSixtyFourBitsSaturate) {
    constexpr auto max = std::numeric_limits<std::int64_t>::max();
    EXPECT_EQ(failureOf(R"({"schemaVersion": 1e30})"), unsupported(max));
    EXPECT_EQ(failureOf(R"({"schemaVersion": 9223372036854775807})"), unsupported(max));
    EXPECT_EQ(failureOf(R"({"schemaVersion": 9223372036854775808})"), unsupported(max));
    EXPECT_EQ(failureOf(R"({"schemaVersion": 18446744073709551615})"), unsupported(max));
    EXPECT_EQ(failureOf(R"({"schemaVersion": 99999999999999999999999})"), unsupported(max));
    EXPECT_EQ(failureOf(R"({"schemaVersion": 9223372036854775806.0})"), unsupported(max));
    const auto oldest = malformed("no migration registered from schema version -9223372036854775808");
    EXPECT_EQ(failureOf(R"({"schemaVersion": -1e300})"), oldest);
    EXPECT_EQ(failureOf(R"({"schemaVersion": -9223372036854775808})"), oldest);
    EXPECT_EQ(failureOf(R"({"schemaVersion": -9223372036854775809})"), oldest);
}

TEST(ConfigMigrator, BytesThatAreNoJsonFailInTheParser) {
    for (const char* raw : {"", "1", "\"x\"", "true", "null", "{", "{\"schemaVersion\": 1,}", "{\"schemaVersion\": 1e400}",
                            "{\"schemaVersion\": 1} x", "{\"a\": \"\xFF\", \"schemaVersion\": 1}"}) {
        const auto error = failureOf(raw);
        ASSERT_TRUE(std::holds_alternative<JsonError>(error)) << raw;
        EXPECT_EQ(std::get<JsonError>(error).kind, JsonError::Kind::parse) << raw;
    }
}

TEST(ConfigError, EqualityAndDescriptions) {
    EXPECT_EQ(ConfigError::unsupportedSchemaVersion(2, 1), ConfigError::unsupportedSchemaVersion(2, 1));
    EXPECT_NE(ConfigError::unsupportedSchemaVersion(2, 1), ConfigError::unsupportedSchemaVersion(3, 1));
    EXPECT_NE(ConfigError::malformed("a"), ConfigError::malformed("b"));
    EXPECT_EQ(ConfigError::unsupportedSchemaVersion(2, 1).description(), "unsupportedSchemaVersion(found: 2, supported: 1)");
    EXPECT_EQ(describe(ConfigLoadError(ConfigError::malformed("x"))), "malformed(\"x\")");
}
