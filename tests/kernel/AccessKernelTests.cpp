// Access to the mouse on the real kernel: the nodes of the fake G502 X that
// the permission probe judges the grants by, with the mouse absent and then
// present; and those that Ravolet's udev rules file opens, applied by
// scripts/apply-udev-rules.sh (as scripts/run.sh does) to a mouse already
// plugged in, and by a re-plug, with a real udev daemon; and applied and
// taken back by the Debian package's maintainer scripts as dpkg runs them.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "FakeMouse/FakeG502X.hpp"
#include "KernelTestVM.hpp"
#include "Platform/Linux/LinuxPermissionProbe.hpp"

namespace ravolet::testing {
namespace {

namespace fs = std::filesystem;

// What the probe says, as bits: waiting for the mouse 1, may listen 2, HID
// access granted 4 (denied 8), nodes still closed 16.
int probed() {
    const platform::LinuxPermissionProbe probe(FakeG502X::vendorID, FakeG502X::productID);
    const platform::HIDAccessType hid = probe.hidListenAccess();
    return (probe.isWaitingForMouse() ? 1 : 0) | (probe.canListenToEvents() ? 2 : 0) |
           (hid == platform::HIDAccessType::granted ? 4 : 0) | (hid == platform::HIDAccessType::denied ? 8 : 0) |
           (probe.closedListeningNodes().empty() ? 0 : 16);
}

// The mouse's nodes by what they are.
struct MouseNodes {
    std::string pointerEvent, pointerHidraw; // interface 0
    std::string hidppHidraw;                 // interface 1
    std::vector<std::string> keyboardEvents; // interface 1's event nodes
};

MouseNodes nodesOf(const FakeG502X& mouse) {
    MouseNodes nodes;
    const auto pointer = mouse.kernelDevice(FakeG502X::pointerInterface).value();
    const auto hidpp = mouse.kernelDevice(FakeG502X::hidppInterface).value();
    nodes.pointerEvent = pointer.inputs.at(0).eventNode;
    nodes.pointerHidraw = pointer.hidraw.value();
    nodes.hidppHidraw = hidpp.hidraw.value();
    for (const auto& input : hidpp.inputs) nodes.keyboardEvents.push_back(input.eventNode);
    return nodes;
}

TEST(MouseAccess, IsJudgedOnlyByTheNodesRavoletOpensAndWaitsForTheMouseWhileItIsAbsent) {
    FakeG502X mouse;
    EXPECT_EQ(asNobody(probed), 1 | 2) << "no mouse: waiting, and nothing refused";

    ASSERT_TRUE(mouse.plugIn());
    const MouseNodes nodes = nodesOf(mouse);
    ASSERT_FALSE(nodes.keyboardEvents.empty());
    const platform::LinuxPermissionProbe probe(FakeG502X::vendorID, FakeG502X::productID);
    EXPECT_EQ(probe.eventNodes(), std::vector<std::string>{nodes.pointerEvent});
    EXPECT_EQ(probe.hidrawNodes(), std::vector<std::string>{nodes.hidppHidraw});

    std::vector<std::string> all{nodes.pointerEvent, nodes.pointerHidraw, nodes.hidppHidraw};
    all.insert(all.end(), nodes.keyboardEvents.begin(), nodes.keyboardEvents.end());
    for (const std::string& node : all) ASSERT_EQ(::chmod(node.c_str(), 0600), 0) << node;
    EXPECT_EQ(asNobody(probed), 8 | 16) << "every node closed";
    // Open to the user: the two nodes Ravolet opens, and only them.
    ASSERT_EQ(::chmod(nodes.pointerEvent.c_str(), 0644), 0);
    ASSERT_EQ(::chmod(nodes.hidppHidraw.c_str(), 0666), 0);
    EXPECT_EQ(asNobody(probed), 2 | 4);

    mouse.unplug();
    EXPECT_EQ(asNobody(probed), 1 | 2);
}

bool hasUdev() { return fs::exists("/usr/lib/systemd/systemd-udevd") && fs::exists("/usr/bin/udevadm"); }

// Whether udev has put the uaccess tag on the device node.
bool tagged(const std::string& node) {
    struct stat status {};
    if (::stat(node.c_str(), &status) != 0) return false;
    return fs::exists("/run/udev/tags/uaccess/c" + std::to_string(major(status.st_rdev)) + ":" +
                      std::to_string(minor(status.st_rdev)));
}

// Whether the last event udev handled for the node set the uaccess tag. A
// tag once set stays among the node's tags (and in /run/udev/tags) until the
// device goes; its current tags are the rules' word now.
bool currentlyTagged(const std::string& node) {
    FILE* info = ::popen(("udevadm info --query=property --name=" + node).c_str(), "r");
    if (!info) return false;
    std::string properties;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, info)) properties += buffer;
    ::pclose(info);
    const auto line = properties.find("\nCURRENT_TAGS=");
    if (line == std::string::npos) return false;
    const std::string tags = properties.substr(line, properties.find('\n', line + 1) - line);
    return tags.find(":uaccess:") != std::string::npos;
}

