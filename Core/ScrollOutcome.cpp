#include "Core/ScrollOutcome.hpp"

#include <ostream>

#include "Core/Hashing.hpp"

namespace ravolet {

std::ostream& operator<<(std::ostream& os, const ScrollOutcome& outcome) {
    if (const ScrollInput* input = outcome.passedInput()) return os << "passThrough(" << *input << ")";
    if (const ScrollPlan* plan = outcome.plan()) return os << "animate(" << *plan << ")";
    return os << "ignore";
}

} // namespace ravolet

std::size_t std::hash<ravolet::ScrollOutcome>::operator()(const ravolet::ScrollOutcome& o) const noexcept {
    std::size_t seed = ravolet::hashValues(o.value.index());
    if (const ravolet::ScrollInput* input = o.passedInput()) ravolet::hashCombine(seed, *input);
    if (const ravolet::ScrollPlan* plan = o.plan()) ravolet::hashCombine(seed, *plan);
    return seed;
}
