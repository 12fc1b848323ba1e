#include "RavoletApp/ViewModels/DevicePageRules.hpp"

#include "RavoletApp/ViewModels/AccessRemedy.hpp"

#include <variant>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "RavoletApp/ViewModels/PointerPageRules.hpp"
#include "Support/ValueSupport.hpp"

namespace ravolet {

PageStatusLine connectionStatus(const DeviceMonitor::Snapshot& snapshot) {
    using enum PageStatusLevel;
    PageStatusLine line = std::visit(
        Overloaded{
            [&](const HIDPPConnectionState::Disconnected&) {
                if (snapshot.isRetrying && !snapshot.isNotPermitted)
                    return PageStatusLine{waiting, "Your mouse has not answered yet"};
                return PageStatusLine{snapshot.isNotPermitted ? bad : waiting, "No Logitech mouse found"};
            },
            [](const HIDPPConnectionState::NotPermitted&) { return PageStatusLine{bad, "Blocked by your computer"}; },
            [&](const HIDPPConnectionState::Connected& connected) {
                return PageStatusLine{snapshot.isNotPermitted ? bad : good,
                                      "Connected to " + connected.identity.product.value_or("your mouse")};
            },
        },
        snapshot.connection.value);
    if (snapshot.isWheelModeAssumed) line.text += " (wheel mode assumed)";
    return line;
}

std::string connectionExplanation(const DeviceMonitor::Snapshot& snapshot) {
    return std::visit(
        Overloaded{
            [&](const HIDPPConnectionState::Disconnected&) -> std::string {
                if (snapshot.isRetrying) {
                    return "Your mouse is plugged in but has not answered Ravolet yet. Ravolet is trying again on its "
                           "own, waiting a little longer each time (up to half a minute), and puts your settings on "
                           "the mouse as soon as it answers.";
                }
                return "Plug the mouse in \u2014 Ravolet notices on its own and will put your settings back within a "
                       "second or two. Only the G502 X on its cable is recognised (USB 046D:C099), not a wireless "
                       "receiver.";
            },
            [](const HIDPPConnectionState::NotPermitted&) -> std::string {
                return "See the note at the top of this page.";
            },
            [](const HIDPPConnectionState::Connected&) -> std::string {
                return "Ravolet is talking to the mouse directly and can read and set the values below.";
            },
        },
        snapshot.connection.value);
}

std::string usbIdentifiers(std::int64_t vendorID, std::int64_t productID) {
    return fmt::format("{:04X}:{:04X}", vendorID, productID);
}

std::string transportsText(const HIDPPTransports& transports) {
    static constexpr std::pair<const HIDPPTransports*, std::string_view> names[] = {
        {&HIDPPTransports::bluetooth, "Bluetooth"},
        {&HIDPPTransports::bluetoothLE, "Bluetooth Low Energy"},
        {&HIDPPTransports::eQuad, "Logitech receiver"},
        {&HIDPPTransports::usb, "USB"},
    };
    std::string text;
    for (const auto& [transport, name] : names) {
        if (!transports.contains(*transport)) continue;
        if (!text.empty()) text += ", ";
        text += name;
    }
    return text.empty() ? "Not reported" : text;
}

std::vector<PageFact> connectionFacts(const DeviceMonitor::Snapshot& snapshot) {
    std::vector<PageFact> facts;
    if (const auto& identity = snapshot.identity) {
        facts.push_back({"Model", identity->product.value_or("Unknown"), std::nullopt});
        facts.push_back({"Made by", identity->manufacturer.value_or("Unknown"), std::nullopt});
        facts.push_back({"USB identifiers", usbIdentifiers(identity->vendorID, identity->productID),
                         "The vendor and product numbers your computer sees. Ravolet only touches devices it "
                         "recognises by these."});
        if (identity->serialNumber) facts.push_back({"Serial number", *identity->serialNumber, std::nullopt});
    }
    if (snapshot.deviceName)
        facts.push_back({"Device says it is", *snapshot.deviceName, "The name held in the mouse's own firmware."});
    if (snapshot.protocolVersion)
        facts.push_back({"HID++ protocol", snapshot.protocolVersion->description(),
                         "The version of Logitech's own protocol your mouse speaks. Ravolet uses it to read and set "
                         "the settings on this page."});
    if (const auto& information = snapshot.information) {
        facts.push_back({"Connected over", transportsText(information->transports), std::nullopt});
        facts.push_back({"Unit ID", information->unitIDHex(), "A stable identifier for this individual mouse."});
    }
    return facts;
}

std::vector<PageFact> mouseSettingsFacts(const DeviceMonitor::Snapshot& snapshot) {
    std::vector<PageFact> facts;
    if (const auto& dpi = snapshot.dpi)
        facts.push_back({"DPI", std::to_string(dpi->current),
                         fmt::format("The mouse's factory value is {}. This is read from the sensor, so it is what "
                                     "the mouse is really running at \u2014 not what Ravolet asked for.",
                                     dpi->defaultDPI)});
    else
        facts.push_back({"DPI", "\u2014", "Not read yet."});
    if (snapshot.dpiRange) facts.push_back({"DPI values it accepts", snapshot.dpiRange->description(), std::nullopt});
    if (const auto& rate = snapshot.reportRate)
        facts.push_back({"Report rate", rate->current.description(), "Supported: " + supportedRatesText(*rate) + "."});
    if (snapshot.wheelMode)
        facts.push_back({"Wheel mode", wheelModeText(*snapshot.wheelMode),
                         "\u201CPlain HID wheel\u201D means the wheel reports the ordinary way and your desktop sees it. "
                         "Ravolet never switches that to the HID++ path, because doing so would make the wheel appear "
                         "dead to every app until Ravolet itself repeated the motion."});
    if (const auto& capability = snapshot.wheelCapability)
        facts.push_back({"High-resolution steps per click", std::to_string(capability->multiplier),
                         capability->hasRatchetSwitch ? "This wheel has a ratchet switch, so it can be freed to spin."
                                                      : "This wheel has no ratchet switch."});
    if (snapshot.ratchet)
        facts.push_back({"Wheel ratchet",
                         *snapshot.ratchet == HIDPPRatchetState::ratchet ? "ratchet (engaged)" : "free-spin",
                         "\u201CRatchet\u201D is the clicky mode; \u201Cfree-spin\u201D is the mode where the wheel "
                         "keeps turning. This was read when the page last refreshed \u2014 press Refresh after "
                         "flicking the switch."});
    return facts;
}

bool showsLastRead(const DeviceMonitor::Snapshot& snapshot) {
    return snapshot.lastRefresh.has_value() && snapshot.connection.isConnected();
}

PageStatusLine tapStatus(const EngineStatus& status, const PermissionState& permissions) {
    if (status.isTapEnabled) return {PageStatusLevel::good, "Watching your mouse"};
    std::string why = AccessRemedy::missingGrants(permissions);
    if (!why.empty()) {
        why = "missing " + why;
    } else if (status.lastError) {
        why = *status.lastError;
    }
    return {PageStatusLevel::bad, why.empty() ? "Not watching" : "Not watching \u2014 " + why};
}

std::string applyStateText(const SettingsApplyState& state) {
    return std::visit(
        Overloaded{
            [](const SettingsApplyState::Applied& applied) -> std::string {
                return applied.dpi ? fmt::format("On the mouse, {} DPI", *applied.dpi) : "On the mouse";
            },
            [](const SettingsApplyState::Failed&) -> std::string { return "Did not go through"; },
            [](const SettingsApplyState::Idle&) -> std::string { return "Nothing to write"; },
            [](const SettingsApplyState::Applying&) -> std::string { return "Writing to the mouse"; },
            [](const SettingsApplyState::NotPermitted&) -> std::string { return "Not allowed"; },
        },
        state.value);
}

std::string applyStateHelp(const SettingsApplyState& state) {
    return std::visit(
        Overloaded{
            [](const SettingsApplyState::Applied& applied) -> std::string {
                if (applied.dpi) return fmt::format("Your settings are on the mouse. DPI was set to {}.", *applied.dpi);
                return "Your settings are on the mouse.";
            },
            [](const SettingsApplyState::Failed& failed) -> std::string {
                return "The last write did not go through: " + failed.message;
            },
            [](const SettingsApplyState::Idle&) -> std::string { return "Nothing to do, or the mouse is not here."; },
            [](const SettingsApplyState::Applying&) -> std::string {
                return "Ravolet is writing your settings to the mouse.";
            },
            [](const SettingsApplyState::NotPermitted&) -> std::string {
                return "Ravolet is not allowed to open the mouse. See the note at the top of this page.";
            },
        },
        state.value);
}

std::string slowestMomentText(double maxCallbackNanos) { return fmt::format("{:.2f} ms", maxCallbackNanos / 1e6); }

namespace {

// Whether Ravolet is reshaping input at all, and if not, why not.
PageFact transformingInput(const EngineStatus& status, bool isPausedByUser) {
    const std::string label = "Transforming input";
    if (!status.isTapEnabled)
        return {label, "No", "Ravolet is not in the event stream, so the wheel and the buttons reach your apps unchanged."};
    if (isPausedByUser)
        return {label, "No", "You have paused Ravolet, so the wheel and the buttons are passed through untouched."};
    if (!status.targetDeviceAttached)
        return {label, "No", "Your mouse is not attached, so there is nothing to reshape."};
    return {label, "Yes", "Ravolet is reshaping the wheel and the buttons as your profile says."};
}

// How urgently the thread that reads the mouse runs, once it runs: an
// ordinary user's process may not raise it, so it says who did, or that
// nobody could.
std::optional<PageFact> inputThreadPriority(const EngineStatus& status) {
    const platform::ThreadNice& nice = status.tap.threadNice;
    if (!status.isTapEnabled || nice.wanted >= 0) return std::nullopt;
    constexpr const char* label = "Input thread priority";
    if (nice.actual <= nice.wanted) {
        if (nice.setBy == platform::ThreadNice::SetBy::broker)
            return PageFact{label, "Raised by RealtimeKit",
                            "Your account may not raise a thread's priority itself, so the desktop's RealtimeKit "
                            "raised it for Ravolet: a busy computer does not hold your mouse back."};
        return PageFact{label, "Raised", "Ravolet reads your mouse ahead of ordinary programs, so a busy computer does "
                                         "not hold it back."};
    }
    return PageFact{label, "Normal",
                    fmt::format("Your account may not raise a thread's priority (nice {} was asked, {} is in effect) and "
                                "no RealtimeKit on this desktop raised it. Your mouse still works; on a computer busy "
                                "with other work its events may wait a little longer.",
                                nice.wanted, nice.actual)};
}

} // namespace

std::vector<PageFact> engineActivityFacts(const EngineStatus& status, bool isPausedByUser) {
    std::vector<PageFact> facts{
        transformingInput(status, isPausedByUser),
        {"Applying settings", applyStateText(status.deviceSettings), applyStateHelp(status.deviceSettings)},
        {"Mouse attached", status.targetDeviceAttached ? "Yes" : "No",
         "Ravolet only reshapes input from a mouse it recognises. Everything from any other device is passed straight "
         "through."},
        {"Wheel clicks reshaped", std::to_string(status.scroll.inputsTransformed),
         fmt::format("Since Ravolet started. {} smooth steps have been sent.", status.scroll.stepsPosted)},
        {"Button presses handled", std::to_string(status.buttons.eventsSeen),
         fmt::format("{} were replaced by something you bound; the rest were passed through.", status.buttons.suppressed)},
        {"Slowest moment in the event stream", slowestMomentText(status.tap.maxCallbackNanos),
         "The longest Ravolet took over one event from your mouse. The next event waits behind it, so anything under "
         "a millisecond goes unnoticed."},
    };
    const TapMetrics& tap = status.tap;
    if (const auto priority = inputThreadPriority(status)) facts.push_back(*priority);
    if (tap.disabledByTimeout >= 1 || tap.disabledByUserInput >= 1)
        facts.push_back({"Times the event stream cut Ravolet off", std::to_string(tap.disabledByTimeout + tap.disabledByUserInput),
                         fmt::format("Ravolet reconnected automatically {} time{}. Your held keys are released each "
                                     "time this happens, so nothing gets stuck.",
                                     tap.reEnables, tap.reEnables == 1 ? "" : "s")});
    return facts;
}

std::optional<PageNotice> compatibilityNotice(const std::vector<std::string>& missingSymbols) {
    if (missingSymbols.empty()) return std::nullopt;
    return PageNotice{PageNoticeKind::warning, "Your system hides which device an event came from",
                      fmt::format("Ravolet uses a system call to tell your Logitech mouse apart from your touchpad, "
                                  "and it is not available here ({}). Rather than guess and reshape your touchpad "
                                  "too, Ravolet passes everything through untouched. A Ravolet update is needed.",
                                  fmt::join(missingSymbols, ", "))};
}

PageNotice hardwareAccessNotice(const PermissionState& permissions) {
    AccessRemedy::Remedy remedy = AccessRemedy::forTheMouse(permissions);
    std::string message = "Ravolet talks to your Logitech mouse through its hidraw node, the same grant that lets it see "
                          "your scroll wheel. Until that node is open to you, Ravolet cannot read or set DPI, report "
                          "rate or wheel mode. Nothing is broken, and retrying will not help. " +
                          remedy.text;
    if (const auto closed = AccessRemedy::closedNodes(permissions.closedListeningNodes)) message += " " + *closed;
    return PageNotice{PageNoticeKind::problem, "Your computer will not let Ravolet talk to your mouse", message,
                      std::move(remedy.commands)};
}

std::optional<std::string> lastProblem(const std::optional<std::string>& lastWriteError,
                                       const std::optional<std::string>& snapshotError) {
    return lastWriteError ? lastWriteError : snapshotError;
}

} // namespace ravolet
