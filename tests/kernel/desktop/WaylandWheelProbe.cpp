// A full-screen Wayland window that reports the wheel as an application
// receives it: it binds the seat at the version the compositor offers (so
// that a compositor of wl_seat 7 sends whole lines only, one of 8
// axis_value120), and prints one line per event on standard output, each
// with the moment it came in (CLOCK_MONOTONIC, microseconds):
//   "seat V"                   the version bound
//   "enter"                    the pointer is over the window
//   "axis US A VALUE"          wl_pointer.axis, VALUE in wl_fixed (1/256)
//   "discrete US A N"          wl_pointer.axis_discrete
//   "value120 US A N"          wl_pointer.axis_value120
// A is 0 for the vertical axis, 1 for the horizontal one. "size W H" when
// the compositor sizes the window, "ready" once it is asked for.

#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include <wayland-client.h>

#include "xdg-shell-client-protocol.h"

namespace {

struct Window {
    wl_compositor* compositor = nullptr;
    wl_shm* shm = nullptr;
    xdg_wm_base* shell = nullptr;
    wl_seat* seat = nullptr;
    wl_pointer* pointer = nullptr;
    wl_surface* surface = nullptr;
    int width = 0;
    int height = 0;
    bool drawn = false;
};

long long micros() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000LL + now.tv_nsec / 1000;
}

void say(const char* format, long long a = 0, long long b = 0, long long c = 0) {
    std::printf(format, a, b, c);
    std::fflush(stdout);
}

void enter(void*, wl_pointer*, uint32_t, wl_surface*, wl_fixed_t, wl_fixed_t) { say("enter\n"); }
void leave(void*, wl_pointer*, uint32_t, wl_surface*) {}
void motion(void*, wl_pointer*, uint32_t, wl_fixed_t, wl_fixed_t) {}
void button(void*, wl_pointer*, uint32_t, uint32_t, uint32_t, uint32_t) {}
void axis(void*, wl_pointer*, uint32_t, uint32_t which, wl_fixed_t value) { say("axis %lld %lld %lld\n", micros(), which, value); }
void frame(void*, wl_pointer*) {}
void axisSource(void*, wl_pointer*, uint32_t) {}
void axisStop(void*, wl_pointer*, uint32_t, uint32_t) {}
void axisDiscrete(void*, wl_pointer*, uint32_t which, int32_t n) { say("discrete %lld %lld %lld\n", micros(), which, n); }
void axisValue120(void*, wl_pointer*, uint32_t which, int32_t n) { say("value120 %lld %lld %lld\n", micros(), which, n); }
const wl_pointer_listener pointerListener{enter, leave, motion, button, axis, frame, axisSource, axisStop, axisDiscrete,
                                          axisValue120};

void capabilities(void* data, wl_seat* seat, uint32_t caps) {
    auto* window = static_cast<Window*>(data);
    if ((caps & WL_SEAT_CAPABILITY_POINTER) != 0 && !window->pointer) {
        window->pointer = wl_seat_get_pointer(seat);
        wl_pointer_add_listener(window->pointer, &pointerListener, window);
    }
}
void seatName(void*, wl_seat*, const char*) {}
const wl_seat_listener seatListener{capabilities, seatName};

void ping(void*, xdg_wm_base* shell, uint32_t serial) { xdg_wm_base_pong(shell, serial); }
const xdg_wm_base_listener shellListener{ping};

void global(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t version) {
    auto* window = static_cast<Window*>(data);
    const auto bind = [&](const wl_interface& type, uint32_t wanted) {
        return wl_registry_bind(registry, name, &type, std::min(version, wanted));
    };
    if (std::strcmp(interface, wl_compositor_interface.name) == 0) {
        window->compositor = static_cast<wl_compositor*>(bind(wl_compositor_interface, 4));
    } else if (std::strcmp(interface, wl_shm_interface.name) == 0) {
        window->shm = static_cast<wl_shm*>(bind(wl_shm_interface, 1));
    } else if (std::strcmp(interface, xdg_wm_base_interface.name) == 0) {
        window->shell = static_cast<xdg_wm_base*>(bind(xdg_wm_base_interface, 1));
        xdg_wm_base_add_listener(window->shell, &shellListener, window);
    } else if (std::strcmp(interface, wl_seat_interface.name) == 0 && !window->seat) {
        // As an application built today binds it: all the compositor offers.
        window->seat = static_cast<wl_seat*>(bind(wl_seat_interface, static_cast<uint32_t>(wl_seat_interface.version)));
        wl_seat_add_listener(window->seat, &seatListener, window);
        say("seat %lld\n", std::min<long long>(version, wl_seat_interface.version));
    }
}
void globalRemove(void*, wl_registry*, uint32_t) {}
const wl_registry_listener registryListener{global, globalRemove};

void toplevelConfigure(void* data, xdg_toplevel*, int32_t width, int32_t height, wl_array*) {
    auto* window = static_cast<Window*>(data);
    if (width > 0 && height > 0 && !window->drawn) {
        window->width = width;
        window->height = height;
        say("size %lld %lld\n", width, height);
    }
}
void toplevelClose(void*, xdg_toplevel*) {}
void toplevelBounds(void*, xdg_toplevel*, int32_t, int32_t) {}
void toplevelCapabilities(void*, xdg_toplevel*, wl_array*) {}
const xdg_toplevel_listener toplevelListener{toplevelConfigure, toplevelClose, toplevelBounds, toplevelCapabilities};

// One grey buffer as large as the first size the compositor gives, so that
// the window covers the output wherever the cursor is; kept for good.
void surfaceConfigure(void* data, xdg_surface* surface, uint32_t serial) {
    auto* window = static_cast<Window*>(data);
    xdg_surface_ack_configure(surface, serial);
    if (!window->drawn) {
        const int width = window->width > 0 ? window->width : 1920;
        const int height = window->height > 0 ? window->height : 1080;
        const int size = width * height * 4;
        const int fd = memfd_create("ravolet-wheel-probe", MFD_CLOEXEC);
        if (fd < 0 || ftruncate(fd, size) != 0) return;
        wl_shm_pool* pool = wl_shm_create_pool(window->shm, fd, size);
        wl_surface_attach(window->surface, wl_shm_pool_create_buffer(pool, 0, width, height, width * 4, WL_SHM_FORMAT_XRGB8888),
                          0, 0);
        wl_shm_pool_destroy(pool);
        close(fd);
        wl_surface_damage(window->surface, 0, 0, width, height);
        window->drawn = true;
    }
    wl_surface_commit(window->surface);
}
const xdg_surface_listener surfaceListener{surfaceConfigure};

} // namespace

int main() {
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        std::fprintf(stderr, "no Wayland display\n");
        return 1;
    }
    Window window;
    wl_registry_add_listener(wl_display_get_registry(display), &registryListener, &window);
    wl_display_roundtrip(display);
    if (!window.compositor || !window.shm || !window.shell || !window.seat) {
        std::fprintf(stderr, "the compositor lacks what the probe needs\n");
        return 1;
    }
    window.surface = wl_compositor_create_surface(window.compositor);
    xdg_surface* surface = xdg_wm_base_get_xdg_surface(window.shell, window.surface);
    xdg_surface_add_listener(surface, &surfaceListener, &window);
    xdg_toplevel* toplevel = xdg_surface_get_toplevel(surface);
    xdg_toplevel_add_listener(toplevel, &toplevelListener, &window);
    xdg_toplevel_set_fullscreen(toplevel, nullptr);
    wl_surface_commit(window.surface);
    say("ready\n");
    while (wl_display_dispatch(display) != -1) {
    }
    return 0;
}
