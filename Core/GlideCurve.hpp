#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "Core/Clamp.hpp"
#include "Core/Easing.hpp"

namespace ravolet {

// A glide's eased travel as its plan samples it: frame k (from 1) falls at
// offsetOf(k), the first at `firstOffset`, then every `frame` ms, the last at
// the duration; by then cumulativeAt(k) of the `total` whole pixels have gone.
// The plan's timed steps are the frames where that count changes.
//
// The count only ever moves toward the total as k grows: every operation on
// the way (the frame's time, its progress, the curve, the scaling, the
// rounding) is monotonic, in floating point too, and the first frame's count
// is already on the total's side of 0. So the next step can be found by
// looking where the curve crosses the next half pixel and checking the frames
// around it, never visiting the frames in between: a glide costs its steps (at
// most one per pixel), not its frames, however long it lasts. The count at
// any time is one evaluation, so what a glide has delivered by then costs
// nothing of its length either.
class GlideCurve {
public:
    // `startOnCurve` is where on the easing curve the glide begins (0...0.999).
    GlideCurve(Easing easing, double firstOffset, double frame, double duration, std::size_t frames,
               double startOnCurve, std::int64_t total);

    std::size_t frames() const { return frames_; }
    double duration() const { return duration_; }

    double offsetOf(std::size_t k) const { return std::min(firstOffset_ + frame_ * static_cast<double>(k - 1), duration_); }

    std::int64_t cumulativeAt(std::size_t k) const {
        const double tc = offsetOf(k);
        const double p = clamp(startOnCurve_ + (1 - startOnCurve_) * tc / duration_, 0.0, 1.0);
        return roundHalfAway((easingValue(easing_, p) - e0_) / denominator_ * static_cast<double>(total_));
    }

    struct Change {
        std::size_t frame;
        std::int64_t cumulative;
    };

    // How far a walk through the changes has come: a small value, so that a
    // glide's steps can be made one at a time, as they fall due, and a walk
    // can be copied to count what is left of it.
    struct Walk {
        std::size_t from = 0; // the last frame known to hold `count`
        std::int64_t count = 0;
        bool everyFrame = true;
        // A guess for where the change after the count `guessAfter` lies.
        std::int64_t guessAfter = 0;
        std::size_t guessFrame = 0;
    };

    // The next change of the walk, in frame order, or nothing once the count
    // stays. Where changes come frame after frame (early in a glide, or
    // always when it has more pixels than frames), each next frame is looked
    // at in turn; once a frame brings no change, the next change is looked
    // for where the curve says it is.
    std::optional<Change> next(Walk& walk) const;

    // The last frame due by `offsetMillis` (0 before the first).
    std::size_t frameBy(double offsetMillis) const;
    // The count at that frame (0 before the first).
    std::int64_t cumulativeBy(double offsetMillis) const {
        const std::size_t k = frameBy(offsetMillis);
        return k == 0 ? 0 : cumulativeAt(k);
    }
    // Whether `delivered` pixels hold all of frame `k`'s count (the start's 0
    // for k = 0), counted the way the glide goes.
    bool reached(std::size_t k, std::int64_t delivered) const {
        const std::int64_t count = k == 0 ? 0 : cumulativeAt(k);
        return total_ < 0 ? count >= delivered : count <= delivered;
    }

    // The first frame after `from` whose count is not `count`, the count at
    // `from` (0 before the first frame), or nothing when the count stays; the
    // search looks first at frame `start` (any in (from, frames]), which
    // changes only how long it takes.
    std::optional<Change> nextChange(std::size_t from, std::int64_t count, std::size_t start) const;

    // The frame near which the count passes `count` by half a pixel toward
    // the total, by the inverse of the curve: where a search for the change
    // after `count` best starts.
    std::size_t guessNextChange(std::int64_t count) const;

    friend bool operator==(const GlideCurve&, const GlideCurve&) = default;
    std::size_t hash() const;

private:
    Easing easing_;
    double firstOffset_;
    double frame_;
    double duration_;
    std::size_t frames_;
    double startOnCurve_;
    double e0_;
    double denominator_;
    std::int64_t total_;
    // For the guesses, which need no exact arithmetic: the eased value of
    // one pixel, the milliseconds of the whole curve, frames per millisecond.
    double easedPerPixel_;
    double millisPerProgress_;
    double framesPerMilli_;
};

} // namespace ravolet
