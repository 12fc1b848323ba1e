#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

typedef struct _GDBusConnection GDBusConnection;
typedef struct _GMainContext GMainContext;

namespace ravolet::platform {

// A private connection of its own to the bus at `address`, else to the
// session bus as GIO finds it; one that does not end the program when the bus
// goes. None when it cannot be reached. The caller unrefs it.
GDBusConnection* openPrivateBusConnection(const std::optional<std::string>& address = std::nullopt,
                                          bool systemBus = false);

// A private connection to the session bus (or the system bus), with a thread
// of its own that runs a GLib main context: every callback of the connection
// (method calls to an object of ours, signals, name watches) and every timer
// made on context() runs there. D-Bus goes through GDBus from GIO, which also
// gives GSettings (GNOME Shell's list of enabled extensions) from the same
// library. Each bus is found as GIO finds it, so DBUS_SESSION_BUS_ADDRESS and
// DBUS_SYSTEM_BUS_ADDRESS point it elsewhere.
class DBusSession {
public:
    // None when there is no session bus to reach.
    static std::unique_ptr<DBusSession> connect();
    // The system bus (logind, RealtimeKit); none when there is none to reach.
    static std::unique_ptr<DBusSession> connectSystem();
    // Closes the connection and ends the thread; never on that thread.
    ~DBusSession();
    DBusSession(const DBusSession&) = delete;
    DBusSession& operator=(const DBusSession&) = delete;

    GDBusConnection* connection() const;
    GMainContext* context() const;
    // Runs `work` on the session's thread and waits for it (at once when
    // called there). Subscriptions and watches are made this way, so that
    // their callbacks arrive on that thread.
    void invoke(const std::function<void()>& work) const;
    bool isCurrent() const;

    // The owner of a bus name, if any.
    std::optional<std::string> nameOwner(const std::string& name) const;

    struct State;
    explicit DBusSession(std::unique_ptr<State> state);

private:
    std::unique_ptr<State> state_;
};

} // namespace ravolet::platform
