#include "Core/RepeatToken.hpp"

#include <ostream>

#include <fmt/format.h>

#include "Support/ValueSupport.hpp"

namespace ravolet {

std::ostream& operator<<(std::ostream& os, const RepeatToken& token) {
    return os << "RepeatToken(id: " << token.id << ", step: " << token.step
              << fmt::format(", intervalMillis: {}, startedAtMillis: {})", token.intervalMillis, token.startedAtMillis);
}

} // namespace ravolet

std::size_t std::hash<ravolet::RepeatToken>::operator()(const ravolet::RepeatToken& token) const noexcept {
    return ravolet::hashFields(token.id, token.step, token.intervalMillis, token.startedAtMillis);
}
