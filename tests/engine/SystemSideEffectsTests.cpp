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
        : effects(apps, shortcuts, [this](std::int64_t dpi) { dpis.push_back(dpi); }, workspace, launcher,
                  [this](const std::string& line, const std::optional<std::string>& problem) {
                      reports.push_back({line, problem});
                  }) {
        workspace->install({"com.figma.Desktop", "Figma", "/usr/share/applications/com.figma.Desktop.desktop"});
    }

    std::shared_ptr<platform::SimulatedWorkspace> workspace = platform::SimulatedWorkspace::make();
    std::shared_ptr<platform::SimulatedProcessLauncher> launcher = std::make_shared<platform::SimulatedProcessLauncher>();
    std::vector<std::int64_t> dpis;
    std::vector<std::pair<std::string, std::optional<std::string>>> reports;
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

TEST(SystemSideEffects, LaunchAndCommandMakeExactlyTheirCallsAndACommandsStartIsTold) {
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

    // The command line is split as a terminal splits words, never by a shell:
    // its quotes group words, and its semicolons and stars reach the program
    // as written. How each start went is told, why in words when it failed.
    const std::string lines[] = {
        "/opt/tools/say \"hi there\" 'every one'; rm -rf * \"a \\\"b\\\"\"", // not installed
        "  '/opt/My Tools/zoom'   --level 100% ",
        "/opt/tools/say \"unclosed",
        "",
        "ravolet-no-such-program-anywhere x",
    };
    rig.launcher->installProgram("/opt/My Tools/zoom");
    for (const std::string& line : lines) rig.effects.runShortcut(line);
    EXPECT_EQ(rig.launcher->launches(),
              (std::vector<Launch>{{"/opt/tools/say", {"hi there", "every one;", "rm", "-rf", "*", "a \"b\""}, false},
                                   {"/opt/My Tools/zoom", {"--level", "100%"}, true}}));
    EXPECT_EQ(rig.reports,
              (std::vector<std::pair<std::string, std::optional<std::string>>>{
                  {lines[0], "There is no program at /opt/tools/say."},
                  {lines[1], std::nullopt},
                  {lines[2], "A double quote (\") is not closed."},
                  {lines[3], "The line names no command."},
                  {lines[4], "No program named \u201Cravolet-no-such-program-anywhere\u201D is in the folders of your PATH."},
              }));
    // A bare name is looked up in PATH, as a shell would.
    rig.effects.runShortcut("true --version");
    ASSERT_EQ(rig.launcher->launches().size(), 3u);
    EXPECT_TRUE(rig.launcher->launches().back().executable.ends_with("/true"));
    EXPECT_EQ(rig.launcher->launches().back().arguments, std::vector<std::string>{"--version"});
    // The real launcher, with no one to tell: the command is absent here, so nothing starts.
    SystemSideEffects(true, true, nullptr, rig.workspace, std::make_shared<platform::LinuxProcessLauncher>())
        .runShortcut("ravolet-no-such-program-anywhere");
}

} // namespace
} // namespace ravolet
