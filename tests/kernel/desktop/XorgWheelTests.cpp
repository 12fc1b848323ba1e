// The wheel as X clients receive it: Xorg with xf86-input-libinput, which
// reads libinput's high-resolution wheel events into a smooth-scrolling
// valuator, and from which the server makes the core buttons 4 and 5, one
// each time the valuator has moved a whole increment. Two clients of the
// test's: one of core button events (a window over the whole screen), one
// of XI2 motion with the scroll valuator (on the root window), each event
// stamped as it comes in; the plain wheel (the fake mouse read by the server
// itself) is measured in the same boot.

#include <gtest/gtest.h>

#include <poll.h>
#include <xcb/xcb.h>
#include <xcb/xinput.h>

#include <atomic>
#include <iostream>
#include <map>
#include <mutex>

#include "EngineOnKernel.hpp"
#include "FakeMouse/FakeG502X.hpp"
#include "Platform/Linux/X11Connection.hpp"
#include "desktop/DesktopVM.hpp"
#include "desktop/WheelRuns.hpp"

namespace ravolet::testing {
namespace {

using namespace std::chrono_literals;

constexpr const char* display = ":1";
constexpr const char* xorgConf = R"(Section "Module"
  Disable "glx"
EndSection
Section "Device"
  Identifier "dummy"
  Driver "dummy"
  VideoRam 16384
EndSection
)";

double fromFixed(xcb_input_fp3232_t v) { return static_cast<double>(v.integral) + static_cast<double>(v.frac) / 4294967296.0; }

// One X client's connection, read on a thread of its own.
class Client {
public:
    explicit Client(std::function<void(xcb_generic_event_t*, std::int64_t)> handle)
        : connection_(platform::connectToXServer(display, nullptr)), handle_(std::move(handle)) {
        root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    }
    ~Client() {
        stop_ = true;
        if (reader_.joinable()) reader_.join();
        xcb_disconnect(connection_);
    }
    bool ok() const { return xcb_connection_has_error(connection_) == 0; }
    xcb_connection_t* connection() const { return connection_; }
    xcb_window_t root() const { return root_; }
    void read() {
        reader_ = std::thread([this] {
            while (!stop_) {
                pollfd readable{xcb_get_file_descriptor(connection_), POLLIN, 0};
                if (::poll(&readable, 1, 50) <= 0) continue;
                const std::int64_t now = monotonicMicros();
                while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
                    handle_(event, now);
                    std::free(event);
                }
            }
        });
    }

private:
    xcb_connection_t* connection_;
    xcb_window_t root_ = 0;
    std::function<void(xcb_generic_event_t*, std::int64_t)> handle_;
    std::thread reader_;
    std::atomic<bool> stop_ = false;
};

// Core buttons 4 (up) and 5 (down) pressed over a window that covers the screen.
struct CoreClient {
    std::mutex lock;
    std::vector<std::pair<std::int64_t, int>> presses; // time, button
    Client client{[this](xcb_generic_event_t* e, std::int64_t now) {
        if ((e->response_type & 0x7f) != XCB_BUTTON_PRESS) return;
        const auto* press = reinterpret_cast<xcb_button_press_event_t*>(e);
        std::lock_guard guard(lock);
        if (press->detail == 4 || press->detail == 5) presses.emplace_back(now, press->detail);
    }};

    bool open() {
        if (!client.ok()) return false;
        const xcb_window_t window = xcb_generate_id(client.connection());
        const std::uint32_t values[] = {1, XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE};
        xcb_create_window(client.connection(), XCB_COPY_FROM_PARENT, window, client.root(), 0, 0, 4096, 4096, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT,
                          XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
        xcb_map_window(client.connection(), window);
        xcb_flush(client.connection());
        client.read();
        return true;
    }
    std::vector<std::pair<std::int64_t, int>> since(std::size_t from) {
        std::lock_guard guard(lock);
        return {presses.begin() + static_cast<std::ptrdiff_t>(std::min(from, presses.size())), presses.end()};
    }
};

// XI2 motion of the master pointer on the root window: the vertical scroll
// valuator's moves, in increments (whole detents), by the device they came from.
struct SmoothClient {
    struct Move {
        std::int64_t time;
        double detents;
    };
    std::mutex lock;
    std::vector<Move> moves;
    std::map<int, std::pair<int, double>> scroll; // source: valuator number, increment
    std::map<int, double> last;                   // source: the valuator's last value
    Client client{[this](xcb_generic_event_t* e, std::int64_t now) { handle(e, now); }};
    std::uint8_t opcode = 0;

