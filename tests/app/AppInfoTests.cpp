#include <gtest/gtest.h>

#include <algorithm>

#include "Core/UnicodeText.hpp"

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
    // An installed one goes by its entry's name, as it does once chosen.
    const std::vector<AppInfo> expected = {
        {"a.one", "App 1", {}},         {"a.one.again", "app 1", {}}, {"a.two", "app 2", {}},
        {"a.umlaut", "Äpp 3", {}},      {"a.ten", "Ten", "/apps/a.ten.desktop"},
        {"z.unnamed", "z.unnamed", {}},
    };
    EXPECT_EQ(AppInfo::runningApps(*workspace, catalogue), expected);
    EXPECT_TRUE(AppInfo::runningApps(*platform::SimulatedWorkspace::make(), catalogue).empty());
}

TEST(AppInfo, TheSimulatedProgramNamesEveryApplicationFromOneCatalogue) {
    // On this machine's storage the scripted applications stand in front of
    // the real desktop entries, and what runs is the real desktop's (not the
    // script's): it is installed, by the same name.
    const auto machine = SimulatedMachine::make(std::make_shared<platform::ManualScheduler>(0),
                                                SimulatedMachine::Storage::thisMachine);
    const AppModel::Dependencies dependencies = machine->dependencies();
    EXPECT_NE(dependencies.workspace, std::shared_ptr<platform::Workspace>(machine->workspace));
    const std::vector<AppInfo> running = AppInfo::runningApps(*dependencies.workspace, *dependencies.applications);
    for (const AppInfo& app : running) EXPECT_EQ(AppInfo::lookup(*dependencies.applications, app.bundleID), app);
    const auto installed = installedApplications(*dependencies.applications);
    EXPECT_TRUE(std::ranges::any_of(installed, [](const auto& a) { return a.bundleID == "org.inkscape.Inkscape"; }));
    EXPECT_TRUE(std::ranges::is_sorted(installed, [](const auto& a, const auto& b) {
        return unicode::compareNaturally(a.name, b.name) < 0;
    }));
}

} // namespace
} // namespace ravolet
