#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include <fmt/format.h>

namespace ravolet {

// One named flag of a flag set and the text it shows in a description.
using HIDPPFlagName = std::pair<std::uint64_t, std::string_view>;

// The texts of the flags in `names` that are set in `raw`, in the order
// given, joined by ","; "-" when none of them is set.
inline std::string hidppFlagsText(std::uint64_t raw, std::span<const HIDPPFlagName> names) {
    std::string text;
    for (const auto& [bit, flagName] : names) {
        if ((raw & bit) == 0) continue;
        if (!text.empty()) text += ',';
        text += flagName;
    }
    return text.empty() ? std::string("-") : text;
}

// Each byte as two upper-case hexadecimal digits, joined by `separator`.
inline std::string hidppHexBytes(std::span<const std::uint8_t> bytes, std::string_view separator = "") {
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0) text += separator;
        text += fmt::format("{:02X}", bytes[i]);
    }
    return text;
}

} // namespace ravolet
