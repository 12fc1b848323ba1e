// A full-screen Wayland window that reports where the compositor puts the
// cursor over it, so that a test sees the cursor of a compositor that has no
// way to ask: one line per event on standard output, positions in wl_fixed
// (1/256 pixel) as they came, "enter X Y" and "motion X Y", the window's
// size in pixels as the compositor gives it, "size W H", and the wheel's
// detents, "discrete AXIS STEPS".

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include <wayland-client.h>

#include "xdg-shell-client-protocol.h"

namespace {

struct Probe {
    wl_display* display = nullptr;
    wl_compositor* compositor = nullptr;
    wl_shm* shm = nullptr;
    xdg_wm_base* shell = nullptr;
    wl_seat* seat = nullptr;
    wl_pointer* pointer = nullptr;
    wl_surface* surface = nullptr;
    int width = 0;
    int height = 0;
    wl_buffer* buffer = nullptr;
    int bufferWidth = 0;
    int bufferHeight = 0;
};

void report(const char* what, wl_fixed_t x, wl_fixed_t y) {
    std::printf("%s %d %d\n", what, x, y);
    std::fflush(stdout);
}

void enter(void*, wl_pointer*, uint32_t, wl_surface*, wl_fixed_t x, wl_fixed_t y) { report("enter", x, y); }
void leave(void*, wl_pointer*, uint32_t, wl_surface*) { std::puts("leave"), std::fflush(stdout); }
void motion(void*, wl_pointer*, uint32_t, wl_fixed_t x, wl_fixed_t y) { report("motion", x, y); }
void button(void*, wl_pointer*, uint32_t, uint32_t, uint32_t, uint32_t) {}
void axis(void*, wl_pointer*, uint32_t, uint32_t, wl_fixed_t) {}
void frame(void*, wl_pointer*) {}
void axisSource(void*, wl_pointer*, uint32_t) {}
void axisStop(void*, wl_pointer*, uint32_t, uint32_t) {}
// The wheel, in the detents (lines) the compositor gives a client: "discrete AXIS STEPS".
void axisDiscrete(void*, wl_pointer*, uint32_t axis, int32_t steps) {
    std::printf("discrete %u %d\n", axis, steps);
    std::fflush(stdout);
}
void axisValue120(void*, wl_pointer*, uint32_t, int32_t) {}
const wl_pointer_listener pointerListener{enter,      leave,    motion,       button,      axis,
                                          frame,      axisSource, axisStop,   axisDiscrete, axisValue120};

// A seat that loses its last pointer takes the pointer object with it; one
// that gains one again needs a new one.
void capabilities(void* data, wl_seat* seat, uint32_t caps) {
    auto* probe = static_cast<Probe*>(data);
    const bool has = (caps & WL_SEAT_CAPABILITY_POINTER) != 0;
    if (has && !probe->pointer) {
        probe->pointer = wl_seat_get_pointer(seat);
        wl_pointer_add_listener(probe->pointer, &pointerListener, probe);
    } else if (!has && probe->pointer) {
        wl_pointer_release(probe->pointer);
        probe->pointer = nullptr;
    }
}
void seatName(void*, wl_seat*, const char*) {}
const wl_seat_listener seatListener{capabilities, seatName};

void ping(void*, xdg_wm_base* shell, uint32_t serial) { xdg_wm_base_pong(shell, serial); }
const xdg_wm_base_listener shellListener{ping};

void global(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t version) {
    auto* probe = static_cast<Probe*>(data);
    if (std::strcmp(interface, wl_compositor_interface.name) == 0) {
        probe->compositor = static_cast<wl_compositor*>(wl_registry_bind(registry, name, &wl_compositor_interface, 4));
    } else if (std::strcmp(interface, wl_shm_interface.name) == 0) {
        probe->shm = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
    } else if (std::strcmp(interface, xdg_wm_base_interface.name) == 0) {
        probe->shell = static_cast<xdg_wm_base*>(wl_registry_bind(registry, name, &xdg_wm_base_interface, 1));
        xdg_wm_base_add_listener(probe->shell, &shellListener, probe);
    } else if (std::strcmp(interface, wl_seat_interface.name) == 0 && !probe->seat) {
        probe->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, version < 5 ? version : 5));
        wl_seat_add_listener(probe->seat, &seatListener, probe);
    }
}
void globalRemove(void*, wl_registry*, uint32_t) {}
const wl_registry_listener registryListener{global, globalRemove};

