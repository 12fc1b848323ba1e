#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <unordered_set>

#include "Core/Action.hpp"
#include "Core/ButtonBinding.hpp"
#include "Core/ButtonIntent.hpp"
#include "Core/MacroStep.hpp"
#include "Core/RepeatToken.hpp"
#include "Support/CommandWords.hpp"

using namespace ravolet;

namespace {

using Intents = std::vector<ButtonIntent>;

template <class T>
std::string decodeError(const std::string& text) {
    auto decoded = decodeJson<T>(text);
    EXPECT_FALSE(decoded.has_value()) << text;
    return decoded ? std::string() : decoded.error().message;
}

const std::string kKeyCount = "Invalid number of keys found, expected one.";

} // namespace

TEST(MacroStep, IntentsExpandEachStepInOrder) {
    EXPECT_EQ(MacroStep::key(0, ModifierFlags::shift).intents(),
              (Intents{ButtonIntent::keyDown(0, ModifierFlags::shift), ButtonIntent::keyUp(0, ModifierFlags::shift)}));
    EXPECT_EQ(MacroStep::keyDown(7, ModifierFlags::command).intents(),
              Intents{ButtonIntent::keyDown(7, ModifierFlags::command)});
    EXPECT_EQ(MacroStep::keyUp(7, ModifierFlags::command).intents(), Intents{ButtonIntent::keyUp(7, ModifierFlags::command)});
    EXPECT_EQ(MacroStep::mouseButton(3).intents(),
              (Intents{ButtonIntent::mouseButtonDown(3), ButtonIntent::mouseButtonUp(3)}));
    EXPECT_EQ(MacroStep::delay(12.5).intents(), Intents{ButtonIntent::delay(12.5)});
    // Negative and NaN pauses become no pause; infinity is kept.
    EXPECT_EQ(MacroStep::delay(-5).intents(), Intents{ButtonIntent::delay(0)});
    EXPECT_EQ(MacroStep::delay(std::numeric_limits<double>::quiet_NaN()).intents(), Intents{ButtonIntent::delay(0)});
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(MacroStep::delay(inf).intents(), Intents{ButtonIntent::delay(inf)});
    EXPECT_EQ(MacroStep::delay(-inf).intents(), Intents{ButtonIntent::delay(0)});
}

TEST(MacroStep, EqualityAndHashTreatNegativeZeroAsZero) {
    EXPECT_EQ(MacroStep::delay(-0.0), MacroStep::delay(0.0));
    EXPECT_EQ(std::hash<MacroStep>{}(MacroStep::delay(-0.0)), std::hash<MacroStep>{}(MacroStep::delay(0.0)));
    EXPECT_NE(MacroStep::key(1, ModifierFlags::shift), MacroStep::keyDown(1, ModifierFlags::shift));
    EXPECT_NE(MacroStep::key(1, ModifierFlags::shift), MacroStep::key(1, ModifierFlags(66)));
    const RepeatToken a{4, MacroStep::delay(0.0), 1, -0.0};
    const RepeatToken b{4, MacroStep::delay(-0.0), 1, 0.0};
    EXPECT_EQ(a, b);
    EXPECT_EQ(std::hash<RepeatToken>{}(a), std::hash<RepeatToken>{}(b));
    EXPECT_EQ(std::hash<ButtonIntent>{}(ButtonIntent::startRepeat(a)), std::hash<ButtonIntent>{}(ButtonIntent::startRepeat(b)));
    EXPECT_NE(ButtonIntent::mouseButtonDown(3), ButtonIntent::mouseButtonUp(3));
}

TEST(ActionJson, WritesOneMemberNamedAfterTheCaseWithSortedKeys) {
    EXPECT_EQ(*encodeJsonValue(Action::keyStroke(36, ModifierFlags::command)),
              "{\n  \"keyStroke\": {\n    \"code\": 36,\n    \"modifiers\": 16\n  }\n}");
    EXPECT_EQ(*encodeJsonValue(Action::passThrough()), "{\n  \"passThrough\": {}\n}");
    EXPECT_EQ(Action::sequence({MacroStep::key(1, ModifierFlags::none), MacroStep::delay(50)}).toJson(),
              Json::parse(R"({"sequence": {"_0": [{"key": {"code": 1, "modifiers": 0}}, {"delay": {"millis": 50}}]}})"));
    EXPECT_EQ(Action::repeatWhileHeld(MacroStep::mouseButton(2), 30).toJson(),
              Json::parse(R"({"repeatWhileHeld": {"intervalMillis": 30, "step": {"mouseButton": {"number": 2}}}})"));
    EXPECT_EQ(Action::hold(56, ModifierFlags::none).toJson(), Json::parse(R"({"hold": {"code": 56, "modifiers": 0}})"));
    EXPECT_EQ(Action::dpiShift(400).toJson(), Json::parse(R"({"dpiShift": {"toDPI": 400}})"));
    EXPECT_EQ(*encodeJsonValue(Action::launchApp("com.apple/x")),
              "{\n  \"launchApp\": {\n    \"bundleID\": \"com.apple\\/x\"\n  }\n}");
    EXPECT_EQ(Action::runShortcut("Focus").toJson(), Json::parse(R"({"runShortcut": {"name": "Focus", "quoting": "shell"}})"));
    EXPECT_EQ(MacroStep::keyDown(3, ModifierFlags::shift).toJson(), Json::parse(R"({"keyDown": {"code": 3, "modifiers": 2}})"));
    EXPECT_EQ(MacroStep::keyUp(3, ModifierFlags::shift).toJson(), Json::parse(R"({"keyUp": {"code": 3, "modifiers": 2}})"));
}

