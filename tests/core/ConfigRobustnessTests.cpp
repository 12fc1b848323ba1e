#include <gtest/gtest.h>

#include <random>
#include <string>

#include "ConfigTestSupport.hpp"
#include "Core/Config.hpp"

using namespace ravolet;
using ravolet::testing::allPointers;

namespace {

// Builds hostile variants of the factory document: values deleted, retyped,
// made huge or deeply nested, keys added, and the text itself cut or garbled.
class Mutator {
public:
    explicit Mutator(std::uint32_t seed) : random_(seed), factory_(ravolet::testing::factoryJson()) {}

    std::string next() {
        Json document = factory_;
        std::string deep;
        const int edits = pick(1, 3);
        for (int i = 0; i < edits; ++i) mutate(document, deep);
        std::string text = document.dump();
        // Deep nesting goes in as text: the document itself is never nested
        // deeper than the factory one, so building it stays cheap.
        const auto marker = text.find("\"@deep@\"");
        if (marker != std::string::npos) text.replace(marker, 8, deep);
        if (pick(0, 19) == 0) garble(text);
        return text;
    }

private:
    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }

    Json oddValue() {
        switch (pick(0, 15)) {
        case 0: return nullptr;
        case 1: return true;
        case 2: return false;
        case 3: return 0;
        case 4: return -1;
        case 5: return 1.5;
        case 6: return 1e308;
        case 7: return -1e308;
        case 8: return std::numeric_limits<std::uint64_t>::max();
        case 9: return std::numeric_limits<std::int64_t>::min();
        case 10: return "";
        case 11: return "com.adobe.*";
        case 12: return Json::array();
        case 13: return Json::object();
        case 14: return Json{{"_0", 1}};
        default: return Json{{"exact", {{"_0", "x"}}}, {"prefix", {{"_0", "x"}}}};
        }
    }

    Json hugeValue() {
        switch (pick(0, 3)) {
        case 0: return std::string(static_cast<std::size_t>(pick(1, 4)) * 1024, 'x');
        case 1: return 1.7976931348623157e308;
        case 2: return Json::array({factory_["profiles"][0]}) /* a list where one value belongs */;
        default: {
            Json many = Json::array();
            for (int i = 0; i < 20; ++i) many.push_back(factory_["ruleSet"]["rules"][i % 4]);
            return many;
        }
        }
    }

    std::string deepValue() {
        const int depth = pick(50, 500);
        const bool objects = pick(0, 1) == 1;
        std::string text;
        text.reserve(static_cast<std::size_t>(depth) * 8);
        for (int i = 0; i < depth; ++i) text += objects ? "{\"_0\":" : "[";
        text += "1";
        for (int i = 0; i < depth; ++i) text += objects ? "}" : "]";
        return text;
    }

    void mutate(Json& document, std::string& deep) {
        const auto pointers = allPointers(document);
        const auto& pointer = pointers[static_cast<std::size_t>(pick(0, static_cast<int>(pointers.size()) - 1))];
        Json& value = document.at(pointer);
        switch (pick(0, 5)) {
        case 0: ravolet::testing::erase(document, pointer); break;
        case 1: value = oddValue(); break;
        case 2: value = hugeValue(); break;
        case 3:
            if (deep.empty()) {
                deep = deepValue();
                value = "@deep@";
            }
            break;
        case 4:
            if (value.is_object()) value[pick(0, 1) ? "any" : "zz"] = oddValue();
            if (value.is_array()) value.push_back(oddValue());
            break;
        default:
            if (value.is_number()) value = value.get<double>() * (pick(0, 1) ? -1e300 : 0.5);
            if (value.is_string()) value = value.get<std::string>() + "\u00e9/\u2028";
            break;
        }
    }

    void garble(std::string& text) {
        if (pick(0, 1) == 0) {
            text.resize(static_cast<std::size_t>(pick(0, static_cast<int>(text.size()))));
        } else {
            for (int i = 0; i < 4; ++i) {
                text[static_cast<std::size_t>(pick(0, static_cast<int>(text.size()) - 1))] = static_cast<char>(pick(0, 255));
            }
        }
    }

    std::mt19937 random_;
    Json factory_;
};

} // namespace

TEST(ConfigRobustness, MutatedDocumentsDecodeOrFailCleanly) {
    Mutator mutator(20260607);
    int decodedCount = 0;
    int failedCount = 0;
    for (int i = 0; i < 2000; ++i) {
        const std::string text = mutator.next();
        const auto decoded = Config::decoded(text);
        if (!decoded) {
            ++failedCount;
            EXPECT_FALSE(describe(decoded.error()).empty());
            continue;
        }
        ++decodedCount;
        // Whatever decodes is a whole document: it encodes and reads back equal.
        const auto encoded = decoded->encoded();
        ASSERT_TRUE(encoded.has_value()) << encoded.error() << "\n" << text.substr(0, 2000);
        EXPECT_EQ(Config::decoded(*encoded), *decoded);
        (void)decoded->activeProfile("com.adobe.Photoshop");
    }
    // Both outcomes were exercised.
    EXPECT_GT(decodedCount, 100);
    EXPECT_GT(failedCount, 700);
}

TEST(ConfigRobustness, NestingBeyondTheLimitFailsWithoutRecursion) {
    // 100,000 levels would exhaust the stack of a recursive reader; anything
    // past 64 is refused, even where an unknown key would otherwise be ignored.
    const auto nested = [](const char* key, std::size_t depth) {
        Json document = ravolet::testing::factoryJson();
        document[key] = "@deep@";
        std::string text = document.dump();
        text.replace(text.find("\"@deep@\""), 8, std::string(depth, '[') + std::string(depth, ']'));
        return Config::decoded(text);
    };
    const std::string tooDeep = "arrays and objects are nested more than 64 levels deep";
    for (const char* key : {"ruleSet", "unknownKey"}) {
        for (const std::size_t depth : {std::size_t{64}, std::size_t{100000}}) {
            const auto decoded = nested(key, depth); // inside the document's own object: one level more
            ASSERT_FALSE(decoded.has_value()) << key << depth;
            const auto* error = std::get_if<JsonError>(&decoded.error());
            ASSERT_NE(error, nullptr);
            EXPECT_EQ(error->message, tooDeep);
        }
    }
    EXPECT_EQ(nested("unknownKey", 63), Config::defaultConfig()) << "64 levels in all are read";
}
