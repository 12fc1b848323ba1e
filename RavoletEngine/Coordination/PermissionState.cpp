#include "RavoletEngine/Coordination/PermissionState.hpp"

#include "Support/ValueSupport.hpp"

namespace ravolet {

PermissionState PermissionState::current(const platform::PermissionProbe& probe) {
    PermissionState state;
    state.accessibility = probe.isAccessibilityTrusted();
    state.inputMonitoring = probe.canListenToEvents();
    const platform::HIDAccessType hid = probe.hidListenAccess();
    state.hidInputMonitoring = hid == platform::HIDAccessType::granted  ? HIDPPInputMonitoringAccess::granted
                               : hid == platform::HIDAccessType::denied ? HIDPPInputMonitoringAccess::denied
                                                                        : HIDPPInputMonitoringAccess::unknown;
    state.closedPostingNodes = probe.closedPostingNodes();
    state.closedListeningNodes = probe.closedListeningNodes();
    state.postingDeviceMissing = probe.isPostingDeviceMissing();
    state.waitingForMouse = probe.isWaitingForMouse();
    return state;
}

std::ostream& operator<<(std::ostream& os, const PermissionState& p) {
    return os << "PermissionState(accessibility " << p.accessibility << ", inputMonitoring " << p.inputMonitoring
              << ", hid " << p.hidInputMonitoring << (p.waitingForMouse ? ", waiting for the mouse" : "")
              << (p.postingDeviceMissing ? ", no posting device" : "") << ')';
}

} // namespace ravolet

std::size_t std::hash<ravolet::PermissionState>::operator()(const ravolet::PermissionState& p) const noexcept {
    return ravolet::hashFields(p.accessibility, p.inputMonitoring, p.hidInputMonitoring);
}
