#include "RavoletApp/Model/MenuBarState.hpp"

#include <ostream>
#include <vector>

#include "RavoletApp/ViewModels/AccessRemedy.hpp"

namespace ravolet {

namespace {

bool bothGranted(const PermissionState& permissions) { return permissions.accessibility && permissions.inputMonitoring; }

} // namespace

MenuBarState MenuBarState::of(const PermissionState& permissions, bool isPausedByUser, const EngineStatus& status,
                              bool mouseIsSimulated) {
    if (!bothGranted(permissions))
        return {"exclamationmark.triangle.fill", "Needs permission to run", "Missing: " + AccessRemedy::missingGrants(permissions)};
    if (isPausedByUser) return {"pause.circle", "Paused", "Your mouse behaves exactly as your desktop ships it"};
    // The symbol tells only whether the mouse is there, not whether the tap runs.
    const std::string symbol = status.targetDeviceAttached ? "computermouse.fill" : "computermouse";
    if (!status.targetDeviceAttached) {
        return {symbol, status.isTapEnabled ? "Waiting for your mouse" : "Not running",
                "No Logitech mouse is plugged in"};
    }
    std::optional<std::string> detail;
    if (status.lastCommandFailure) {
        detail = commandFailureSentence(*status.lastCommandFailure);
    } else if (mouseIsSimulated) {
        detail = "On a simulated mouse";
    }
    return {symbol, status.isTapEnabled ? "Active" : "Not running", std::move(detail)};
}

std::string commandFailureSentence(const CommandFailure& failure) {
    return "\u201C" + failure.commandLine + "\u201D did not start: " + failure.problem;
}

std::ostream& operator<<(std::ostream& os, const MenuBarState& state) {
    os << state.symbol << " | " << state.headline;
    if (state.detail) os << " | " << *state.detail;
    return os;
}

bool needsBanner(const std::optional<ConfigStore::Problem>& problem, const PermissionState& permissions,
                 bool isPausedByUser, const StorageNotices& storage) {
    return problem.has_value() || storage.any() || !bothGranted(permissions) || isPausedByUser;
}

} // namespace ravolet
