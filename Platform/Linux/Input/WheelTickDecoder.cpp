#include "Platform/Linux/Input/WheelTickDecoder.hpp"

namespace ravolet::platform {

std::int32_t WheelTickDecoder::add(std::int32_t hiRes) {
    if (hiRes == 0) return 0;
    if ((counted_ < 0 && hiRes > 0) || (counted_ > 0 && hiRes < 0)) counted_ = 0;
    counted_ += hiRes;
    const std::int64_t perDetent = std::int64_t{unitsPerTick} * ticksPerDetent_;
    const std::int64_t detents = counted_ / perDetent;
    counted_ -= detents * perDetent;
    return static_cast<std::int32_t>(detents);
}

void WheelTickDecoder::setTicksPerDetent(int ticks) {
    if (ticks < 1) ticks = 1;
    if (ticks == ticksPerDetent_) return;
    ticksPerDetent_ = ticks;
    counted_ = 0;
}

} // namespace ravolet::platform
