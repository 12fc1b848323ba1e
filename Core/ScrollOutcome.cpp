#include "Core/ScrollOutcome.hpp"

#include <ostream>

#include "Support/ValueSupport.hpp"

namespace ravolet {

std::ostream& operator<<(std::ostream& os, const ScrollOutcome& outcome) {
    if (const ScrollInput* input = outcome.passedInput()) return os << "passThrough(" << *input << ")";
    if (const ScrollPlan* plan = outcome.plan()) return os << "animate(" << *plan << ")";
    return os << "ignore";
}

} // namespace ravolet

std::size_t std::hash<ravolet::ScrollOutcome>::operator()(const ravolet::ScrollOutcome& o) const noexcept {
    std::size_t seed = ravolet::hashFields(o.value.index());
    if (const ravolet::ScrollInput* input = o.passedInput()) seed = ravolet::hashCombine(seed, std::hash<ravolet::ScrollInput>{}(*input));
    if (const ravolet::ScrollPlan* plan = o.plan()) seed = ravolet::hashCombine(seed, std::hash<ravolet::ScrollPlan>{}(*plan));
    return seed;
}
