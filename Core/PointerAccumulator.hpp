#pragma once

#include <cstdint>

#include "Core/PointerCurve.hpp"
#include "Core/PointerDelta.hpp"

namespace ravolet {

// Applies a pointer curve to a stream of motion deltas and hands out whole
// pixels, carrying each axis's sub-pixel rest into the next sample so that the
// motion handed out adds up to the shaped motion over time.
class PointerAccumulator {
public:
    // Whole pixels to move now.
    struct Pixels {
        std::int64_t dx = 0;
        std::int64_t dy = 0;
        friend constexpr bool operator==(const Pixels&, const Pixels&) = default;
    };

    // Readable and replaceable at any time; replacing it keeps the rests.
    PointerCurve curve;

    explicit PointerAccumulator(const PointerCurve& curve) : curve(curve) {}

    // Shapes the delta, adds the rests and takes the whole parts toward zero.
    // A sum that is not finite or does not fit 64 bits drops the sample and
    // clears the rests. Never allocates.
    Pixels apply(const PointerDelta& delta, double intervalMillis);

    void reset() {
        remainderX_ = 0;
        remainderY_ = 0;
    }

    double remainderX() const { return remainderX_; }
    double remainderY() const { return remainderY_; }

private:
    double remainderX_ = 0;
    double remainderY_ = 0;
};

} // namespace ravolet