    bool open() {
        if (!client.ok()) return false;
        const auto* extension = xcb_get_extension_data(client.connection(), &xcb_input_id);
        if (!extension || !extension->present) return false;
        opcode = extension->major_opcode;
        std::free(xcb_input_xi_query_version_reply(client.connection(), xcb_input_xi_query_version(client.connection(), 2, 2),
                                                   nullptr));
        struct {
            xcb_input_event_mask_t head;
            std::uint32_t mask;
        } selection{{XCB_INPUT_DEVICE_ALL_MASTER, 1}, XCB_INPUT_XI_EVENT_MASK_MOTION};
        xcb_generic_error_t* error = xcb_request_check(
            client.connection(), xcb_input_xi_select_events_checked(client.connection(), client.root(), 1, &selection.head));
        if (error) {
            std::free(error);
            return false;
        }
        client.read();
        return true;
    }
    // The vertical scroll valuator of `source` and its increment, as the server describes the device.
    std::pair<int, double> scrollOf(int source) {
        std::pair<int, double> found{-1, 0};
        auto* reply = xcb_input_xi_query_device_reply(
            client.connection(), xcb_input_xi_query_device(client.connection(), static_cast<xcb_input_device_id_t>(source)), nullptr);
        if (!reply) return found;
        for (auto infos = xcb_input_xi_query_device_infos_iterator(reply); infos.rem; xcb_input_xi_device_info_next(&infos))
            for (auto classes = xcb_input_xi_device_info_classes_iterator(infos.data); classes.rem;
                 xcb_input_device_class_next(&classes))
                if (classes.data->type == XCB_INPUT_DEVICE_CLASS_TYPE_SCROLL) {
                    const auto* s = reinterpret_cast<const xcb_input_scroll_class_t*>(classes.data);
                    if (s->scroll_type == XCB_INPUT_SCROLL_TYPE_VERTICAL) found = {s->number, fromFixed(s->increment)};
                }
        std::free(reply);
        return found;
    }
    void handle(xcb_generic_event_t* e, std::int64_t now) {
        if ((e->response_type & 0x7f) != XCB_GE_GENERIC) return;
        const auto* generic = reinterpret_cast<xcb_ge_generic_event_t*>(e);
        if (generic->extension != opcode || generic->event_type != XCB_INPUT_MOTION) return;
        const auto* motion = reinterpret_cast<const xcb_input_motion_event_t*>(e);
        // Asked on this thread, which is the only one reading replies' events here.
        auto known = scroll.find(motion->sourceid);
        if (known == scroll.end()) known = scroll.emplace(motion->sourceid, scrollOf(motion->sourceid)).first;
        const auto [number, increment] = known->second;
        const std::uint32_t* mask = xcb_input_button_press_valuator_mask(motion);
        const xcb_input_fp3232_t* values = xcb_input_button_press_axisvalues(motion);
        int index = 0;
        for (int v = 0; v < motion->valuators_len * 32; ++v) {
            if ((mask[v / 32] & (1u << (v % 32))) == 0) continue;
            if (v == number && increment != 0) {
                const double value = fromFixed(values[index]);
                const auto previous = last.find(motion->sourceid);
                if (previous != last.end() && value != previous->second) {
                    std::lock_guard guard(lock);
                    moves.push_back({now, (value - previous->second) / increment});
                }
                last[motion->sourceid] = value;
            }
            ++index;
        }
    }
    std::vector<Move> since(std::size_t from) {
        std::lock_guard guard(lock);
        return {moves.begin() + static_cast<std::ptrdiff_t>(std::min(from, moves.size())), moves.end()};
    }
    std::size_t count() {
        std::lock_guard guard(lock);
        return moves.size();
    }
};

class XorgWheel : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!std::filesystem::exists("/usr/lib/xorg/Xorg")) return;
        installed = true;
        if (!startUdev()) return;
        std::filesystem::create_directories("/var/lib/xkb");
        std::ofstream("/tmp/wheel-xorg.conf") << xorgConf;
        server = new Process(Process::Options{
            {"/usr/lib/xorg/Xorg", display, "-config", "/tmp/wheel-xorg.conf", "-configdir", "/usr/share/X11/xorg.conf.d",
             "-logfile", "/tmp/wheel-Xorg.log", "-nolisten", "tcp", "-noreset", "-novtswitch", "vt1"},
            {"PATH=/usr/bin:/usr/sbin:/bin", "HOME=/tmp"},
            "/tmp/wheel-Xorg.out",
            std::nullopt,
            {}});
    }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }
    void SetUp() override {
        if (!installed) GTEST_SKIP() << "no X server to run (xserver-xorg-core was not copied into the VM)";
        ASSERT_TRUE(server) << "udev did not start";
        ASSERT_TRUE(waitFor(
            [] {
                xcb_connection_t* c = platform::connectToXServer(display, nullptr);
                const bool up = xcb_connection_has_error(c) == 0;
                xcb_disconnect(c);
                return up;
            },
            20s))
            << fileText("/tmp/wheel-Xorg.log");
        ASSERT_TRUE(mouse.plugIn());
        core = std::make_unique<CoreClient>();
        smooth = std::make_unique<SmoothClient>();
        ASSERT_TRUE(core->open());
        ASSERT_TRUE(smooth->open());
    }

    // A run, with what each client received of it: core buttons (as +1 up,
    // -1 down) and the valuator's moves in detents.
    struct Received {
        WheelRun run;
        std::vector<std::pair<std::int64_t, int>> buttons;
        std::vector<SmoothClient::Move> moves;
        double detents() const {
            double sum = 0;
            for (const auto& m : moves) sum += m.detents;
            return sum;
        }
    };
    Received turn(EventNodeReader* ravolet, std::vector<int> directions, std::chrono::microseconds gap) {
        const std::size_t presses = core->since(0).size(), moved = smooth->count();
        Received received{turnNotches(mouse, ravolet, std::move(directions), gap), {}, {}};
        for (const auto& [time, button] : core->since(presses)) received.buttons.emplace_back(time, button == 4 ? 1 : -1);
        received.moves = smooth->since(moved);
        return received;
    }

    static inline bool installed = false;
    static inline Process* server = nullptr;
    FakeG502X mouse;
    // Made once the server is up.
    std::unique_ptr<CoreClient> core;
    std::unique_ptr<SmoothClient> smooth;
};

