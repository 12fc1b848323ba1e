#include "RavoletEngine/Coordination/SettingsApplyState.hpp"

#include <fmt/format.h>

#include "Support/ValueSupport.hpp"

namespace ravolet {

std::string SettingsApplyState::description() const {
    return std::visit(Overloaded{
                          [](const Idle&) -> std::string { return "idle"; },
                          [](const Applying&) -> std::string { return "applying"; },
                          [](const Applied& a) -> std::string {
                              return a.dpi ? fmt::format("applied(dpi: {})", *a.dpi) : "applied(dpi: -)";
                          },
                          [](const NotPermitted&) -> std::string { return "notPermitted (grant Mouse Access)"; },
                          [](const Failed& f) { return fmt::format("failed({})", f.message); },
                      },
                      value);
}

} // namespace ravolet

std::size_t std::hash<ravolet::SettingsApplyState>::operator()(const ravolet::SettingsApplyState& s) const noexcept {
    using State = ravolet::SettingsApplyState;
    std::size_t seed = std::hash<std::size_t>{}(s.value.index());
    if (const auto* applied = std::get_if<State::Applied>(&s.value)) {
        seed = ravolet::hashCombine(seed, applied->dpi.has_value());
        if (applied->dpi) seed = ravolet::hashCombine(seed, std::hash<std::int64_t>{}(*applied->dpi));
    } else if (const auto* failed = std::get_if<State::Failed>(&s.value)) {
        seed = ravolet::hashCombine(seed, std::hash<std::string>{}(failed->message));
    }
    return seed;
}
