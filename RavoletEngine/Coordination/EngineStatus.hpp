#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "Core/Profile.hpp"
#include "HIDPlusPlus/HIDPPConnectionState.hpp"
#include "Platform/Workspace.hpp"
#include "RavoletEngine/Coordination/PermissionState.hpp"
#include "RavoletEngine/Coordination/PointerTuningStatus.hpp"
#include "RavoletEngine/Coordination/SettingsApplyState.hpp"
#include "RavoletEngine/EventPath/ButtonPipeline.hpp"
#include "RavoletEngine/EventPath/DeviceScope.hpp"
#include "RavoletEngine/EventPath/PointerPipeline.hpp"
#include "RavoletEngine/EventPath/ScrollPipeline.hpp"
#include "RavoletEngine/EventPath/TapDisableReason.hpp"
#include "RavoletEngine/EventPath/TapMetrics.hpp"

namespace ravolet {

// A command a button ran that did not start, with why in words. The number
// counts the failures of this engine, so that the same one again is news.
struct CommandFailure {
    std::string commandLine;
    std::string problem;
    std::uint64_t number = 0;
    friend bool operator==(const CommandFailure&, const CommandFailure&) = default;
};

// Everything the engine publishes about itself, as one value. The engine
// changes fields one at a time and publishes only when the value differs from
// the last one published, so equality covers every field.
struct EngineStatus {
    // Started and not stopped since.
    bool isRunning = false;
    // A tap exists and the host reported it enabled at the last refresh.
    bool isTapEnabled = false;
    PermissionState permissions;
    std::string activeProfileID{Profile::defaultProfileID};
    std::string activeProfileName = "Default";
    // As the profile watcher last reported it; absent when no application or
    // no identifier is known (which is not the same as an empty identifier).
    std::optional<std::string> frontmostBundleID;
    // Where the desktop tells which application is in front, and whether it
    // can: the Profiles page says what is missing where it cannot.
    platform::FrontmostTracking frontmostTracking;
    // The device scope holds at least one HID service of the target mouse.
    bool targetDeviceAttached = false;
    // The settings applier's state as last copied.
    SettingsApplyState deviceSettings = SettingsApplyState::idle();
    // Pointer hardware tuning's status as last copied.
    PointerTuningStatus pointerTuning;
    HIDPPConnectionState hidConnection = HIDPPConnectionState::disconnected();
    TapMetrics tap;
    DeviceScope::Counters scope;
    ScrollPipeline::Metrics scroll;
    PointerPipeline::Metrics pointer;
    ButtonPipeline::Metrics buttons;
    // Names of the private functions that could not be loaded.
    std::vector<std::string> missingSPISymbols;
    std::optional<TapDisableReason> lastTapDisableReason;
    // The last failure in words, such as "configuration is disabled".
    std::optional<std::string> lastError;
    // The last command a button ran, when it did not start; cleared by one
    // that starts.
    std::optional<CommandFailure> lastCommandFailure;

    friend bool operator==(const EngineStatus&, const EngineStatus&) = default;
    friend std::ostream& operator<<(std::ostream& os, const EngineStatus& s);
};

} // namespace ravolet

template <>
struct std::hash<ravolet::EngineStatus> {
    std::size_t operator()(const ravolet::EngineStatus& s) const noexcept;
};
