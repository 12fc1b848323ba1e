#include "Core/PointerAcceleration.hpp"

#include <ostream>

#include "Support/ValueSupport.hpp"

namespace ravolet {

Json PointerAcceleration::toJson() const {
    if (const Curve* c = curveParameters()) {
        return jsonCase("curve", Json{{"exponent", c->exponent},
                                      {"thresholdCountsPerSecond", c->thresholdCountsPerSecond},
                                      {"maxGain", c->maxGain}});
    }
    return jsonCase("off");
}

PointerAcceleration PointerAcceleration::fromJson(const JsonValue& v) {
    const auto [name, payload] = v.singleCase({"off", "curve"});
    if (name == "off") {
        // The payload carries nothing; only its kind is checked.
        if (!payload.raw().is_object()) payload.typeMismatch("an object");
        return off();
    }
    return curve(payload["exponent"].asDouble(), payload["thresholdCountsPerSecond"].asDouble(),
                 payload["maxGain"].asDouble());
}

std::ostream& operator<<(std::ostream& os, const PointerAcceleration& acceleration) {
    return os << acceleration.toJson().dump();
}

} // namespace ravolet

std::size_t std::hash<ravolet::PointerAcceleration>::operator()(const ravolet::PointerAcceleration& a) const noexcept {
    if (const auto* c = a.curveParameters()) {
        return ravolet::hashFields(a.value.index(), c->exponent, c->thresholdCountsPerSecond, c->maxGain);
    }
    return ravolet::hashFields(a.value.index());
}
