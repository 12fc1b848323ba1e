#include "Core/Easing.hpp"

namespace ravolet {

double easingValue(Easing easing, double progress) {
    double p = progress;
    if (!(p > 0)) p = 0;  // at or below 0 (and NaN) start the curve
    if (p > 1) p = 1;
    switch (easing) {
    case Easing::linear: return p;
    case Easing::easeOut: {
        const double q = 1 - p;
        return 1 - q * q * q;
    }
    case Easing::easeInOut: {
        if (p < 0.5) return 4 * p * p * p;
        const double q = 2 - 2 * p;
        return 1 - q * q * q / 2;
    }
    }
    return p;
}

} // namespace ravolet
