#include "Core/PointerAccumulator.hpp"

#include <cmath>

namespace ravolet {

namespace {

// Whether the whole part of x (toward zero) is a signed 64-bit integer.
bool wholePartFits(double x) { return x >= -0x1p63 && x < 0x1p63; }

} // namespace

PointerAccumulator::Pixels PointerAccumulator::apply(const PointerDelta& delta, double intervalMillis) {
    const PointerDelta shaped = curve.apply(delta, intervalMillis);
    const double x = shaped.dx + remainderX_;
    const double y = shaped.dy + remainderY_;
    if (!wholePartFits(x) || !wholePartFits(y)) {
        reset();
        return {};
    }
    const double wholeX = std::trunc(x);
    const double wholeY = std::trunc(y);
    remainderX_ = x - wholeX;
    remainderY_ = y - wholeY;
    return {static_cast<std::int64_t>(wholeX), static_cast<std::int64_t>(wholeY)};
}

} // namespace ravolet
