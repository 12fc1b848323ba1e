#include "Platform/Linux/Desktop/GnomeShellFrontmostSource.hpp"

#include <gio/gio.h>

#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <system_error>

#include "Platform/Linux/Desktop/DBusSession.hpp"
#include "Platform/Linux/Desktop/FrontReport.hpp"

namespace ravolet::platform {

namespace fs = std::filesystem;

namespace {

constexpr const char* objectPath = "/ai/ravolet/ShellFrontWindow";
constexpr const char* interfaceName = "ai.ravolet.ShellFrontWindow";

// The shell's extension states (ExtensionState in its extensionUtils).
constexpr double extensionDisabled = 2;
constexpr double extensionInitialized = 6;

WindowClues clues(const char* appID, const char* windowClass) {
    WindowClues clues;
    if (appID && *appID) clues.declaredIDs.emplace_back(appID);
    if (windowClass && *windowClass) clues.classes.emplace_back(windowClass);
    return clues;
}

GVariant* callShell(GDBusConnection* connection, const char* interface, const char* method, GVariant* parameters,
                    const GVariantType* replyType) {
    return g_dbus_connection_call_sync(connection, "org.gnome.Shell", "/org/gnome/Shell", interface, method,
                                       parameters, replyType, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
}

// GNOME Shell's own settings, when its schema is installed.
GSettings* shellSettings() {
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    GSettingsSchema* schema = source ? g_settings_schema_source_lookup(source, "org.gnome.shell", TRUE) : nullptr;
    if (!schema) return nullptr;
    GSettings* settings = g_settings_new_full(schema, nullptr, nullptr);
    g_settings_schema_unref(schema);
    return settings;
}

bool hasKey(GSettings* settings, const char* key) {
    GSettingsSchema* schema = nullptr;
    g_object_get(settings, "settings-schema", &schema, nullptr);
    const bool has = schema && g_settings_schema_has_key(schema, key);
    if (schema) g_settings_schema_unref(schema);
    return has;
}

// Adds `uuid` to one string list of the settings and takes it out of another.
void moveBetweenLists(GSettings* settings, const char* into, const char* outOf) {
    for (const char* key : {into, outOf}) {
        if (!hasKey(settings, key)) continue;
        gchar** list = g_settings_get_strv(settings, key);
        GStrvBuilder* builder = g_strv_builder_new();
        bool present = false;
        for (gchar** item = list; *item; ++item) {
            if (g_strcmp0(*item, GnomeShellFrontmostSource::uuid) == 0) {
                present = true;
                if (key == outOf) continue;
            }
            g_strv_builder_add(builder, *item);
        }
        if (key == into && !present) g_strv_builder_add(builder, GnomeShellFrontmostSource::uuid);
        gchar** updated = g_strv_builder_end(builder);
        if (key == into ? !present : present) g_settings_set_strv(settings, key, updated);
        g_strfreev(updated);
        g_strv_builder_unref(builder);
        g_strfreev(list);
    }
}

std::string fileText(const fs::path& file) {
    std::ifstream stream(file, std::ios::binary);
    std::ostringstream text;
    text << stream.rdbuf();
    return text.str();
}

} // namespace

struct GnomeShellFrontmostSource::State {
    std::unique_ptr<DBusSession> session;
    fs::path extensions, userExtensions;
    guint extensionWatch = 0;
    guint shellWatch = 0;
    guint signal = 0;
    FrontReport report;

    void set(Front next) { report.setFront(std::move(next)); }

    // The shell's major version, from its ShellVersion property; 0 when unknown.
    int shellMajorVersion() const {
        GVariant* reply = callShell(session->connection(), "org.freedesktop.DBus.Properties", "Get",
                                    g_variant_new("(ss)", "org.gnome.Shell", "ShellVersion"), G_VARIANT_TYPE("(v)"));
        if (!reply) return 0;
        GVariant* value = nullptr;
        g_variant_get(reply, "(v)", &value);
        const int major = g_variant_is_of_type(value, G_VARIANT_TYPE_STRING) ? std::atoi(g_variant_get_string(value, nullptr)) : 0;
        g_variant_unref(value);
        g_variant_unref(reply);
        return major;
    }

    // Puts the extension's build for this shell into the user's folder when
    // it is not there (or differs); enables it when it was not there at all.
    void install() const {
        std::error_code error;
        if (fs::exists(fs::path("/usr/share/gnome-shell/extensions") / uuid, error)) return;
        const fs::path build = extensions / (shellMajorVersion() >= 45 ? "45-and-later" : "up-to-44");
        const fs::path target = userExtensions / uuid;
        const bool fresh = !fs::exists(target, error);
        fs::create_directories(target, error);
        if (error) return;
        for (const char* name : {"metadata.json", "extension.js"}) {
            const std::string text = fileText(build / name);
            if (text.empty() || fileText(target / name) == text) continue;
            std::ofstream(target / name, std::ios::binary | std::ios::trunc) << text;
        }
        if (!fresh) return;
        if (GSettings* settings = shellSettings()) {
            moveBetweenLists(settings, "enabled-extensions", "disabled-extensions");
            g_settings_sync();
            g_object_unref(settings);
        }
    }

