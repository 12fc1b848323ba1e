#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "Platform/Simulated/SimulatedPermissionProbe.hpp"
#include "RavoletEngine/Coordination/EngineStatus.hpp"

namespace ravolet {
namespace {

using State = SettingsApplyState;
using Access = HIDPPInputMonitoringAccess;

TEST(SettingsApplyState, DescriptionsAndEquality) {
    const std::vector<std::pair<State, std::string>> descriptions = {
        {State::idle(), "idle"},
        {State::applying(), "applying"},
        {State::applied(std::nullopt), "applied(dpi: -)"},
        {State::applied(1600), "applied(dpi: 1600)"},
        {State::notPermitted(), "notPermitted (grant Mouse Access)"},
        {State::failed(""), "failed()"},
        {State::failed("not connected"), "failed(not connected)"},
    };
    for (std::size_t i = 0; i < descriptions.size(); ++i) {
        const auto& [state, text] = descriptions[i];
        EXPECT_EQ(state.description(), text);
        // Every row differs from every other, and each equals its copy, hashing alike.
        for (std::size_t j = 0; j < descriptions.size(); ++j) EXPECT_EQ(state == descriptions[j].first, i == j) << text;
        EXPECT_EQ(std::hash<State>{}(state), std::hash<State>{}(State(state)));
    }
    EXPECT_NE(State::applied(800), State::applied(std::nullopt));
    EXPECT_EQ(State::failed("x"), State::failed("x"));
}

TEST(PermissionState, ActiveTapNeedsAccessibilityAndEventsAndTheHIDAnswerIsMappedAsIs) {
    for (bool accessibility : {false, true}) {
        for (bool events : {false, true}) {
            for (Access hid : {Access::granted, Access::denied, Access::unknown}) {
                const PermissionState state{accessibility, events, hid};
                EXPECT_EQ(state.canRunActiveTap(), accessibility && events) << state;
            }
        }
    }
    const std::vector<std::pair<std::uint32_t, Access>> answers = {
        {0, Access::granted}, {1, Access::denied}, {2, Access::unknown}, {7, Access::unknown}, {0xFFFFFFFF, Access::unknown}};
    platform::SimulatedPermissionProbe probe;
    EXPECT_EQ(PermissionState::current(probe), PermissionState{}) << "nothing granted by default";
    probe.setAccessibilityTrusted(true);
    for (const auto& [raw, access] : answers) {
        probe.setHIDListenAccess(platform::HIDAccessType{raw});
        EXPECT_EQ(PermissionState::current(probe), (PermissionState{true, false, access})) << raw;
    }
}

TEST(EngineStatus, AnyFieldChangeMakesItDiffer) {
    const EngineStatus initial;
    EXPECT_EQ(initial.activeProfileID, "default");
    EXPECT_EQ(initial.activeProfileName, "Default");
    EXPECT_EQ(initial, EngineStatus{});
    EXPECT_EQ(std::hash<EngineStatus>{}(initial), std::hash<EngineStatus>{}(EngineStatus{}));

    const std::vector<std::pair<const char*, std::function<void(EngineStatus&)>>> changes = {
        {"isRunning", [](EngineStatus& s) { s.isRunning = true; }},
        {"isTapEnabled", [](EngineStatus& s) { s.isTapEnabled = true; }},
        {"permissions", [](EngineStatus& s) { s.permissions.hidInputMonitoring = Access::denied; }},
        {"activeProfileID", [](EngineStatus& s) { s.activeProfileID = "canvas"; }},
        {"activeProfileName", [](EngineStatus& s) { s.activeProfileName = "Canvas"; }},
        {"frontmost empty, not absent", [](EngineStatus& s) { s.frontmostBundleID = ""; }},
        {"targetDeviceAttached", [](EngineStatus& s) { s.targetDeviceAttached = true; }},
        {"deviceSettings", [](EngineStatus& s) { s.deviceSettings = State::applied(std::nullopt); }},
        {"pointerTuning", [](EngineStatus& s) { s.pointerTuning.isEnabled = true; }},
        {"hidConnection", [](EngineStatus& s) { s.hidConnection = HIDPPConnectionState::notPermitted(); }},
        {"tap", [](EngineStatus& s) { s.tap.worstOverrunNanos = 1; }},
        {"scope", [](EngineStatus& s) { s.scope.refreshes = 1; }},
        {"scroll", [](EngineStatus& s) { s.scroll.pixelsPosted = 1; }},
        {"pointer", [](EngineStatus& s) { s.pointer.deviceChanges = 1; }},
        {"buttons", [](EngineStatus& s) { s.buttons.resets = 1; }},
        {"missingSPISymbols", [](EngineStatus& s) { s.missingSPISymbols = {"IOHIDEventGetSenderID"}; }},
        {"lastTapDisableReason", [](EngineStatus& s) { s.lastTapDisableReason = TapDisableReason::userInput; }},
        {"lastError", [](EngineStatus& s) { s.lastError = "configuration is disabled"; }},
    };
    for (const auto& [field, change] : changes) {
        EngineStatus changed;
        change(changed);
        EXPECT_NE(changed, initial) << field;
        EXPECT_NE(std::hash<EngineStatus>{}(changed), std::hash<EngineStatus>{}(initial)) << field;
    }
}

} // namespace
} // namespace ravolet
