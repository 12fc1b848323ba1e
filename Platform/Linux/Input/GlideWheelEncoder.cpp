#include "Platform/Linux/Input/GlideWheelEncoder.hpp"

#include <algorithm>

#include "Platform/Linux/Input/EvdevValue.hpp"

namespace ravolet::platform {

namespace {

// Far beyond any glide, and small enough that × 120 cannot overflow.
constexpr std::int64_t pixelLimit = std::int64_t{1} << 40;

std::int64_t bounded(std::int64_t pixels) { return std::clamp(pixels, -pixelLimit, pixelLimit); }

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
    const std::int64_t carried = remainder_;
    const std::int64_t units = unitsOf(pixels, carried);
    remainder_ = pixels * unitsPerDetent + carried - units * pixelsPerDetent_;

    const bool turned = direction_ != 0 && direction != direction_;
    const bool fromRest = direction_ == 0 || turned || nowNanos - lastFrameNanos_ >= restNanos;

    // Along this step's direction from here on. Units a glide sent ahead in
    // the other direction are paid back here, on top of this step's own, so
    // that a glide turned part-way still sums to what its steps make.
    const std::int64_t produced = units * direction;
    const std::int64_t ahead = ahead_ * direction;
    std::int64_t sent = std::max<std::int64_t>(0, produced - ahead);
    const std::int64_t remaining = bounded(glideRemainingPixels);
    if (fromRest && remaining * direction > 0) {
        // What the glide still holds, this step included, less what went ahead.
        const std::int64_t holds = unitsOf(remaining, carried) * direction - ahead;
        sent = std::max(sent, std::min(frontUnits, holds));
    }
    // Never below 0: what is sent covers at least the debt and this step.
    ahead_ = (ahead + sent - produced) * direction;
    if (sent == 0) return {};

    direction_ = direction;
    lastFrameNanos_ = nowNanos;
    Frame frame;
    frame.hiRes = toInt32(sent * direction);
    sinceLine_ += sent * direction;
    const std::int64_t lines = sinceLine_ / unitsPerDetent;
    sinceLine_ -= lines * unitsPerDetent;
    frame.lines = toInt32(lines);
    return frame;
}

} // namespace ravolet::platform