TEST(UdevRules, OpenOnlyTheNodesRavoletOpensToAMouseAlreadyPluggedInAndAtEachPlugIn) {
    if (!hasUdev()) GTEST_SKIP() << "udev was not copied into the VM";
    const fs::path installed = "/etc/udev/rules.d/70-ravolet.rules";
    fs::remove(installed);
    // Another test of this boot may have started it already.
    if (!fs::exists("/run/udev/control")) {
        ASSERT_EQ(std::system("/usr/lib/systemd/systemd-udevd --daemon"), 0);
    }
    ASSERT_EQ(std::system("udevadm control --reload-rules && udevadm settle"), 0);

    FakeG502X mouse;
    ASSERT_TRUE(mouse.plugIn());
    ASSERT_EQ(std::system("udevadm settle"), 0);
    MouseNodes nodes = nodesOf(mouse);
    EXPECT_FALSE(tagged(nodes.pointerEvent) || tagged(nodes.hidppHidraw)) << "no rules file yet";

    // Installed and applied to the mouse as it is, with no re-plug.
    const std::string script = std::string(RAVOLET_SOURCE_DIR) + "/scripts/apply-udev-rules.sh";
    ASSERT_EQ(std::system(("bash " + script).c_str()), 0);
    EXPECT_TRUE(fs::exists(installed));
    EXPECT_TRUE(tagged(nodes.pointerEvent));
    EXPECT_TRUE(tagged(nodes.hidppHidraw));
    EXPECT_TRUE(tagged("/dev/uinput"));

    // A re-plug applies it too, and to nothing Ravolet does not open.
    mouse.unplug();
    ASSERT_TRUE(mouse.plugIn());
    ASSERT_EQ(std::system("udevadm settle"), 0);
    nodes = nodesOf(mouse);
    EXPECT_TRUE(tagged(nodes.pointerEvent));
    EXPECT_TRUE(tagged(nodes.hidppHidraw));
    EXPECT_FALSE(tagged(nodes.pointerHidraw)) << "the pointer interface's hidraw node";
    for (const std::string& node : nodes.keyboardEvents) EXPECT_FALSE(tagged(node)) << node;

    fs::remove(installed);
    (void)std::system("udevadm control --reload-rules");
}

bool uinputLoaded() { return fs::exists("/sys/devices/virtual/misc/uinput"); }

