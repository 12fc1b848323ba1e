#include "HIDPlusPlus/HIDPPConnectionState.hpp"

#include <fmt/format.h>

#include "HIDPlusPlus/HIDPPText.hpp"

namespace ravolet {

std::string HIDPPConnectionState::description() const {
    if (const auto* c = std::get_if<Connected>(&value)) return "connected(" + c->identity.productText() + ")";
    if (std::holds_alternative<Disconnected>(value)) return "disconnected";
    return "notPermitted";
}

std::string HIDPPEvent::description() const {
    struct Describe {
        std::string operator()(const DeviceAttached& e) const { return "deviceAttached(" + e.identity.productText() + ")"; }
        std::string operator()(const DeviceReady& e) const { return "deviceReady(" + e.identity.productText() + ")"; }
        std::string operator()(const StateChanged& e) const { return "stateChanged(" + e.state.description() + ")"; }
        std::string operator()(const Notification& e) const {
            return fmt::format("notification(feature 0x{:02X} fn 0x{:02X} {})", e.featureIndex, e.functionByte,
                               hidppHexBytes(e.payload, " "));
        }
        std::string operator()(const DeviceRemoved&) const { return "deviceRemoved"; }
        std::string operator()(const Retrying& e) const { return e.retrying ? "retrying" : "retrying(stopped)"; }
    };
    return std::visit(Describe{}, value);
}

std::string_view description(HIDPPInputMonitoringAccess access) {
    switch (access) {
    case HIDPPInputMonitoringAccess::granted: return "granted";
    case HIDPPInputMonitoringAccess::denied: return "denied";
    case HIDPPInputMonitoringAccess::unknown: break;
    }
    return "unknown (never requested)";
}

std::ostream& operator<<(std::ostream& os, HIDPPInputMonitoringAccess access) { return os << description(access); }

} // namespace ravolet

std::size_t std::hash<ravolet::HIDPPConnectionState>::operator()(const ravolet::HIDPPConnectionState& s) const noexcept {
    if (const auto* c = std::get_if<ravolet::HIDPPConnectionState::Connected>(&s.value)) {
        return ravolet::hashFields(s.value.index(), c->identity);
    }
    return std::hash<std::size_t>{}(s.value.index());
}

std::size_t std::hash<ravolet::HIDPPEvent>::operator()(const ravolet::HIDPPEvent& e) const noexcept {
    using E = ravolet::HIDPPEvent;
    struct Payload {
        std::size_t operator()(const E::DeviceAttached& p) const { return ravolet::hashFields(p.identity); }
        std::size_t operator()(const E::DeviceReady& p) const { return ravolet::hashFields(p.identity); }
        std::size_t operator()(const E::StateChanged& p) const { return ravolet::hashFields(p.state); }
        std::size_t operator()(const E::Notification& p) const {
            return ravolet::hashFields(p.featureIndex, p.functionByte, std::string(p.payload.begin(), p.payload.end()));
        }
        std::size_t operator()(const E::DeviceRemoved&) const { return 0; }
        std::size_t operator()(const E::Retrying& p) const { return ravolet::hashFields(p.retrying); }
    };
    return ravolet::hashFields(e.value.index(), std::visit(Payload{}, e.value));
}
