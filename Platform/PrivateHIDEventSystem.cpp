#include "Platform/PrivateHIDEventSystem.hpp"

#include <cmath>
#include <limits>

#include <fmt/format.h>

namespace ravolet::platform {

std::optional<std::int64_t> propertyInt64(const PropertyValue& value) {
    if (const auto* i = std::get_if<std::int64_t>(&value)) return *i;
    if (const auto* u = std::get_if<std::uint64_t>(&value)) {
        if (*u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
        return static_cast<std::int64_t>(*u);
    }
    if (const auto* d = std::get_if<double>(&value)) {
        if (!std::isfinite(*d) || *d >= 9223372036854775807.0 || *d < -9223372036854775808.0) return std::nullopt;
        return static_cast<std::int64_t>(*d);
    }
    return std::nullopt;
}

std::optional<std::uint64_t> propertyUInt64(const PropertyValue& value) {
    if (const auto* u = std::get_if<std::uint64_t>(&value)) return *u;
    if (const auto* i = std::get_if<std::int64_t>(&value)) return static_cast<std::uint64_t>(*i);
    if (const auto* d = std::get_if<double>(&value)) {
        if (!std::isfinite(*d) || *d < 0 || *d >= 18446744073709551616.0) return std::nullopt;
        return static_cast<std::uint64_t>(*d);
    }
    return std::nullopt;
}

std::optional<std::string> propertyString(const PropertyValue& value) {
    if (const auto* s = std::get_if<std::string>(&value)) return *s;
    return std::nullopt;
}

std::string describe(const PropertyValue& value) {
    return std::visit(
        [](const auto& v) -> std::string {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::string>)
                return fmt::format("\"{}\"", v);
            else
                return fmt::format("{}", v);
        },
        value);
}

} // namespace ravolet::platform
