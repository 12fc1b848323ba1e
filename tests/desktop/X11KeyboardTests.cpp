// The X server's keyboard as the event tap reads it: keys pressed on a real
// X server (Xvfb, through XTEST), and servers that do not answer, which must
// never hold the caller (the tap, once a frame) up.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <cstring>
#include <future>

#include "DesktopTestSupport.hpp"
#include "Platform/Linux/Input/X11Keyboard.hpp"
#include "Platform/Linux/X11Connection.hpp"

namespace ravolet::platform {
namespace {

using testing::XServer;
using namespace std::chrono_literals;

constexpr int leftShift = 42, leftControl = 29, capsLock = 58; // evdev codes

// Presses and releases keys on the server as a keyboard would.
class FakeKeyboard {
public:
    explicit FakeKeyboard(const std::string& display) : connection_(connectToXServer(display.c_str(), nullptr)) {}
    ~FakeKeyboard() { xcb_disconnect(connection_); }
    void key(int evdevCode, bool down) {
        xcb_test_fake_input(connection_, down ? XCB_KEY_PRESS : XCB_KEY_RELEASE, static_cast<std::uint8_t>(evdevCode + 8),
                            XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        // A round trip: the server has taken the key once it answers.
        std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
    }

private:
    xcb_connection_t* connection_;
};

// A display whose "server" takes connections and never says a word.
class SilentServer {
public:
    SilentServer() {
        for (int number = 600; number < 700 && display.empty(); ++number) {
            const std::string path = "/tmp/.X11-unix/X" + std::to_string(number);
            if (std::filesystem::exists(path)) continue;
            listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::memcpy(address.sun_path + 1, path.data(), path.size()); // the abstract namespace
            const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + path.size());
            if (::bind(listener_, reinterpret_cast<const sockaddr*>(&address), length) == 0 && ::listen(listener_, 16) == 0) {
                display = ":" + std::to_string(number);
            } else {
                ::close(listener_);
                listener_ = -1;
            }
        }
    }
    ~SilentServer() { close(); }
    // Takes the connections made so far (and keeps them open, unanswered);
    // how many there have been.
    int connections() {
        while (true) {
            const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) break;
            accepted_.push_back(client);
        }
        return static_cast<int>(accepted_.size());
    }
    void close() {
        for (const int client : accepted_) ::close(client);
        accepted_.clear();
        if (listener_ >= 0) ::close(listener_);
        listener_ = -1;
    }

    std::string display;

private:
    int listener_ = -1;
    std::vector<int> accepted_;
};

// On a server that, as a desktop's does, lets in only who shows its cookie.
TEST(X11Keyboard, FollowsTheKeysDownAndCapsLockAsTheServerTellsOfThem) {
    ASSERT_TRUE(testing::installed("xauth")) << "xauth is missing: scripts/setup.sh installs it";
    testing::FolderTree folder("x11-keyboard");
    XServer x(folder.path / "authority");
    ASSERT_FALSE(x.display.empty()) << "Xvfb did not start (is the xvfb package installed?)";
    ::setenv("XAUTHORITY", (folder.path / "authority").c_str(), 1);
    X11Keyboard keyboard({.display = x.display});
    ASSERT_TRUE(testing::waitUntil([&] { return keyboard.state().has_value(); })) << "no answer from the X server";
    FakeKeyboard fake(x.display);
    const auto shows = [&](std::initializer_list<int> down, bool caps) {
        return testing::waitUntil([&] {
            const auto state = keyboard.state();
            if (!state || state->capsLock != caps) return false;
            for (const int key : {leftShift, leftControl, capsLock})
                if (state->keys.test(static_cast<std::size_t>(key)) != (std::find(down.begin(), down.end(), key) != down.end()))
                    return false;
            return true;
        });
    };
    fake.key(leftShift, true);
    EXPECT_TRUE(shows({leftShift}, false));
    fake.key(leftControl, true);
    EXPECT_TRUE(shows({leftShift, leftControl}, false));
    fake.key(leftShift, false);
    EXPECT_TRUE(shows({leftControl}, false));
    fake.key(leftControl, false);
    fake.key(capsLock, true);
    fake.key(capsLock, false);
    EXPECT_TRUE(shows({}, true));
    ::unsetenv("XAUTHORITY");
}

// Whatever the server does, a question is answered from what was last heard:
// it returns at once with no server, with one that never answers and with one
// that has stopped answering (a question sent to either of those would wait
// for ever, so that it returns at all is the proof). The keyboard gives up a
// silent server after its time limit and tries again; dropping it never waits.
TEST(X11Keyboard, NeverWaitsForTheServer) {
    const auto ask = [](X11Keyboard& keyboard) {
        return std::async(std::launch::async, [&keyboard] { return keyboard.state(); });
    };
    const auto returns = [](std::future<std::optional<DesktopKeyboard::State>>& call) {
        return call.wait_for(testing::patience) == std::future_status::ready;
    };
    {
        SCOPED_TRACE("no server");
        X11Keyboard keyboard({.display = ":699"});
        auto call = ask(keyboard);
        ASSERT_TRUE(returns(call));
        EXPECT_FALSE(call.get());
    }
    {
        SCOPED_TRACE("a server that never answers");
        SilentServer silent;
        ASSERT_FALSE(silent.display.empty());
        auto keyboard = std::make_unique<X11Keyboard>(
            X11Keyboard::Options{.display = silent.display, .connectLimit = 100ms, .reconnectDelay = 100ms});
        for (const int connections : {1, 2}) {
            auto call = ask(*keyboard);
            const bool returned = returns(call);
            // An unanswered question holds the call up until the server goes.
            if (!returned) silent.close();
            ASSERT_TRUE(returned);
            EXPECT_FALSE(call.get());
            // Connected, then given up on after the time limit and tried again.
            EXPECT_TRUE(testing::waitUntil([&] { return silent.connections() >= connections; }));
        }
        keyboard.reset();
    }
    {
        SCOPED_TRACE("a server that has stopped answering");
        XServer x;
        ASSERT_FALSE(x.display.empty());
        X11Keyboard keyboard({.display = x.display});
        FakeKeyboard fake(x.display);
        fake.key(leftShift, true);
        ASSERT_TRUE(testing::waitUntil([&] {
            const auto state = keyboard.state();
            return state && state->keys.test(leftShift);
        }));
        ::kill(x.server.pid(), SIGSTOP);
        auto call = ask(keyboard);
        const bool returned = returns(call);
        ::kill(x.server.pid(), SIGCONT);
        ASSERT_TRUE(returned);
        const auto answer = call.get();
        ASSERT_TRUE(answer);
        EXPECT_TRUE(answer->keys.test(leftShift));
    }
}

} // namespace
} // namespace ravolet::platform
