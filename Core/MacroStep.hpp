#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <iosfwd>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "Core/Json.hpp"
#include "Core/ModifierFlags.hpp"
#include "Support/ValueSupport.hpp"

namespace ravolet {

struct ButtonIntent;

// The cases of the actions, steps and intents that carry a key: each gets its
// own payload type, so that they stay distinct alternatives of their variants.
enum class KeyCase { key, keyDown, keyUp, keyStroke, hold };

// A macOS virtual key code and the modifiers held with it.
template <KeyCase Case>
struct KeyPayload {
    std::uint16_t code = 0;
    ModifierFlags modifiers;

    Json toJson() const { return Json{{"code", code}, {"modifiers", modifiers.toJson()}}; }
    static KeyPayload fromJson(const JsonValue& payload) {
        return {payload["code"].asInteger<std::uint16_t>(), ModifierFlags::fromJson(payload["modifiers"])};
    }

    friend bool operator==(const KeyPayload&, const KeyPayload&) = default;
};

// One step of a key sequence or of a repeat.
//
// JSON: an object with exactly one member named after the case ("key",
// "keyDown", "keyUp", "delay", "mouseButton") whose value holds the payload
// fields. Nothing is corrected on reading: a negative delay becomes 0 only when
// the step is expanded into intents.
struct MacroStep {
    // Press and release the key with the modifiers held.
    using Key = KeyPayload<KeyCase::key>;
    // Press the key and leave it down.
    using KeyDown = KeyPayload<KeyCase::keyDown>;
    // Let the key back up.
    using KeyUp = KeyPayload<KeyCase::keyUp>;
    // Wait before the following steps.
    struct Delay {
        double millis = 0;
        friend bool operator==(const Delay&, const Delay&) = default;
    };
    // Click the mouse button: press, then release.
    struct MouseButton {
        std::int64_t number = 0;
        friend bool operator==(const MouseButton&, const MouseButton&) = default;
    };

    using Value = std::variant<Key, KeyDown, KeyUp, Delay, MouseButton>;
    Value value;

    static MacroStep key(std::uint16_t code, ModifierFlags modifiers) { return {Key{code, modifiers}}; }
    static MacroStep keyDown(std::uint16_t code, ModifierFlags modifiers) { return {KeyDown{code, modifiers}}; }
    static MacroStep keyUp(std::uint16_t code, ModifierFlags modifiers) { return {KeyUp{code, modifiers}}; }
    static MacroStep delay(double millis) { return {Delay{millis}}; }
    static MacroStep mouseButton(std::int64_t number) { return {MouseButton{number}}; }

    // The intents that perform this step, in order; always a fresh list.
    std::vector<ButtonIntent> intents() const;
    // The same intents, appended to `out` (the router builds one list per event).
    void appendIntents(std::vector<ButtonIntent>& out) const;
    // How many intents the step expands to.
    std::size_t intentCount() const;

    Json toJson() const;
    static MacroStep fromJson(const JsonValue& v);

    friend bool operator==(const MacroStep&, const MacroStep&) = default;
};

std::ostream& operator<<(std::ostream&, const MacroStep&);

// Decodes the case of an enumeration with payload: an object with exactly one
// member naming one of `cases`. A failure names the enumeration being decoded.
std::pair<std::string, JsonValue> decodeEnumerationCase(const JsonValue& v, std::string_view typeName,
                                                        std::initializer_list<std::string_view> cases);

// The payload object of a case: it must be an object even when it has no fields.
const JsonValue& requirePayloadObject(const JsonValue& payload);

} // namespace ravolet

template <ravolet::KeyCase Case>
struct std::hash<ravolet::KeyPayload<Case>> {
    std::size_t operator()(const ravolet::KeyPayload<Case>& k) const noexcept {
        return ravolet::hashFields(k.code, k.modifiers);
    }
};

template <>
struct std::hash<ravolet::MacroStep> {
    std::size_t operator()(const ravolet::MacroStep& step) const noexcept;
};
