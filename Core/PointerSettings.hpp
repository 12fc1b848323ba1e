#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>

#include "Core/Json.hpp"
#include "Core/PointerCurve.hpp"

namespace ravolet {

// The pointer part of a profile: whether motion is reshaped, the resolution the
// profile asks the mouse to run at, and the curve.
struct PointerSettings {
    bool isEnabled = false;
    // Counts per inch; no bound is applied here.
    std::int64_t dpi = 0;
    PointerCurve curve;

    // {"isEnabled": Boolean, "dpi": integer, "curve": curve object}
    Json toJson() const;
    static PointerSettings fromJson(const JsonValue& v);

    friend constexpr bool operator==(const PointerSettings&, const PointerSettings&) = default;
};

std::ostream& operator<<(std::ostream& os, const PointerSettings& settings);

} // namespace ravolet

template <>
struct std::hash<ravolet::PointerSettings> {
    std::size_t operator()(const ravolet::PointerSettings& s) const noexcept {
        return ravolet::hashFields(s.isEnabled, s.dpi, s.curve);
    }
};
