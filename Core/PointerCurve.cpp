#include "Core/PointerCurve.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <ostream>

#include "Core/Clamp.hpp"

namespace ravolet {

namespace {

constexpr double epsilon = std::numeric_limits<double>::epsilon();

double baseGain(double sensitivity) { return sensitivity >= 0 ? sensitivity : 0; }

} // namespace

double PointerCurve::gain(double speed) const {
    const double base = baseGain(sensitivity);
    const PointerAcceleration::Curve* c = acceleration.curveParameters();
    if (!c) return base;
    const double threshold = c->thresholdCountsPerSecond <= epsilon ? epsilon : c->thresholdCountsPerSecond;
    if (!(speed > threshold) || !(c->exponent > 0)) return base;
    const double ratio = std::pow(speed / threshold, c->exponent);
    return base * clamp(ratio, 1.0, std::max(c->maxGain, 1.0));
}

PointerDelta PointerCurve::apply(const PointerDelta& delta, double intervalMillis) const {
    if (delta.isZero()) return PointerDelta::zero;
    double g;
    if (!(intervalMillis > 0) || acceleration.isOff()) {
        g = baseGain(sensitivity);
    } else {
        g = gain(delta.magnitude() / (intervalMillis / 1000));
    }
    return {delta.dx * g, delta.dy * g};
}

Json PointerCurve::toJson() const {
    return Json{{"sensitivity", sensitivity}, {"acceleration", acceleration.toJson()}};
}

PointerCurve PointerCurve::fromJson(const JsonValue& v) {
    return PointerCurve{v["sensitivity"].asDouble(), PointerAcceleration::fromJson(v["acceleration"])};
}

std::ostream& operator<<(std::ostream& os, const PointerCurve& curve) {
    return os << "PointerCurve" << curve.toJson().dump();
}

} // namespace ravolet
