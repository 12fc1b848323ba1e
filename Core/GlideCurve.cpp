#include "Core/GlideCurve.hpp"

#include <algorithm>
#include <cmath>
#include <limits>


namespace ravolet {

GlideCurve::GlideCurve(Easing easing, double firstOffset, double frame, double duration, std::size_t frames,
                       double startOnCurve, std::int64_t total)
    : easing_(easing), firstOffset_(firstOffset), frame_(frame), duration_(duration), frames_(frames),
      startOnCurve_(startOnCurve), e0_(easingValue(easing, startOnCurve)),
      denominator_(std::max(1 - e0_, std::numeric_limits<double>::epsilon())), total_(total),
      easedPerPixel_(denominator_ / std::fabs(static_cast<double>(total))),
      millisPerProgress_(duration / (1 - startOnCurve)), framesPerMilli_(1 / frame) {}

std::optional<GlideCurve::Change> GlideCurve::nextChange(std::size_t from, std::int64_t count, std::size_t start) const {
    if (from >= frames_) return std::nullopt;
    std::size_t k = std::clamp(start, from + 1, frames_);
    std::int64_t at = cumulativeAt(k);
    if (at != count) {
        // Back to the first frame past `count`.
        for (std::int64_t before = 0; k - 1 > from && (before = cumulativeAt(k - 1)) != count; --k) at = before;
        return Change{k, at};
    }
    // On to the first frame past `count`, if any.
    while (at == count) {
        if (k == frames_) return std::nullopt;
        at = cumulativeAt(++k);
    }
    return Change{k, at};
}

std::size_t GlideCurve::guessNextChange(std::int64_t count) const {
    const double eased = e0_ + (std::fabs(static_cast<double>(count)) + 0.5) * easedPerPixel_;
    if (!(eased < 1)) return frames_;
    const double tc = (easingProgress(easing_, eased) - startOnCurve_) * millisPerProgress_;
    const double k = std::ceil((tc - firstOffset_) * framesPerMilli_) + 1;
    if (!(k > 1)) return 1;
    if (!(k < static_cast<double>(frames_))) return frames_;
    return static_cast<std::size_t>(k);
}

} // namespace ravolet
