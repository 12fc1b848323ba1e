#include "Platform/Linux/Desktop/LogindSessionWatcher.hpp"

#include <gio/gio.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string>

#include "Platform/Linux/Desktop/DBusSession.hpp"
#include "Platform/Thread.hpp"

namespace ravolet::platform {

namespace {

constexpr const char* logind = "org.freedesktop.login1";
constexpr const char* sessionInterface = "org.freedesktop.login1.Session";
constexpr int callLimitMillis = 5000;

} // namespace

struct LogindSessionWatcher::State {
    explicit State(LogindSessionWatcher& owner) : owner(owner) {}

    LogindSessionWatcher& owner;
    std::atomic<bool> active{true};
    // Set by the starter; the session's thread calls back into this state
    // until the bus is dropped.
    std::unique_ptr<DBusSession> bus;
    std::string path;
    guint subscription = 0;
    GCancellable* cancellable = g_cancellable_new();
    Thread starter;

    ~State() { g_object_unref(cancellable); }

    // On the session's thread, where every report arrives in order.
    void set(bool now) {
        if (active.exchange(now) != now) owner.tell(now);
    }

    void askActive() {
        g_dbus_connection_call(
            bus->connection(), logind, path.c_str(), "org.freedesktop.DBus.Properties", "Get",
            g_variant_new("(ss)", sessionInterface, "Active"), G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE,
            callLimitMillis, cancellable,
            [](GObject* connection, GAsyncResult* result, gpointer data) {
                GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(connection), result, nullptr);
                if (!reply) return; // no answer: what was known stands
                GVariant* value = nullptr;
                g_variant_get(reply, "(v)", &value);
                if (g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN))
                    static_cast<State*>(data)->set(g_variant_get_boolean(value));
                g_variant_unref(value);
                g_variant_unref(reply);
            },
            this);
    }

    static void propertiesChanged(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                                  GVariant* parameters, gpointer data) {
        auto* state = static_cast<State*>(data);
        if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(sa{sv}as)"))) return;
        GVariant* changed = nullptr;
        const gchar** invalidated = nullptr;
        g_variant_get(parameters, "(&s@a{sv}^a&s)", nullptr, &changed, &invalidated);
        gboolean active = FALSE;
        if (g_variant_lookup(changed, "Active", "b", &active)) {
            state->set(active);
        } else {
            for (const gchar** name = invalidated; name && *name; ++name)
                if (std::string_view(*name) == "Active") state->askActive();
        }
        g_variant_unref(changed);
        g_free(invalidated);
    }

    // On the starter's thread.
    void start(const std::string& sessionID) {
        auto connected = DBusSession::connectSystem();
        if (!connected) return;
        GVariant* reply = g_dbus_connection_call_sync(
            connected->connection(), logind, "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "GetSession",
            g_variant_new("(s)", sessionID.c_str()), G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE, callLimitMillis,
            cancellable, nullptr);
        if (!reply) return;
        const gchar* object = nullptr;
        g_variant_get(reply, "(&o)", &object);
        path = object;
        g_variant_unref(reply);
        bus = std::move(connected);
        // Told first, asked second: a change in between is not lost.
        bus->invoke([this] {
            subscription = g_dbus_connection_signal_subscribe(bus->connection(), logind,
                                                              "org.freedesktop.DBus.Properties", "PropertiesChanged",
                                                              path.c_str(), sessionInterface, G_DBUS_SIGNAL_FLAGS_NONE,
                                                              &State::propertiesChanged, this, nullptr);
            askActive();
        });
    }
};

LogindSessionWatcher::LogindSessionWatcher() : state_(std::make_unique<State>(*this)) {
    const char* session = std::getenv("XDG_SESSION_ID");
    std::string sessionID = session && *session ? session : "auto";
    State* raw = state_.get();
    state_->starter = Thread({"ai.ravolet.logind", ThreadPriority::utility, 0},
                             [raw, sessionID = std::move(sessionID)] { raw->start(sessionID); });
}

LogindSessionWatcher::~LogindSessionWatcher() {
    g_cancellable_cancel(state_->cancellable);
    if (state_->starter.joinable()) state_->starter.join();
    if (!state_->bus) return;
    state_->bus->invoke([state = state_.get()] {
        if (state->subscription) g_dbus_connection_signal_unsubscribe(state->bus->connection(), state->subscription);
    });
    state_->bus.reset();
}

bool LogindSessionWatcher::isActive() const { return state_->active.load(); }

} // namespace ravolet::platform
