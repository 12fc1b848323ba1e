#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "Core/Json.hpp"

namespace ravolet {

// Helpers for enumerations whose raw values are strings, listed in the order of
// the cases (case i has raw value rawValues[i]).

template <class E, std::size_t N>
constexpr std::string_view enumRawValue(const std::array<std::string_view, N>& rawValues, E value) {
    return rawValues[static_cast<std::size_t>(value)];
}

// Exactly one of the raw values, case-sensitive; anything else gives no value.
template <class E, std::size_t N>
constexpr std::optional<E> enumFromRawValue(const std::array<std::string_view, N>& rawValues, std::string_view raw) {
    for (std::size_t i = 0; i < N; ++i) {
        if (rawValues[i] == raw) return static_cast<E>(i);
    }
    return std::nullopt;
}

// The raw string in JSON; anything else fails the decoding.
template <class E, std::size_t N>
E enumFromJson(const std::array<std::string_view, N>& rawValues, std::string_view typeName, const JsonValue& v) {
    const std::string raw = v.asString();
    const auto value = enumFromRawValue<E>(rawValues, raw);
    if (!value) v.fail("Cannot initialize " + std::string(typeName) + " from invalid String value " + raw);
    return *value;
}

} // namespace ravolet
