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

    EXPECT_EQ(AccessRemedy::forTheMouse(closed, checkout),
              "Ravolet's udev rules file, 70-ravolet.rules, opens your mouse's device nodes to whoever is logged in at "
              "this computer. This copy runs from its checkout, whose rules file is /work/r/data/70-ravolet.rules; "
              "scripts/run.sh installs it in /etc/udev/rules.d when it is missing there. To apply it to the mouse "
              "plugged in now, run sudo udevadm trigger --action=change /dev/input/event3 /dev/hidraw2 \u2014 unplugging "
              "the mouse and plugging it back in does the same.");
    EXPECT_EQ(AccessRemedy::forTheMouse(open, installed),
              "Ravolet's udev rules file, 70-ravolet.rules, opens your mouse's device nodes to whoever is logged in at "
              "this computer. This copy installed it as /usr/lib/udev/rules.d/70-ravolet.rules. udev applies it to the "
              "mouse each time it is plugged in.");
    EXPECT_NE(AccessRemedy::forTheMouse(closed, elsewhere).find("a folder udev does not read rules from: copy it into "
                                                                "/etc/udev/rules.d first."),
              std::string::npos);
    for (const RulesFile& rules : {installed, elsewhere}) {
        EXPECT_EQ(AccessRemedy::forTheMouse(closed, rules).find("scripts/run.sh"), std::string::npos);
        EXPECT_EQ(AccessRemedy::forVirtualInput(closed, rules).find("scripts/run.sh"), std::string::npos);
    }

    EXPECT_EQ(AccessRemedy::forVirtualInput(closed, installed),
              "The same udev rules file, 70-ravolet.rules, opens /dev/uinput to whoever is logged in at this computer. "
              "This copy installed it as /usr/lib/udev/rules.d/70-ravolet.rules. To apply it now, run sudo udevadm "
              "trigger --action=change /dev/uinput; if /dev/uinput is still closed after that, log out and back in.");
    PermissionState noModule;
    noModule.postingDeviceMissing = true;
    EXPECT_EQ(AccessRemedy::forVirtualInput(noModule, checkout),
              "The uinput module is not loaded, so there is no /dev/uinput to open. Load it with sudo modprobe uinput, "
              "and to have it loaded at every start, put the line uinput in a file of /etc/modules-load.d/ (for "
              "example /etc/modules-load.d/uinput.conf). Ravolet's udev rules file then opens it to whoever is logged "
              "in at this computer.");
}

} // namespace
} // namespace ravolet
