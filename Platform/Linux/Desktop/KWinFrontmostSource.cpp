#include "Platform/Linux/Desktop/KWinFrontmostSource.hpp"

#include <gio/gio.h>
#include <nlohmann/json.hpp>

#include <mutex>
#include <string>
#include <string_view>

#include "Platform/Linux/Desktop/DBusSession.hpp"
#include "Platform/Linux/Desktop/FrontReport.hpp"

namespace ravolet::platform {

namespace {

constexpr const char* objectPath = "/ai/ravolet/FrontWindow";
constexpr const char* interfaceXML = R"(<node>
  <interface name="ai.ravolet.FrontWindow">
    <method name="Activated"><arg type="s" direction="in"/><arg type="s" direction="in"/></method>
    <method name="Windows"><arg type="s" direction="in"/></method>
  </interface>
</node>)";

GDBusInterfaceInfo* interfaceInfo() {
    static GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(interfaceXML, nullptr);
    return node->interfaces[0];
}

WindowClues clues(std::string_view resourceClass, std::string_view desktopFile) {
    WindowClues clues;
    if (!desktopFile.empty()) clues.declaredIDs.emplace_back(desktopFile);
    if (!resourceClass.empty()) clues.classes.emplace_back(resourceClass);
    return clues;
}

// A call to KWin; the reply, or null when KWin answered with an error.
GVariant* callKWin(GDBusConnection* connection, const char* path, const char* interface, const char* method,
                   GVariant* parameters, const GVariantType* replyType = nullptr) {
    return g_dbus_connection_call_sync(connection, "org.kde.KWin", path, interface, method, parameters, replyType,
                                       G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
}

bool callKWinSucceeds(GDBusConnection* connection, const char* path, const char* interface, const char* method,
                      GVariant* parameters) {
    GVariant* reply = callKWin(connection, path, interface, method, parameters);
    if (reply) g_variant_unref(reply);
    return reply != nullptr;
}

} // namespace

struct KWinFrontmostSource::State {
    std::unique_ptr<DBusSession> session;
    // KWin's unique name: only its calls are believed.
    std::string kwin;
    guint registration = 0;
    guint nameWatch = 0;
    bool scriptLoaded = false;
    // On the session's thread only.
    GSource* pendingEmpty = nullptr;
    FrontReport report;

    void setFront(std::optional<WindowClues> window) { report.setFront({FrontmostTracking::State::following, std::move(window)}); }

    void dropPendingEmpty() {
        if (!pendingEmpty) return;
        g_source_destroy(pendingEmpty);
        g_source_unref(pendingEmpty);
        pendingEmpty = nullptr;
    }

    void activated(std::string_view resourceClass, std::string_view desktopFile) {
        dropPendingEmpty();
        if (!resourceClass.empty() || !desktopFile.empty()) return setFront(clues(resourceClass, desktopFile));
        // Most likely the first half of a switch: believed once nothing follows.
        pendingEmpty = g_timeout_source_new(emptyReportDelayMillis);
        g_source_set_callback(
            pendingEmpty,
            [](gpointer data) -> gboolean {
                auto* state = static_cast<State*>(data);
                g_source_unref(state->pendingEmpty);
                state->pendingEmpty = nullptr;
                state->setFront(std::nullopt);
                return G_SOURCE_REMOVE;
            },
            this, nullptr);
        g_source_attach(pendingEmpty, session->context());
    }

    // The script's JSON list of windows, each its resource class and desktop
    // file name; none when it is not such a list (the last list stands).
    static std::optional<std::vector<WindowClues>> listed(std::string_view text) {
        const auto windows = nlohmann::json::parse(text, nullptr, false);
        if (!windows.is_array()) return std::nullopt;
        std::vector<WindowClues> listed;
        for (const auto& window : windows) {
            const auto text = [&window](const char* key) -> const std::string* {
                const auto value = window.is_object() ? window.find(key) : window.end();
                return value != window.end() && value->is_string() ? value->get_ptr<const std::string*>() : nullptr;
            };
            const std::string* resourceClass = text("resourceClass");
            const std::string* desktopFile = text("desktopFileName");
            if (!resourceClass || !desktopFile) return std::nullopt;
            listed.push_back(clues(*resourceClass, *desktopFile));
        }
        return listed;
    }

