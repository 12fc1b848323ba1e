// The desktop's RealtimeKit as the tap thread asks it, against a stand-in on
// a bus of the test's own that stands for the system bus: python3-dbusmock's
// generic object with RealtimeKit's method, which records each call.

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "DesktopTestSupport.hpp"
#include "Platform/Linux/Desktop/RealtimeKit.hpp"

namespace ravolet::platform {
namespace {

using testing::Child;
using testing::PrivateBus;

TEST(RealtimeKit, AsksForTheThreadAndTheNiceValueAndSaysWhetherItWasGiven) {
    const char* python = "/usr/bin/python3";
    testing::FolderTree folder("realtimekit");
    PrivateBus bus(folder.path / "bus.log");
    ASSERT_FALSE(bus.address.empty()) << "the private bus did not start";
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.address.c_str(), 1);

    // Nobody there to ask.
    EXPECT_FALSE(RealtimeKit::makeThreadHighPriority(1234, -4));

    constexpr const char* name = "org.freedesktop.RealtimeKit1";
    constexpr const char* path = "/org/freedesktop/RealtimeKit1";
    Child service({.arguments = {python, "-m", "dbusmock", "--system", name, path, name},
                   .log = folder.path / "rtkit.log"});
    GDBusConnection* test = testing::connectToBus(bus.address);
    ASSERT_TRUE(test);
    const auto mock = [&](const char* method, GVariant* parameters) {
        return g_dbus_connection_call_sync(test, name, path, "org.freedesktop.DBus.Mock", method, parameters, nullptr,
                                           G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    };
    const auto answering = [&](const char* code) {
        GVariant* reply = mock("AddMethod", g_variant_new("(sssss)", "", "MakeThreadHighPriority", "ti", "", code));
        if (reply) g_variant_unref(reply);
        return reply != nullptr;
    };
    ASSERT_TRUE(testing::waitUntil([&] { return answering(""); }))
        << "RealtimeKit's stand-in did not start" << testing::tail(folder.path / "rtkit.log");

    EXPECT_TRUE(RealtimeKit::makeThreadHighPriority(1234, -4));
    GVariant* calls = mock("GetMethodCalls", g_variant_new("(s)", "MakeThreadHighPriority"));
    ASSERT_TRUE(calls);
    // Each call as (time, arguments): the one call's arguments.
    GVariant* list = g_variant_get_child_value(calls, 0);
    ASSERT_EQ(g_variant_n_children(list), 1u);
    GVariant* first = g_variant_get_child_value(list, 0);
    GVariant* arguments = g_variant_get_child_value(first, 1);
    gchar* printed = g_variant_print(arguments, FALSE);
    EXPECT_STREQ(printed, "[<uint64 1234>, <-4>]");
    g_free(printed);
    for (GVariant* value : {arguments, first, list, calls}) g_variant_unref(value);

    // RealtimeKit refuses a thread it will not raise (over its limits, or not
    // the caller's): the thread stays as it was.
    ASSERT_TRUE(answering("raise dbus.exceptions.DBusException('over the limit', "
                          "name='org.freedesktop.DBus.Error.AccessDenied')"));
    EXPECT_FALSE(RealtimeKit::makeThreadHighPriority(1234, -4));

    g_object_unref(test);
    ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}

} // namespace
} // namespace ravolet::platform
