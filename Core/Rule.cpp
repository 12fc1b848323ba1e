#include "Core/Rule.hpp"

#include <ostream>

#include <fmt/format.h>

#include "Support/ValueSupport.hpp"

namespace ravolet {

Rule::Rule(std::string id, BundleIDPattern pattern, std::string profileID, std::int64_t priority, bool isEnabled)
    : id(std::move(id)), pattern(std::move(pattern)), profileID(std::move(profileID)), priority(priority), isEnabled(isEnabled) {}

Json Rule::toJson() const {
    return Json{
        {"id", id},
        {"pattern", pattern.toJson()},
        {"profileID", profileID},
        {"priority", priority},
        {"isEnabled", isEnabled},
    };
}

Rule Rule::fromJson(const JsonValue& v) {
    return Rule(v["id"].asString(), BundleIDPattern::fromJson(v["pattern"]), v["profileID"].asString(),
                v["priority"].asInteger<std::int64_t>(), v["isEnabled"].asBool());
}

std::string Rule::description() const {
    return fmt::format("Rule(id: \"{}\", pattern: {}, profileID: \"{}\", priority: {}, isEnabled: {})", id,
                       pattern.description(), profileID, priority, isEnabled);
}

std::ostream& operator<<(std::ostream& os, const Rule& r) { return os << r.description(); }

} // namespace ravolet

std::size_t std::hash<ravolet::Rule>::operator()(const ravolet::Rule& r) const noexcept {
    return ravolet::hashFields(r.id, r.pattern, r.profileID, r.priority, r.isEnabled);
}
