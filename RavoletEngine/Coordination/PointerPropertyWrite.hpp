#pragma once

#include <array>
#include <optional>
#include <ostream>
#include <string_view>

#include "Core/Json.hpp"
#include "Core/RawValueEnum.hpp"

namespace ravolet {

// Where one property write landed.
enum class PointerPropertyWrite {
    // The HID event system accepted the value for the service.
    eventSystem,
    // The event system did not take it; it was set on the service's registry entry.
    registryEntry,
    // Neither path took the value.
    refused,
    // No write was attempted (the tuner's record of a property it left alone).
    skipped,
};

inline constexpr std::array<std::string_view, 4> pointerPropertyWriteRawValues{"eventSystem", "registryEntry", "refused",
                                                                               "skipped"};

constexpr std::string_view toString(PointerPropertyWrite write) { return enumRawValue(pointerPropertyWriteRawValues, write); }
constexpr std::optional<PointerPropertyWrite> pointerPropertyWriteFromString(std::string_view raw) {
    return enumFromRawValue<PointerPropertyWrite>(pointerPropertyWriteRawValues, raw);
}
// Whether the value is now in force on the device.
constexpr bool tookEffect(PointerPropertyWrite write) {
    return write == PointerPropertyWrite::eventSystem || write == PointerPropertyWrite::registryEntry;
}

inline std::ostream& operator<<(std::ostream& os, PointerPropertyWrite write) { return os << toString(write); }

inline Json toJson(PointerPropertyWrite write) { return std::string(toString(write)); }
inline PointerPropertyWrite pointerPropertyWriteFromJson(const JsonValue& v) {
    return enumFromJson<PointerPropertyWrite>(pointerPropertyWriteRawValues, "PointerPropertyWrite", v);
}

} // namespace ravolet