void toplevelConfigure(void* data, xdg_toplevel*, int32_t width, int32_t height, wl_array*) {
    auto* probe = static_cast<Probe*>(data);
    if (width > 0 && height > 0) {
        probe->width = width;
        probe->height = height;
        std::printf("size %d %d\n", width, height);
        std::fflush(stdout);
    }
}
void toplevelClose(void*, xdg_toplevel*) {}
void toplevelBounds(void*, xdg_toplevel*, int32_t, int32_t) {}
void toplevelCapabilities(void*, xdg_toplevel*, wl_array*) {}
const xdg_toplevel_listener toplevelListener{toplevelConfigure, toplevelClose, toplevelBounds, toplevelCapabilities};

// A white buffer of the configured size, so that the window covers the
// output; made again only when the size changes, since a compositor may
// configure the window at every change of focus, and every buffer made is
// memory the compositor holds.
void surfaceConfigure(void* data, xdg_surface* surface, uint32_t serial) {
    auto* probe = static_cast<Probe*>(data);
    xdg_surface_ack_configure(surface, serial);
    const int width = probe->width > 0 ? probe->width : 1920;
    const int height = probe->height > 0 ? probe->height : 1080;
    if (probe->buffer && width == probe->bufferWidth && height == probe->bufferHeight) {
        wl_surface_commit(probe->surface);
        return;
    }
    const int stride = width * 4;
    const int size = stride * height;
    const int fd = memfd_create("ravolet-cursor-probe", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, size) != 0) return;
    void* pixels = mmap(nullptr, static_cast<std::size_t>(size), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (pixels != MAP_FAILED) {
        std::memset(pixels, 0xff, static_cast<std::size_t>(size));
        munmap(pixels, static_cast<std::size_t>(size));
    }
    wl_shm_pool* pool = wl_shm_create_pool(probe->shm, fd, size);
    wl_buffer* buffer = wl_shm_pool_create_buffer(pool, 0, width, height, stride, WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    wl_surface_attach(probe->surface, buffer, 0, 0);
    wl_surface_damage(probe->surface, 0, 0, width, height);
    wl_surface_commit(probe->surface);
    if (probe->buffer) wl_buffer_destroy(probe->buffer);
    probe->buffer = buffer;
    probe->bufferWidth = width;
    probe->bufferHeight = height;
}
const xdg_surface_listener surfaceListener{surfaceConfigure};

} // namespace

int main() {
    Probe probe;
    probe.display = wl_display_connect(nullptr);
    if (!probe.display) {
        std::fprintf(stderr, "no Wayland display\n");
        return 1;
    }
    wl_registry* registry = wl_display_get_registry(probe.display);
    wl_registry_add_listener(registry, &registryListener, &probe);
    wl_display_roundtrip(probe.display);
    if (!probe.compositor || !probe.shm || !probe.shell || !probe.seat) {
        std::fprintf(stderr, "the compositor lacks what the probe needs\n");
        return 1;
    }
    probe.surface = wl_compositor_create_surface(probe.compositor);
    xdg_surface* surface = xdg_wm_base_get_xdg_surface(probe.shell, probe.surface);
    xdg_surface_add_listener(surface, &surfaceListener, &probe);
    xdg_toplevel* toplevel = xdg_surface_get_toplevel(surface);
    xdg_toplevel_add_listener(toplevel, &toplevelListener, &probe);
    xdg_toplevel_set_fullscreen(toplevel, nullptr);
    wl_surface_commit(probe.surface);
    std::puts("ready");
    std::fflush(stdout);
    while (wl_display_dispatch(probe.display) != -1) {
    }
    return 0;
}
