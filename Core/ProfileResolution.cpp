#include "Core/ProfileResolution.hpp"

#include <ostream>

#include <fmt/format.h>

#include "Support/ValueSupport.hpp"

namespace ravolet {

std::string ProfileResolution::description() const {
    return fmt::format("ProfileResolution(profileID: \"{}\", matchedRule: {})", profileID,
                       matchedRule ? matchedRule->description() : std::string("nil"));
}

std::ostream& operator<<(std::ostream& os, const ProfileResolution& r) { return os << r.description(); }

} // namespace ravolet

std::size_t std::hash<ravolet::ProfileResolution>::operator()(const ravolet::ProfileResolution& r) const noexcept {
    return ravolet::hashFields(r.profileID, r.matchedRule);
}
