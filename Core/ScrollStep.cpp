#include "Core/ScrollStep.hpp"

#include <ostream>

#include <fmt/format.h>

namespace ravolet {

std::ostream& operator<<(std::ostream& os, const ScrollStep& step) {
    os << fmt::format("ScrollStep({} ms, {} px, {}{}", step.offsetMillis, step.pixelDelta, toString(step.phase),
                      step.isContinuous ? "" : ", not continuous");
    if (step.modifiers) os << ", modifiers " << step.modifiers->rawValue;
    return os << ")";
}

} // namespace ravolet
