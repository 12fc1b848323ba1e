#include <gtest/gtest.h>

#include "RavoletApp/ViewModels/DevicePageRules.hpp"

namespace ravolet {
namespace {

HIDPPDeviceIdentity g502(std::optional<std::string> product) {
    HIDPPDeviceIdentity identity;
    identity.vendorID = 0x46D;
    identity.productID = 0xC099;
    identity.product = std::move(product);
    return identity;
}

std::vector<std::string> labels(const std::vector<PageFact>& facts) {
    std::vector<std::string> result;
    for (const PageFact& fact : facts) result.push_back(fact.label);
    return result;
}

TEST(DevicePageRules, TheConnectionLineTakesTheFirstRuleThatHolds) {
    using enum PageStatusLevel;
    struct Row {
        HIDPPConnectionState connection;
        bool notPermitted;
        bool retrying;
        PageStatusLine expected;
        std::string explanationStart;
    };
    const std::vector<Row> rows = {
        {HIDPPConnectionState::disconnected(), false, false, {waiting, "No Logitech mouse found"}, "Plug the mouse in \u2014"},
        {HIDPPConnectionState::disconnected(), false, true, {waiting, "Your mouse has not answered yet"},
         "Your mouse is plugged in but has not answered Ravolet yet. Ravolet is trying again"},
        {HIDPPConnectionState::disconnected(), true, false, {bad, "No Logitech mouse found"}, "Plug the mouse in"},
        {HIDPPConnectionState::notPermitted(), false, true, {bad, "Blocked by your computer"}, "See the note at the top"},
        {HIDPPConnectionState::connected(g502("G502 X")), false, false, {good, "Connected to G502 X"}, "Ravolet is talking"},
        {HIDPPConnectionState::connected(g502(std::nullopt)), true, false, {bad, "Connected to your mouse"}, "Ravolet is"},
    };
    for (const Row& row : rows) {
        DeviceMonitor::Snapshot snapshot;
        snapshot.connection = row.connection;
        snapshot.isNotPermitted = row.notPermitted;
        snapshot.isRetrying = row.retrying;
        EXPECT_EQ(connectionStatus(snapshot), row.expected);
        EXPECT_TRUE(connectionExplanation(snapshot).starts_with(row.explanationStart)) << row.expected.text;
        // Read only while connected, whatever time the last look took place.
        snapshot.lastRefresh = std::chrono::system_clock::time_point(std::chrono::hours(1));
        EXPECT_EQ(showsLastRead(snapshot), row.connection.isConnected());
    }
    // While the wheel is counted by the mode it is taken to be in, the line says so.
    DeviceMonitor::Snapshot assumed;
    assumed.isRetrying = true;
    assumed.isWheelModeAssumed = true;
    EXPECT_EQ(connectionStatus(assumed),
              (PageStatusLine{PageStatusLevel::waiting, "Your mouse has not answered yet (wheel mode assumed)"}));
    // Only the wired mouse is matched: the page says so rather than promising a receiver.
    EXPECT_TRUE(connectionExplanation({}).ends_with("Only the G502 X on its cable is recognised (USB 046D:C099), not a "
                                                    "wireless receiver."));
}

TEST(DevicePageRules, OnlyTheFactsTheMouseReportedAreListed) {
    DeviceMonitor::Snapshot empty;
    EXPECT_TRUE(connectionFacts(empty).empty());
    EXPECT_EQ(mouseSettingsFacts(empty), (std::vector<PageFact>{{"DPI", "\u2014", "Not read yet."}}));

    DeviceMonitor::Snapshot full;
    full.identity = g502(std::nullopt);
    full.identity->serialNumber = "A1B2";
    full.deviceName = "G502 X";
    full.protocolVersion = HIDPPProtocolVersion{4, 2};
    full.information = HIDPPDeviceInformation{1, {0x0A, 0x1B}, HIDPPTransports::usb, {}};
    full.dpi = HIDPPDPIState{0, 1600, 1000};
    full.dpiRange = HIDPPDPIRange::range(100, 25600, 50);
    full.reportRate = HIDPPReportRateInfo{0x00, HIDPPReportRate(1)};
    full.wheelMode = HIDPPWheelMode(false, false, false);
    full.wheelCapability = HIDPPWheelCapability(8, 0x04);
    full.ratchet = HIDPPRatchetState::freeSpin;

    const auto identity = connectionFacts(full);
    EXPECT_EQ(labels(identity), (std::vector<std::string>{"Model", "Made by", "USB identifiers", "Serial number",
                                                          "Device says it is", "HID++ protocol", "Connected over",
                                                          "Unit ID"}));
    EXPECT_EQ(identity[0].value, "Unknown");
    EXPECT_EQ(identity[2].value, "046D:C099");
    EXPECT_EQ(identity[6].value, "USB");
    EXPECT_EQ(transportsText(HIDPPTransports::of({HIDPPTransports::bluetooth, HIDPPTransports::usb})), "Bluetooth, USB");
    EXPECT_EQ(transportsText(HIDPPTransports()), "Not reported");

    const auto settings = mouseSettingsFacts(full);
    EXPECT_EQ(labels(settings), (std::vector<std::string>{"DPI", "DPI values it accepts", "Report rate", "Wheel mode",
                                                          "High-resolution steps per click", "Wheel ratchet"}));
    EXPECT_TRUE(settings[0].help->starts_with("The mouse's factory value is 1000. This is read"));
    EXPECT_EQ(settings[2].help, "Supported: .");
    EXPECT_EQ(settings[4].help, "This wheel has a ratchet switch, so it can be freed to spin.");
    EXPECT_EQ(settings[3].value, "Plain HID wheel, normal resolution");
    EXPECT_EQ(settings[5].value, "free-spin");
    full.wheelCapability = HIDPPWheelCapability(8, 0x00);
    full.ratchet = HIDPPRatchetState::ratchet;
    EXPECT_EQ(mouseSettingsFacts(full)[4].help, "This wheel has no ratchet switch.");
    EXPECT_EQ(mouseSettingsFacts(full)[5].value, "ratchet (engaged)");
}

TEST(DevicePageRules, TheApplyStateExplainsItself) {
    struct Row {
        SettingsApplyState state;
        std::string value, help;
    };
    const std::vector<Row> rows = {
        {SettingsApplyState::applied(1600), "On the mouse, 1600 DPI", "Your settings are on the mouse. DPI was set to 1600."},
        {SettingsApplyState::applied(std::nullopt), "On the mouse", "Your settings are on the mouse."},
        {SettingsApplyState::failed("timed out"), "Did not go through", "The last write did not go through: timed out"},
        {SettingsApplyState::idle(), "Nothing to write", "Nothing to do, or the mouse is not here."},
        {SettingsApplyState::applying(), "Writing to the mouse", "Ravolet is writing your settings to the mouse."},
        {SettingsApplyState::notPermitted(), "Not allowed",
         "Ravolet is not allowed to open the mouse. See the note at the top of this page."},
    };
    for (const Row& row : rows) {
        EngineStatus status;
        status.deviceSettings = row.state;
        const PageFact fact = engineActivityFacts(status, false)[1];
        EXPECT_EQ(fact, (PageFact{"Applying settings", row.value, row.help}));
    }
}

TEST(DevicePageRules, TheEngineCountersAndTheCutOffRow) {
    EXPECT_EQ(slowestMomentText(1'234'567), "1.23 ms");
    EXPECT_EQ(slowestMomentText(0), "0.00 ms");
    struct Row {
        std::int64_t timeout, userInput, reEnables;
        std::optional<std::string> value, helpStart;
    };
    const std::vector<Row> rows = {
        {0, 0, 3, std::nullopt, std::nullopt},
        {2, 1, 1, "3", "Ravolet reconnected automatically 1 time. Your held keys"},
        {0, 1, 0, "1", "Ravolet reconnected automatically 0 times."},
        {1, 0, 2, "1", "Ravolet reconnected automatically 2 times."},
    };
    for (const Row& row : rows) {
        EngineStatus status;
        status.tap.disabledByTimeout = row.timeout;
        status.tap.disabledByUserInput = row.userInput;
        status.tap.reEnables = row.reEnables;
        const auto facts = engineActivityFacts(status, false);
        ASSERT_EQ(facts.size(), row.value ? 7u : 6u);
        if (!row.value) continue;
        EXPECT_EQ(facts[6].label, "Times the event stream cut Ravolet off");
        EXPECT_EQ(facts[6].value, *row.value);
        EXPECT_TRUE(facts[6].help->starts_with(*row.helpStart)) << *facts[6].help;
    }
}

// Which priority the input thread got, and from whom, while the tap runs.
TEST(DevicePageRules, TheInputThreadsPriorityIsSaidWhileTheTapRuns) {
    using SetBy = platform::ThreadNice::SetBy;
    struct Row {
        bool tap;
        platform::ThreadNice nice;
        std::optional<std::string> value;
    };
    const std::vector<Row> rows = {
        {false, {-4, 0, SetBy::nobody}, std::nullopt},
        {true, {0, 0, SetBy::process}, std::nullopt},
        {true, {-4, -4, SetBy::process}, "Raised"},
        {true, {-4, -4, SetBy::broker}, "Raised by RealtimeKit"},
        {true, {-4, 0, SetBy::nobody}, "Normal"},
    };
    for (const Row& row : rows) {
        EngineStatus status;
        status.isTapEnabled = row.tap;
        status.tap.threadNice = row.nice;
        const auto facts = engineActivityFacts(status, false);
        ASSERT_EQ(facts.size(), row.value ? 7u : 6u);
        if (!row.value) continue;
        EXPECT_EQ(facts[6].label, "Input thread priority");
        EXPECT_EQ(facts[6].value, *row.value);
    }
    EngineStatus refused;
    refused.isTapEnabled = true;
    refused.tap.threadNice = {-4, 0, SetBy::nobody};
    EXPECT_NE(engineActivityFacts(refused, false)[6].help->find("nice -4 was asked, 0 is in effect"), std::string::npos);
}

TEST(DevicePageRules, InputIsTransformedOnlyWhileWatchingUnpausedWithTheMouseAttached) {
    struct Row {
        bool tap, paused, attached;
        std::string value, helpStart;
    };
    const std::vector<Row> rows = {
        {true, false, true, "Yes", "Ravolet is reshaping the wheel and the buttons as your profile says."},
        {false, true, false, "No", "Ravolet is not in the event stream"},
        {true, true, false, "No", "You have paused Ravolet"},
        {true, false, false, "No", "Your mouse is not attached"},
    };
    for (const Row& row : rows) {
        EngineStatus status;
        status.isTapEnabled = row.tap;
        status.targetDeviceAttached = row.attached;
        const PageFact fact = engineActivityFacts(status, row.paused)[0];
        EXPECT_EQ(fact.label, "Transforming input");
        EXPECT_EQ(fact.value, row.value);
        EXPECT_TRUE(fact.help->starts_with(row.helpStart)) << *fact.help;
        EXPECT_EQ(engineActivityFacts(status, row.paused)[2].value, row.attached ? "Yes" : "No");
    }
}

// Why the event stream is not watched, in what the page can say of it here:
// the grants missing, else what stopped the engine; never another page.
TEST(DevicePageRules, TheTapLineSaysWhyItIsNotWatching) {
    using enum PageStatusLevel;
    PermissionState granted;
    granted.accessibility = granted.inputMonitoring = true;
    PermissionState noListening = granted, neither;
    noListening.inputMonitoring = false;
    EngineStatus watching, stopped, disabled;
    watching.isTapEnabled = true;
    disabled.lastError = "configuration is disabled";
    struct Row {
        EngineStatus status;
        PermissionState permissions;
        PageStatusLine expected;
    };
    const std::vector<Row> rows = {
        {watching, neither, {good, "Watching your mouse"}},
        {stopped, noListening, {bad, "Not watching \u2014 missing Mouse Access"}},
        {disabled, neither, {bad, "Not watching \u2014 missing Mouse Access and Virtual Input"}},
        {disabled, granted, {bad, "Not watching \u2014 configuration is disabled"}},
        {stopped, granted, {bad, "Not watching"}},
    };
    for (const Row& row : rows) EXPECT_EQ(tapStatus(row.status, row.permissions), row.expected);
    // Nothing on the Linux input path switches Ravolet off for being slow.
    const auto slowest = engineActivityFacts(watching, false)[5];
    EXPECT_EQ(slowest.help->find("full second"), std::string::npos) << *slowest.help;
}

TEST(DevicePageRules, CompatibilityAndTheLastProblem) {
    EXPECT_EQ(compatibilityNotice({}), std::nullopt);
    const auto notice = compatibilityNotice({"IOHIDEventGetSenderID", "CGEventGetSender"});
    ASSERT_TRUE(notice);
    EXPECT_EQ(notice->kind, PageNoticeKind::warning);
    EXPECT_NE(notice->message.find("not available here (IOHIDEventGetSenderID, CGEventGetSender). Rather"),
              std::string::npos);

    EXPECT_EQ(lastProblem(std::nullopt, std::nullopt), std::nullopt);
    EXPECT_EQ(lastProblem(std::nullopt, "read failed"), "read failed");
    EXPECT_EQ(lastProblem("write refused", "read failed"), "write refused");
}

} // namespace
} // namespace ravolet
