// Notifications through a notification service as python3-dbusmock's
// notification-daemon template gives it, on a bus of the test's own.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "DesktopTestSupport.hpp"
#include "Platform/Linux/Desktop/DesktopNotifier.hpp"

namespace ravolet::platform {
namespace {

using testing::Child;
using testing::PrivateBus;

std::string contents(const std::filesystem::path& file) {
    std::ifstream stream(file);
    return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

TEST(DesktopNotifier, SaysItAsRavoletWithTheBodyEscapedWhereTheServiceReadsMarkupAndNothingWhereThereIsNone) {
    const char* python = "/usr/bin/python3";
    ASSERT_EQ(Child({.arguments = {python, "-c", "import dbusmock"}}).wait(), 0)
        << "python3-dbusmock is missing: scripts/setup.sh installs it";
    testing::FolderTree folder("desktop-notifier");
    PrivateBus bus(folder.path / "bus.log");
    ASSERT_FALSE(bus.address.empty()) << "the private bus did not start";
    const std::string body = "\u201Cgrep <a> & b\u201D did not start: A single quote (') is not closed.";

    // No service yet: nothing is shown, and the first one that comes is used.
    DesktopNotifier notifier(bus.address);
    notifier.notify("Nobody hears this", body);

    struct Service {
        const char* capabilities;
        const char* bodyAsSent;
    } services[] = {
        {"body body-markup", "\u201Cgrep &lt;a&gt; &amp; b\u201D did not start: A single quote (&apos;) is not closed."},
        {"body", "\u201Cgrep <a> & b\u201D did not start: A single quote (') is not closed."},
    };
    for (const Service& service : services) {
        SCOPED_TRACE(service.capabilities);
        // The first service answers the notifier that found none before.
        DesktopNotifier fresh(bus.address);
        DesktopNotifier& told = &service == services ? notifier : fresh;
        const auto log = folder.path / (std::string(service.capabilities) + ".log");
        Child daemon({.arguments = {python, "-m", "dbusmock", "--session", "--template", "notification_daemon", "-l",
                                    log.string(), "-p",
                                    std::string("{\"capabilities\": \"") + service.capabilities + "\"}"},
                      .environment = {{"DBUS_SESSION_BUS_ADDRESS", bus.address}},
                      .log = folder.path / "daemon.log"});
        const std::string expected = std::string("Notify \"Ravolet\" 0 \"ravolet\" \"Ravolet could not run a command\" \"") +
                                     service.bodyAsSent + "\" [] {\"desktop-entry\": \"ravolet\"} -1";
        EXPECT_TRUE(testing::waitUntil([&] {
            told.notify("Ravolet could not run a command", body);
            return contents(log).find(expected) != std::string::npos;
        })) << contents(log) << testing::tail(folder.path / "daemon.log");
        EXPECT_EQ(contents(log).find("Nobody hears this"), std::string::npos);
    }
}

} // namespace
} // namespace ravolet::platform
