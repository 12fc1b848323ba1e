#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

#include "Core/Json.hpp"

namespace ravolet {

// The identifier of the device an event came from. 0 (`unknown`) stands for an
// event without a readable device identity.
struct DeviceID {
    std::uint64_t rawValue = 0;

    constexpr DeviceID() = default;
    constexpr explicit DeviceID(std::uint64_t raw) : rawValue(raw) {}

    static const DeviceID unknown;

    std::string description() const { return "DeviceID(" + std::to_string(rawValue) + ")"; }

    Json toJson() const { return rawValue; }
    static DeviceID fromJson(const JsonValue& v) { return DeviceID(v.asInteger<std::uint64_t>()); }

    friend constexpr bool operator==(const DeviceID&, const DeviceID&) = default;
    friend std::ostream& operator<<(std::ostream& os, const DeviceID& id) { return os << id.description(); }
};

inline constexpr DeviceID DeviceID::unknown{0};

} // namespace ravolet

template <>
struct std::hash<ravolet::DeviceID> {
    std::size_t operator()(const ravolet::DeviceID& id) const noexcept { return std::hash<std::uint64_t>{}(id.rawValue); }
};
