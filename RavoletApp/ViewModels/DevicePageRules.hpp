#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "RavoletApp/Model/DeviceMonitor.hpp"
#include "RavoletApp/ViewModels/PageFacts.hpp"
#include "RavoletEngine/Coordination/EngineStatus.hpp"
#include "RavoletEngine/Coordination/PermissionState.hpp"
#include "RavoletEngine/Coordination/SettingsApplyState.hpp"

namespace ravolet {

// ---- Connection ----

// The mouse that is there but does not answer yet reads as such, waiting.
PageStatusLine connectionStatus(const DeviceMonitor::Snapshot& snapshot);
std::string connectionExplanation(const DeviceMonitor::Snapshot& snapshot);
// Model, maker, USB identifiers and serial number (identity), then the
// firmware's name, the protocol, the transports and the unit: each only once read.
std::vector<PageFact> connectionFacts(const DeviceMonitor::Snapshot& snapshot);
// "046D:C099".
std::string usbIdentifiers(std::int64_t vendorID, std::int64_t productID);
// The ways the mouse says it can be connected: "USB", "Bluetooth, USB".
std::string transportsText(const HIDPPTransports& transports);

// ---- Settings in the mouse ----

// The DPI row always, "—" until read; every other row only once read.
std::vector<PageFact> mouseSettingsFacts(const DeviceMonitor::Snapshot& snapshot);
// Whether the time the mouse was last read is worth showing: only when it was
// read, that is while connected.
bool showsLastRead(const DeviceMonitor::Snapshot& snapshot);

// ---- What the engine is doing ----

// Watching, or why not: the grants missing, else the engine's last error.
PageStatusLine tapStatus(const EngineStatus& status, const PermissionState& permissions);
// "Applying settings": what the last write to the mouse came to, in a few
// words ("On the mouse, 800 DPI"), and the sentence under it.
std::string applyStateText(const SettingsApplyState& state);
std::string applyStateHelp(const SettingsApplyState& state);
// "1.23 ms".
std::string slowestMomentText(double maxCallbackNanos);
// The counters of the event stream; the cut-off row only once the stream has cut it off.
std::vector<PageFact> engineActivityFacts(const EngineStatus& status, bool isPausedByUser);

// ---- Warnings ----

std::optional<PageNotice> compatibilityNotice(const std::vector<std::string>& missingSymbols);
// Why the mouse's HID++ interface cannot be opened, what opens it, and the
// nodes still closed.
PageNotice hardwareAccessNotice(const PermissionState& permissions);
// The write that failed last, else the snapshot's last problem.
std::optional<std::string> lastProblem(const std::optional<std::string>& lastWriteError,
                                       const std::optional<std::string>& snapshotError);

} // namespace ravolet
