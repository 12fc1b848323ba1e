#include "RavoletEngine/Coordination/PointerTuningStatus.hpp"

#include <ostream>

namespace ravolet {

std::ostream& operator<<(std::ostream& os, PointerTuningRestoreReason reason) { return os << toString(reason); }

std::ostream& operator<<(std::ostream& os, const PointerTuningRequest& request) {
    os << "PointerTuningRequest(isPermitted " << request.isPermitted << ", deviceDPI ";
    if (request.deviceDPI)
        os << *request.deviceDPI;
    else
        os << "none";
    return os << ')';
}

std::optional<double> PointerTuningStatus::capturedResolutionCPI() const {
    return capture ? capture->resolutionCPI() : std::nullopt;
}

std::optional<double> PointerTuningStatus::appliedResolutionCPI() const {
    return appliedResolution ? std::optional(cpiFromFixed(*appliedResolution)) : std::nullopt;
}

std::optional<double> PointerTuningStatus::overestimateFactor() const {
    const auto applied = appliedResolutionCPI();
    const auto captured = capturedResolutionCPI();
    if (!applied || !captured || *captured <= 0) return std::nullopt;
    return *applied / *captured;
}

bool PointerTuningStatus::accelerationIsLinearised() const {
    return isApplied && lastReadBackAcceleration && *lastReadBackAcceleration < 0;
}

namespace {

template <class T>
void field(std::ostream& os, const char* name, const std::optional<T>& value) {
    if (value) os << ", " << name << ' ' << *value;
}

} // namespace

std::ostream& operator<<(std::ostream& os, const PointerTuningStatus& s) {
    os << "PointerTuningStatus(supported " << s.isSupported << ", enabled " << s.isEnabled << ", permitted "
       << s.isPermitted << ", applied " << s.isApplied;
    field(os, "target", s.target);
    field(os, "capture", s.capture);
    field(os, "appliedResolution", s.appliedResolution);
    field(os, "appliedAcceleration", s.appliedAcceleration);
    field(os, "resolutionWrite", s.resolutionWrite);
    field(os, "accelerationWrite", s.accelerationWrite);
    field(os, "readBackResolution", s.lastReadBackResolution);
    field(os, "readBackAcceleration", s.lastReadBackAcceleration);
    field(os, "lastRestoreReason", s.lastRestoreReason);
    os << ", recovered " << s.recoveredStrandedCapture << ", restoreFailed " << s.restoreFailed;
    for (const auto& key : s.restoreFailedKeys) os << ' ' << key;
    os << ", pending " << s.restorePending << ", waiting " << s.isWaitingForDevice << ", changedOutside "
       << s.changedOutside << ", waitingForDesktop " << s.isWaitingForDesktop;
    field(os, "currentReading", s.currentReading);
    field(os, "lastError", s.lastError);
    return os << ')';
}

} // namespace ravolet
