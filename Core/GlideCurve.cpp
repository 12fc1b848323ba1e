#include "Core/GlideCurve.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "Support/ValueSupport.hpp"

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

std::optional<GlideCurve::Change> GlideCurve::next(Walk& walk) const {
    // Between far-apart changes the count moves a pixel at a time, so the
    // guess for the change after the next one is worked out while the next
    // one is looked for: neither waits for the other.
    const std::int64_t pixel = total_ < 0 ? -1 : 1;
    while (walk.from < frames_) {
        Change change{walk.from + 1, 0};
        if (walk.everyFrame) {
            change.cumulative = cumulativeAt(walk.from + 1);
            if (change.cumulative == walk.count) {
                ++walk.from;
                walk.everyFrame = false;
                walk.guessAfter = walk.count;
                walk.guessFrame = guessNextChange(walk.count);
                continue;
            }
        } else {
            const std::size_t start =
                walk.guessAfter == walk.count && walk.guessFrame != 0 ? walk.guessFrame : guessNextChange(walk.count);
            walk.guessAfter = walk.count + pixel;
            walk.guessFrame = guessNextChange(walk.count + pixel);
            const auto found = nextChange(walk.from, walk.count, start);
            if (!found) {
                walk.from = frames_;
                return std::nullopt;
            }
            change = *found;
            walk.everyFrame = change.frame == walk.from + 1;
        }
        walk.from = change.frame;
        walk.count = change.cumulative;
        return change;
    }
    return std::nullopt;
}

std::size_t GlideCurve::frameBy(double offsetMillis) const {
    // Frame times only grow with the frame number, in floating point too, so
    // the frames due form a prefix: its end is worked out, then checked
    // against the exact frame times on either side.
    if (frames_ == 0 || !(offsetMillis >= offsetOf(1))) return 0;
    const double estimate = std::floor((offsetMillis - firstOffset_) * framesPerMilli_) + 1;
    std::size_t k = estimate >= static_cast<double>(frames_) ? frames_ : estimate > 1 ? static_cast<std::size_t>(estimate) : 1;
    while (k < frames_ && offsetOf(k + 1) <= offsetMillis) ++k;
    while (k > 1 && offsetOf(k) > offsetMillis) --k;
    return k;
}

std::size_t GlideCurve::hash() const {
    return hashFields(easing_, firstOffset_, frame_, duration_, frames_, startOnCurve_, total_);
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
