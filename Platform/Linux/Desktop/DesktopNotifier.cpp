#include "Platform/Linux/Desktop/DesktopNotifier.hpp"

#include <gio/gio.h>

#include "Platform/Linux/Desktop/DBusSession.hpp"

namespace ravolet::platform {

namespace {

constexpr const char* service = "org.freedesktop.Notifications";
constexpr const char* path = "/org/freedesktop/Notifications";
// Long enough for a service the bus starts on demand.
constexpr int answerMillis = 2000;

} // namespace

DesktopNotifier::DesktopNotifier(std::optional<std::string> busAddress) : busAddress_(std::move(busAddress)) {}

DesktopNotifier::~DesktopNotifier() {
    if (connection_) g_object_unref(connection_);
}

bool DesktopNotifier::reachService() {
    if (serviceAnswered_) return true;
    if (!connection_) connection_ = openPrivateBusConnection(busAddress_);
    if (!connection_) return false;
    GVariant* reply = g_dbus_connection_call_sync(connection_, service, path, service, "GetCapabilities", nullptr,
                                                  G_VARIANT_TYPE("(as)"), G_DBUS_CALL_FLAGS_NONE, answerMillis, nullptr,
                                                  nullptr);
    if (!reply) return false;
    GVariantIter* capabilities = nullptr;
    g_variant_get(reply, "(as)", &capabilities);
    const gchar* capability = nullptr;
    while (g_variant_iter_loop(capabilities, "&s", &capability))
        if (g_strcmp0(capability, "body-markup") == 0) readsMarkup_ = true;
    g_variant_iter_free(capabilities);
    g_variant_unref(reply);
    serviceAnswered_ = true;
    return true;
}

void DesktopNotifier::notify(const std::string& title, const std::string& body) {
    std::lock_guard guard(lock_);
    if (!reachService()) return;
    // The text may hold anything a command line does: made valid UTF-8 for the bus.
    gchar* valid = g_utf8_make_valid(body.c_str(), static_cast<gssize>(body.size()));
    gchar* text = readsMarkup_ ? g_markup_escape_text(valid, -1) : g_strdup(valid);
    g_free(valid);
    GVariantBuilder actions;
    g_variant_builder_init(&actions, G_VARIANT_TYPE("as"));
    GVariantBuilder hints;
    g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&hints, "{sv}", "desktop-entry", g_variant_new_string("ravolet"));
    // No reply is asked for: the call returns at once.
    g_dbus_connection_call(connection_, service, path, service, "Notify",
                           g_variant_new("(susssasa{sv}i)", "Ravolet", 0u, "ravolet", title.c_str(), text, &actions,
                                         &hints, -1),
                           nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr, nullptr);
    g_free(text);
}

} // namespace ravolet::platform
