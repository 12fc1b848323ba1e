// As much of logind as a compositor needs to open its devices in the kernel
// test VM, where no logind runs: one session, active on seat0, whose
// controller gets the DRM and input nodes it asks for by number. It owns
// org.freedesktop.login1 on the bus that DBUS_SYSTEM_BUS_ADDRESS names and
// prints "ready" once it does.

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include <gio/gio.h>
#include <gio/gunixfdlist.h>

namespace {

constexpr const char* managerPath = "/org/freedesktop/login1";
constexpr const char* sessionPath = "/org/freedesktop/login1/session/auto";

constexpr const char* introspection = R"xml(<node>
  <interface name="org.freedesktop.login1.Manager">
    <method name="GetSession"><arg type="s" direction="in"/><arg type="o" direction="out"/></method>
    <method name="GetSessionByPID"><arg type="u" direction="in"/><arg type="o" direction="out"/></method>
  </interface>
  <interface name="org.freedesktop.login1.Session">
    <method name="Activate"/>
    <method name="TakeControl"><arg type="b" direction="in"/></method>
    <method name="ReleaseControl"/>
    <method name="TakeDevice">
      <arg type="u" direction="in"/><arg type="u" direction="in"/>
      <arg type="h" direction="out"/><arg type="b" direction="out"/>
    </method>
    <method name="ReleaseDevice"><arg type="u" direction="in"/><arg type="u" direction="in"/></method>
    <method name="PauseDeviceComplete"><arg type="u" direction="in"/><arg type="u" direction="in"/></method>
    <signal name="PauseDevice"><arg type="u"/><arg type="u"/><arg type="s"/></signal>
    <signal name="ResumeDevice"><arg type="u"/><arg type="u"/><arg type="h"/></signal>
    <property name="Active" type="b" access="read"/>
    <property name="Seat" type="(so)" access="read"/>
    <property name="VTNr" type="u" access="read"/>
  </interface>
</node>)xml";

// The node the kernel numbers major:minor, from its uevent in sysfs.
std::string deviceNode(guint major, guint minor) {
    std::ifstream uevent("/sys/dev/char/" + std::to_string(major) + ":" + std::to_string(minor) + "/uevent");
    for (std::string line; std::getline(uevent, line);)
        if (line.starts_with("DEVNAME=")) return "/dev/" + line.substr(8);
    return {};
}

void takeDevice(GVariant* parameters, GDBusMethodInvocation* invocation) {
    guint major = 0, minor = 0;
    g_variant_get(parameters, "(uu)", &major, &minor);
    const std::string node = deviceNode(major, minor);
    const int fd = node.empty() ? -1 : ::open(node.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        g_dbus_method_invocation_return_error(invocation, G_IO_ERROR, G_IO_ERROR_NOT_FOUND, "no device %u:%u", major, minor);
        return;
    }
    GUnixFDList* fds = g_unix_fd_list_new_from_array(&fd, 1); // takes the descriptor
    g_dbus_method_invocation_return_value_with_unix_fd_list(invocation, g_variant_new("(hb)", 0, FALSE), fds);
    g_object_unref(fds);
}

void call(GDBusConnection*, const gchar*, const gchar*, const gchar* interface, const gchar* method, GVariant* parameters,
          GDBusMethodInvocation* invocation, gpointer) {
    const std::string name = method;
    if (std::string(interface) == "org.freedesktop.login1.Manager")
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", sessionPath));
    else if (name == "TakeDevice")
        takeDevice(parameters, invocation);
    else
        g_dbus_method_invocation_return_value(invocation, nullptr);
}

GVariant* property(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* name, GError**, gpointer) {
    const std::string property = name;
    if (property == "Active") return g_variant_new_boolean(TRUE);
    if (property == "Seat") return g_variant_new("(so)", "seat0", "/org/freedesktop/login1/seat/seat0");
    return g_variant_new_uint32(1);
}

const GDBusInterfaceVTable vtable{call, property, nullptr, {}};

} // namespace

int main() {
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, &error);
    GDBusNodeInfo* info = bus ? g_dbus_node_info_new_for_xml(introspection, &error) : nullptr;
    if (!info) {
        std::fprintf(stderr, "%s\n", error ? error->message : "no system bus");
        return 1;
    }
    if (!g_dbus_connection_register_object(bus, managerPath, info->interfaces[0], &vtable, nullptr, nullptr, &error) ||
        !g_dbus_connection_register_object(bus, sessionPath, info->interfaces[1], &vtable, nullptr, nullptr, &error)) {
        std::fprintf(stderr, "%s\n", error->message);
        return 1;
    }
    GVariant* reply = g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                                  "RequestName", g_variant_new("(su)", "org.freedesktop.login1", 4u), // DO_NOT_QUEUE
                                                  G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
    if (!reply) {
        std::fprintf(stderr, "%s\n", error->message);
        return 1;
    }
    guint owner = 0;
    g_variant_get(reply, "(u)", &owner);
    g_variant_unref(reply);
    if (owner != 1) { // DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER
        std::fprintf(stderr, "org.freedesktop.login1 has an owner already\n");
        return 1;
    }
    std::puts("ready");
    std::fflush(stdout);
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    g_main_loop_run(loop);
    return 0;
}
