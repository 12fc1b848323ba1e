#include <gtest/gtest.h>

#include <sstream>

#include "RavoletApp/ViewModels/MenuContent.hpp"
#include "RavoletApp/ViewModels/ShellRules.hpp"

namespace ravolet {
namespace {

// The menu as one line per row: "---" for separators, "[on]" for a checked
// toggle, "(disabled)" for a greyed action; text rows are never clickable.
std::string render(const std::vector<MenuItem>& items) {
    std::ostringstream out;
    for (const MenuItem& item : items) {
        out << item;
        if (item.kind == MenuItem::Kind::text) {
            EXPECT_FALSE(item.enabled) << item.title;
        }
        out << "\n";
    }
    return out.str();
}

MenuInputs inputs(PermissionState permissions, bool paused, EngineStatus status = {},
                  platform::LoginItemStatus loginItem = platform::LoginItemStatus::notRegistered,
                  bool canCheckForUpdates = false, bool updatesItself = true, bool fromPackage = false) {
    return {permissions, paused, std::move(status), loginItem, canCheckForUpdates, updatesItself, fromPackage};
}

TEST(MenuContent, RowsFollowTheStateInOrderWithTheirChecksAndEnablement) {
    EngineStatus running;
    running.isTapEnabled = true;
    running.targetDeviceAttached = true;
    running.activeProfileName = "Figma";
    EngineStatus attachedTapOff;
    attachedTapOff.targetDeviceAttached = true;
    const PermissionState both{true, true, HIDPPInputMonitoringAccess::granted};
    const PermissionState none{};
    const std::string tail = "---\nSettings…\nCheck for Updates… (disabled)\n---\nQuit Ravolet\n";
    struct Row {
        const char* name;
        MenuInputs inputs;
        std::string menu;
        std::string toolTip;
    } rows[] = {
        {"nothing granted, paused: the grants win",
         inputs(none, true),
         "Needs permission to run\nMissing: Mouse Access and Virtual Input\n---\nPause Ravolet [on]\n"
         "Profile: Default\nStart at Login\n---\nFinish Setting Up Ravolet…\nSettings…\n"
         "Check for Updates… (disabled)\n---\nQuit Ravolet\n",
         "Ravolet — Needs permission to run"},
        {"running with the mouse, login item on, updates possible",
         inputs(both, false, running, platform::LoginItemStatus::enabled, true),
         "Active\n---\nPause Ravolet\nProfile: Figma\nStart at Login [on]\n---\nSettings…\nCheck for Updates…\n---\n"
         "Quit Ravolet\n",
         "Ravolet — Active"},
        {"paused, login item waiting for approval",
         inputs(both, true, {}, platform::LoginItemStatus::requiresApproval),
         "Paused\nYour mouse behaves exactly as your desktop ships it\n---\nPause Ravolet [on]\nProfile: Default\n"
         "Start at Login\n" + tail,
         "Ravolet — Paused"},
        {"installed from the package: the disabled check says the package manager updates it",
         inputs(both, false, running, platform::LoginItemStatus::enabled, false, false, true),
         "Active\n---\nPause Ravolet\nProfile: Figma\nStart at Login [on]\n---\nSettings…\n"
         "Check for Updates… (disabled)\nUpdated by your package manager\n---\nQuit Ravolet\n",
         "Ravolet — Active"},
        {"built from source: no package manager updates it, building it again does",
         inputs(both, false, running, platform::LoginItemStatus::enabled, false, false, false),
         "Active\n---\nPause Ravolet\nProfile: Figma\nStart at Login [on]\n---\nSettings…\n"
         "Check for Updates… (disabled)\nBuilt from source: build it again to update it\n---\nQuit Ravolet\n",
         "Ravolet — Active"},
        {"tap off with the mouse: no detail",
         inputs(both, false, attachedTapOff, platform::LoginItemStatus::notFound),
         "Not running\n---\nPause Ravolet\nProfile: Default\nStart at Login\n" + tail, "Ravolet — Not running"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(render(menuItems(row.inputs)), row.menu);
        const MenuBarState state = MenuBarState::of(row.inputs.permissions, row.inputs.isPausedByUser, row.inputs.status);
        EXPECT_EQ(trayToolTip(state), row.toolTip);
    }
    const auto items = menuItems({});
    EXPECT_EQ(items.at(items.size() - 1).shortcut, "Ctrl+Q");
    // Settings… shows no key: nothing would take it.
    EXPECT_EQ(items.at(items.size() - 4).title, "Settings…");
    EXPECT_EQ(items.at(items.size() - 4).shortcut, "");
}

TEST(ShellRules, WithoutATrayTheSettingsWindowShowsThatRavoletRunsExceptAtLogin) {
    using ShellRules::LaunchWindows;
    struct Row {
        bool hasTray, atLogin, completed;
        LaunchWindows windows;
    } rows[] = {
        {true, false, true, {}},
        {true, true, true, {}},
        {true, false, false, {.setUp = true}},
        {true, true, false, {.setUp = true}},
        {false, false, true, {.settings = true}},
        {false, false, false, {.settings = true, .setUp = true}},
        {false, true, true, {}},
        {false, true, false, {}},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(ShellRules::windowsAtLaunch(row.hasTray, row.atLogin, row.completed), row.windows)
            << row.hasTray << row.atLogin << row.completed;
    }
    // The note names the way to quit that the window offers.
    EXPECT_EQ(ShellRules::noteOnClosingSettings(true, false), std::nullopt);
    EXPECT_EQ(ShellRules::noteOnClosingSettings(false, true), std::nullopt);
    const auto note = ShellRules::noteOnClosingSettings(false, false);
    ASSERT_TRUE(note);
    EXPECT_NE(note->message.find("Quit Ravolet (Ctrl+Q)"), std::string::npos) << note->message;
}

} // namespace
} // namespace ravolet