// dpkg unpacks the rules file into /usr/lib/udev/rules.d and then runs the
// package's postinst with "configure"; at removal it deletes the file and
// runs the postrm with "remove". Each applies the change at once to the mouse
// plugged in and to /dev/uinput: also where nothing has loaded the uinput
// module since boot, and /dev/uinput is only the static node made at boot,
// which the rules' static_node would open no sooner than the next boot.
TEST(UdevRules, ThePackageAppliesThemAtInstallToTheMousePluggedInAndTakesThemBackAtRemoval) {
    if (!hasUdev()) GTEST_SKIP() << "udev was not copied into the VM";
    const fs::path packaged = "/usr/lib/udev/rules.d/70-ravolet.rules";
    const std::string scripts = std::string(RAVOLET_SOURCE_DIR) + "/debian/ravolet.";
    fs::remove("/etc/udev/rules.d/70-ravolet.rules");
    fs::remove(packaged);
    if (!fs::exists("/run/udev/control")) {
        ASSERT_EQ(std::system("/usr/lib/systemd/systemd-udevd --daemon"), 0);
    }
    ASSERT_EQ(std::system("udevadm control --reload-rules && udevadm trigger --action=change /dev/uinput && udevadm settle"),
              0);
    ASSERT_FALSE(currentlyTagged("/dev/uinput")) << "no rules file yet";
    // The VM's init loads its modules by path: the running kernel's modules
    // folder, as a system has it, lets modprobe find uinput.
    ASSERT_EQ(std::system("m=/lib/modules/$(uname -r) && mkdir -p $m && cp /ravolet/modules/uinput.ko $m/ && depmod"), 0);

    FakeG502X mouse;
    ASSERT_TRUE(mouse.plugIn());
    ASSERT_EQ(std::system("udevadm settle"), 0);
    const MouseNodes nodes = nodesOf(mouse);
    EXPECT_FALSE(currentlyTagged(nodes.pointerEvent) || currentlyTagged(nodes.hidppHidraw)) << "no rules file yet";

    for (const bool loadedBefore : {true, false}) {
        SCOPED_TRACE(loadedBefore ? "uinput loaded before the install" : "uinput not loaded since boot");
        if (!loadedBefore) {
            // As a boot leaves it: the node that kmod makes for a module not
            // loaded yet, with no device behind it.
            ASSERT_EQ(std::system("rmmod uinput && mknod -m 0600 /dev/uinput c 10 223 && udevadm settle"), 0);
            ASSERT_FALSE(uinputLoaded());
        }
        fs::copy_file(std::string(RAVOLET_SOURCE_DIR) + "/data/70-ravolet.rules", packaged);
        ASSERT_EQ(std::system(("sh " + scripts + "postinst configure").c_str()), 0);
        EXPECT_TRUE(currentlyTagged(nodes.pointerEvent));
        EXPECT_TRUE(currentlyTagged(nodes.hidppHidraw));
        EXPECT_TRUE(uinputLoaded());
        EXPECT_TRUE(currentlyTagged("/dev/uinput"));
        EXPECT_FALSE(currentlyTagged(nodes.pointerHidraw)) << "the pointer interface's hidraw node";
        for (const std::string& node : nodes.keyboardEvents) EXPECT_FALSE(currentlyTagged(node)) << node;

        fs::remove(packaged);
        ASSERT_EQ(std::system(("sh " + scripts + "postrm remove").c_str()), 0);
        EXPECT_FALSE(currentlyTagged(nodes.pointerEvent));
        EXPECT_FALSE(currentlyTagged(nodes.hidppHidraw));
        EXPECT_EQ(uinputLoaded(), loadedBefore) << "unloaded again only if the install loaded it";
        if (loadedBefore) {
            EXPECT_FALSE(currentlyTagged("/dev/uinput"));
        }
        EXPECT_FALSE(fs::exists("/run/ravolet-loaded-uinput"));
    }

    // Each boot after the install, udev gives the static node the tag as it
    // starts, before anything loads the module; logind then opens it to the
    // user whose session starts.
    fs::copy_file(std::string(RAVOLET_SOURCE_DIR) + "/data/70-ravolet.rules", packaged);
    ASSERT_EQ(std::system("udevadm control --exit && /usr/lib/systemd/systemd-udevd --daemon && udevadm settle"), 0);
    EXPECT_TRUE(fs::is_symlink("/run/udev/static_node-tags/uaccess/uinput"));
    fs::remove(packaged);
    (void)std::system("udevadm control --reload-rules");
}

} // namespace
} // namespace ravolet::testing