    static void methodCall(GDBusConnection*, const gchar* sender, const gchar*, const gchar*, const gchar* method,
                           GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data) {
        auto* state = static_cast<State*>(data);
        if (state->kwin != sender) {
            g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.AccessDenied",
                                                       "Only KWin reports windows here");
            return;
        }
        if (std::string_view(method) == "Activated") {
            const gchar *resourceClass = nullptr, *desktopFile = nullptr;
            g_variant_get(parameters, "(&s&s)", &resourceClass, &desktopFile);
            state->activated(resourceClass, desktopFile);
        } else {
            const gchar* text = nullptr;
            g_variant_get(parameters, "(&s)", &text);
            auto windows = listed(text);
            if (!windows) {
                g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.InvalidArgs",
                                                           "Windows takes a JSON list of windows, each with its "
                                                           "resourceClass and desktopFileName");
                return;
            }
            state->report.setWindows(std::move(*windows));
        }
        g_dbus_method_invocation_return_value(invocation, nullptr);
    }

    static constexpr GDBusInterfaceVTable vtable{&methodCall, nullptr, nullptr, {}};

    bool loadScript(const std::filesystem::path& script) {
        GDBusConnection* connection = session->connection();
        // One left by a Ravolet that ended without unloading it.
        callKWinSucceeds(connection, "/Scripting", "org.kde.kwin.Scripting", "unloadScript",
                         g_variant_new("(s)", pluginName));
        GVariant* reply = callKWin(connection, "/Scripting", "org.kde.kwin.Scripting", "loadScript",
                                   g_variant_new("(ss)", script.c_str(), pluginName), G_VARIANT_TYPE("(i)"));
        if (!reply) return false;
        gint32 id = -1;
        g_variant_get(reply, "(i)", &id);
        g_variant_unref(reply);
        if (id < 0) return false;
        scriptLoaded = true;
        const std::string plasma6 = "/Scripting/Script" + std::to_string(id);
        const std::string plasma5 = "/" + std::to_string(id);
        for (const std::string& path : {plasma6, plasma5}) {
            if (callKWinSucceeds(connection, path.c_str(), "org.kde.kwin.Script", "run", nullptr)) return true;
        }
        return false;
    }

    void close() {
        if (scriptLoaded) {
            callKWinSucceeds(session->connection(), "/Scripting", "org.kde.kwin.Scripting", "unloadScript",
                             g_variant_new("(s)", pluginName));
        }
        session->invoke([this] {
            dropPendingEmpty();
            if (registration) g_dbus_connection_unregister_object(session->connection(), registration);
            if (nameWatch) g_bus_unwatch_name(nameWatch);
        });
        session.reset();
    }
};

KWinFrontmostSource::KWinFrontmostSource(std::filesystem::path script) : script_(std::move(script)) {}

KWinFrontmostSource::~KWinFrontmostSource() { stop(); }

bool KWinFrontmostSource::start(std::function<void()> changed) {
    if (state_) return true;
    auto state = std::make_shared<State>();
    state->session = DBusSession::connect();
    if (!state->session) return false;
    const auto kwin = state->session->nameOwner("org.kde.KWin");
    if (!kwin) return false;
    state->kwin = *kwin;
    state->report.onChange(std::move(changed));
    GDBusConnection* connection = state->session->connection();
    GVariant* owned = g_dbus_connection_call_sync(connection, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus", "RequestName",
                                                  g_variant_new("(su)", busName, 4u /* do not queue */),
                                                  G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    guint32 result = 0;
    if (owned) {
        g_variant_get(owned, "(u)", &result);
        g_variant_unref(owned);
    }
    // 1: now the owner; 4: already was.
    if (result != 1 && result != 4) {
        state->close();
        return false;
    }
    State* raw = state.get();
    state->session->invoke([raw, connection] {
        raw->registration =
            g_dbus_connection_register_object(connection, objectPath, interfaceInfo(), &State::vtable, raw, nullptr, nullptr);
        raw->nameWatch = g_bus_watch_name_on_connection(
            connection, "org.kde.KWin", G_BUS_NAME_WATCHER_FLAGS_NONE, nullptr,
            [](GDBusConnection*, const gchar*, gpointer data) { static_cast<State*>(data)->report.lose(); }, raw,
            nullptr);
    });
    if (!state->registration || !state->loadScript(script_)) {
        state->close();
        return false;
    }
    state_ = std::move(state);
    return true;
}

void KWinFrontmostSource::stop() {
    if (auto state = std::move(state_)) state->close();
}

FrontmostSource::Front KWinFrontmostSource::front() const {
    if (!state_) return {FrontmostTracking::State::cannotTell, std::nullopt};
    return state_->report.front();
}

std::vector<WindowClues> KWinFrontmostSource::windows() const {
    return state_ ? state_->report.windows() : std::vector<WindowClues>{};
}

} // namespace ravolet::platform
