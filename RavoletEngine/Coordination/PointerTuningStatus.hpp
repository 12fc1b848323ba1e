#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Core/RawValueEnum.hpp"
#include "RavoletEngine/Coordination/PointerPropertyWrite.hpp"
#include "RavoletEngine/Coordination/PointerServiceIdentity.hpp"
#include "RavoletEngine/Coordination/PointerTuningCapture.hpp"
#include "Support/ValueSupport.hpp"

namespace ravolet {

// Why the last restore of the pointer properties happened.
enum class PointerTuningRestoreReason {
    engineStopped,
    switchedOff,
    notRequested,
    strandedCaptureRecovered,
    targetDisappeared,
};

inline constexpr std::array<std::string_view, 5> pointerTuningRestoreReasonRawValues{
    "engineStopped", "switchedOff", "notRequested", "strandedCaptureRecovered", "targetDisappeared"};

constexpr std::string_view toString(PointerTuningRestoreReason reason) {
    return enumRawValue(pointerTuningRestoreReasonRawValues, reason);
}
constexpr std::optional<PointerTuningRestoreReason> pointerTuningRestoreReasonFromString(std::string_view raw) {
    return enumFromRawValue<PointerTuningRestoreReason>(pointerTuningRestoreReasonRawValues, raw);
}
std::ostream& operator<<(std::ostream& os, PointerTuningRestoreReason reason);

// What the engine allows: whether tuning may be in force, and the DPI the
// mouse last reported (absent when the sender does not know it).
struct PointerTuningRequest {
    bool isPermitted = false;
    std::optional<std::int64_t> deviceDPI;

    PointerTuningRequest() = default;
    PointerTuningRequest(bool isPermitted, std::optional<std::int64_t> deviceDPI = std::nullopt)
        : isPermitted(isPermitted), deviceDPI(deviceDPI) {}

    friend bool operator==(const PointerTuningRequest&, const PointerTuningRequest&) = default;
};

std::ostream& operator<<(std::ostream& os, const PointerTuningRequest& request);

// Everything the engine and the Pointer page show about pointer hardware tuning.
struct PointerTuningStatus {
    // The backend can write properties; fixed at construction.
    bool isSupported = false;
    // The user's switch.
    bool isEnabled = false;
    // The last request's permission.
    bool isPermitted = false;
    // At least one override is in force (also while a failed restore left it so).
    bool isApplied = false;
    // The service chosen by the last apply.
    std::optional<PointerServiceIdentity> target;
    // The originals held for restore.
    std::optional<PointerTuningCapture> capture;
    std::optional<std::int64_t> appliedResolution;
    // Always -65536 when present.
    std::optional<std::int64_t> appliedAcceleration;
    std::optional<PointerPropertyWrite> resolutionWrite;
    std::optional<PointerPropertyWrite> accelerationWrite;
    std::optional<std::int64_t> lastReadBackResolution;
    std::optional<std::int64_t> lastReadBackAcceleration;
    std::optional<PointerTuningRestoreReason> lastRestoreReason;
    // A capture left by an earlier run was found at construction.
    bool recoveredStrandedCapture = false;
    bool restoreFailed = false;
    // The keys the last restore could not put back, in write order.
    std::vector<std::string> restoreFailedKeys;
    // Originals held that could not be read back yet, so whether they went
    // back is not known: the desktop does not list the device now. Kept on
    // disk and tried again when it does.
    bool restorePending = false;
    // Tuning would be in force but the desktop lists no pointer of the mouse's.
    bool isWaitingForDevice = false;
    // The desktop's setting was changed away from Ravolet's while tuning was
    // in force (in the desktop's own settings, or by a reload of them): it is
    // left as it is until the mouse reconnects, its DPI changes or the user
    // switches tuning on again.
    bool changedOutside = false;
    // An operation has been waiting on the desktop for a while: the desktop
    // is slow or stopped, and the other fields may be out of date until it
    // answers. Set by the tuner's interface side only, never by its work.
    bool isWaitingForDesktop = false;
    // The device's values as last read on request; never persisted.
    std::optional<PointerTuningCapture> currentReading;
    // The last user-facing problem.
    std::optional<std::string> lastError;

    // The captured resolution in counts per inch.
    std::optional<double> capturedResolutionCPI() const;
    std::optional<double> appliedResolutionCPI() const;
    // Applied over captured resolution, when both exist and the captured one is positive.
    std::optional<double> overestimateFactor() const;
    // Applied, with a negative acceleration read back.
    bool accelerationIsLinearised() const;

    friend bool operator==(const PointerTuningStatus&, const PointerTuningStatus&) = default;
};

std::ostream& operator<<(std::ostream& os, const PointerTuningStatus& status);

} // namespace ravolet

template <>
struct std::hash<ravolet::PointerTuningRequest> {
    std::size_t operator()(const ravolet::PointerTuningRequest& r) const noexcept {
        return ravolet::hashFields(r.isPermitted, r.deviceDPI);
    }
};

template <>
struct std::hash<ravolet::PointerTuningStatus> {
    std::size_t operator()(const ravolet::PointerTuningStatus& s) const noexcept {
        std::size_t seed = ravolet::hashFields(s.isSupported, s.isEnabled, s.isPermitted, s.isApplied, s.target, s.capture,
                                               s.appliedResolution, s.appliedAcceleration, s.resolutionWrite,
                                               s.accelerationWrite, s.lastReadBackResolution, s.lastReadBackAcceleration,
                                               s.lastRestoreReason, s.recoveredStrandedCapture, s.restoreFailed,
                                               s.restorePending, s.isWaitingForDevice, s.changedOutside,
                                               s.isWaitingForDesktop);
        for (const auto& key : s.restoreFailedKeys) ravolet::hashCombineInPlace(seed, key);
        return ravolet::hashCombine(seed, ravolet::hashFields(s.currentReading, s.lastError));
    }
};
