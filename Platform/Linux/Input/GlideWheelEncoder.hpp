#pragma once

#include <cstdint>

namespace ravolet::platform {

// Turns the pixel steps of Ravolet's glides on one axis into frames of the
// virtual pointer's wheel: REL_*_HI_RES units, 120 to a detent, and whole
// REL_* lines in the same frames, both the same movement (a desktop reads
// one kind or the other, never both).
//
// Scale: `pixelsPerDetent` pixels (the default scroll distance) make one
// detent, so one detent's glide at that distance sums to exactly 120 units.
// What a step leaves over is carried to the next, so nothing is lost over a
// glide (or between glides).
//
// The first frame after a rest (no wheel output on the axis for
// `restNanos`) or after a change of direction carries at least
// `frontUnits`, taken from the rest of the glide (never more than the glide
// still holds): libinput from 1.20 to 1.28 holds small hi-res deltas back
// in that situation until 60 units have gathered, which would start a glide
// late and in one lump. The frames that follow pay it back in proportion to
// their own units, each keeping the rest of its share, so the glide never
// stalls while it has units due and sums to what its steps make by its last
// step. A glide turned before it has paid its head start back takes the
// debt with it: the glide in the new direction moves what its own steps
// make.
//
// Lines go where a reader of whole lines wants them: a line with the first
// frame that moves the wheel into a detent that the glide, by what it still
// holds, will move at least half of. A notch's glide thus gives its line
// with its first frame (the head start's frame from rest, which libinput
// never holds back), a glide of several detents one more each time it moves
// into the next, and the lines add up to the units' whole detents, halves
// rounded up. A glide from rest or turned counts its lines afresh. Without
// word of the rest of the glide, a line goes out once half a detent has.
//
// Not thread-safe: the owner serialises calls.
class GlideWheelEncoder {
public:
    struct Frame {
        std::int32_t hiRes = 0; // REL_*_HI_RES; 0: nothing to send
        std::int32_t lines = 0; // REL_*
        friend bool operator==(const Frame&, const Frame&) = default;
    };

    static constexpr std::int64_t unitsPerDetent = 120;
    static constexpr std::int64_t frontUnits = 60;
    // A little under libinput's half second, so that its clock and ours
    // never disagree about a rest.
    static constexpr std::uint64_t restNanos = 400'000'000;

    // pixelsPerDetent below 1 counts as 1.
    explicit GlideWheelEncoder(std::int64_t pixelsPerDetent);

    // One step of `pixels`; `glideRemainingPixels` is what this step and the
    // rest of its glide post (same sign; 0 when unknown, which borrows
    // nothing); `nowNanos` the monotonic time of the step.
    Frame encode(std::int64_t pixels, std::int64_t glideRemainingPixels, std::uint64_t nowNanos);

private:
    // pixels × 120 / pixelsPerDetent, with the carry; `remainder` is the carry to use.
    std::int64_t unitsOf(std::int64_t pixels, std::int64_t remainder) const;

    std::int64_t pixelsPerDetent_;
    std::int64_t remainder_ = 0; // in 1/pixelsPerDetent of a unit
    // Units sent ahead of the steps, signed, still to be paid back.
    std::int64_t ahead_ = 0;
    int direction_ = 0; // of the last frame sent; 0 before the first
    std::uint64_t lastFrameNanos_ = 0;
    std::int64_t sinceLine_ = 0; // units sent since the last whole line, signed
};

} // namespace ravolet::platform
