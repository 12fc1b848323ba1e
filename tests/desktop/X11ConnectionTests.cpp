// X connections made on several threads at once, as the program's front
// window source, keyboard state and pointer settings make theirs.

#include <gtest/gtest.h>

#include <cstdlib>
#include <latch>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "DesktopTestSupport.hpp"
#include "Platform/Linux/X11Connection.hpp"

namespace ravolet::platform {
namespace {

// With XAUTHORITY unset, libXau makes the Xauthority file's name afresh in a
// buffer of its own on every connection; two connections made at once used
// to meet there and could corrupt the heap (once in a full test run, in the
// workspace's test). ThreadSanitizer sees any two that are not kept apart.
TEST(X11Connection, ConnectionsMadeAtOnceOnManyThreadsEachGetThrough) {
    testing::XServer x;
    ASSERT_FALSE(x.display.empty()) << "Xvfb did not start (is the xvfb package installed?)";
    std::optional<std::string> authority;
    if (const char* set = std::getenv("XAUTHORITY")) authority = set;
    ::unsetenv("XAUTHORITY");
    // The server resets whenever its last client leaves, and refuses
    // connections meanwhile: one stays for the whole test.
    xcb_connection_t* staying = connectToXServer(x.display.c_str(), nullptr);
    ASSERT_EQ(xcb_connection_has_error(staying), 0);

    constexpr int threads = 8, connectionsEach = 10;
    std::latch start(threads);
    std::vector<int> madeBy(threads, 0);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            start.arrive_and_wait();
            for (int i = 0; i < connectionsEach; ++i) {
                xcb_connection_t* connection = connectToXServer(x.display.c_str(), nullptr);
                if (xcb_connection_has_error(connection) == 0) ++madeBy[t];
                xcb_disconnect(connection);
            }
        });
    }
    for (auto& worker : workers) worker.join();
    xcb_disconnect(staying);
    if (authority) ::setenv("XAUTHORITY", authority->c_str(), 1);
    EXPECT_EQ(madeBy, std::vector<int>(threads, connectionsEach));
}

} // namespace
} // namespace ravolet::platform
