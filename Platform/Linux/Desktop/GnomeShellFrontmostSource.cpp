#include "Platform/Linux/Desktop/GnomeShellFrontmostSource.hpp"

#include <gio/gio.h>

#include <cmath>
#include <string>

#include "Platform/Linux/Desktop/DBusSession.hpp"
#include "Platform/Linux/Desktop/FrontReport.hpp"
#include "Platform/Linux/Desktop/GnomeShellExtension.hpp"

namespace ravolet::platform {

namespace fs = std::filesystem;

namespace {

constexpr const char* objectPath = "/ai/ravolet/ShellFrontWindow";
constexpr const char* interfaceName = "ai.ravolet.ShellFrontWindow";
constexpr const char* shellName = "org.gnome.Shell";
constexpr const char* shellPath = "/org/gnome/Shell";
constexpr const char* extensionsInterface = "org.gnome.Shell.Extensions";
// How long the shell may take to answer one question.
constexpr int answerMilliseconds = 5000;

WindowClues clues(const char* appID, const char* windowClass) {
    WindowClues clues;
    if (appID && *appID) clues.declaredIDs.emplace_back(appID);
    if (windowClass && *windowClass) clues.classes.emplace_back(windowClass);
    return clues;
}

// The front of a Get reply or a Changed signal: (application id, window class).
std::optional<FrontmostSource::Front> frontOf(GVariant* value) {
    if (!value || !g_variant_is_of_type(value, G_VARIANT_TYPE("(ss)"))) return std::nullopt;
    const gchar *appID = nullptr, *windowClass = nullptr;
    g_variant_get(value, "(&s&s)", &appID, &windowClass);
    FrontmostSource::Front front;
    if (*appID || *windowClass) front.window = clues(appID, windowClass);
    return front;
}

// Runs `work` on the session's thread, without waiting for it.
void post(const DBusSession& session, std::function<void()> work) {
    g_main_context_invoke_full(
        session.context(), G_PRIORITY_DEFAULT,
        [](gpointer data) -> gboolean {
            (*static_cast<std::function<void()>*>(data))();
            return G_SOURCE_REMOVE;
        },
        new std::function<void()>(std::move(work)), [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
}

// A completion called exactly once: with the outcome it is given, or, when
// the work is dropped because the source stopped, with that.
class Outcome {
public:
    Outcome(std::shared_ptr<Executor> executor, FrontmostExtension::Completion done)
        : executor_(std::move(executor)), done_(std::move(done)) {}
    ~Outcome() { report(std::string("Ravolet stopped following GNOME Shell before it was done.")); }
    void report(std::optional<std::string> error) {
        if (!done_) return;
        executor_->post([done = std::move(done_), error = std::move(error)] { done(error); });
        done_ = nullptr;
    }

private:
    std::shared_ptr<Executor> executor_;
    FrontmostExtension::Completion done_;
};

} // namespace

// Everything but the report is used on the session's thread only.
struct GnomeShellFrontmostSource::State : std::enable_shared_from_this<State> {
    State(fs::path builds, fs::path userExtensions) : extension(std::move(builds), std::move(userExtensions)) {}
    ~State() {
        if (cancellable) g_object_unref(cancellable);
    }

    std::unique_ptr<DBusSession> session;
    const GnomeShellExtension extension;
    GCancellable* cancellable = nullptr;
    guint extensionWatch = 0;
    guint shellWatch = 0;
    guint changedSignal = 0;
    guint stateSignal = 0;
    FrontReport report;

    // Set on the session's thread as the source stops: what is still queued
    // there (or run as the session ends) does nothing.
    bool closing = false;
    // Whether the extension is on the bus.
    bool running = false;
    // What the shell last said of itself.
    std::string shellVersion;
    bool userExtensionsEnabled = true;
    // Each question counts its turn: an answer that a later question has
    // overtaken is dropped.
    unsigned frontTurn = 0, stateTurn = 0, windowsTurn = 0;

    using Answer = std::function<void(State&, GVariant* reply)>;

    // Asks on the bus; `answer` gets the reply (none when there was none),
    // on the session's thread, unless the source has stopped by then.
    void ask(const char* name, const char* path, const char* interface, const char* method, GVariant* parameters,
             const GVariantType* replyType, Answer answer) {
        struct Pending {
            std::weak_ptr<State> state;
            Answer answer;
        };
        g_dbus_connection_call(
            session->connection(), name, path, interface, method, parameters, replyType, G_DBUS_CALL_FLAGS_NONE,
            answerMilliseconds, cancellable,
            [](GObject* connection, GAsyncResult* result, gpointer data) {
                std::unique_ptr<Pending> pending(static_cast<Pending*>(data));
                GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(connection), result, nullptr);
                if (const auto state = pending->state.lock(); state && !state->closing) pending->answer(*state, reply);
                if (reply) g_variant_unref(reply);
            },
            new Pending{weak_from_this(), std::move(answer)});
    }

    void askExtension(const char* method, const GVariantType* replyType, Answer answer) {
        ask(busName, objectPath, interfaceName, method, nullptr, replyType, std::move(answer));
    }

    // The shell's version and whether it runs users' extensions, then `then`
    // (with false when the shell did not answer).
    void askShell(std::function<void(State&, bool answered)> then) {
        ask(shellName, shellPath, "org.freedesktop.DBus.Properties", "GetAll", g_variant_new("(s)", extensionsInterface),
            G_VARIANT_TYPE("(a{sv})"), [then = std::move(then)](State& state, GVariant* reply) {
                if (reply) {
                    GVariant* properties = g_variant_get_child_value(reply, 0);
                    const gchar* version = nullptr;
                    if (g_variant_lookup(properties, "ShellVersion", "&s", &version)) state.shellVersion = version;
                    gboolean enabled = TRUE;
                    if (g_variant_lookup(properties, "UserExtensionsEnabled", "b", &enabled))
                        state.userExtensionsEnabled = enabled;
                    g_variant_unref(properties);
                }
                then(state, reply != nullptr);
            });
    }

    // While the extension is not on the bus: what keeps it off, from the
    // shell's account of it and the files and settings.
    void refreshState() {
        if (running) return;
        const unsigned turn = ++stateTurn;
        askShell([turn](State& state, bool answered) {
            if (!answered || turn != state.stateTurn || state.running) return;
            state.ask(shellName, shellPath, extensionsInterface, "GetExtensionInfo",
                      g_variant_new("(s)", GnomeShellExtension::uuid), G_VARIANT_TYPE("(a{sv})"),
                      [turn](State& state, GVariant* reply) {
                          if (!reply || turn != state.stateTurn || state.running) return;
                          GVariant* info = g_variant_get_child_value(reply, 0);
                          std::optional<int> shellState;
                          double number = 0;
                          if (g_variant_lookup(info, "state", "d", &number)) shellState = static_cast<int>(std::lround(number));
                          g_variant_unref(info);
                          const auto facts = state.extension.facts(shellState, state.userExtensionsEnabled, state.shellVersion);
                          state.report.setFront({GnomeShellExtension::state(facts), std::nullopt});
                      });
        });
    }

    void refreshFront() {
        const unsigned turn = ++frontTurn;
        askExtension("Get", G_VARIANT_TYPE("(ss)"), [turn](State& state, GVariant* reply) {
            if (turn != state.frontTurn || !state.running) return;
            if (const auto front = frontOf(reply)) state.report.setFront(*front);
        });
    }

    void refreshWindows() {
        const unsigned turn = ++windowsTurn;
        askExtension("RunningApps", G_VARIANT_TYPE("(as)"), [turn](State& state, GVariant* reply) {
            if (!reply || turn != state.windowsTurn || !state.running) return;
            std::vector<WindowClues> windows;
            GVariantIter* ids = nullptr;
            g_variant_get(reply, "(as)", &ids);
            const gchar* id = nullptr;
            while (g_variant_iter_loop(ids, "&s", &id)) windows.push_back(clues(id, nullptr));
            g_variant_iter_free(ids);
            state.report.setWindows(std::move(windows));
        });
    }

    void extensionAppeared() {
        running = true;
        refreshFront();
        refreshWindows();
    }

    void extensionVanished() {
        running = false;
        ++frontTurn;
        ++windowsTurn;
        report.setWindows({});
        refreshState();
    }

    // The extension tells of a change of the front or of the running applications.
    void changed(GVariant* parameters) {
        if (const auto front = frontOf(parameters)) {
            ++frontTurn;
            report.setFront(*front);
        }
        refreshWindows();
    }

    // On the session's thread: the watches whose callbacks keep the report.
    void watch() {
        GDBusConnection* connection = session->connection();
        changedSignal = g_dbus_connection_signal_subscribe(
            connection, busName, interfaceName, "Changed", objectPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
            [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* parameters,
               gpointer data) { static_cast<State*>(data)->changed(parameters); },
            this, nullptr);
        // The shell's account of our extension changes (switched off or on,
        // stopped by an error, every user extension off).
        stateSignal = g_dbus_connection_signal_subscribe(
            connection, shellName, extensionsInterface, "ExtensionStateChanged", shellPath, GnomeShellExtension::uuid,
            G_DBUS_SIGNAL_FLAGS_NONE,
            [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*, gpointer data) {
                static_cast<State*>(data)->refreshState();
            },
            this, nullptr);
        extensionWatch = g_bus_watch_name_on_connection(
            connection, busName, G_BUS_NAME_WATCHER_FLAGS_NONE,
            [](GDBusConnection*, const gchar*, const gchar*, gpointer data) { static_cast<State*>(data)->extensionAppeared(); },
            [](GDBusConnection*, const gchar*, gpointer data) { static_cast<State*>(data)->extensionVanished(); }, this,
            nullptr);
        shellWatch = g_bus_watch_name_on_connection(
            connection, shellName, G_BUS_NAME_WATCHER_FLAGS_NONE, nullptr,
            [](GDBusConnection*, const gchar*, gpointer data) { static_cast<State*>(data)->report.lose(); }, this,
            nullptr);
    }

    // Installs or removes on the session's thread, then looks again.
    void change(bool installing, std::shared_ptr<Outcome> outcome) {
        post(*session, [weak = weak_from_this(), installing, outcome] {
            const auto state = weak.lock();
            if (!state || state->closing) return;
            state->askShell([installing, outcome](State& state, bool answered) {
                if (!answered) return outcome->report(std::string("GNOME Shell does not answer."));
                outcome->report(installing ? state.extension.install(state.shellVersion) : state.extension.remove());
                state.refreshState();
            });
        });
    }

    void close() {
        session->invoke([this] {
            closing = true;
            g_cancellable_cancel(cancellable);
            if (changedSignal) g_dbus_connection_signal_unsubscribe(session->connection(), changedSignal);
            if (stateSignal) g_dbus_connection_signal_unsubscribe(session->connection(), stateSignal);
            if (extensionWatch) g_bus_unwatch_name(extensionWatch);
            if (shellWatch) g_bus_unwatch_name(shellWatch);
        });
        // Whatever the session still runs as it ends finds the source closing.
        session.reset();
    }
};

GnomeShellFrontmostSource::GnomeShellFrontmostSource(fs::path extensions, fs::path userExtensions)
    : extensions_(std::move(extensions)), userExtensions_(std::move(userExtensions)) {}

GnomeShellFrontmostSource::~GnomeShellFrontmostSource() { stop(); }

bool GnomeShellFrontmostSource::start(std::function<void()> changed) {
    if (state_) return true;
    auto state = std::make_shared<State>(extensions_, userExtensions_);
    state->session = DBusSession::connect();
    // Questions to the bus itself, which answers from its own table of names;
    // nothing here waits for the shell.
    if (!state->session || !state->session->nameOwner(shellName)) return false;
    state->cancellable = g_cancellable_new();
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
    if (!state_) return {};
    return state_->report.windows();
}

void GnomeShellFrontmostSource::install(std::shared_ptr<Executor> executor, Completion done) {
    auto outcome = std::make_shared<Outcome>(std::move(executor), std::move(done));
    if (state_) state_->change(true, std::move(outcome));
}

void GnomeShellFrontmostSource::remove(std::shared_ptr<Executor> executor, Completion done) {
    auto outcome = std::make_shared<Outcome>(std::move(executor), std::move(done));
    if (state_) state_->change(false, std::move(outcome));
}

} // namespace ravolet::platform