TEST_F(XorgWheel, CoreAndSmoothScrollingClientsEachGetEveryNotchExactlyOnce) {
    // Until the server has the mouse and both clients hear it.
    ASSERT_TRUE(waitFor([&] { return !turn(nullptr, {1}, 0us).moves.empty(); }, 10s)) << fileText("/tmp/wheel-Xorg.log");
    const Received plain = turn(nullptr, {1}, 0us);
    ASSERT_EQ(plain.buttons.size(), 1u);
    ASSERT_FALSE(plain.moves.empty());

    GlidingEngine ravolet;
    ASSERT_TRUE(ravolet.start([&](EventNodeReader& output) { return !turn(&output, {1}, 0us).moves.empty(); }));

    for (const Spin& spin : {Spin{"a lone notch", 1, 0us}, Spin{"10 notches 100 ms apart", 10, 100ms}}) {
        SCOPED_TRACE(spin.name);
        const Received got = turn(&*ravolet.output, notchesUp(spin.notches), spin.gap);
        ASSERT_EQ(got.buttons.size(), static_cast<std::size_t>(spin.notches)) << "core buttons: one a notch";
        for (const auto& [time, direction] : got.buttons) EXPECT_EQ(direction, 1);
        // The valuator grows downwards, as libinput's values do.
        EXPECT_NEAR(got.detents(), -spin.notches, 1e-6) << "the smooth valuator: a whole increment a notch";
        EXPECT_GE(got.moves.size(), 10u * static_cast<std::size_t>(spin.notches)) << "in many small moves";
        std::int64_t latest = 0;
        for (std::size_t k = 0; k < got.buttons.size(); ++k)
            latest = std::max(latest, got.buttons[k].first - got.run.notches[k]);
        std::cout << spin.name << ": core buttons " << got.buttons.size() << ", the first "
                  << ms(got.buttons.front().first - got.run.notches.front()) << " after its notch, each at most " << ms(latest)
                  << " (the plain wheel's " << ms(plain.buttons.front().first - plain.run.notches.front())
                  << "); XI2 " << got.moves.size() << " moves summing to " << got.detents() << " detents, the first "
                  << ms(got.moves.front().time - got.run.notches.front()) << " after the notch (the plain wheel's "
                  << plain.moves.size() << " move, " << ms(plain.moves.front().time - plain.run.notches.front()) << ")\n";
    }
}

} // namespace
} // namespace ravolet::testing
