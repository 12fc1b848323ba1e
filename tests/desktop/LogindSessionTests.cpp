// The login session as logind tells it: logind's D-Bus interface as
// python3-dbusmock's logind template gives it, on a bus of the test's own
// that stands for the system bus (logind itself needs systemd to run).

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "DesktopTestSupport.hpp"
#include "Platform/Linux/Desktop/LogindSessionWatcher.hpp"

namespace ravolet::platform {
namespace {

using testing::Child;
using testing::PrivateBus;

// What a watcher told, in order.
struct Told {
    std::mutex lock;
    std::vector<bool> values;

    Subscription follow(SessionWatcher& watcher) {
        return watcher.subscribe(std::make_shared<testing::InlineExecutor>(), [this](bool active) {
            std::lock_guard guard(lock);
            values.push_back(active);
        });
    }
    std::vector<bool> seen() {
        std::lock_guard guard(lock);
        return values;
    }
};

// A watcher of the session XDG_SESSION_ID names (none: unset).
std::unique_ptr<LogindSessionWatcher> watching(const char* session) {
    if (session) ::setenv("XDG_SESSION_ID", session, 1);
    else ::unsetenv("XDG_SESSION_ID");
    auto watcher = std::make_unique<LogindSessionWatcher>();
    ::unsetenv("XDG_SESSION_ID");
    return watcher;
}

TEST(LogindSession, FollowsItsSessionsActivePropertyAndStaysInFrontWhereNothingTells) {
    const char* python = "/usr/bin/python3";
    ASSERT_EQ(Child({.arguments = {python, "-c", "import dbusmock"}}).wait(), 0)
        << "python3-dbusmock is missing: scripts/setup.sh installs it";
    testing::FolderTree folder("logind-session");

    {
        SCOPED_TRACE("no system bus");
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + (folder.path / "none").string()).c_str(), 1);
        auto watcher = watching("c1");
        EXPECT_TRUE(watcher->isActive());
    }

    PrivateBus bus(folder.path / "bus.log");
    ASSERT_FALSE(bus.address.empty()) << "the private bus did not start";
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.address.c_str(), 1);
    {
        SCOPED_TRACE("a bus without logind");
        auto watcher = watching("c1");
        EXPECT_TRUE(watcher->isActive());
    }

    Child logind({.arguments = {python, "-m", "dbusmock", "--system", "--template", "logind"},
                  .log = folder.path / "logind.log"});
    GDBusConnection* test = testing::connectToBus(bus.address);
    ASSERT_TRUE(test);
    const auto call = [&](const char* path, const char* interface, const char* method, GVariant* parameters) {
        GVariant* reply = g_dbus_connection_call_sync(test, "org.freedesktop.login1", path, interface, method,
                                                      parameters, nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
        if (reply) g_variant_unref(reply);
        return reply != nullptr;
    };
    ASSERT_TRUE(testing::waitUntil([&] {
        return call("/org/freedesktop/login1", "org.freedesktop.login1.Manager", "ListSessions", nullptr);
    })) << "logind's stand-in did not start" << testing::tail(folder.path / "logind.log");
    for (const auto& [id, uid, active] : {std::tuple{"c1", 1000u, true}, std::tuple{"c2", 1001u, false}}) {
        ASSERT_TRUE(call("/org/freedesktop/login1", "org.freedesktop.DBus.Mock", "AddSession",
                         g_variant_new("(ssusb)", id, "seat0", uid, "someone", active)));
    }
    const auto setActive = [&](const char* id, bool active) {
        const std::string path = std::string("/org/freedesktop/login1/session/") + id;
        return call(path.c_str(), "org.freedesktop.DBus.Properties", "Set",
                    g_variant_new("(ssv)", "org.freedesktop.login1.Session", "Active", g_variant_new_boolean(active)));
    };

    // The session it runs in, switched away from and back.
    auto own = watching("c1");
    Told told;
    Subscription following = told.follow(*own);
    // Once logind has answered, a switch away is heard.
    ASSERT_TRUE(setActive("c1", false));
    ASSERT_TRUE(testing::waitUntil([&] { return told.seen() == std::vector<bool>{false}; }))
        << testing::tail(folder.path / "logind.log");
    EXPECT_FALSE(own->isActive());
    ASSERT_TRUE(setActive("c1", true));
    ASSERT_TRUE(testing::waitUntil([&] { return told.seen() == std::vector<bool>{false, true}; }));
    EXPECT_TRUE(own->isActive());

    // A session that is not in front when the program starts.
    auto away = watching("c2");
    EXPECT_TRUE(testing::waitUntil([&] { return !away->isActive(); }));

    // Outside any session, logind's "auto" names none here: nothing changes.
    auto outside = watching(nullptr);
    ASSERT_TRUE(setActive("c1", false));
    ASSERT_TRUE(testing::waitUntil([&] { return !own->isActive(); }));
    EXPECT_TRUE(outside->isActive());

    following.cancel();
    own.reset();
    away.reset();
    outside.reset();
    g_object_unref(test);
    ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}

} // namespace
} // namespace ravolet::platform
