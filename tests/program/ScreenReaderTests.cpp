// Ravolet's settings window as a screen reader on a Linux desktop is given
// it: through AT-SPI, on an accessibility bus of the test's own.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "ProgramTestSupport.hpp"

namespace ravolet {
namespace {

using platform::testing::PrivateBus;
using platform::testing::XServer;
using testing::Child;
using testing::ProgramHome;
using testing::XScreen;
using testing::waitUntil;

// One element of the tree as a reader has it.
struct Element {
    std::string name;
    std::string text; // the Text interface's words, when it has one
};

// A call on the accessibility bus; null when it was not answered.
GVariant* call(GDBusConnection* bus, const std::string& owner, const std::string& path, const char* interface,
               const char* method, GVariant* arguments, const char* reply) {
    return g_dbus_connection_call_sync(bus, owner.c_str(), path.c_str(), interface, method, arguments,
                                       G_VARIANT_TYPE(reply), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
}

std::string stringOf(GVariant* reply) {
    if (reply == nullptr) return {};
    GVariant* inner = g_variant_get_child_value(reply, 0);
    if (g_variant_is_of_type(inner, G_VARIANT_TYPE_VARIANT)) {
        GVariant* boxed = g_variant_get_variant(inner);
        g_variant_unref(inner);
        inner = boxed;
    }
    std::string text = g_variant_get_string(inner, nullptr);
    g_variant_unref(inner);
    g_variant_unref(reply);
    return text;
}

// Every element under (owner, path), as the reader walks it.
void walk(GDBusConnection* bus, const std::string& owner, const std::string& path, std::vector<Element>& into,
          int depth = 0) {
    if (depth > 40) return;
    Element element;
    element.name = stringOf(call(bus, owner, path, "org.freedesktop.DBus.Properties", "Get",
                                 g_variant_new("(ss)", "org.a11y.atspi.Accessible", "Name"), "(v)"));
    if (GVariant* interfaces = call(bus, owner, path, "org.a11y.atspi.Accessible", "GetInterfaces", nullptr, "(as)")) {
        const gchar** names = nullptr;
        g_variant_get(interfaces, "(^a&s)", &names);
        for (const gchar** name = names; name && *name; ++name)
            if (std::string(*name) == "org.a11y.atspi.Text")
                element.text = stringOf(call(bus, owner, path, "org.a11y.atspi.Text", "GetText",
                                             g_variant_new("(ii)", 0, -1), "(s)"));
        g_free(names);
        g_variant_unref(interfaces);
    }
    into.push_back(element);
    GVariant* children = call(bus, owner, path, "org.a11y.atspi.Accessible", "GetChildren", nullptr, "(a(so))");
    if (children == nullptr) return;
    GVariantIter* iter = nullptr;
    g_variant_get(children, "(a(so))", &iter);
    const gchar* childOwner = nullptr;
    const gchar* childPath = nullptr;
    while (g_variant_iter_next(iter, "(&s&o)", &childOwner, &childPath))
        walk(bus, childOwner, childPath, into, depth + 1);
    g_variant_iter_free(iter);
    g_variant_unref(children);
}

TEST(ScreenReader, ReadsEachFigureOnceUnderItsCaptionWithItsValueThroughATSPI) {
    const std::string launcherProgram = "/usr/libexec/at-spi-bus-launcher";
    ASSERT_TRUE(platform::testing::installed("dbus-daemon")) << "dbus-daemon is missing";
    ASSERT_EQ(::access(launcherProgram.c_str(), X_OK), 0) << launcherProgram << " is missing (at-spi2-core)";
    XServer x{std::nullopt, "1024x768x24"};
    ASSERT_FALSE(x.display.empty()) << "Xvfb did not start (is the xvfb package installed?)";
    XScreen screen(x.display);
    ProgramHome home("screen-reader");
    PrivateBus session(home.logPath("session-bus"));
    ASSERT_FALSE(session.address.empty()) << "the session bus did not start";
    const std::vector<std::pair<std::string, std::string>> desktop{
        {"DBUS_SESSION_BUS_ADDRESS", session.address}, {"DISPLAY", x.display}, {"HOME", home.tree.path.string()},
        {"XDG_RUNTIME_DIR", (home.tree.path / "runtime").string()}};
    // The accessibility bus and its registry, as a desktop session starts them.
    Child launcher({.arguments = {launcherProgram, "--launch-immediately"},
                    .environment = desktop,
                    .log = home.logPath("at-spi")});
    GDBusConnection* sessionBus = platform::testing::connectToBus(session.address);
    ASSERT_NE(sessionBus, nullptr);
    std::string address;
    ASSERT_TRUE(waitUntil([&] {
        address = stringOf(call(sessionBus, "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", nullptr, "(s)"));
        return !address.empty();
    })) << platform::testing::tail(home.logPath("at-spi"));
    g_object_unref(sessionBus);
    GDBusConnection* bus = platform::testing::connectToBus(address);
    ASSERT_NE(bus, nullptr);

    Child ravolet = home.start(x.display, "ravolet", {},
                               {{"DBUS_SESSION_BUS_ADDRESS", session.address}, {"QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1"}});
    ASSERT_TRUE(waitUntil([&] { return screen.shows("Scroll — Ravolet"); })) << home.read("ravolet");
    ASSERT_TRUE(home.waitForLog("ravolet", "Ravolet — Active")) << home.read("ravolet");

    std::vector<Element> elements;
    ASSERT_TRUE(waitUntil([&] {
        elements.clear();
        walk(bus, "org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root", elements);
        return std::ranges::any_of(elements, [](const Element& e) { return e.name == "This version"; });
    })) << "Ravolet's window is not on the accessibility bus";
    g_object_unref(bus);

    std::map<std::string, std::vector<std::string>> byName;
    for (const Element& element : elements) byName[element.name].push_back(element.text);
    // A figure, a status line: the caption once, the value as its text.
    for (const std::string caption : {"This version", "USB identifiers", "Live scrolling"}) {
        SCOPED_TRACE(caption);
        ASSERT_EQ(byName[caption].size(), 1u);
        EXPECT_FALSE(byName[caption][0].empty());
        EXPECT_NE(byName[caption][0], caption);
    }
    EXPECT_EQ(byName["USB identifiers"][0], "046D:C099");
    EXPECT_TRUE(ravolet.stop());
}

} // namespace
} // namespace ravolet
