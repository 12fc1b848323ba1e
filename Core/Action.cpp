#include "Core/Action.hpp"

#include <ostream>

#include "Support/CommandWords.hpp"
#include "Support/ValueSupport.hpp"

namespace ravolet {

Json Action::toJson() const {
    return std::visit(Overloaded{
                          [](const PassThrough&) { return jsonCase("passThrough"); },
                          [](const KeyStroke& k) { return jsonCase("keyStroke", k.toJson()); },
                          [](const Sequence& s) {
                              Json steps = Json::array();
                              for (const MacroStep& step : s.steps) steps.push_back(step.toJson());
                              return jsonCase("sequence", Json{{"_0", std::move(steps)}});
                          },
                          [](const Hold& k) { return jsonCase("hold", k.toJson()); },
                          [](const RepeatWhileHeld& r) {
                              return jsonCase("repeatWhileHeld",
                                              Json{{"step", r.step.toJson()}, {"intervalMillis", r.intervalMillis}});
                          },
                          [](const DpiShift& d) { return jsonCase("dpiShift", Json{{"toDPI", d.toDPI}}); },
                          [](const LaunchApp& l) { return jsonCase("launchApp", Json{{"bundleID", l.bundleID}}); },
                          [](const RunShortcut& r) {
                              return jsonCase("runShortcut", Json{{"name", r.name}, {"quoting", "shell"}});
                          },
                      },
                      value);
}

Action Action::fromJson(const JsonValue& v) {
    const auto [name, payload] = decodeEnumerationCase(
        v, "Action",
        {"passThrough", "keyStroke", "sequence", "hold", "repeatWhileHeld", "dpiShift", "launchApp", "runShortcut"});
    requirePayloadObject(payload);
    if (name == "passThrough") return passThrough();
    if (name == "keyStroke") return {KeyStroke::fromJson(payload)};
    if (name == "sequence") {
        const auto items = payload["_0"].asArray();
        std::vector<MacroStep> steps;
        steps.reserve(items.size());
        for (const JsonValue& item : items) steps.push_back(MacroStep::fromJson(item));
        return sequence(std::move(steps));
    }
    if (name == "hold") return {Hold::fromJson(payload)};
    if (name == "repeatWhileHeld") {
        return repeatWhileHeld(MacroStep::fromJson(payload["step"]), payload["intervalMillis"].asDouble());
    }
    if (name == "dpiShift") return dpiShift(payload["toDPI"].asInteger<std::int64_t>());
    if (name == "launchApp") return launchApp(payload["bundleID"].asString());
    std::string line = payload["name"].asString();
    if (const auto quoting = payload.optional("quoting")) {
        if (quoting->asString() != "shell") quoting->fail("Unknown quoting of a command line.");
        return runShortcut(std::move(line));
    }
    // Written when lines were split as a desktop entry's Exec value is ("%%"
    // for a "%", only double quotes): the same words in the quoting of today.
    // A line those rules could not split never ran; it is kept as written.
    if (const auto words = execArguments(line)) return runShortcut(shellLine(*words));
    return runShortcut(std::move(line));
}

std::ostream& operator<<(std::ostream& os, const Action& action) { return os << action.toJson().dump(); }

} // namespace ravolet

std::size_t std::hash<ravolet::Action>::operator()(const ravolet::Action& action) const noexcept {
    using namespace ravolet;
    const std::size_t payload = std::visit(Overloaded{
                                               [](const Action::PassThrough&) { return std::size_t{0}; },
                                               [](const Action::Sequence& s) {
                                                   std::size_t seed = s.steps.size();
                                                   for (const MacroStep& step : s.steps) seed = hashCombine(seed, hashFields(step));
                                                   return seed;
                                               },
                                               [](const Action::RepeatWhileHeld& r) { return hashFields(r.step, r.intervalMillis); },
                                               [](const Action::DpiShift& d) { return hashFields(d.toDPI); },
                                               [](const Action::LaunchApp& l) { return hashFields(l.bundleID); },
                                               [](const Action::RunShortcut& r) { return hashFields(r.name); },
                                               [](const auto& k) { return hashFields(k); },
                                           },
                                           action.value);
    return hashCombine(action.value.index(), payload);
}
