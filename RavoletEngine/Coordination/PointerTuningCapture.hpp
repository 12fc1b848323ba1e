#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

#include "Core/Json.hpp"
#include "RavoletEngine/Coordination/PointerServiceIdentity.hpp"
#include "Support/ValueSupport.hpp"

namespace ravolet {

// The pointer properties found on a HID service before the tuner changed them
// (or, as a live reading, as they are now). Times are kept to whole seconds,
// the precision of the file, so a capture held in memory equals the one read
// back from disk.
struct PointerTuningCapture {
    static constexpr int currentSchema = 1;

    int schema = currentSchema;
    PointerServiceIdentity service;
    // The key under which the acceleration was read and is written back.
    std::string accelerationKey;
    // "HIDPointerResolution" as found (16.16 fixed point); absent when the service had none.
    std::optional<std::int64_t> resolution = std::nullopt;
    // The value found under accelerationKey; absent when the service had none.
    std::optional<std::int64_t> acceleration = std::nullopt;
    std::chrono::sys_seconds capturedAt{};

    std::optional<double> resolutionCPI() const;
    std::optional<double> accelerationValue() const;

    // The file's object: absent values left out, the date in UTC as
    // "YYYY-MM-DDTHH:MM:SSZ". Encoding fails for a date outside the years
    // 0000 to 9999, which that form cannot hold.
    std::expected<Json, JsonError> toJson() const;
    // Every kind checked strictly: integers only as integer tokens, a date only
    // in exactly the form above (no fractional seconds, no offset).
    static PointerTuningCapture fromJson(const JsonValue& v);

    // The file's bytes (sorted keys, pretty printed) and their reading; a
    // capture of another schema is returned as read, for the caller to judge.
    std::expected<std::string, JsonError> encoded() const;
    static std::expected<PointerTuningCapture, JsonError> decoded(std::string_view bytes);

    friend bool operator==(const PointerTuningCapture&, const PointerTuningCapture&) = default;
};

// A 16.16 fixed-point property value as a plain number (1600 × 65536 gives 1600).
constexpr double cpiFromFixed(std::int64_t fixed) { return static_cast<double>(fixed) * (1.0 / 65536.0); }

// "2025-03-01T09:30:00Z"; none for a year outside 0000 to 9999.
std::optional<std::string> internetDateTime(std::chrono::sys_seconds time);
// The reverse, accepting exactly that form with a valid calendar date.
std::optional<std::chrono::sys_seconds> parseInternetDateTime(std::string_view text);

std::ostream& operator<<(std::ostream& os, const PointerTuningCapture& capture);

} // namespace ravolet

template <>
struct std::hash<ravolet::PointerTuningCapture> {
    std::size_t operator()(const ravolet::PointerTuningCapture& c) const noexcept {
        return ravolet::hashFields(c.schema, c.service, c.accelerationKey, c.resolution, c.acceleration,
                                   c.capturedAt.time_since_epoch().count());
    }
};
