#include "Platform/Linux/Desktop/RealtimeKit.hpp"

#include <gio/gio.h>

#include "Platform/Linux/Desktop/DBusSession.hpp"

namespace ravolet::platform::RealtimeKit {

bool makeThreadHighPriority(std::int64_t threadID, int nice) {
    // Asked once per start of a thread that needs it: a connection of its own
    // for the one call (no thread of its own) is cheaper than one kept open
    // for nothing.
    GDBusConnection* bus = openPrivateBusConnection(std::nullopt, true);
    if (!bus) return false;
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.RealtimeKit1", "/org/freedesktop/RealtimeKit1", "org.freedesktop.RealtimeKit1",
        "MakeThreadHighPriority", g_variant_new("(ti)", static_cast<guint64>(threadID), static_cast<gint32>(nice)), nullptr,
        G_DBUS_CALL_FLAGS_NONE, 1000, nullptr, &error);
    if (error) g_error_free(error);
    g_dbus_connection_close_sync(bus, nullptr, nullptr);
    g_object_unref(bus);
    if (!reply) return false;
    g_variant_unref(reply);
    return true;
}

} // namespace ravolet::platform::RealtimeKit
