#include "RavoletApp/UI/SliderScale.hpp"

#include <algorithm>
#include <cmath>

namespace ravolet {

namespace {

// More positions than any screen has pixels; keeps every position an int.
constexpr int positionLimit = 1'000'000;
constexpr int maximumDecimals = 9;

bool usable(double step, const ValueRange& range) {
    return std::isfinite(step) && step > 0 && std::isfinite(range.lower) && std::isfinite(range.upper) &&
           range.upper > range.lower;
}

// The decimal places that both values are written in, if both have some.
std::optional<int> commonDecimals(double first, double second) {
    const auto a = decimalPlaces(first);
    const auto b = decimalPlaces(second);
    if (!a || !b) {
        return std::nullopt;
    }
    return std::max(*a, *b);
}

double onGrid(double value, std::optional<int> decimals) {
    return decimals ? roundedToDecimals(value, *decimals) : value;
}

} // namespace

std::optional<int> decimalPlaces(double value) {
    if (!std::isfinite(value)) {
        return std::nullopt;
    }
    double scaled = std::fabs(value);
    for (int decimals = 0; decimals <= maximumDecimals; ++decimals) {
        // Whole within a relative hair; a tiny value is not a whole zero.
        const double nearest = std::round(scaled);
        if ((nearest != 0 || scaled == 0) && std::fabs(scaled - nearest) <= 1e-9 * std::max(1.0, scaled)) {
            return decimals;
        }
        scaled *= 10;
    }
    return std::nullopt;
}

double roundedToDecimals(double value, int decimals) {
    const double scale = std::pow(10.0, decimals);
    const double scaled = value * scale;
    // Beyond 2^53 every double is already whole: nothing to round, and the
    // product could overflow.
    if (!std::isfinite(scaled) || std::fabs(scaled) >= 9007199254740992.0) {
        return value;
    }
    // A whole number divided by an exact power of ten is the double nearest
    // the decimal.
    return std::round(scaled) / scale;
}

SliderScale::SliderScale(ValueRange range, double step) : range_(range), step_(step), maximumPosition_(0) {
    if (!usable(step, range)) {
        return;
    }
    const double steps = (range.upper - range.lower) / step;
    // A range a hair over a whole number of steps gets no extra position.
    const double whole = std::ceil(steps - 1e-9);
    if (whole > positionLimit) {
        maximumPosition_ = positionLimit;
        step_ = (range.upper - range.lower) / positionLimit;
    } else {
        maximumPosition_ = std::max(1, static_cast<int>(whole));
    }
    decimals_ = commonDecimals(range.lower, step_);
}

double SliderScale::clamped(double value) const {
    if (std::isnan(value)) {
        return range_.lower;
    }
    return std::clamp(value, range_.lower, std::max(range_.lower, range_.upper));
}

int SliderScale::positionOf(double value) const {
    if (maximumPosition_ == 0 || std::isnan(value)) {
        return 0;
    }
    const double within = clamped(value);
    const double steps = (within - range_.lower) / step_;
    const int nearest = std::clamp(static_cast<int>(std::lround(steps)), 0, maximumPosition_);
    if (nearest < maximumPosition_ - 1) {
        return nearest;
    }
    // The last position stands for the upper bound, which can be less than a
    // whole step beyond the one before it: pick the nearer of the two.
    const double before = valueAt(maximumPosition_ - 1);
    return within - before >= range_.upper - within ? maximumPosition_ : maximumPosition_ - 1;
}

double SliderScale::valueAt(int position) const {
    if (maximumPosition_ == 0) {
        return range_.lower;
    }
    const int clampedPosition = std::clamp(position, 0, maximumPosition_);
    if (clampedPosition == maximumPosition_) {
        return range_.upper;
    }
    const double value = onGrid(range_.lower + clampedPosition * step_, decimals_);
    return std::min(value, range_.upper);
}

double SliderScale::nudged(double value, double delta) const {
    const double start = clamped(value);
    if (!std::isfinite(delta)) {
        return start;
    }
    return clamped(onGrid(start + delta, commonDecimals(start, delta)));
}

} // namespace ravolet
