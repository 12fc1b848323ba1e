#include "Core/ScrollPlan.hpp"

#include <ostream>

#include <fmt/format.h>

#include "Support/ValueSupport.hpp"

namespace ravolet {

std::ostream& operator<<(std::ostream& os, const ScrollPlan& plan) {
    os << fmt::format("ScrollPlan(id: {}, axis: {}, modifiers: {}, deviceID: {}, start: {}, duration: {}, total: {}, "
                      "supersedes: {}, transition: {}, easingStart: {}, frame: {}, firstFrame: {}, steps: [",
                      plan.id, toString(plan.axis), plan.modifiers.rawValue, plan.deviceID.rawValue,
                      plan.startTimestampMillis, plan.durationMillis, plan.totalPixelDelta,
                      plan.supersedes ? fmt::to_string(*plan.supersedes) : "none", toString(plan.gestureTransition),
                      plan.easingStartProgress, plan.frameIntervalMillis, plan.firstFrameOffsetMillis);
    for (const ScrollStep& step : plan.steps) os << "\n  " << step;
    return os << "])";
}

} // namespace ravolet

std::size_t std::hash<ravolet::ScrollPlan>::operator()(const ravolet::ScrollPlan& p) const noexcept {
    std::size_t seed = ravolet::hashFields(p.id, p.axis, p.modifiers, p.deviceID, p.startTimestampMillis,
                                           p.durationMillis, p.totalPixelDelta, p.supersedes, p.gestureTransition,
                                           p.easingStartProgress, p.frameIntervalMillis, p.firstFrameOffsetMillis);
    return ravolet::hashCombine(seed, p.steps.hash());
}
