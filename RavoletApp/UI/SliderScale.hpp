#pragma once

#include <optional>

namespace ravolet {

// A closed range of doubles.
struct ValueRange {
    double lower = 0;
    double upper = 1;
    friend bool operator==(const ValueRange&, const ValueRange&) = default;
};

// Maps a double setting onto the whole-number positions of a slider: position
// k stands for lower + k * step (the last one for upper, when the range is not
// a whole number of steps). Every conversion saturates, so a hand-edited value
// far outside the range, infinite or NaN, still lands on a position.
class SliderScale {
public:
    SliderScale(ValueRange range, double step);

    const ValueRange& range() const { return range_; }
    // The highest position; the lowest is 0.
    int maximumPosition() const { return maximumPosition_; }

    // The nearest position to a value; NaN gives 0.
    int positionOf(double value) const;
    // The value at a position (clamped to the positions), on the decimal grid
    // of the range and step, so that 0.05 steps give 0.15 and not
    // 0.15000000000000002.
    double valueAt(int position) const;

    // The value within the range; NaN gives the lower bound.
    double clamped(double value) const;
    // A fine adjustment: value + delta within the range, rounded to the decimal
    // places of the value and the delta.
    double nudged(double value, double delta) const;

private:
    ValueRange range_;
    double step_;
    int maximumPosition_;
    std::optional<int> decimals_;
};

// The fewest decimal places (0 to 9) that write the value closely enough to
// read it back; none for values that need more (1/3, 1e-13).
std::optional<int> decimalPlaces(double value);
// The value rounded to that many decimal places.
double roundedToDecimals(double value, int decimals);

} // namespace ravolet
