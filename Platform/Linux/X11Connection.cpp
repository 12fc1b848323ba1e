#include "Platform/Linux/X11Connection.hpp"

namespace ravolet::platform {

std::mutex& xauthorityLock() {
    static std::mutex lock;
    return lock;
}

xcb_connection_t* connectToXServer(const char* display, int* screen) {
    std::lock_guard guard(xauthorityLock());
    return xcb_connect(display, screen);
}

} // namespace ravolet::platform
