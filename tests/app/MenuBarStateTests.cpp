#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "RavoletApp/Model/MenuBarState.hpp"

namespace ravolet {
namespace {

TEST(MenuBarState, TheFirstCaseThatHoldsDecidesEachText) {
    const auto grants = [](bool accessibility, bool inputMonitoring) {
        PermissionState p;
        p.accessibility = accessibility;
        p.inputMonitoring = inputMonitoring;
        return p;
    };
    const auto engine = [](bool tapEnabled, bool mouseAttached) {
        EngineStatus s;
        s.isTapEnabled = tapEnabled;
        s.targetDeviceAttached = mouseAttached;
        return s;
    };
    const std::optional<std::string> none;
    const struct {
        PermissionState permissions;
        bool paused;
        EngineStatus status;
        MenuBarState expected;
    } rows[] = {
        {grants(false, false), true, engine(true, true),
         {"exclamationmark.triangle.fill", "Needs permission to run", "Missing: Mouse Access and Virtual Input"}},
        {grants(true, false), false, engine(true, true),
         {"exclamationmark.triangle.fill", "Needs permission to run", "Missing: Mouse Access"}},
        {grants(false, true), false, engine(true, true),
         {"exclamationmark.triangle.fill", "Needs permission to run", "Missing: Virtual Input"}},
        {grants(true, true), true, engine(false, false),
         {"pause.circle", "Paused", "Your mouse behaves exactly as your desktop ships it"}},
        {grants(true, true), false, engine(false, true), {"computermouse.fill", "Not running", none}},
        {grants(true, true), false, engine(false, false), {"computermouse", "Not running", "No Logitech mouse is plugged in"}},
        {grants(true, true), false, engine(true, false),
         {"computermouse", "Waiting for your mouse", "No Logitech mouse is plugged in"}},
        {grants(true, true), false, engine(true, true), {"computermouse.fill", "Active", none}},
    };
    for (const auto& row : rows) EXPECT_EQ(MenuBarState::of(row.permissions, row.paused, row.status), row.expected);

    // A command that did not start is the second line while Ravolet runs
    // with the mouse.
    EngineStatus failed = engine(true, true);
    failed.lastCommandFailure = CommandFailure{"dat +%s", "No program named \u201Cdat\u201D is in the folders of your PATH.", 1};
    EXPECT_EQ(MenuBarState::of(grants(true, true), false, failed),
              (MenuBarState{"computermouse.fill", "Active",
                            "\u201Cdat +%s\u201D did not start: No program named \u201Cdat\u201D is in the folders of your PATH."}));
    EXPECT_EQ(MenuBarState::of(grants(true, true), true, failed).detail, "Your mouse behaves exactly as your desktop ships it");
    // A simulated mouse is said while nothing more pressing is.
    EXPECT_EQ(MenuBarState::of(grants(true, true), false, engine(true, true), true).detail, "On a simulated mouse");
    EXPECT_EQ(MenuBarState::of(grants(true, true), false, failed, true).detail, MenuBarState::of(grants(true, true), false, failed).detail);
    EXPECT_EQ(MenuBarState::of(grants(true, true), true, engine(true, true), true).detail,
              "Your mouse behaves exactly as your desktop ships it");

    const auto broken = ConfigStore::Problem::corrupt("x");
    EXPECT_TRUE(needsBanner(broken, grants(true, true), false));
    EXPECT_TRUE(needsBanner(std::nullopt, grants(true, false), false));
    EXPECT_TRUE(needsBanner(std::nullopt, grants(false, true), false));
    EXPECT_TRUE(needsBanner(std::nullopt, grants(true, true), true));
    EXPECT_FALSE(needsBanner(std::nullopt, grants(true, true), false));
}

} // namespace
} // namespace ravolet
