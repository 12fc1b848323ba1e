#include "RavoletEngine/Coordination/EngineStatus.hpp"

#include "Support/ValueSupport.hpp"

namespace ravolet {

std::ostream& operator<<(std::ostream& os, const EngineStatus& s) {
    os << "EngineStatus(running " << s.isRunning << ", tap " << s.isTapEnabled << ", " << s.permissions << ", profile "
       << s.activeProfileID << " \"" << s.activeProfileName << "\", frontmost "
       << (s.frontmostBundleID ? '"' + *s.frontmostBundleID + '"' : std::string("-")) << " from "
       << platform::toString(s.frontmostTracking.source) << ' ' << platform::toString(s.frontmostTracking.state)
       << (s.frontmostTracking.unmatchedWindowClass ? " class " + *s.frontmostTracking.unmatchedWindowClass : "")
       << ", attached "
       << s.targetDeviceAttached << ", device " << s.deviceSettings << ", " << s.pointerTuning << ", hid " << s.hidConnection << ", " << s.tap
       << ", " << s.scope << ", " << s.scroll << ", " << s.pointer << ", " << s.buttons << ", missing [";
    for (const std::string& name : s.missingSPISymbols) os << ' ' << name;
    os << " ], disabled ";
    if (s.lastTapDisableReason) {
        os << *s.lastTapDisableReason;
    } else {
        os << '-';
    }
    os << ", error " << s.lastError.value_or("-");
    if (s.lastCommandFailure)
        os << ", command \"" << s.lastCommandFailure->commandLine << "\" failed #" << s.lastCommandFailure->number << ": "
           << s.lastCommandFailure->problem;
    return os << ')';
}

} // namespace ravolet

std::size_t std::hash<ravolet::EngineStatus>::operator()(const ravolet::EngineStatus& s) const noexcept {
    std::size_t symbols = s.missingSPISymbols.size();
    for (const std::string& name : s.missingSPISymbols) symbols = ravolet::hashCombine(symbols, std::hash<std::string>{}(name));
    const auto& tracking = s.frontmostTracking;
    const std::size_t front = ravolet::hashFields(static_cast<int>(tracking.source), static_cast<int>(tracking.state),
                                                  tracking.unmatchedWindowClass);
    return ravolet::hashCombine(
        ravolet::hashCombine(
            ravolet::hashFields(s.isRunning, s.isTapEnabled, s.permissions, s.activeProfileID, s.activeProfileName,
                                s.frontmostBundleID, s.targetDeviceAttached, s.deviceSettings, s.pointerTuning,
                                s.hidConnection, s.tap, s.scope, s.scroll, s.pointer, s.buttons),
            front),
        ravolet::hashCombine(symbols, ravolet::hashFields(s.lastTapDisableReason, s.lastError,
                                                          s.lastCommandFailure ? s.lastCommandFailure->number : 0)));
}
