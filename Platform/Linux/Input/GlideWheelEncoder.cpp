#include "Platform/Linux/Input/GlideWheelEncoder.hpp"

#include <algorithm>

#include "Platform/Linux/Input/EvdevValue.hpp"

namespace ravolet::platform {

namespace {

// Far beyond any glide, and small enough that × 120 cannot overflow.
constexpr std::int64_t pixelLimit = std::int64_t{1} << 40;

std::int64_t bounded(std::int64_t pixels) { return std::clamp(pixels, -pixelLimit, pixelLimit); }

// The whole lines a frame gives, along its direction, from where the wheel
// stands against its last line after the frame (`moved`) and where it will
// stand at the glide's end (`bound`): one as soon as the wheel moves into a
// detent the glide will take at least half of, so that a notch's line goes
// out with the first frame of its glide rather than with the one that
// completes it; never more than the detents the wheel has moved into, and
// never against the frame.
std::int64_t linesFor(std::int64_t moved, std::int64_t bound) {
    constexpr std::int64_t detent = GlideWheelEncoder::unitsPerDetent;
    if (moved <= 0 || bound < detent / 2) return 0;
    return std::min((bound + detent / 2) / detent, (moved + detent - 1) / detent);
}

} // namespace

GlideWheelEncoder::GlideWheelEncoder(std::int64_t pixelsPerDetent) : pixelsPerDetent_(std::max<std::int64_t>(1, pixelsPerDetent)) {}

std::int64_t GlideWheelEncoder::unitsOf(std::int64_t pixels, std::int64_t remainder) const {
    // Truncated toward zero; the remainder keeps its sign, so the sum stays exact.
    return (pixels * unitsPerDetent + remainder) / pixelsPerDetent_;
}

GlideWheelEncoder::Frame GlideWheelEncoder::encode(std::int64_t pixels, std::int64_t glideRemainingPixels,
                                                   std::uint64_t nowNanos) {
    pixels = bounded(pixels);
    if (pixels == 0) return {};
    const int direction = pixels > 0 ? 1 : -1;
    const bool turned = direction_ != 0 && direction != direction_;
    const bool fromRest = direction_ == 0 || turned || nowNanos - lastFrameNanos_ >= restNanos;
    // What went out ahead in the other direction was lent to the glide just
    // turned, and ends with it: charged to this one, it would carry this
    // glide beyond its own steps. So does the part unit it had not finished,
    // so that this glide sums to its own steps exactly.
    if (turned) {
        ahead_ = 0;
        remainder_ = 0;
    }
    const std::int64_t carried = remainder_;
    const std::int64_t units = unitsOf(pixels, carried);
    remainder_ = pixels * unitsPerDetent + carried - units * pixelsPerDetent_;

    // Along this step's direction from here on; ahead_ is never against it.
    const std::int64_t produced = units * direction;
    const std::int64_t ahead = ahead_ * direction;
    // What the glide still holds, this step included; 0 when unknown.
    const std::int64_t remaining = bounded(glideRemainingPixels);
    const std::int64_t holds = remaining * direction > 0 ? unitsOf(remaining, carried) * direction : 0;
    // The debt is paid over the rest of the glide: each step its share in
    // proportion to its units (rounded up), keeping at least one unit of its
    // own, so the glide moves on at its own pace, only slower, rather than
    // standing still until it has paid. A step pays more only when the rest
    // of the glide could not pay the remainder, so the last step always
    // clears it; a last step, or one that does not say what follows, pays
    // all it can.
    std::int64_t paid = std::min(ahead, produced);
    if (holds > produced) {
        const std::int64_t share = (ahead * produced + holds - 1) / holds;
        const std::int64_t keeping = std::max<std::int64_t>(0, produced - 1);
        const std::int64_t beyondTheRest = ahead - (holds - produced);
        paid = std::min(paid, std::max(beyondTheRest, std::min(share, keeping)));
    }
    std::int64_t sent = produced - paid;
    if (fromRest && holds > 0) sent = std::max(sent, std::min(frontUnits, holds - ahead));
    ahead_ = (ahead + sent - produced) * direction;
    if (sent == 0) return {};
    direction_ = direction;
    lastFrameNanos_ = nowNanos;

    // A glide from rest or turned counts its lines afresh: a part line left
    // by a glide cut short, or by the other direction, never holds back the
    // line of a notch of its own.
    if (fromRest) sinceLine_ = 0;
    // Where the wheel stands against its last whole line, before and after
    // this frame, and where it will stand once the glide has sent all it
    // holds (its steps' units, less what went out ahead of them).
    const std::int64_t before = sinceLine_ * direction;
    const std::int64_t moved = before + sent;
    const std::int64_t bound = holds > 0 ? std::max(moved, before - ahead + holds) : moved;
    const std::int64_t lines = linesFor(moved, bound);
    sinceLine_ = (moved - lines * unitsPerDetent) * direction;
    return {toInt32(sent * direction), toInt32(lines * direction)};
}

} // namespace ravolet::platform
