#include <gtest/gtest.h>

#include "Platform/Simulated/SimulatedApplicationCatalogue.hpp"
#include "Platform/Simulated/SimulatedWorkspace.hpp"
#include "RavoletApp/Model/SimulatedMachine.hpp"
#include "RavoletApp/ViewModels/AppInfo.hpp"

namespace ravolet {
namespace {

TEST(AppInfo, LookupNamesAnUnknownApplicationByItsIdentifier) {
    platform::SimulatedApplicationCatalogue catalogue;
    catalogue.install({"org.gimp.GIMP", "GIMP", "/usr/share/applications/org.gimp.GIMP.desktop", "gimp"});
    EXPECT_EQ(AppInfo::lookup(catalogue, "org.gimp.GIMP"),
              (AppInfo{"org.gimp.GIMP", "GIMP", "/usr/share/applications/org.gimp.GIMP.desktop"}));
    EXPECT_EQ(AppInfo::lookup(catalogue, "com.example.none"), (AppInfo{"com.example.none", "com.example.none", {}}));

    const auto machine = SimulatedMachine::makeInVirtualTime();
    const auto model = machine->makeModel();
    const ApplicationNameLookup name = applicationNameLookup(*model);
    EXPECT_EQ(name("org.mozilla.firefox"), "Firefox");
    EXPECT_EQ(name("com.example.none"), std::nullopt);
    machine->applications->install({"com.example.none", "Now Installed", "/x.desktop", ""});
    EXPECT_EQ(name("com.example.none"), "Now Installed"); // asked afresh
}

TEST(AppInfo, RunningAppsAreOrdinaryOnesWithAnIdentifierSortedAsAFileManagerSorts) {
    const auto workspace = platform::SimulatedWorkspace::make();
    platform::SimulatedApplicationCatalogue catalogue;
    catalogue.install({"a.ten", "Ten", "/apps/a.ten.desktop", ""});
    const std::vector<platform::RunningApplication> running = {
        {"a.ten", "App 10"},
        {"a.agent", "App 0 agent", false},
        {std::nullopt, "App 0 no identifier"},
        {"a.two", "app 2"},
        {"z.unnamed", ""},
        {"a.one", "App 1"},
        {"a.one.again", "app 1"},
        {"a.umlaut", "Äpp 3"},
    };
    for (const auto& application : running) workspace->launch(application);
    const std::vector<AppInfo> expected = {
        {"a.one", "App 1", {}},         {"a.one.again", "app 1", {}}, {"a.two", "app 2", {}},
        {"a.umlaut", "Äpp 3", {}},      {"a.ten", "App 10", "/apps/a.ten.desktop"},
        {"z.unnamed", "z.unnamed", {}},
    };
    EXPECT_EQ(AppInfo::runningApps(*workspace, catalogue), expected);
    EXPECT_TRUE(AppInfo::runningApps(*platform::SimulatedWorkspace::make(), catalogue).empty());
}

} // namespace
} // namespace ravolet
