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
// most one per pixel), not its frames, however long it lasts.
class GlideCurve {
public:
    // `startOnCurve` is where on the easing curve the glide begins (0...0.999).
    GlideCurve(Easing easing, double firstOffset, double frame, double duration, std::size_t frames,
               double startOnCurve, std::int64_t total);

    std::size_t frames() const { return frames_; }

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

    // Hands `emit` every change, in frame order. Where changes come frame
    // after frame (early in a glide, or always when it has more pixels than
    // frames), each next frame is looked at in turn; once a frame brings no
    // change, the next change is looked for where the curve says it is.
    template <class Emit>
    void forEachChange(Emit&& emit) const {
        std::size_t from = 0; // the last frame known to hold `count`
        std::int64_t count = 0;
        bool everyFrame = true;
        // Between far-apart changes the count moves a pixel at a time, so the
        // guess for the change after the next one is worked out while the
        // next one is looked for: neither waits for the other.
        const std::int64_t pixel = total_ < 0 ? -1 : 1;
        struct Guess {
            std::int64_t after; // the count it is a guess for the change after
            std::size_t frame;
        } guess{count, 0};
        while (from < frames_) {
            Change change{from + 1, 0};
            if (everyFrame) {
                change.cumulative = cumulativeAt(from + 1);
                if (change.cumulative == count) {
                    ++from;
                    everyFrame = false;
                    guess = {count, guessNextChange(count)};
                    continue;
                }
            } else {
                const std::size_t start = guess.after == count && guess.frame != 0 ? guess.frame : guessNextChange(count);
                guess = {count + pixel, guessNextChange(count + pixel)};
                const auto found = nextChange(from, count, start);
                if (!found) return;
                change = *found;
                everyFrame = change.frame == from + 1;
            }
            emit(change);
            from = change.frame;
            count = change.cumulative;
        }
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

private:
    const Easing easing_;
    const double firstOffset_;
    const double frame_;
    const double duration_;
    const std::size_t frames_;
    const double startOnCurve_;
    const double e0_;
    const double denominator_;
    const std::int64_t total_;
    // For the guesses, which need no exact arithmetic: the eased value of
    // one pixel, the milliseconds of the whole curve, frames per millisecond.
    const double easedPerPixel_;
    const double millisPerProgress_;
    const double framesPerMilli_;
};

} // namespace ravolet