TEST(ActionJson, EveryCaseRoundTrips) {
    const MacroStep steps[] = {MacroStep::key(65535, ModifierFlags(0xFFFFFFFFu)), MacroStep::keyDown(0, ModifierFlags::none),
                               MacroStep::keyUp(12, ModifierFlags::capsLock), MacroStep::delay(-5.25),
                               MacroStep::mouseButton(std::numeric_limits<std::int64_t>::min())};
    const Action actions[] = {Action::passThrough(),
                              Action::keyStroke(36, ModifierFlags::command),
                              Action::sequence({}),
                              Action::sequence({std::begin(steps), std::end(steps)}),
                              Action::hold(56, ModifierFlags::shift | ModifierFlags::function),
                              Action::repeatWhileHeld(MacroStep::delay(0.125), -3),
                              Action::dpiShift(0),
                              Action::launchApp(""),
                              Action::runShortcut("Ünïcode “name”")};
    std::unordered_set<Action> distinct;
    for (const Action& action : actions) {
        const auto text = encodeJsonValue(action);
        ASSERT_TRUE(text) << action;
        EXPECT_EQ(decodeJson<Action>(*text), action) << *text;
        distinct.insert(action);
    }
    EXPECT_EQ(distinct.size(), std::size(actions));
    for (const MacroStep& step : steps) {
        EXPECT_EQ(decodeJson<MacroStep>(*encodeJsonValue(step)), step) << step;
    }
}

TEST(ActionJson, NonFiniteDoublesFailToEncode) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(encodeJsonValue(Action::repeatWhileHeld(MacroStep::key(1, {}), nan)));
    EXPECT_FALSE(encodeJsonValue(Action::sequence({MacroStep::delay(std::numeric_limits<double>::infinity())})));
    EXPECT_EQ(encodeJsonValue(MacroStep::delay(nan)).error().kind, JsonError::Kind::encode);
}

TEST(ActionJson, KeyCountMustBeExactlyOne) {
    const std::string both = decodeError<Action>(
        R"({"keyStroke": {"code": 1, "modifiers": 0}, "hold": {"code": 1, "modifiers": 0}})");
    EXPECT_NE(both.find(kKeyCount), std::string::npos) << both;
    EXPECT_NE(both.find("Action"), std::string::npos) << both;
    EXPECT_NE(decodeError<Action>("{}").find(kKeyCount), std::string::npos);
    EXPECT_NE(decodeError<Action>(R"({"macro": {}})").find(kKeyCount), std::string::npos);
    const std::string step = decodeError<MacroStep>(R"({"key": {"code": 1, "modifiers": 0}, "delay": {"millis": 1}})");
    EXPECT_NE(step.find(kKeyCount), std::string::npos) << step;
    EXPECT_NE(step.find("MacroStep"), std::string::npos) << step;
    // The path of a nested step is named.
    const std::string nested = decodeError<Action>(R"({"sequence": {"_0": [{"delay": {"millis": 1}}, {}]}})");
    EXPECT_NE(nested.find("sequence._0[1]"), std::string::npos) << nested;
    EXPECT_NE(nested.find(kKeyCount), std::string::npos) << nested;
    EXPECT_FALSE(decodeJson<Action>("[]"));
}

