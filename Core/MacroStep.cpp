#include "Core/MacroStep.hpp"

#include <ostream>

#include <fmt/format.h>

#include "Core/ButtonIntent.hpp"

namespace ravolet {

std::pair<std::string, JsonValue> decodeEnumerationCase(const JsonValue& v, std::string_view typeName,
                                                        std::initializer_list<std::string_view> cases) {
    try {
        return v.singleCase(cases);
    } catch (const JsonDecodeError& e) {
        throw JsonDecodeError(fmt::format("{}: {}", typeName, e.what()));
    }
}

const JsonValue& requirePayloadObject(const JsonValue& payload) {
    if (!payload.raw().is_object()) payload.typeMismatch("an object");
    return payload;
}

std::size_t MacroStep::intentCount() const {
    return std::holds_alternative<Key>(value) || std::holds_alternative<MouseButton>(value) ? 2 : 1;
}

void MacroStep::appendIntents(std::vector<ButtonIntent>& out) const {
    std::visit(Overloaded{
                   [&](const Key& k) {
                       out.push_back(ButtonIntent::keyDown(k.code, k.modifiers));
                       out.push_back(ButtonIntent::keyUp(k.code, k.modifiers));
                   },
                   [&](const KeyDown& k) { out.push_back({k}); },
                   [&](const KeyUp& k) { out.push_back({k}); },
                   // A negative or NaN pause cannot be waited: it is no pause.
                   [&](const Delay& d) { out.push_back(ButtonIntent::delay(d.millis >= 0 ? d.millis : 0)); },
                   [&](const MouseButton& m) {
                       out.push_back(ButtonIntent::mouseButtonDown(m.number));
                       out.push_back(ButtonIntent::mouseButtonUp(m.number));
                   },
               },
               value);
}

std::vector<ButtonIntent> MacroStep::intents() const {
    std::vector<ButtonIntent> out;
    out.reserve(intentCount());
    appendIntents(out);
    return out;
}

Json MacroStep::toJson() const {
    return std::visit(Overloaded{
                          [](const Key& k) { return jsonCase("key", k.toJson()); },
                          [](const KeyDown& k) { return jsonCase("keyDown", k.toJson()); },
                          [](const KeyUp& k) { return jsonCase("keyUp", k.toJson()); },
                          [](const Delay& d) { return jsonCase("delay", Json{{"millis", d.millis}}); },
                          [](const MouseButton& m) { return jsonCase("mouseButton", Json{{"number", m.number}}); },
                      },
                      value);
}

MacroStep MacroStep::fromJson(const JsonValue& v) {
    const auto [name, payload] =
        decodeEnumerationCase(v, "MacroStep", {"key", "keyDown", "keyUp", "delay", "mouseButton"});
    requirePayloadObject(payload);
    if (name == "key") return {Key::fromJson(payload)};
    if (name == "keyDown") return {KeyDown::fromJson(payload)};
    if (name == "keyUp") return {KeyUp::fromJson(payload)};
    if (name == "delay") return delay(payload["millis"].asDouble());
    return mouseButton(payload["number"].asInteger<std::int64_t>());
}

std::ostream& operator<<(std::ostream& os, const MacroStep& step) {
    return os << step.toJson().dump();
}

} // namespace ravolet

std::size_t std::hash<ravolet::MacroStep>::operator()(const ravolet::MacroStep& step) const noexcept {
    using namespace ravolet;
    const std::size_t payload = std::visit(Overloaded{
                                               [](const MacroStep::Delay& d) { return hashFields(d.millis); },
                                               [](const MacroStep::MouseButton& m) { return hashFields(m.number); },
                                               [](const auto& k) { return hashFields(k); },
                                           },
                                           step.value);
    return hashCombine(step.value.index(), payload);
}
