#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

#include "Support/ValueSupport.hpp"

namespace ravolet {

// The DPI values a sensor accepts: a stepped range or a list in device order.
struct HIDPPDPIRange {
    struct Range {
        std::int64_t minimum = 0;
        std::int64_t maximum = 0;
        std::int64_t step = 0;
        friend bool operator==(const Range&, const Range&) = default;
    };
    struct List {
        std::vector<std::int64_t> values;
        friend bool operator==(const List&, const List&) = default;
    };

    std::variant<Range, List> value;

    static HIDPPDPIRange range(std::int64_t minimum, std::int64_t maximum, std::int64_t step) {
        return {Range{minimum, maximum, step}};
    }
    static HIDPPDPIRange list(std::vector<std::int64_t> values) { return {List{std::move(values)}}; }

    // For a list its smallest and largest value, 0 when empty.
    std::int64_t minimum() const;
    std::int64_t maximum() const;

    // The nearest acceptable DPI, exact for any 64-bit values. A range clamps,
    // then snaps to its step grid (halves up) without passing its maximum; a
    // list gives its nearest element, the first among equally near ones; an
    // empty list changes nothing.
    std::int64_t normalize(std::int64_t dpi) const;
    bool contains(std::int64_t dpi) const { return normalize(dpi) == dpi; }

    // "100…8000 step 50" or "400, 800, 1600".
    std::string description() const;

    friend bool operator==(const HIDPPDPIRange&, const HIDPPDPIRange&) = default;
    friend std::ostream& operator<<(std::ostream& os, const HIDPPDPIRange& r) { return os << r.description(); }
};

// The DPI a sensor runs at and its default.
struct HIDPPDPIState {
    std::uint8_t sensorIndex = 0;
    std::int64_t current = 0;
    std::int64_t defaultDPI = 0;  // `default` is a keyword

    // "current=1600 default=1000 sensor=0".
    std::string description() const;

    friend bool operator==(const HIDPPDPIState&, const HIDPPDPIState&) = default;
    friend std::ostream& operator<<(std::ostream& os, const HIDPPDPIState& s) { return os << s.description(); }
};

} // namespace ravolet

template <>
struct std::hash<ravolet::HIDPPDPIRange> {
    std::size_t operator()(const ravolet::HIDPPDPIRange& r) const noexcept;
};

template <>
struct std::hash<ravolet::HIDPPDPIState> {
    std::size_t operator()(const ravolet::HIDPPDPIState& s) const noexcept {
        return ravolet::hashFields(s.sensorIndex, s.current, s.defaultDPI);
    }
};
