#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <functional>
#include <string_view>

#include "Core/Json.hpp"
#include "Support/OptionSet.hpp"

namespace ravolet {

struct EditableModifier;

// The modifier keys held with an input. Any 32-bit value is valid; unnamed
// bits stay in rawValue and take part in equality and hashing.
struct ModifierFlags : OptionSet<ModifierFlags, std::uint32_t> {
    using OptionSet::OptionSet;

    static const ModifierFlags capsLock;
    static const ModifierFlags shift;
    static const ModifierFlags control;
    static const ModifierFlags option;
    static const ModifierFlags command;
    static const ModifierFlags function;
    static const ModifierFlags none;
    // Shift, control, option, command and function; caps lock is not part of it.
    static const ModifierFlags bindable;
    // The modifiers a user may switch on for a binding or a key, in the order
    // they are shown: control, option, shift, command, function.
    static const std::array<EditableModifier, 5> editable;

    // The set with caps lock and every unnamed bit removed: bindings and the
    // key recorder compare modifiers in this form.
    constexpr ModifierFlags normalized() const { return ModifierFlags(rawValue & 62u); }
    constexpr int count() const { return std::popcount(rawValue); }

    // A bare unsigned 32-bit number.
    Json toJson() const { return rawValue; }
    static ModifierFlags fromJson(const JsonValue& v) { return ModifierFlags(v.asInteger<std::uint32_t>()); }
};

inline constexpr ModifierFlags ModifierFlags::capsLock{1};
inline constexpr ModifierFlags ModifierFlags::shift{2};
inline constexpr ModifierFlags ModifierFlags::control{4};
inline constexpr ModifierFlags ModifierFlags::option{8};
inline constexpr ModifierFlags ModifierFlags::command{16};
inline constexpr ModifierFlags ModifierFlags::function{32};
inline constexpr ModifierFlags ModifierFlags::none{0};
inline constexpr ModifierFlags ModifierFlags::bindable{62};

// One modifier as the interface offers it, by the name on a PC keyboard (the
// command flag is the Super key).
struct EditableModifier {
    ModifierFlags flag;
    std::string_view name;
};

inline constexpr std::array<EditableModifier, 5> ModifierFlags::editable{{
    {ModifierFlags::control, "Ctrl"},
    {ModifierFlags::option, "Alt"},
    {ModifierFlags::shift, "Shift"},
    {ModifierFlags::command, "Super"},
    {ModifierFlags::function, "Fn"},
}};

} // namespace ravolet

