// Ravolet's settings window as a screen reader on a Linux desktop is given
// it: through AT-SPI, on an accessibility bus of the test's own.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <iostream>
#include <memory>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <string_view>
#include <string>
#include <thread>
#include <vector>

#include "Core/Config.hpp"
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
    std::string owner;
    std::string path;
    std::vector<std::string> interfaces;
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
    element.owner = owner;
    element.path = path;
    element.name = stringOf(call(bus, owner, path, "org.freedesktop.DBus.Properties", "Get",
                                 g_variant_new("(ss)", "org.a11y.atspi.Accessible", "Name"), "(v)"));
    if (GVariant* interfaces = call(bus, owner, path, "org.a11y.atspi.Accessible", "GetInterfaces", nullptr, "(as)")) {
        const gchar** names = nullptr;
        g_variant_get(interfaces, "(^a&s)", &names);
        for (const gchar** name = names; name && *name; ++name) {
            element.interfaces.emplace_back(*name);
            if (std::string(*name) == "org.a11y.atspi.Text")
                element.text = stringOf(call(bus, owner, path, "org.a11y.atspi.Text", "GetText",
                                             g_variant_new("(ii)", 0, -1), "(s)"));
        }
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

// The element named `name` that offers `interface`; null when there is none.
const Element* find(const std::vector<Element>& elements, const std::string& name, const std::string& interface) {
    for (const Element& element : elements)
        if (element.name == name && std::ranges::find(element.interfaces, interface) != element.interfaces.end())
            return &element;
    return nullptr;
}

// A property of an element's interface, as a double; none when unanswered.
std::optional<double> doubleProperty(GDBusConnection* bus, const Element& element, const char* interface,
                                     const char* property) {
    GVariant* reply = call(bus, element.owner, element.path, "org.freedesktop.DBus.Properties", "Get",
                           g_variant_new("(ss)", interface, property), "(v)");
    if (reply == nullptr) return std::nullopt;
    GVariant* boxed = g_variant_get_child_value(reply, 0);
    GVariant* inner = g_variant_get_variant(boxed);
    const std::optional<double> value =
        g_variant_is_of_type(inner, G_VARIANT_TYPE_DOUBLE) ? std::optional(g_variant_get_double(inner)) : std::nullopt;
    g_variant_unref(inner);
    g_variant_unref(boxed);
    g_variant_unref(reply);
    return value;
}

// The index of the element's action of that name (any case), else -1; what
// it offers goes into `offered`.
int actionIndex(GDBusConnection* bus, const Element& element, const char* wanted, std::string& offered) {
    GVariant* actions = call(bus, element.owner, element.path, "org.a11y.atspi.Action", "GetActions", nullptr,
                             "(a(sss))");
    if (actions == nullptr) return -1;
    int found = -1;
    GVariantIter* iter = nullptr;
    g_variant_get(actions, "(a(sss))", &iter);
    const gchar* actionName = nullptr;
    const gchar* actionDescription = nullptr;
    const gchar* keys = nullptr;
    for (int i = 0; g_variant_iter_next(iter, "(&s&s&s)", &actionName, &actionDescription, &keys); ++i) {
        offered += std::string(actionName) + " ";
        if (found < 0 && g_ascii_strcasecmp(actionName, wanted) == 0) found = i;
    }
    g_variant_iter_free(iter);
    g_variant_unref(actions);
    return found;
}

bool doAction(GDBusConnection* bus, const Element& element, int index) {
    GVariant* done = call(bus, element.owner, element.path, "org.a11y.atspi.Action", "DoAction",
                          g_variant_new("(i)", index), "(b)");
    if (done) g_variant_unref(done);
    return done != nullptr;
}

std::string description(GDBusConnection* bus, const Element& element) {
    return stringOf(call(bus, element.owner, element.path, "org.freedesktop.DBus.Properties", "Get",
                         g_variant_new("(ss)", "org.a11y.atspi.Accessible", "Description"), "(v)"));
}

std::string roleName(GDBusConnection* bus, const Element& element) {
    return stringOf(call(bus, element.owner, element.path, "org.a11y.atspi.Accessible", "GetRoleName", nullptr, "(s)"));
}

// A reader moving to an element (AT-SPI's Component.GrabFocus).
bool grabFocus(GDBusConnection* bus, const Element& element) {
    GVariant* done = call(bus, element.owner, element.path, "org.a11y.atspi.Component", "GrabFocus", nullptr, "(b)");
    gboolean grabbed = FALSE;
    if (done) {
        g_variant_get(done, "(b)", &grabbed);
        g_variant_unref(done);
    }
    return grabbed;
}

bool setValue(GDBusConnection* bus, const Element& element, double value) {
    GVariant* set = call(bus, element.owner, element.path, "org.freedesktop.DBus.Properties", "Set",
                         g_variant_new("(ssv)", "org.a11y.atspi.Value", "CurrentValue", g_variant_new_double(value)),
                         "()");
    if (set) g_variant_unref(set);
    return set != nullptr;
}

// An event the program told its readers: its kind (StateChanged,
// PropertyChange), its detail ("focused", "accessible-value") and first
// number, and the element it is about.
struct Told {
    std::string member;
    std::string detail;
    int number = 0;
    Element element;
};

// What a reader hears: the registry is asked for the events of `kinds` (so
// that the program sends them) and the test's connection takes them as they
// come.
class Listener {
public:
    Listener(GDBusConnection* bus, const std::vector<std::string>& kinds) : bus_(bus) {
        for (const std::string& kind : kinds)
            if (GVariant* done = call(bus, "org.a11y.atspi.Registry", "/org/a11y/atspi/registry",
                                      "org.a11y.atspi.Registry", "RegisterEvent", g_variant_new("(s)", kind.c_str()), "()"))
                g_variant_unref(done);
        id_ = g_dbus_connection_signal_subscribe(bus, nullptr, "org.a11y.atspi.Event.Object", nullptr, nullptr, nullptr,
                                                 G_DBUS_SIGNAL_FLAGS_NONE, &Listener::heard, this, nullptr);
    }
    ~Listener() { g_dbus_connection_signal_unsubscribe(bus_, id_); }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    // Forgets what was told so far.
    void clear() {
        pump();
        told_.clear();
    }
    // The first event from now on that `wanted` takes; none within the patience.
    std::optional<Told> await(const std::function<bool(const Told&)>& wanted,
                              std::chrono::milliseconds patience = std::chrono::seconds(10)) {
        const auto until = std::chrono::steady_clock::now() + patience;
        do {
            pump();
            for (std::size_t i = 0; i < told_.size(); ++i) {
                if (!wanted(told_[i])) continue;
                Told found = told_[i];
                told_.erase(told_.begin(), told_.begin() + static_cast<std::ptrdiff_t>(i) + 1);
                return found;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        } while (std::chrono::steady_clock::now() < until);
        return std::nullopt;
    }
    // The element that takes the focus next.
    std::optional<Element> nextFocused() {
        const auto told = await([](const Told& t) { return t.member == "StateChanged" && t.detail == "focused" && t.number == 1; });
        return told ? std::optional(told->element) : std::nullopt;
    }
    // Where the focus comes to rest after one key: a list that takes the
    // focus first tells of its current entry and then of itself.
    std::optional<Element> settledFocused() {
        std::optional<Element> focused = nextFocused();
        const auto focusedEvent = [](const Told& t) { return t.member == "StateChanged" && t.detail == "focused" && t.number == 1; };
        while (focused)
            if (const auto later = await(focusedEvent, std::chrono::milliseconds(150)))
                focused = later->element;
            else
                break;
        return focused;
    }

private:
    static void pump() {
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
    }
    static void heard(GDBusConnection*, const gchar* sender, const gchar* path, const gchar*, const gchar* member,
                      GVariant* parameters, gpointer self) {
        Told told;
        told.member = member;
        told.element.owner = sender;
        told.element.path = path;
        if (g_variant_n_children(parameters) >= 2) {
            GVariant* detail = g_variant_get_child_value(parameters, 0);
            GVariant* number = g_variant_get_child_value(parameters, 1);
            if (g_variant_is_of_type(detail, G_VARIANT_TYPE_STRING)) told.detail = g_variant_get_string(detail, nullptr);
            if (g_variant_is_of_type(number, G_VARIANT_TYPE_INT32)) told.number = g_variant_get_int32(number);
            g_variant_unref(detail);
            g_variant_unref(number);
        }
        static_cast<Listener*>(self)->told_.push_back(std::move(told));
    }

    GDBusConnection* bus_;
    guint id_ = 0;
    std::vector<Told> told_;
};

// The first profile's scrolling as the settings file holds it.
std::optional<ScrollSettings> savedScrolling(const std::filesystem::path& file) {
    std::ifstream stream(file, std::ios::binary);
    const auto config = Config::decoded(std::string(std::istreambuf_iterator<char>(stream), {}));
    if (!config) return std::nullopt;
    const std::optional<Profile> profile = config->profile(Profile::defaultProfileID);
    return profile ? std::optional(profile->scroll) : std::nullopt;
}

// The program on Xvfb with a session bus, an accessibility bus and its
// registry of the test's own, as a desktop session has them.
struct ScreenReader : ::testing::Test {
    XServer x{std::nullopt, "1024x768x24"};
    ProgramHome home{"screen-reader"};
    PrivateBus session;
    std::optional<Child> launcher;
    GDBusConnection* bus = nullptr;

    void SetUp() override {
        const std::string launcherProgram = "/usr/libexec/at-spi-bus-launcher";
        ASSERT_TRUE(platform::testing::installed("dbus-daemon")) << "dbus-daemon is missing";
        ASSERT_EQ(::access(launcherProgram.c_str(), X_OK), 0) << launcherProgram << " is missing (at-spi2-core)";
        ASSERT_FALSE(x.display.empty()) << "Xvfb did not start (is the xvfb package installed?)";
        session = PrivateBus(home.logPath("session-bus"));
        ASSERT_FALSE(session.address.empty()) << "the session bus did not start";
        // Now and then, on a loaded machine, a launcher's registry never
        // answers (nothing in its log says why): such a launcher is ended and
        // a new one started, a few times at most. Each is given the full
        // patience first, so that one merely slow to start is not ended.
        std::string why;
        for (int attempt = 0; attempt < 3 && !bus; ++attempt) {
            why = launchAccessibilityBus(launcherProgram);
        }
        ASSERT_NE(bus, nullptr) << why << platform::testing::tail(home.logPath("at-spi"));
    }
    // Starts the accessibility bus and waits for its registry: "" once it
    // answers (`bus` is then its connection), else what went wrong.
    std::string launchAccessibilityBus(const std::string& launcherProgram) {
        launcher.reset();
        launcher.emplace(Child::Options{.arguments = {launcherProgram, "--launch-immediately"},
                                        .environment = {{"DBUS_SESSION_BUS_ADDRESS", session.address},
                                                        {"DISPLAY", x.display},
                                                        {"HOME", home.tree.path.string()},
                                                        {"XDG_RUNTIME_DIR", (home.tree.path / "runtime").string()}},
                                        .log = home.logPath("at-spi")});
        GDBusConnection* sessionBus = platform::testing::connectToBus(session.address);
        if (sessionBus == nullptr) return "the session bus does not answer";
        std::string address;
        const bool found = waitUntil([&] {
            address = stringOf(call(sessionBus, "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", nullptr, "(s)"));
            return !address.empty();
        });
        g_object_unref(sessionBus);
        if (!found) return "the accessibility bus launcher does not answer";
        GDBusConnection* accessibility = platform::testing::connectToBus(address);
        if (accessibility == nullptr) return "the accessibility bus does not answer";
        // The registry is started on the first call to it; started only by
        // the program's own first call, on a loaded machine it may come too
        // late for that call, and the program is then never listed.
        const bool registry = waitUntil(
            [&] {
                GVariant* children = call(accessibility, "org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root",
                                          "org.a11y.atspi.Accessible", "GetChildren", nullptr, "(a(so))");
                if (children) g_variant_unref(children);
                return children != nullptr;
            },
            platform::testing::patience);
        if (!registry) {
            g_object_unref(accessibility);
            return "the accessibility registry does not answer";
        }
        bus = accessibility;
        return {};
    }
    void TearDown() override {
        if (bus) g_object_unref(bus);
    }

    // With the simulated mouse, or on the machine's own devices (none here).
    Child start(std::vector<std::pair<std::string, std::string>> more = {}, bool simulatedMouse = true) {
        more.insert(more.end(), {{"DBUS_SESSION_BUS_ADDRESS", session.address}, {"QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1"}});
        return simulatedMouse ? home.start(x.display, "ravolet", {}, more)
                              : home.startProgram(x.display, "ravolet", {}, more);
    }
    // The program, started and listed by the registry. Qt 6.4 registers with
    // the registry once, as soon as accessibility is on; on a loaded machine
    // that can come before its connection to the accessibility bus is made
    // ("Error in contacting registry" ... "Not connected to D-Bus server" in
    // its log), or go unanswered, and the program is then never listed. Such
    // a start is ended and made again, a few times at most: what the test
    // checks is what Ravolet shows a reader once it is listed.
    Child startListed(std::vector<std::pair<std::string, std::string>> more = {}, bool simulatedMouse = true) {
        for (int attempt = 1;; ++attempt) {
            std::filesystem::remove(home.logPath("ravolet"));
            Child ravolet = start(more, simulatedMouse);
            if (attempt == 3 || !home.waitForLog("ravolet", simulatedMouse ? "Ravolet — Active" : "Ravolet — ") ||
                waitUntil([&] { return !listed().starts_with("no"); }, std::chrono::seconds(10)))
                return ravolet;
            ravolet.stop();
        }
    }
    // The applications the registry lists, by name and bus name.
    std::string listed() {
        std::string names;
        GVariant* children = call(bus, "org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root",
                                  "org.a11y.atspi.Accessible", "GetChildren", nullptr, "(a(so))");
        if (children == nullptr) return "nothing (no answer)";
        GVariantIter* iter = nullptr;
        g_variant_get(children, "(a(so))", &iter);
        const gchar* owner = nullptr;
        const gchar* path = nullptr;
        while (g_variant_iter_next(iter, "(&s&o)", &owner, &path))
            names += "[" + std::string(owner) + " " +
                     stringOf(call(bus, owner, path, "org.freedesktop.DBus.Properties", "Get",
                                   g_variant_new("(ss)", "org.a11y.atspi.Accessible", "Name"), "(v)")) +
                     "] ";
        g_variant_iter_free(iter);
        g_variant_unref(children);
        return names.empty() ? "no application" : names;
    }
    // Presses the page tab of that title through its action, as a reader does.
    bool pressPageTab(const std::string& page) {
        const std::vector<Element> elements = elementsOnceShown(page);
        const Element* tab = find(elements, page, "org.a11y.atspi.Action");
        std::string offered;
        return tab && doAction(bus, *tab, actionIndex(bus, *tab, "press", offered));
    }
    // The program's elements once the one named `name` shows up; none when it does not.
    std::vector<Element> elementsOnceShown(const std::string& name) {
        std::vector<Element> elements;
        if (!waitUntil([&] {
                elements.clear();
                walk(bus, "org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root", elements);
                return std::ranges::any_of(elements, [&](const Element& e) { return e.name == name; });
            }))
            elements.clear();
        return elements;
    }
};

// ---- How a reader walks the whole tree, at every Tab stop ----

// AT-SPI's numbers (at-spi2-core's atspi-constants.h).
constexpr guint32 comboBoxRole = 11;
constexpr guint32 listItemRole = 32;
constexpr guint32 labelledByRelation = 2;
constexpr int focusableState = 11;
constexpr int focusedState = 12;
constexpr int showingState = 25;

// One element with what a reader asks of it.
struct Node {
    Node(std::string owner, std::string path, int parent = -1)
        : owner(std::move(owner)), path(std::move(path)), parent(parent) {}
    std::string owner;
    std::string path;
    int parent = -1; // its index in the walk; -1 for the root
    std::string name;
    guint32 role = 0;
    std::uint64_t states = 0;
    bool has(int state) const { return (states >> state) & 1U; }
};

// Calls sent all at once and answered in turn, so that a walk of a thousand
// elements takes no thousand round trips.
class Batch {
public:
    explicit Batch(GDBusConnection* bus) : bus_(bus), context_(g_main_context_new()) {}
    ~Batch() { g_main_context_unref(context_); }
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

    // `answered` is given the reply, or null when there was none.
    void call(const std::string& owner, const std::string& path, const char* interface, const char* method,
              GVariant* arguments, const char* reply, std::function<void(GVariant*)> answered) {
        g_main_context_push_thread_default(context_);
        ++pending_;
        g_dbus_connection_call(bus_, owner.c_str(), path.c_str(), interface, method, arguments, G_VARIANT_TYPE(reply),
                               G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &Batch::finished,
                               new Waiting{this, std::move(answered)});
        g_main_context_pop_thread_default(context_);
    }
    void wait() {
        while (pending_ > 0) g_main_context_iteration(context_, TRUE);
    }

private:
    struct Waiting {
        Batch* batch;
        std::function<void(GVariant*)> answered;
    };
    static void finished(GObject* source, GAsyncResult* result, gpointer data) {
        std::unique_ptr<Waiting> waiting(static_cast<Waiting*>(data));
        GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
        waiting->answered(reply);
        if (reply) g_variant_unref(reply);
        --waiting->batch->pending_;
    }

    GDBusConnection* bus_;
    GMainContext* context_;
    int pending_ = 0;
};

// Every element under the registry that a reader reaches, level by level:
// the applications, their windows, and what is showing in them (a hidden
// page, a closed list's entries are passed over). Every element's states;
// with `details` its name and role too, else only those of an element that
// says it has the focus.
std::vector<Node> walkShown(GDBusConnection* bus, bool details) {
    std::vector<Node> nodes{Node("org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root")};
    std::vector<int> depths{0};
    const auto nameAndRole = [&nodes](Batch& batch, std::size_t i) {
        batch.call(nodes[i].owner, nodes[i].path, "org.freedesktop.DBus.Properties", "Get",
                   g_variant_new("(ss)", "org.a11y.atspi.Accessible", "Name"), "(v)", [&nodes, i](GVariant* reply) {
                       if (!reply) return;
                       GVariant* boxed = g_variant_get_child_value(reply, 0);
                       GVariant* name = g_variant_get_variant(boxed);
                       nodes[i].name = g_variant_get_string(name, nullptr);
                       g_variant_unref(name);
                       g_variant_unref(boxed);
                   });
        batch.call(nodes[i].owner, nodes[i].path, "org.a11y.atspi.Accessible", "GetRole", nullptr, "(u)",
                   [&nodes, i](GVariant* reply) {
                       if (reply) g_variant_get(reply, "(u)", &nodes[i].role);
                   });
    };
    for (std::size_t level = 0; level < nodes.size();) {
        const std::size_t end = nodes.size();
        {
            Batch batch(bus);
            for (std::size_t i = level; i < end; ++i) {
                if (details) nameAndRole(batch, i);
                batch.call(nodes[i].owner, nodes[i].path, "org.a11y.atspi.Accessible", "GetState", nullptr, "(au)",
                           [&nodes, i](GVariant* reply) {
                               if (!reply) return;
                               GVariantIter* words = nullptr;
                               g_variant_get(reply, "(au)", &words);
                               guint32 word = 0;
                               for (int at = 0; g_variant_iter_next(words, "u", &word); ++at)
                                   nodes[i].states |= std::uint64_t{word} << (32 * at);
                               g_variant_iter_free(words);
                           });
            }
            batch.wait();
        }
        Batch batch(bus);
        for (std::size_t i = level; i < end; ++i) {
            if (!details && nodes[i].has(focusedState)) nameAndRole(batch, i);
            // The registry and the applications are not shown themselves.
            if (depths[i] >= 2 && !nodes[i].has(showingState)) continue;
            batch.call(nodes[i].owner, nodes[i].path, "org.a11y.atspi.Accessible", "GetChildren", nullptr, "(a(so))",
                       [&nodes, &depths, i](GVariant* reply) {
                           if (!reply) return;
                           GVariantIter* children = nullptr;
                           g_variant_get(reply, "(a(so))", &children);
                           const gchar* owner = nullptr;
                           const gchar* path = nullptr;
                           while (g_variant_iter_next(children, "(&s&o)", &owner, &path)) {
                               nodes.emplace_back(owner, path, static_cast<int>(i));
                               depths.push_back(depths[i] + 1);
                           }
                           g_variant_iter_free(children);
                       });
        }
        batch.wait();
        level = end;
    }
    return nodes;
}

// The names of the labels the element is labelled by (its labelled-by relation).
std::vector<std::string> labelsOf(GDBusConnection* bus, const Node& node) {
    std::vector<std::string> names;
    GVariant* reply =
        call(bus, node.owner, node.path, "org.a11y.atspi.Accessible", "GetRelationSet", nullptr, "(a(ua(so)))");
    if (!reply) return names;
    GVariantIter* relations = nullptr;
    g_variant_get(reply, "(a(ua(so)))", &relations);
    guint32 type = 0;
    GVariantIter* targets = nullptr;
    while (g_variant_iter_next(relations, "(ua(so))", &type, &targets)) {
        const gchar* owner = nullptr;
        const gchar* path = nullptr;
        while (g_variant_iter_next(targets, "(&s&o)", &owner, &path))
            if (type == labelledByRelation)
                names.push_back(stringOf(call(bus, owner, path, "org.freedesktop.DBus.Properties", "Get",
                                              g_variant_new("(ss)", "org.a11y.atspi.Accessible", "Name"), "(v)")));
        g_variant_iter_free(targets);
    }
    g_variant_iter_free(relations);
    g_variant_unref(reply);
    return names;
}

// What a reader says of a control: its labels, then its name (a combo box's
// is its choice).
std::string reading(GDBusConnection* bus, const Node& node) {
    std::string said;
    for (const std::string& label : labelsOf(bus, node)) said += label + ": ";
    return said + node.name;
}

// The elements that say they have the focus, as "name (path)". The current
// entry of a list that has the focus is the list's own: every toolkit reports
// both, and a reader follows the entry.
std::vector<std::string> focusedOnes(const std::vector<Node>& nodes) {
    std::vector<std::string> focused;
    for (const Node& node : nodes) {
        if (!node.has(focusedState)) continue;
        if (node.role == listItemRole && node.parent >= 0 && nodes[static_cast<std::size_t>(node.parent)].has(focusedState))
            continue;
        focused.push_back("\"" + node.name + "\" (" + node.path + ")");
    }
    return focused;
}

// The children of an element, as (owner, path).
std::vector<std::pair<std::string, std::string>> childrenOf(GDBusConnection* bus, const std::string& owner,
                                                            const std::string& path) {
    std::vector<std::pair<std::string, std::string>> found;
    GVariant* children = call(bus, owner, path, "org.a11y.atspi.Accessible", "GetChildren", nullptr, "(a(so))");
    if (children == nullptr) return found;
    GVariantIter* iter = nullptr;
    g_variant_get(children, "(a(so))", &iter);
    const gchar* childOwner = nullptr;
    const gchar* childPath = nullptr;
    while (g_variant_iter_next(iter, "(&s&o)", &childOwner, &childPath)) found.emplace_back(childOwner, childPath);
    g_variant_iter_free(iter);
    g_variant_unref(children);
    return found;
}

// The elements of the window of that title once one of them has that name,
// looked for in that window alone (quicker than the whole tree); none when
// it does not show up.
std::vector<Element> windowElements(GDBusConnection* bus, const std::string& title, const std::string& name) {
    std::vector<Element> elements;
    const bool found = waitUntil([&] {
        for (const auto& [appOwner, appPath] : childrenOf(bus, "org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root"))
            for (const auto& [owner, path] : childrenOf(bus, appOwner, appPath)) {
                const std::string windowName = stringOf(call(bus, owner, path, "org.freedesktop.DBus.Properties", "Get",
                                                             g_variant_new("(ss)", "org.a11y.atspi.Accessible", "Name"), "(v)"));
                if (windowName != title) continue;
                elements.clear();
                walk(bus, owner, path, elements);
                if (std::ranges::any_of(elements, [&](const Element& e) { return e.name == name; })) return true;
            }
        return false;
    });
    if (!found) elements.clear();
    return elements;
}

TEST_F(ScreenReader, ReadsEachFigureOnceUnderItsCaptionWithItsValueThroughATSPI) {
    XScreen screen(x.display);
    Child ravolet = startListed();
    ASSERT_TRUE(waitUntil([&] { return screen.shows("Scroll — Ravolet"); })) << home.read("ravolet");
    ASSERT_TRUE(home.waitForLog("ravolet", "Ravolet — Active")) << home.read("ravolet");
    const std::vector<Element> elements = elementsOnceShown("This version");
    ASSERT_FALSE(elements.empty()) << "Ravolet's window is not on the accessibility bus; the registry lists "
                                   << listed() << "\n" << home.read("ravolet");

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

// A reader changes settings through the accessibility interface, not the
// mouse or the keyboard: it flips a switch with its toggle action and sets a
// slider's value. Each change is the setting's, as a click or a drag would
// make it: the slider's read-out follows, and the file holds both on quit.
TEST_F(ScreenReader, ASwitchToggledAndASliderSetThroughATSPIReachTheSavedFile) {
    XScreen screen(x.display);
    Child ravolet = startListed();
    ASSERT_TRUE(waitUntil([&] { return screen.shows("Scroll — Ravolet"); })) << home.read("ravolet");
    ASSERT_TRUE(home.waitForLog("ravolet", "Ravolet — Active")) << home.read("ravolet");
    const std::vector<Element> elements = elementsOnceShown("Distance per wheel click");
    const Element* smoothing = find(elements, "Smooth the scroll wheel", "org.a11y.atspi.Action");
    const Element* distance = find(elements, "Distance per wheel click", "org.a11y.atspi.Value");
    ASSERT_TRUE(smoothing && distance) << "the registry lists " << listed() << "\n" << home.read("ravolet");
    const ScrollSettings factory = Config::defaultConfig().profile(Profile::defaultProfileID)->scroll;
    ASSERT_TRUE(factory.isEnabled);

    // The slider, twenty points up from the factory value.
    const auto position = doubleProperty(bus, *distance, "org.a11y.atspi.Value", "CurrentValue");
    ASSERT_TRUE(position.has_value());
    const std::string before = description(bus, *distance);
    ASSERT_EQ(before, std::to_string(static_cast<int>(factory.pixelsPerDetent)) + " pt");
    GVariant* set = call(bus, distance->owner, distance->path, "org.freedesktop.DBus.Properties", "Set",
                         g_variant_new("(ssv)", "org.a11y.atspi.Value", "CurrentValue", g_variant_new_double(*position + 20)),
                         "()");
    ASSERT_NE(set, nullptr);
    g_variant_unref(set);
    EXPECT_TRUE(waitUntil([&] {
        return doubleProperty(bus, *distance, "org.a11y.atspi.Value", "CurrentValue") == *position + 20;
    }));
    std::string after;
    ASSERT_TRUE(waitUntil([&] { return (after = description(bus, *distance)) != before; }))
        << "the read-out stayed " << before;

    // The switch's toggle action, by its name. (Switched off, smoothing
    // leaves its sliders inert: they take no value, from a reader either.)
    std::string names;
    const int toggle = actionIndex(bus, *smoothing, "toggle", names);
    ASSERT_GE(toggle, 0) << "its actions: " << names;
    ASSERT_TRUE(doAction(bus, *smoothing, toggle));

    EXPECT_TRUE(ravolet.stop()) << home.read("ravolet");
    const auto saved = savedScrolling(home.tree.path / "config" / "ravolet" / "config.json");
    ASSERT_TRUE(saved.has_value()) << home.read("ravolet");
    EXPECT_FALSE(saved->isEnabled);
    EXPECT_NE(saved->pixelsPerDetent, factory.pixelsPerDetent);
    EXPECT_EQ(std::to_string(static_cast<int>(saved->pixelsPerDetent)) + " pt", after) << "the file and the read-out agree";
}

// A reader goes to another page by pressing its page tab, and renames a
// profile by setting the field's text (EditableText): the page shows, and the
// name is saved as typing would save it.
TEST_F(ScreenReader, APageTabPressedAndTextSetThroughATSPIShowThePageAndReachTheSavedFile) {
    XScreen screen(x.display);
    Child ravolet = startListed();
    ASSERT_TRUE(waitUntil([&] { return screen.shows("Scroll — Ravolet"); })) << home.read("ravolet");
    ASSERT_TRUE(home.waitForLog("ravolet", "Ravolet — Active")) << home.read("ravolet");
    std::vector<Element> elements = elementsOnceShown("Profiles");
    const Element* tab = find(elements, "Profiles", "org.a11y.atspi.Action");
    ASSERT_TRUE(tab) << "the registry lists " << listed() << "\n" << home.read("ravolet");
    GVariant* role = call(bus, tab->owner, tab->path, "org.a11y.atspi.Accessible", "GetRole", nullptr, "(u)");
    ASSERT_NE(role, nullptr);
    guint32 roleNumber = 0;
    g_variant_get(role, "(u)", &roleNumber);
    g_variant_unref(role);
    constexpr guint32 pageTabRole = 37; // ATSPI_ROLE_PAGE_TAB
    EXPECT_EQ(roleNumber, pageTabRole);
    std::string names;
    const int press = actionIndex(bus, *tab, "press", names);
    ASSERT_GE(press, 0) << "its actions: " << names;
    ASSERT_TRUE(doAction(bus, *tab, press));
    EXPECT_TRUE(waitUntil([&] { return screen.shows("Profiles — Ravolet"); })) << home.read("ravolet");

    elements = elementsOnceShown("Name of profile 1");
    const Element* name = find(elements, "Name of profile 1", "org.a11y.atspi.EditableText");
    ASSERT_TRUE(name) << home.read("ravolet");
    GVariant* set = call(bus, name->owner, name->path, "org.a11y.atspi.EditableText", "SetTextContents",
                         g_variant_new("(s)", "Everyday"), "(b)");
    ASSERT_NE(set, nullptr);
    g_variant_unref(set);
    EXPECT_TRUE(waitUntil([&] {
        for (const Element& element : elementsOnceShown("Name of profile 1"))
            if (element.name == "Name of profile 1") return element.text == "Everyday";
        return false;
    }));
    // Saved as typing saves: within its delay, before any quit.
    const auto file = home.tree.path / "config" / "ravolet" / "config.json";
    const auto savedName = [&] {
        std::ifstream stream(file, std::ios::binary);
        const auto config = Config::decoded(std::string(std::istreambuf_iterator<char>(stream), {}));
        return config && !config->profiles.empty() ? config->profiles.front().name : std::string();
    };
    EXPECT_TRUE(waitUntil([&] { return savedName() == "Everyday"; })) << "the file holds " << savedName();
    EXPECT_TRUE(ravolet.stop()) << home.read("ravolet");
}

// With the simulated mouse the Profiles page still follows the real desktop:
// a window of the X server's that openbox puts in front is the front
// application it names.
TEST_F(ScreenReader, WithTheSimulatedMouseTheFrontApplicationIsTheDesktops) {
    ASSERT_TRUE(platform::testing::installed("openbox")) << "openbox is missing: scripts/setup.sh installs it";
    Child openbox({.arguments = {"openbox", "--sm-disable"},
                   .environment = {{"DISPLAY", x.display}, {"HOME", home.tree.path.string()}},
                   .log = home.logPath("openbox")});
    home.tree.write("data/applications/org.test.Alpha.desktop",
                    "[Desktop Entry]\nType=Application\nName=Alpha\nExec=true\n");
    Child ravolet = startListed({{"XDG_DATA_HOME", (home.tree.path / "data").string()},
                                 {"XDG_SESSION_TYPE", "x11"},
                                 {"XDG_CURRENT_DESKTOP", "openbox"}});
    ASSERT_TRUE(home.waitForLog("ravolet", "Ravolet — Active")) << home.read("ravolet");

    xcb_connection_t* client = xcb_connect(x.display.c_str(), nullptr);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(client)).data->root;
    const auto atom = [&](std::string_view name) {
        auto* reply = xcb_intern_atom_reply(client, xcb_intern_atom(client, 0, name.size(), name.data()), nullptr);
        const xcb_atom_t found = reply->atom;
        std::free(reply);
        return found;
    };
    const xcb_window_t window = xcb_generate_id(client);
    xcb_create_window(client, XCB_COPY_FROM_PARENT, window, root, 0, 0, 200, 100, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      XCB_COPY_FROM_PARENT, 0, nullptr);
    const std::string classes = std::string("org.test.Alpha") + '\0' + "org.test.Alpha" + '\0';
    xcb_change_property(client, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                        classes.size(), classes.data());
    const auto frontName = [&] {
        for (const Element& element : elementsOnceShown("Frontmost app"))
            if (element.name == "Frontmost app") return element.text;
        return std::string();
    };
    // Openbox may pass over a window shown while it starts: shown, and put
    // in front as a pager would, until the page names it.
    const bool followed = waitUntil([&] {
        xcb_map_window(client, window);
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = window;
        message.type = atom("_NET_ACTIVE_WINDOW");
        message.data.data32[0] = 2;
        xcb_send_event(client, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                       reinterpret_cast<const char*>(&message));
        xcb_flush(client);
        return frontName() == "Alpha";
    });
    EXPECT_TRUE(followed) << "the Profiles page says: " << frontName() << "\n" << home.read("ravolet");
    xcb_disconnect(client);
    EXPECT_TRUE(ravolet.stop());
}

// A settings document with a button that has two bindings, one a sequence of
// two key presses and a pause, the other a key that needs Super held: every
// kind of drop-down list the Buttons page has, twice.
Config withTwoBindingsOfTheBackButton() {
    Config config = Config::defaultConfig();
    for (Profile& profile : config.profiles) {
        profile.buttons.push_back(
            {3, {}, Action::sequence({MacroStep::key(0, {}), MacroStep::key(1, {}), MacroStep::delay(50)}), true});
        profile.buttons.push_back({3, ModifierFlags::command, Action::keyStroke(8, {}), true});
    }
    return config;
}

// Each drop-down list is read by what it sets: its label (the labelled-by
// relation, since Qt names a combo box by its choice on Linux), with the row
// where rows repeat; and no two controls of a page read alike.
TEST_F(ScreenReader, EveryDropDownListIsReadByTheSettingItChangesAndNoTwoControlsOfAPageReadAlike) {
    const Config config = withTwoBindingsOfTheBackButton();
    home.tree.write("config/ravolet/config.json", config.encoded().value());
    XScreen screen(x.display);
    Child ravolet = startListed();
    ASSERT_TRUE(waitUntil([&] { return screen.shows("Scroll — Ravolet"); })) << home.read("ravolet");
    ASSERT_TRUE(home.waitForLog("ravolet", "Ravolet — Active")) << home.read("ravolet");

    std::vector<std::string> rules;
    for (std::size_t i = 1; i <= config.ruleSet.rules.size(); ++i) rules.push_back("Use profile for rule " + std::to_string(i));
    const std::vector<std::pair<std::string, std::vector<std::string>>> pages{
        {"Scroll", {"Editing profile", "Smooth scrolling applies", "Glide shape"}},
        {"Buttons",
         {"Editing profile", "This button, binding 1", "Does, step 1 of binding 1", "Or choose a key, step 1 of binding 1",
          "Does, step 2 of binding 1", "Or choose a key, step 2 of binding 1", "Does, step 3 of binding 1",
          "This button, binding 2", "Or choose a key, binding 2"}},
        {"Pointer", {"Editing profile", "Report rate", "Wheel resolution"}},
        {"Profiles", rules},
        {"Device", {}},
        {"Updates", {}},
    };
    for (const auto& [page, settings] : pages) {
        SCOPED_TRACE(page + " page");
        ASSERT_TRUE(pressPageTab(page)) << home.read("ravolet");
        ASSERT_TRUE(waitUntil([&] { return screen.shows(page + " — Ravolet"); }));
        std::vector<Node> nodes;
        // The page's rows are made as it first shows.
        std::vector<std::string> lists;
        waitUntil([&] {
            nodes = walkShown(bus, true);
            lists.clear();
            for (const Node& node : nodes)
                if (node.role == comboBoxRole && node.has(showingState)) {
                    const std::vector<std::string> labels = labelsOf(bus, node);
                    lists.push_back(labels.empty() ? "(no label; named " + node.name + ")" : labels.front());
                }
            std::ranges::sort(lists);
            return lists.size() >= settings.size();
        });
        std::vector<std::string> expected = settings;
        std::ranges::sort(expected);
        EXPECT_EQ(lists, expected);
        screen.save("read-by-label-" + page);

        // The entries of a closed list are not reached by Tab; they are read
        // as the list's choice.
        const auto inList = [&](const Node& node) {
            for (int up = node.parent; up >= 0; up = nodes[static_cast<std::size_t>(up)].parent)
                if (nodes[static_cast<std::size_t>(up)].role == comboBoxRole) return true;
            return false;
        };
        std::map<std::string, int> readings;
        for (const Node& node : nodes)
            if (node.has(showingState) && node.has(focusableState) && !inList(node)) ++readings[reading(bus, node)];
        for (const auto& [said, count] : readings) EXPECT_EQ(count, 1) << "read alike: " << said;
    }
    EXPECT_TRUE(ravolet.stop()) << home.read("ravolet");
}

// At every Tab stop of every page, and of every step of the set-up, a reader
// is told of one object in focus: the one the keys go to.
TEST_F(ScreenReader, OneObjectHasTheFocusAtEveryTabStopOfEveryPageAndOfTheSetUp) {
    home.tree.write("config/ravolet/config.json", withTwoBindingsOfTheBackButton().encoded().value());
    XScreen screen(x.display);
    // Tabs from the stop that holds the focus until the focus comes back to a
    // stop it has been at: the stops where other than one object says it has
    // the focus.
    int stops = 0;
    const auto tabAround = [&](xcb_window_t window, const std::string& where) {
        std::vector<std::string> faults;
        std::set<std::vector<std::string>> seen;
        std::vector<std::string> now = focusedOnes(walkShown(bus, false));
        for (int stop = 0; seen.insert(now).second; ++stop, ++stops) {
            if (now.size() != 1) {
                std::string said;
                for (const std::string& one : now) said += " " + one;
                faults.push_back(where + ", stop " + std::to_string(stop) + ":" + (said.empty() ? " none" : said));
            }
            if (stop == 150) {
                ADD_FAILURE() << where << ": the focus never came back to a stop it had been at";
                break;
            }
            const std::vector<std::string> before = now;
            screen.press(window, {testing::tabKey});
            waitUntil([&] { return (now = focusedOnes(walkShown(bus, false))) != before; }, std::chrono::seconds(5));
        }
        std::cout << where << ": " << seen.size() << " stops, " << faults.size() << " with other than one in focus\n";
        return faults;
    };

    std::vector<std::string> faults;
    {
        Child ravolet = startListed();
        ASSERT_TRUE(waitUntil([&] { return screen.shows("Scroll — Ravolet"); })) << home.read("ravolet");
        ASSERT_TRUE(home.waitForLog("ravolet", "Ravolet — Active")) << home.read("ravolet");
        for (const std::string page : {"Scroll", "Buttons", "Pointer", "Profiles", "Device", "Updates"}) {
            ASSERT_TRUE(pressPageTab(page)) << home.read("ravolet");
            std::optional<xcb_window_t> window;
            ASSERT_TRUE(waitUntil([&] { return (window = screen.shownWindow(page + " — Ravolet")).has_value(); }));
            screen.focus(*window);
            std::ranges::copy(tabAround(*window, page + " page"), std::back_inserter(faults));
        }
        EXPECT_TRUE(ravolet.stop()) << home.read("ravolet");
    }
    // Not set up yet: the set-up window opens, and Enter goes on to its next step.
    home.tree.write("config/ravolet/preferences.json", "{}\n");
    Child ravolet = startListed();
    std::optional<xcb_window_t> setUp;
    ASSERT_TRUE(waitUntil([&] { return (setUp = screen.shownWindow("Set Up Ravolet")).has_value(); }))
        << home.read("ravolet");
    // What the window shows, by name: another step shows other texts.
    const auto shown = [&] {
        std::vector<std::string> names;
        for (const Node& node : walkShown(bus, true))
            if (node.has(showingState)) names.push_back(node.name);
        return names;
    };
    // The settings window may open beside it, and take the keys.
    screen.focus(*setUp);
    for (int step = 1; step <= 6 && screen.shows("Set Up Ravolet"); ++step) {
        waitUntil([&] { return !focusedOnes(walkShown(bus, false)).empty(); });
        std::ranges::copy(tabAround(*setUp, "set-up step " + std::to_string(step)), std::back_inserter(faults));
        const std::vector<std::string> before = shown();
        screen.press(*setUp, {testing::returnKey});
        EXPECT_TRUE(waitUntil([&] { return !screen.shows("Set Up Ravolet") || shown() != before; }))
            << "Enter did not go on from step " << step;
    }
    EXPECT_FALSE(screen.shows("Set Up Ravolet"));
    std::cout << faults.size() << " of " << stops << " stops with other than one object in focus\n";
    EXPECT_EQ(faults, std::vector<std::string>{});
    EXPECT_TRUE(ravolet.stop()) << home.read("ravolet");
}

// WCAG's contrast ratio of two opaque colours, from 1 to 21.
double contrast(const QColor& first, const QColor& second) {
    const auto luminance = [](const QColor& color) {
        const auto linear = [](double c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
        return 0.2126 * linear(color.redF()) + 0.7152 * linear(color.greenF()) + 0.0722 * linear(color.blueF());
    };
    const double a = luminance(first);
    const double b = luminance(second);
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

// The glide chart's lines, measured in the pixels the X server shows: the
// curve (the accent) and the baseline (a grey) each stand out from the plate
// they are drawn on at 3:1, on a light desktop and on a dark one (a KDE colour
// scheme, which Qt reads from kdeglobals).
TEST_F(ScreenReader, TheGlideChartsLinesStandOutFromThePlateTheyAreDrawnOnOnLightAndDarkDesktops) {
    home.tree.write("config/kdeglobals", "[Colors:Window]\nBackgroundNormal=58,58,58\nForegroundNormal=238,238,238\n"
                                         "[Colors:View]\nBackgroundNormal=30,30,30\nForegroundNormal=238,238,238\n"
                                         "[Colors:Button]\nBackgroundNormal=58,58,58\nForegroundNormal=238,238,238\n"
                                         "[Colors:Selection]\nBackgroundNormal=18,96,138\nForegroundNormal=255,255,255\n");
    const std::string chartName = "Chart of how far one wheel click travels over time";
    const struct {
        std::string name;
        std::vector<std::pair<std::string, std::string>> environment;
        bool dark;
    } desktops[] = {
        {"light", {}, false},
        {"dark", {{"XDG_CURRENT_DESKTOP", "KDE"}, {"KDE_SESSION_VERSION", "5"}}, true},
    };
    XScreen screen(x.display);
    for (const auto& desktop : desktops) {
        SCOPED_TRACE(desktop.name + " desktop");
        Child ravolet = startListed(desktop.environment);
        std::optional<xcb_window_t> window;
        ASSERT_TRUE(waitUntil([&] { return (window = screen.shownWindow("Scroll — Ravolet")).has_value(); }))
            << home.read("ravolet");
        ASSERT_TRUE(home.waitForLog("ravolet", "Ravolet — Active")) << home.read("ravolet");
        // Tabbed to the rows below the chart, the page scrolls the chart into view.
        screen.focus(*window);
        const auto focusedName = [&] {
            const std::vector<Node> nodes = walkShown(bus, false);
            for (const Node& node : nodes)
                if (node.has(focusedState)) return node.name;
            return std::string();
        };
        for (int tab = 0; tab < 80 && focusedName() != "Rows to scroll"; ++tab) {
            const std::string before = focusedName();
            screen.press(*window, {testing::tabKey});
            waitUntil([&] { return focusedName() != before; }, std::chrono::seconds(5));
        }
        ASSERT_EQ(focusedName(), "Rows to scroll");
        std::optional<QRect> extents;
        for (const Node& node : walkShown(bus, true)) {
            if (node.name != chartName) continue;
            if (GVariant* reply = call(bus, node.owner, node.path, "org.a11y.atspi.Component", "GetExtents",
                                       g_variant_new("(u)", 0U), "((iiii))")) {
                gint32 left = 0, top = 0, width = 0, height = 0;
                g_variant_get(reply, "((iiii))", &left, &top, &width, &height);
                g_variant_unref(reply);
                extents = QRect(left, top, width, height);
            }
        }
        ASSERT_TRUE(extents && !extents->isEmpty()) << "the chart is not on the accessibility bus";
        std::this_thread::sleep_for(std::chrono::milliseconds(500)); // drawn where it scrolled to
        screen.save("glide-chart-" + desktop.name);
        const QImage chart = screen.image().copy(*extents);
        ASSERT_FALSE(chart.isNull());

        // The plate: the commonest colour. The lines: the pixel of each kind
        // (the accent's hue, or grey) that stands out from it most, the middle
        // of the stroke.
        std::map<QRgb, int> counts;
        for (int y = 0; y < chart.height(); ++y)
            for (int x = 0; x < chart.width(); ++x) ++counts[chart.pixel(x, y)];
        const QColor plate = QColor::fromRgb(std::ranges::max_element(counts, {}, [](const auto& c) { return c.second; })->first);
        double curve = 1;
        double baseline = 1;
        for (int y = 0; y < chart.height(); ++y)
            for (int x = 0; x < chart.width(); ++x) {
                const QColor pixel = QColor::fromRgb(chart.pixel(x, y));
                double& line = pixel.hsvSaturationF() >= 0.3F ? curve : baseline;
                line = std::max(line, contrast(pixel, plate));
            }
        std::cout << desktop.name << " desktop: curve " << curve << ":1, baseline " << baseline << ":1 on "
                  << plate.name().toStdString() << "\n";
        EXPECT_EQ(plate.lightnessF() < 0.5F, desktop.dark) << "the plate is " << plate.name().toStdString();
        EXPECT_GE(curve, 3.0 - 0.05) << "the curve on " << plate.name().toStdString();
        EXPECT_GE(baseline, 3.0 - 0.05) << "the baseline on " << plate.name().toStdString();
        EXPECT_TRUE(ravolet.stop()) << home.read("ravolet");
    }
}

// A reader is given each slider as the page shows it: the value, its bounds
// and its least step in the setting's units (50 for "50 pt", 2000 for
// "2,000", 1.0 for "1.00×"). A value it sets in those units becomes the
// setting, on the slider's fine step, and is saved as a drag is; the fine
// step from the keyboard (Shift and an arrow) is told to the reader as a new
// value.
TEST_F(ScreenReader, EachSliderIsReadAndSetInThePagesUnitsAndItsFineStepIsTold) {
    Listener listener(bus, {"object:property-change:accessible-value"});
    XScreen screen(x.display);
    Child ravolet = startListed();
    ASSERT_TRUE(waitUntil([&] { return screen.shows("Scroll — Ravolet"); })) << home.read("ravolet");
    const Profile factory = *Config::defaultConfig().profile(Profile::defaultProfileID);
    ASSERT_TRUE(factory.pointer.isEnabled); // or the speed is inert
    const struct {
        std::string page, name;
        double value, lower, upper, step;
        double set, lands;
        std::string shown;
        std::function<double(const Profile&)> saved;
    } rows[] = {
        {"Scroll", "Distance per wheel click", factory.scroll.pixelsPerDetent, 10, 400, 1, 73, 73, "73 pt",
         [](const Profile& p) { return p.scroll.pixelsPerDetent; }},
        {"Pointer", "DPI", static_cast<double>(factory.pointer.dpi), 100, 25600, 50, 1234, 1250, "1,250",
         [](const Profile& p) { return static_cast<double>(p.pointer.dpi); }},
        {"Pointer", "Pointer speed", factory.pointer.curve.sensitivity, 0.25, 3.0, 0.01, 1.234, 1.23, "1.23×",
         [](const Profile& p) { return p.pointer.curve.sensitivity; }},
    };
    std::string shown = "Scroll — Ravolet";
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<Element> elements = windowElements(bus, shown, row.page);
        const Element* tab = find(elements, row.page, "org.a11y.atspi.Action");
        ASSERT_TRUE(tab) << "the registry lists " << listed() << "\n" << home.read("ravolet");
        std::string names;
        ASSERT_TRUE(doAction(bus, *tab, actionIndex(bus, *tab, "press", names)));
        shown = row.page + " — Ravolet";
        ASSERT_TRUE(waitUntil([&] { return screen.shows(shown); }));
        elements = windowElements(bus, shown, row.name);
        const Element* slider = find(elements, row.name, "org.a11y.atspi.Value");
        ASSERT_TRUE(slider) << home.read("ravolet");
        EXPECT_EQ(roleName(bus, *slider), "slider");
        const auto read = [&](const char* property) {
            return doubleProperty(bus, *slider, "org.a11y.atspi.Value", property).value_or(-1);
        };
        EXPECT_DOUBLE_EQ(read("CurrentValue"), row.value);
        EXPECT_DOUBLE_EQ(read("MinimumValue"), row.lower);
        EXPECT_DOUBLE_EQ(read("MaximumValue"), row.upper);
        EXPECT_DOUBLE_EQ(read("MinimumIncrement"), row.step);

        ASSERT_TRUE(setValue(bus, *slider, row.set));
        EXPECT_TRUE(waitUntil([&] { return std::abs(read("CurrentValue") - row.lands) < 1e-9; }))
            << "it reads " << read("CurrentValue");
        EXPECT_TRUE(waitUntil([&] { return description(bus, *slider) == row.shown; })) << description(bus, *slider);

        ASSERT_TRUE(grabFocus(bus, *slider));
        const auto window = screen.shownWindow(shown);
        ASSERT_TRUE(window);
        listener.clear();
        screen.press(*window, {testing::rightKey}, XCB_MOD_MASK_SHIFT);
        EXPECT_TRUE(listener.await([&](const Told& told) {
            return told.member == "PropertyChange" && told.detail == "accessible-value" && told.element.path == slider->path;
        })) << "the fine step was not told";
        EXPECT_TRUE(waitUntil([&] { return std::abs(read("CurrentValue") - (row.lands + row.step)) < 1e-9; }))
            << "it reads " << read("CurrentValue");
    }

    EXPECT_TRUE(ravolet.stop()) << home.read("ravolet");
    std::ifstream stream(home.tree.path / "config" / "ravolet" / "config.json", std::ios::binary);
    const auto config = Config::decoded(std::string(std::istreambuf_iterator<char>(stream), {}));
    ASSERT_TRUE(config.has_value()) << home.read("ravolet");
    const Profile saved = *config->profile(Profile::defaultProfileID);
    for (const auto& row : rows) EXPECT_NEAR(row.saved(saved), row.lands + row.step, 1e-9) << row.name;
}

// Tab from a page's tab round to it again, as a reader hears the focus move:
// every setting (a switch, a list, a field, a slider, a spin button) is at
// most four Tabs on from the one before it, the first from the page's tab,
// and no page needs more stops than it has room for in the table.
TEST_F(ScreenReader, TabReachesEachSettingOfEveryPageWithinFourStopsOfTheOneBefore) {
    Listener listener(bus, {"object:state-changed:focused"});
    XScreen screen(x.display);
    Child ravolet = startListed();
    ASSERT_TRUE(waitUntil([&] { return screen.shows("Scroll — Ravolet"); })) << home.read("ravolet");
    const std::set<std::string> settingRoles{"check box", "combo box", "slider", "spin box", "spin button",
                                             "text", "entry", "list", "list box"};
    const struct {
        std::string page;
        std::size_t stops;
    } pages[] = {{"Scroll", 16}, {"Buttons", 9}, {"Pointer", 16}, {"Profiles", 33}, {"Device", 3}, {"Updates", 2}};
    const std::vector<Element> elements = windowElements(bus, "Scroll — Ravolet", "Updates");
    for (const auto& page : pages) {
        SCOPED_TRACE(page.page);
        const Element* tab = find(elements, page.page, "org.a11y.atspi.Action");
        ASSERT_TRUE(tab) << "the registry lists " << listed() << "\n" << home.read("ravolet");
        std::string names;
        ASSERT_TRUE(doAction(bus, *tab, actionIndex(bus, *tab, "press", names)));
        ASSERT_TRUE(waitUntil([&] { return screen.shows(page.page + " — Ravolet"); }));
        const auto window = screen.shownWindow(page.page + " — Ravolet");
        ASSERT_TRUE(window);
        ASSERT_TRUE(grabFocus(bus, *tab));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        listener.clear();

        std::string walk;
        std::size_t stops = 0;
        std::size_t sinceSetting = 0;
        for (; stops < 120; ++stops) {
            screen.press(*window, {testing::tabKey});
            const std::optional<Element> focused = listener.settledFocused();
            ASSERT_TRUE(focused) << "Tab " << stops + 1 << " took the focus nowhere a reader heard:" << walk;
            if (focused->path == tab->path) break;
            const std::string name = stringOf(call(bus, focused->owner, focused->path, "org.freedesktop.DBus.Properties",
                                                   "Get", g_variant_new("(ss)", "org.a11y.atspi.Accessible", "Name"), "(v)"));
            const std::string role = roleName(bus, *focused);
            walk += "\n  " + role + " \"" + name + "\"";
            ++sinceSetting;
            if (!settingRoles.contains(role)) continue;
            EXPECT_LE(sinceSetting, 4u) << role << " \"" << name << "\" comes " << sinceSetting
                                        << " Tabs after the setting before it";
            sinceSetting = 0;
        }
        EXPECT_LE(stops, page.stops) << walk;
        RecordProperty(page.page + " Tab stops", static_cast<int>(stops));
    }
    EXPECT_TRUE(ravolet.stop()) << home.read("ravolet");
}

// Escape closes the set-up walk-through on each of its steps, as its close
// button does: the window goes, the program stays, and set-up is not marked
// done. Enter goes on from one step to the next.
TEST_F(ScreenReader, EscapeClosesTheSetUpWalkThroughOnEveryStepAndEnterGoesOn) {
    XScreen screen(x.display);
    const auto preferences = home.tree.path / "config" / "ravolet" / "preferences.json";
    for (int step = 1; step <= 4; ++step) {
        SCOPED_TRACE("step " + std::to_string(step));
        // Not set up yet, on a machine that grants nothing: no step goes on by itself.
        home.tree.write("config/ravolet/preferences.json", "{}\n");
        Child ravolet = startListed({}, false);
        ASSERT_TRUE(waitUntil([&] { return screen.shows("Set Up Ravolet"); })) << home.read("ravolet");
        const auto window = screen.shownWindow("Set Up Ravolet");
        ASSERT_TRUE(window);
        ASSERT_FALSE(windowElements(bus, "Set Up Ravolet", "Step 1 of 4").empty()) << "the registry lists " << listed();
        for (int next = 2; next <= step; ++next) {
            screen.press(*window, {testing::returnKey});
            ASSERT_FALSE(windowElements(bus, "Set Up Ravolet", "Step " + std::to_string(next) + " of 4").empty())
                << "Enter did not go on to step " << next;
        }
        screen.press(*window, {testing::escapeKey});
        EXPECT_TRUE(waitUntil([&] { return !screen.shows("Set Up Ravolet"); })) << "the walk-through is still open";
        EXPECT_TRUE(screen.shownWindow(" — Ravolet", true).has_value()) << "the settings window went too";
        EXPECT_TRUE(ravolet.stop()) << home.read("ravolet");
        EXPECT_EQ(testing::contents(preferences).find("\"onboarding.completed\": true"), std::string::npos)
            << testing::contents(preferences);
    }
}

} // namespace
} // namespace ravolet