    // What keeps the extension from answering, while it does not.
    FrontmostTracking::State whyNotRunning() const {
        if (GSettings* settings = shellSettings()) {
            const bool allOff = hasKey(settings, "disable-user-extensions") &&
                                g_settings_get_boolean(settings, "disable-user-extensions");
            g_object_unref(settings);
            if (allOff) return FrontmostTracking::State::switchedOff;
        }
        GVariant* reply = callShell(session->connection(), "org.gnome.Shell.Extensions", "GetExtensionInfo",
                                    g_variant_new("(s)", uuid), G_VARIANT_TYPE("(a{sv})"));
        if (!reply) return FrontmostTracking::State::cannotTell;
        GVariant* info = g_variant_get_child_value(reply, 0);
        double state = -1;
        const bool known = g_variant_n_children(info) > 0;
        g_variant_lookup(info, "state", "d", &state);
        g_variant_unref(info);
        g_variant_unref(reply);
        if (!known) return FrontmostTracking::State::waitingForLogin;
        if (state == extensionDisabled || state == extensionInitialized) return FrontmostTracking::State::switchedOff;
        return FrontmostTracking::State::cannotTell;
    }

    void extensionAppeared() {
        GVariant* reply = g_dbus_connection_call_sync(session->connection(), busName, objectPath, interfaceName, "Get",
                                                      nullptr, G_VARIANT_TYPE("(ss)"), G_DBUS_CALL_FLAGS_NONE, 5000,
                                                      nullptr, nullptr);
        Front next;
        if (reply) {
            const gchar *appID = nullptr, *windowClass = nullptr;
            g_variant_get(reply, "(&s&s)", &appID, &windowClass);
            if (*appID || *windowClass) next.window = clues(appID, windowClass);
            g_variant_unref(reply);
        }
        set(std::move(next));
    }

    void extensionVanished() { set({whyNotRunning(), std::nullopt}); }

    void changedSignal(GVariant* parameters) {
        const gchar *appID = nullptr, *windowClass = nullptr;
        g_variant_get(parameters, "(&s&s)", &appID, &windowClass);
        Front next;
        if (*appID || *windowClass) next.window = clues(appID, windowClass);
        set(std::move(next));
    }

    // On the session's thread: the watches whose callbacks keep the front.
    void watch() {
        GDBusConnection* connection = session->connection();
        signal = g_dbus_connection_signal_subscribe(
            connection, busName, interfaceName, "Changed", objectPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
            [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* parameters,
               gpointer data) { static_cast<State*>(data)->changedSignal(parameters); },
            this, nullptr);
        extensionWatch = g_bus_watch_name_on_connection(
            connection, busName, G_BUS_NAME_WATCHER_FLAGS_NONE,
            [](GDBusConnection*, const gchar*, const gchar*, gpointer data) { static_cast<State*>(data)->extensionAppeared(); },
            [](GDBusConnection*, const gchar*, gpointer data) { static_cast<State*>(data)->extensionVanished(); }, this,
            nullptr);
        shellWatch = g_bus_watch_name_on_connection(
            connection, "org.gnome.Shell", G_BUS_NAME_WATCHER_FLAGS_NONE, nullptr,
            [](GDBusConnection*, const gchar*, gpointer data) { static_cast<State*>(data)->report.lose(); }, this,
            nullptr);
    }

    void close() {
        session->invoke([this] {
            if (signal) g_dbus_connection_signal_unsubscribe(session->connection(), signal);
            if (extensionWatch) g_bus_unwatch_name(extensionWatch);
            if (shellWatch) g_bus_unwatch_name(shellWatch);
        });
        session.reset();
    }
};

GnomeShellFrontmostSource::GnomeShellFrontmostSource(fs::path extensions, fs::path userExtensions)
    : extensions_(std::move(extensions)), userExtensions_(std::move(userExtensions)) {}

GnomeShellFrontmostSource::~GnomeShellFrontmostSource() { stop(); }

bool GnomeShellFrontmostSource::start(std::function<void()> changed) {
    if (state_) return true;
    auto state = std::make_shared<State>();
    state->session = DBusSession::connect();
    if (!state->session || !state->session->nameOwner("org.gnome.Shell")) return false;
    state->extensions = extensions_;
    state->userExtensions = userExtensions_;
    if (!state->session->nameOwner(busName)) {
        state->install();
        state->set({state->whyNotRunning(), std::nullopt});
    }
    state->report.onChange(std::move(changed));
    State* raw = state.get();
    state->session->invoke([raw] { raw->watch(); });
    state_ = std::move(state);
    return true;
}

void GnomeShellFrontmostSource::stop() {
    if (auto state = std::move(state_)) state->close();
}

FrontmostSource::Front GnomeShellFrontmostSource::front() const {
    if (!state_) return {FrontmostTracking::State::cannotTell, std::nullopt};
    return state_->report.front();
}

std::vector<WindowClues> GnomeShellFrontmostSource::windows() const {
    if (!state_ || state_->report.lost()) return {};
    GVariant* reply = g_dbus_connection_call_sync(state_->session->connection(), busName, objectPath, interfaceName,
                                                  "RunningApps", nullptr, G_VARIANT_TYPE("(as)"),
                                                  G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    if (!reply) return {};
    std::vector<WindowClues> windows;
    GVariantIter* ids = nullptr;
    g_variant_get(reply, "(as)", &ids);
    const gchar* id = nullptr;
    while (g_variant_iter_loop(ids, "&s", &id)) windows.push_back(clues(id, nullptr));
    g_variant_iter_free(ids);
    g_variant_unref(reply);
    return windows;
}

} // namespace ravolet::platform
