#include <gtest/gtest.h>

#include "RavoletApp/ViewModels/AccessRemedy.hpp"

namespace ravolet {
namespace {

using AccessRemedy::RulesFile;

TEST(AccessRemedy, TheRulesFileIsTheCheckoutsWhenRunFromItsBuildElseWhereItWasInstalled) {
    struct Row {
        const char* executable;
        const char* rulesDir;
        RulesFile expected;
    };
    const Row rows[] = {
        {"/work/r/build/RavoletApp/ravolet", "lib/udev/rules.d", {"/work/r/data/70-ravolet.rules", true, true}},
        {"/usr/bin/ravolet", "lib/udev/rules.d", {"/usr/lib/udev/rules.d/70-ravolet.rules", false, true}},
        {"/usr/local/bin/ravolet", "lib/udev/rules.d", {"/usr/local/lib/udev/rules.d/70-ravolet.rules", false, true}},
        {"/opt/ravolet/bin/ravolet", "lib/udev/rules.d", {"/opt/ravolet/lib/udev/rules.d/70-ravolet.rules", false, false}},
        {"/opt/ravolet/bin/ravolet", "/etc/udev/rules.d/", {"/etc/udev/rules.d/70-ravolet.rules", false, true}},
        // A folder beside the build folder is not inside it.
        {"/work/r/build2/bin/ravolet", "lib/udev/rules.d", {"/work/r/build2/lib/udev/rules.d/70-ravolet.rules", false, false}},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(RulesFile::of(row.executable, "/work/r", "/work/r/build", "bin", row.rulesDir), row.expected)
            << row.executable << " " << row.rulesDir;
    }
}

TEST(AccessRemedy, TheHelpSaysWhereTheFileIsAndTheCommandThatAppliesItToTheNodesStillClosed) {
    const RulesFile checkout{"/work/r/data/70-ravolet.rules", true, true};
    const RulesFile installed{"/usr/lib/udev/rules.d/70-ravolet.rules", false, true};
    const RulesFile elsewhere{"/opt/ravolet/lib/udev/rules.d/70-ravolet.rules", false, false};
    PermissionState closed;
    closed.closedListeningNodes = {"/dev/input/event3", "/dev/hidraw2"};
    PermissionState open;
    open.accessibility = open.inputMonitoring = true;

    using Remedy = AccessRemedy::Remedy;
    EXPECT_EQ(AccessRemedy::forTheMouse(closed, checkout),
              (Remedy{"Ravolet's udev rules file, 70-ravolet.rules, opens your mouse's device nodes to whoever is logged "
                      "in at this computer. This copy runs from its checkout, whose rules file is "
                      "/work/r/data/70-ravolet.rules; scripts/run.sh installs it in /etc/udev/rules.d when it is "
                      "missing there. To apply it to the mouse plugged in now, run the command below \u2014 unplugging "
                      "the mouse and plugging it back in does the same.",
                      {"sudo udevadm trigger --action=change /dev/input/event3 /dev/hidraw2"}}));
    EXPECT_EQ(AccessRemedy::forTheMouse(open, installed),
              (Remedy{"Ravolet's udev rules file, 70-ravolet.rules, opens your mouse's device nodes to whoever is logged "
                      "in at this computer. This copy installed it as /usr/lib/udev/rules.d/70-ravolet.rules. udev "
                      "applies it to the mouse each time it is plugged in.",
                      {}}));
    EXPECT_NE(AccessRemedy::forTheMouse(closed, elsewhere).text.find("a folder udev does not read rules from: copy it "
                                                                     "into /etc/udev/rules.d first."),
              std::string::npos);
    for (const RulesFile& rules : {installed, elsewhere}) {
        EXPECT_EQ(AccessRemedy::forTheMouse(closed, rules).text.find("scripts/run.sh"), std::string::npos);
        EXPECT_EQ(AccessRemedy::forVirtualInput(closed, rules).text.find("scripts/run.sh"), std::string::npos);
    }

    EXPECT_EQ(AccessRemedy::forVirtualInput(closed, installed),
              (Remedy{"The same udev rules file, 70-ravolet.rules, opens /dev/uinput to whoever is logged in at this "
                      "computer. This copy installed it as /usr/lib/udev/rules.d/70-ravolet.rules. To apply it now, run "
                      "the command below; if /dev/uinput is still closed after that, log out and back in.",
                      {"sudo udevadm trigger --action=change /dev/uinput"}}));
    PermissionState noModule;
    noModule.postingDeviceMissing = true;
    EXPECT_EQ(AccessRemedy::forVirtualInput(noModule, checkout),
              (Remedy{"The uinput module is not loaded, so there is no /dev/uinput to open. The first command below "
                      "loads it now, the second has it loaded at every start. Ravolet's udev rules file then opens it "
                      "to whoever is logged in at this computer.",
                      {"sudo modprobe uinput", "echo uinput | sudo tee /etc/modules-load.d/uinput.conf"}}));
}

// A command is broken only at its blanks, and every broken line carries the
// shell's continuation, so pasting all the lines still runs the one command.
TEST(AccessRemedy, ACommandBreaksOnlyAtBlanksIntoLinesAShellJoinsAgain) {
    const std::string command = "sudo udevadm trigger --action=change /dev/input/event10 /dev/hidraw10";
    struct Row {
        std::size_t columns;
        std::vector<std::string> lines;
    } rows[] = {
        {80, {command}},
        {40, {"sudo udevadm trigger --action=change \\", "  /dev/input/event10 /dev/hidraw10"}},
        {24, {"sudo udevadm trigger \\", "  --action=change \\", "  /dev/input/event10 \\", "  /dev/hidraw10"}},
        // Narrower than a word: the word keeps a line of its own, whole.
        {8, {"sudo \\", "  udevadm \\", "  trigger \\", "  --action=change \\", "  /dev/input/event10 \\",
             "  /dev/hidraw10"}},
    };
    for (const Row& row : rows) {
        const std::vector<std::string> lines = AccessRemedy::commandLines(command, row.columns);
        EXPECT_EQ(lines, row.lines) << row.columns;
        std::string joined; // as the shell reads "\\" and a line break: one blank
        for (const std::string& line : lines) {
            std::string_view part = line;
            if (part.ends_with(" \\")) part.remove_suffix(1); // the blank before it stays
            while (part.starts_with(' ') && !joined.empty()) part.remove_prefix(1);
            joined += part;
        }
        EXPECT_EQ(joined, command) << row.columns;
    }
}

} // namespace
} // namespace ravolet
