// A desktop that has stopped answering (SIGSTOP, a hang) holds a call for its
// settings no longer than the call's patience: the X server stopped with a
// connection open, and sway's socket with a full backlog, which nobody
// accepts from.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cstring>

#include "DesktopTestSupport.hpp"
#include "Platform/Linux/Desktop/SwayPointerSettings.hpp"
#include "Platform/Linux/Desktop/X11PointerSettings.hpp"

namespace ravolet::platform {
namespace {

using testing::XServer;

int localSocket(const std::string& path, bool listening) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | (listening ? 0 : SOCK_NONBLOCK), 0);
    const auto* at = reinterpret_cast<const sockaddr*>(&address);
    const bool ok = listening ? ::bind(fd, at, sizeof address) == 0 && ::listen(fd, 0) == 0
                              : ::connect(fd, at, sizeof address) == 0;
    EXPECT_TRUE(ok) << std::strerror(errno);
    return fd;
}

TEST(StoppedDesktop, ACallForItsSettingsEndsWithNothingWithinItsPatience) {
    // Far beyond the patience of a call, far below forever.
    constexpr auto bound = std::chrono::seconds(10);
    const auto timed = [&](const char* what, const std::function<void()>& call) {
        const auto start = std::chrono::steady_clock::now();
        call();
        EXPECT_LT(std::chrono::steady_clock::now() - start, bound) << what;
    };
    {
        XServer x;
        ASSERT_FALSE(x.display.empty());
        const auto settings = X11PointerSettings::connect(x.display);
        ASSERT_TRUE(settings);
        ::kill(x.server.pid(), SIGSTOP);
        timed("the X server", [&] { EXPECT_TRUE(settings->pointers().empty()); });
        ::kill(x.server.pid(), SIGCONT);
    }
    {
        const std::string path = ::testing::TempDir() + "stopped-sway.sock";
        std::filesystem::remove(path);
        const int listener = localSocket(path, true);
        // The backlog full, as after a few calls to a compositor that accepts none.
        const int waiting = localSocket(path, false);
        const SwayPointerSettings sway(path);
        timed("sway", [&] { EXPECT_FALSE(sway.ask(100, "")); });
        ::close(waiting);
        ::close(listener);
        std::filesystem::remove(path);
    }
}

} // namespace
} // namespace ravolet::platform
