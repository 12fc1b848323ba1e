#include "Core/Easing.hpp"

#include <cstdint>
#include <cstring>

namespace ravolet {

namespace {

// The cube root of a non-negative number, to about 1e-14: a first estimate
// from the exponent (a third of the bits), then two of Halley's steps. A few
// times quicker than std::cbrt, which a glide would call once per step.
double cubeRoot(double a) {
    if (!(a > 0)) return 0;
    std::uint64_t bits = 0;
    std::memcpy(&bits, &a, sizeof bits);
    bits = bits / 3 + 0x2A9F789300000000ull;
    double y = 0;
    std::memcpy(&y, &bits, sizeof y);
    for (int step = 0; step < 2; ++step) {
        const double cube = y * y * y;
        y = y * (cube + 2 * a) / (2 * cube + a);
    }
    return y;
}

} // namespace

double easingProgress(Easing easing, double eased) {
    double v = eased;
    if (!(v > 0)) v = 0;
    if (v > 1) v = 1;
    switch (easing) {
    case Easing::linear: return v;
    case Easing::easeOut: return 1 - cubeRoot(1 - v);
    case Easing::easeInOut:
        if (v < 0.5) return cubeRoot(v / 4);
        return 1 - cubeRoot(2 * (1 - v)) / 2;
    }
    return v;
}

} // namespace ravolet
