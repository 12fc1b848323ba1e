#include "Platform/Linux/Desktop/DBusSession.hpp"

#include <gio/gio.h>

#include <condition_variable>
#include <mutex>

#include "Platform/Thread.hpp"

namespace ravolet::platform {

struct DBusSession::State {
    GMainContext* context = nullptr;
    GMainLoop* loop = nullptr;
    GDBusConnection* connection = nullptr;
    Thread thread;
};

GDBusConnection* openPrivateBusConnection(const std::optional<std::string>& address, bool systemBus) {
    gchar* found = address ? g_strdup(address->c_str())
                           : g_dbus_address_get_for_bus_sync(systemBus ? G_BUS_TYPE_SYSTEM : G_BUS_TYPE_SESSION,
                                                             nullptr, nullptr);
    if (!found) return nullptr;
    GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
        found,
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    g_free(found);
    // The program goes on when the bus goes; its users say they cannot tell.
    if (connection) g_dbus_connection_set_exit_on_close(connection, FALSE);
    return connection;
}

namespace {

std::unique_ptr<DBusSession> connectTo(GBusType bus) {
    GDBusConnection* connection = openPrivateBusConnection(std::nullopt, bus == G_BUS_TYPE_SYSTEM);
    if (!connection) return nullptr;
    auto state = std::make_unique<DBusSession::State>();
    state->connection = connection;
    state->context = g_main_context_new();
    state->loop = g_main_loop_new(state->context, FALSE);
    DBusSession::State* raw = state.get();
    const char* name = bus == G_BUS_TYPE_SYSTEM ? "ai.ravolet.dbus-system" : "ai.ravolet.dbus";
    state->thread = Thread({name, ThreadPriority::utility, 0}, [raw] {
        g_main_context_push_thread_default(raw->context);
        g_main_loop_run(raw->loop);
        g_main_context_pop_thread_default(raw->context);
    });
    if (!state->thread.started()) {
        g_main_loop_unref(state->loop);
        g_main_context_unref(state->context);
        g_object_unref(connection);
        return nullptr;
    }
    return std::make_unique<DBusSession>(std::move(state));
}

} // namespace

std::unique_ptr<DBusSession> DBusSession::connect() { return connectTo(G_BUS_TYPE_SESSION); }

std::unique_ptr<DBusSession> DBusSession::connectSystem() { return connectTo(G_BUS_TYPE_SYSTEM); }

DBusSession::DBusSession(std::unique_ptr<State> state) : state_(std::move(state)) {}

DBusSession::~DBusSession() {
    // Whatever callbacks are still queued on the context run no more once
    // the loop has ended; the connection goes last.
    // Quit from inside the loop: a quit before it first ran would be lost.
    g_main_context_invoke(
        state_->context,
        [](gpointer loop) -> gboolean {
            g_main_loop_quit(static_cast<GMainLoop*>(loop));
            return G_SOURCE_REMOVE;
        },
        state_->loop);
    state_->thread.join();
    g_dbus_connection_close_sync(state_->connection, nullptr, nullptr);
    g_object_unref(state_->connection);
    while (g_main_context_iteration(state_->context, FALSE)) {
    }
    g_main_loop_unref(state_->loop);
    g_main_context_unref(state_->context);
}

GDBusConnection* DBusSession::connection() const { return state_->connection; }
GMainContext* DBusSession::context() const { return state_->context; }
bool DBusSession::isCurrent() const { return g_main_context_is_owner(state_->context); }

void DBusSession::invoke(const std::function<void()>& work) const {
    if (isCurrent()) return work();
    struct Call {
        const std::function<void()>* work;
        std::mutex lock;
        std::condition_variable done;
        bool finished = false;
    } call{&work, {}, {}, false};
    g_main_context_invoke(
        state_->context,
        [](gpointer data) -> gboolean {
            auto* call = static_cast<Call*>(data);
            (*call->work)();
            // Notified under the lock: the waiter's call ends as it returns.
            std::lock_guard guard(call->lock);
            call->finished = true;
            call->done.notify_one();
            return G_SOURCE_REMOVE;
        },
        &call);
    std::unique_lock guard(call.lock);
    call.done.wait(guard, [&] { return call.finished; });
}

std::optional<std::string> DBusSession::nameOwner(const std::string& name) const {
    GVariant* reply = g_dbus_connection_call_sync(state_->connection, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus", "GetNameOwner", g_variant_new("(s)", name.c_str()),
                                                  G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    if (!reply) return std::nullopt;
    const gchar* owner = nullptr;
    g_variant_get(reply, "(&s)", &owner);
    std::string result = owner;
    g_variant_unref(reply);
    return result;
}

} // namespace ravolet::platform
