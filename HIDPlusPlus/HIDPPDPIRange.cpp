#include "HIDPlusPlus/HIDPPDPIRange.hpp"

#include <algorithm>

#include <fmt/format.h>
#include <fmt/ranges.h>

namespace ravolet {

namespace {

// |a - b| without overflow for any two 64-bit values.
std::uint64_t distance(std::int64_t a, std::int64_t b) {
    return a >= b ? static_cast<std::uint64_t>(a) - static_cast<std::uint64_t>(b)
                  : static_cast<std::uint64_t>(b) - static_cast<std::uint64_t>(a);
}

} // namespace

std::int64_t HIDPPDPIRange::minimum() const {
    if (const auto* r = std::get_if<Range>(&value)) return r->minimum;
    const auto& values = std::get<List>(value).values;
    return values.empty() ? 0 : std::ranges::min(values);
}

std::int64_t HIDPPDPIRange::maximum() const {
    if (const auto* r = std::get_if<Range>(&value)) return r->maximum;
    const auto& values = std::get<List>(value).values;
    return values.empty() ? 0 : std::ranges::max(values);
}

std::int64_t HIDPPDPIRange::normalize(std::int64_t dpi) const {
    if (const auto* r = std::get_if<Range>(&value)) {
        // A device may report a maximum below its minimum; never hand
        // std::clamp an inverted range.
        const std::int64_t clamped = std::max(r->minimum, std::min(dpi, r->maximum));
        if (r->step < 2) return clamped;
        if (r->maximum < r->minimum) return r->maximum;
        // 128-bit arithmetic: the distance from the minimum fills 64 bits, and
        // adding half a step or snapping up to the next grid point may pass them.
        using Wide = unsigned __int128;
        const Wide step = static_cast<std::uint64_t>(r->step);
        const Wide k = (Wide{distance(clamped, r->minimum)} + step / 2) / step;
        const Wide snappedOffset = k * step;
        if (snappedOffset > Wide{distance(r->maximum, r->minimum)}) return r->maximum;
        // Within [minimum, maximum], so it fits; unsigned addition wraps into place.
        return static_cast<std::int64_t>(static_cast<std::uint64_t>(r->minimum) +
                                         static_cast<std::uint64_t>(snappedOffset));
    }
    const auto& values = std::get<List>(value).values;
    if (values.empty()) return dpi;
    std::int64_t best = values.front();
    for (std::int64_t v : values) {
        if (distance(v, dpi) < distance(best, dpi)) best = v;
    }
    return best;
}

std::string HIDPPDPIRange::description() const {
    if (const auto* r = std::get_if<Range>(&value)) return fmt::format("{}\u2026{} step {}", r->minimum, r->maximum, r->step);
    return fmt::format("{}", fmt::join(std::get<List>(value).values, ", "));
}

std::string HIDPPDPIState::description() const {
    return fmt::format("current={} default={} sensor={}", current, defaultDPI, sensorIndex);
}

} // namespace ravolet

std::size_t std::hash<ravolet::HIDPPDPIRange>::operator()(const ravolet::HIDPPDPIRange& r) const noexcept {
    if (const auto* range = std::get_if<ravolet::HIDPPDPIRange::Range>(&r.value)) {
        return ravolet::hashFields(std::size_t{0}, range->minimum, range->maximum, range->step);
    }
    std::size_t seed = 1;
    for (std::int64_t v : std::get<ravolet::HIDPPDPIRange::List>(r.value).values) seed = ravolet::hashFields(seed, v);
    return seed;
}