TEST(ActionJson, UnknownKeysAreIgnoredAndPayloadsAreRequired) {
    EXPECT_EQ(decodeJson<Action>(R"({"keyStroke": {"code": 36, "modifiers": 16, "x": 1}, "comment": [1, 2]})"),
              Action::keyStroke(36, ModifierFlags::command));
    EXPECT_EQ(decodeJson<Action>(R"({"passThrough": {"reason": "none"}})"), Action::passThrough());
    EXPECT_EQ(decodeJson<Action>(R"({"sequence": {"_0": []}})"), Action::sequence({}));
    EXPECT_EQ(decodeJson<Action>(R"({"keyStroke": {"code": 1.0, "modifiers": 0}})"), Action::keyStroke(1, {}));
    EXPECT_EQ(decodeJson<Action>(R"({"repeatWhileHeld": {"step": {"delay": {"millis": -1}}, "intervalMillis": 0}})"),
              Action::repeatWhileHeld(MacroStep::delay(-1), 0));

    for (const char* bad : {
             R"({"passThrough": true})",
             R"({"passThrough": null})",
             R"({"keyStroke": {"code": 1}})",
             R"({"keyStroke": {"code": 70000, "modifiers": 0}})",
             R"({"keyStroke": {"code": -1, "modifiers": 0}})",
             R"({"keyStroke": {"code": 1.7, "modifiers": 0}})",
             R"({"hold": {"code": 1, "modifiers": 4294967296}})",
             R"({"sequence": {}})",
             R"({"sequence": {"_0": {}}})",
             R"({"sequence": {"_0": [{"delay": {"millis": "5"}}]}})",
             R"({"repeatWhileHeld": {"step": {"key": {"code": 1, "modifiers": 0}}}})",
             R"({"repeatWhileHeld": {"intervalMillis": 5}})",
             R"({"dpiShift": {"toDPI": 1e30}})",
             R"({"launchApp": {"bundleID": 7}})",
             R"({"runShortcut": {}})",
             R"({"runShortcut": {"name": "x", "quoting": "desktop"}})",
         }) {
        EXPECT_FALSE(decodeJson<Action>(bad)) << bad;
    }
    EXPECT_FALSE(decodeJson<MacroStep>(R"({"mouseButton": {"number": 1.5}})"));
    EXPECT_FALSE(decodeJson<MacroStep>(R"({"delay": []})"));
}

TEST(ActionJson, ACommandLineStoredBeforeShellQuotingIsReadAsTheLineThatRunsTheSameWords) {
    struct Row {
        const char* stored;
        const char* read;
    } rows[] = {
        {"firefox --new-window", "firefox --new-window"},
        {"date +%%s", "date +%s"},
        {"notify-send \"Hello there\" it's", "notify-send 'Hello there' 'it'\\''s'"},
        {"xdg-open %U", "xdg-open"},
        {"say \"a \\\"b\\\"\" $HOME", "say 'a \"b\"' '$HOME'"},
        {"say \"unclosed", "say \"unclosed"}, // never ran: kept as written
        {"", ""},
    };
    for (const Row& row : rows) {
        const Json stored{{"runShortcut", Json{{"name", row.stored}}}};
        const auto action = decodeJson<Action>(stored.dump());
        ASSERT_TRUE(action) << row.stored;
        EXPECT_EQ(*action, Action::runShortcut(row.read)) << row.stored;
        if (const auto before = execArguments(row.stored)) {
            EXPECT_EQ(shellWords(row.read), *before) << row.read;
        }
    }
    // Written today, a line is read as it is.
    EXPECT_EQ(decodeJson<Action>(R"({"runShortcut": {"name": "date +%%s", "quoting": "shell"}})"),
              Action::runShortcut("date +%%s"));
}

TEST(ButtonBindingJson, FourRequiredMembersStoredAsWritten) {
    const ButtonBinding binding{.button = 20, .modifiers = ModifierFlags(1 | 16), .action = Action::dpiShift(400), .isEnabled = false};
    EXPECT_EQ(*encodeJsonValue(binding),
              "{\n  \"action\": {\n    \"dpiShift\": {\n      \"toDPI\": 400\n    }\n  },\n  \"button\": 20,\n"
              "  \"isEnabled\": false,\n  \"modifiers\": 17\n}");
    EXPECT_EQ(decodeJson<ButtonBinding>(*encodeJsonValue(binding)), binding);
    EXPECT_EQ(decodeJson<ButtonBinding>(
                  R"({"button": -3, "modifiers": 0, "action": {"passThrough": {}}, "isEnabled": true, "note": 1})"),
              (ButtonBinding{-3, ModifierFlags::none, Action::passThrough(), true}));
    for (const char* bad : {
             R"({"modifiers": 0, "action": {"passThrough": {}}, "isEnabled": true})",
             R"({"button": 4, "action": {"passThrough": {}}, "isEnabled": true})",
             R"({"button": 4, "modifiers": 0, "isEnabled": true})",
             R"({"button": 4, "modifiers": 0, "action": {"passThrough": {}}})",
             R"({"button": 4, "modifiers": 0, "action": {"passThrough": {}}, "isEnabled": 1})",
             R"({"button": "4", "modifiers": 0, "action": {"passThrough": {}}, "isEnabled": true})",
             R"({"button": 4, "modifiers": 0, "action": {}, "isEnabled": true})",
         }) {
        EXPECT_FALSE(decodeJson<ButtonBinding>(bad)) << bad;
    }
}
