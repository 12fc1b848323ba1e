#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Platform/Linux/LinuxProcessLauncher.hpp"
#include "Platform/Simulated/ManualScheduler.hpp"
#include "Platform/Simulated/SimulatedProcessLauncher.hpp"
#include "Platform/Simulated/SimulatedWorkspace.hpp"
#include "RavoletEngine/Coordination/SystemSideEffects.hpp"

namespace ravolet {
namespace {

using Launch = platform::SimulatedProcessLauncher::Launch;

struct SideEffectsRig {
    explicit SideEffectsRig(bool apps, bool shortcuts)
        : effects(apps, shortcuts, [this](std::int64_t dpi) { dpis.push_back(dpi); }, workspace, launcher) {
        workspace->install({"com.figma.Desktop", "Figma", "/usr/share/applications/com.figma.Desktop.desktop"});
    }

    std::shared_ptr<platform::SimulatedWorkspace> workspace = platform::SimulatedWorkspace::make();
    std::shared_ptr<platform::SimulatedProcessLauncher> launcher = std::make_shared<platform::SimulatedProcessLauncher>();
    std::vector<std::int64_t> dpis;
    SystemSideEffects effects;
};

TEST(SystemSideEffects, EachSwitchGatesItsOwnEffectAndDPIRequestsAlwaysPass) {
    for (bool apps : {false, true}) {
        for (bool shortcuts : {false, true}) {
            SCOPED_TRACE(::testing::Message() << "apps " << apps << ", shortcuts " << shortcuts);
            SideEffectsRig rig(apps, shortcuts);
            rig.effects.requestDPI(400);
            rig.effects.launchApp("com.figma.Desktop");
            rig.effects.runShortcut("/usr/local/bin/morning --quiet");
            EXPECT_EQ(rig.dpis, std::vector<std::int64_t>{400});
            EXPECT_EQ(rig.workspace->calls().empty(), !apps) << "no workspace call at all while switched off";
            EXPECT_EQ(rig.launcher->launches().empty(), !shortcuts);
        }
    }
}

TEST(SystemSideEffects, LaunchAndCommandMakeExactlyTheirCallsAndDropWhatCannotStart) {
    SideEffectsRig rig(true, true);
    auto ui = std::make_shared<platform::ManualScheduler>();
    std::vector<std::optional<std::string>> activations;
    auto subscription = rig.workspace->subscribeToActivations(
        ui, [&](const platform::ApplicationActivation& a) { activations.push_back(a.bundleID()); });
    rig.effects.launchApp("com.example.NotInstalled");
    rig.effects.launchApp("");
    rig.effects.launchApp("com.figma.Desktop");
    ui->runUntilIdle();
    EXPECT_EQ(rig.workspace->calls(),
              (std::vector<std::string>{"applicationLocation(com.example.NotInstalled)", "applicationLocation()",
                                        "applicationLocation(com.figma.Desktop)",
                                        "openApplication(/usr/share/applications/com.figma.Desktop.desktop, activates)"}));
    EXPECT_EQ(activations, std::vector<std::optional<std::string>>{"com.figma.Desktop"});

    // The command line is split by the desktop-entry quoting rules, never by a
    // shell: its quotes, semicolons and stars reach the program as written.
    rig.effects.runShortcut("/opt/tools/say \"hi there\" 'everyone'; rm -rf * \"a \\\"b\\\"\""); // not installed
    rig.launcher->installProgram("/opt/My Tools/zoom");
    rig.effects.runShortcut("  \"/opt/My Tools/zoom\"   --level 100%% ");
    rig.effects.runShortcut("/opt/tools/say \"unclosed");          // malformed: nothing starts
    rig.effects.runShortcut("");                                    // empty: nothing starts
    rig.effects.runShortcut("ravolet-no-such-program-anywhere x"); // on no folder of PATH
    EXPECT_EQ(rig.launcher->launches(),
              (std::vector<Launch>{{"/opt/tools/say", {"hi there", "'everyone';", "rm", "-rf", "*", "a \"b\""}, false},
                                   {"/opt/My Tools/zoom", {"--level", "100%"}, true}}));
    // A bare name is looked up in PATH, as a shell would.
    rig.effects.runShortcut("true --version");
    ASSERT_EQ(rig.launcher->launches().size(), 3u);
    EXPECT_TRUE(rig.launcher->launches().back().executable.ends_with("/true"));
    EXPECT_EQ(rig.launcher->launches().back().arguments, std::vector<std::string>{"--version"});
    // The real launcher: the command is absent here, so nothing starts and nothing is reported.
    SystemSideEffects(true, true, nullptr, rig.workspace, std::make_shared<platform::LinuxProcessLauncher>())
        .runShortcut("ravolet-no-such-program-anywhere");
}

} // namespace
} // namespace ravolet
