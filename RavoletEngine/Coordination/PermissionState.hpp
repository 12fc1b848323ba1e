#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "HIDPlusPlus/HIDPPConnectionState.hpp"
#include "Platform/PermissionProbe.hpp"

namespace ravolet {

// The three grants the program depends on.
struct PermissionState {
    // Trusted for Accessibility (needed to create an active event tap).
    bool accessibility = false;
    // May listen to input events.
    bool inputMonitoring = false;
    // The HID layer's access for listening; needed to open the mouse's HID++ interface.
    HIDPPInputMonitoringAccess hidInputMonitoring = HIDPPInputMonitoringAccess::unknown;
    // The device nodes still closed to the process, for telling the user what
    // is missing: those needed to post input, and the mouse's own.
    std::vector<std::string> closedPostingNodes{};
    std::vector<std::string> closedListeningNodes{};
    // The device posting needs is not there at all (its kernel module is not
    // loaded), rather than closed.
    bool postingDeviceMissing = false;
    // The mouse is not there to be judged: listening counts as granted until it comes.
    bool waitingForMouse = false;

    // The grants as the host answers them now, asked in that order. Never
    // prompts. Callable on any thread.
    static PermissionState current(const platform::PermissionProbe& probe);

    // An active tap needs both Accessibility and event listening; the HID
    // layer's access plays no part.
    bool canRunActiveTap() const { return accessibility && inputMonitoring; }

    friend bool operator==(const PermissionState&, const PermissionState&) = default;
    friend std::ostream& operator<<(std::ostream& os, const PermissionState& p);
};

} // namespace ravolet

template <>
struct std::hash<ravolet::PermissionState> {
    std::size_t operator()(const ravolet::PermissionState& p) const noexcept;
};
