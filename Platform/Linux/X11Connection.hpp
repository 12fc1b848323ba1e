#pragma once

#include <xcb/xcb.h>

#include <mutex>

namespace ravolet::platform {

// libXau, which xcb_connect asks for the user's cookie, keeps the name of the
// Xauthority file in a buffer of its own that a call may free and make again,
// with no lock: two threads connecting at once (the front window's source,
// the keyboard's state and the pointer settings each have a connection) can
// corrupt the heap whenever XAUTHORITY is not set. Every X connection in the
// process, and every other use of libXau, is made under this lock.
std::mutex& xauthorityLock();

// xcb_connect under xauthorityLock(). As xcb_connect, never null: the
// connection says by xcb_connection_has_error whether it was made.
xcb_connection_t* connectToXServer(const char* display, int* screen);

} // namespace ravolet::platform
