#include "Platform/Linux/Desktop/WlrootsFrontmostSource.hpp"

#include <poll.h>
#include <wayland-client.h>

#include <algorithm>
#include <cstring>
#include <list>
#include <mutex>

#include "Platform/Linux/Desktop/FrontReport.hpp"
#include "Platform/Linux/Kernel/DescriptorWatcher.hpp"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

namespace ravolet::platform {

namespace {

// The protocol's version this source speaks (the "parent" event came in 3).
constexpr std::uint32_t protocolVersion = 3;

struct Toplevel {
    zwlr_foreign_toplevel_handle_v1* handle = nullptr;
    // As the compositor last said, and as last committed by "done".
    std::string pendingAppID, appID;
    bool pendingActivated = false, activated = false;
};

} // namespace

struct WlrootsFrontmostSource::State {
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    zwlr_foreign_toplevel_manager_v1* manager = nullptr;
    std::unique_ptr<DescriptorWatcher> watcher;
    Subscription watch;
    FrontReport report;

    // Touched on the watcher's thread only (and at start and stop, when it
    // does not run).
    std::list<Toplevel> toplevels;
    // A toplevel committed a change since the last publish.
    bool changed = false;
    // A read is prepared and waits for the display to become readable.
    bool reading = false;

    static WindowClues clues(const std::string& appID) {
        WindowClues clues;
        if (!appID.empty()) clues.classes.push_back(appID);
        return clues;
    }

    // Publishes the toplevels as they now are, once all that came together
    // has been taken: a switch comes as the old window's "no longer
    // activated" and then the new one's "activated", and the moment between
    // them is no front of its own.
    void publish() {
        changed = false;
        Front next;
        std::vector<WindowClues> all;
        for (const Toplevel& toplevel : toplevels) {
            all.push_back(clues(toplevel.appID));
            if (toplevel.activated) next.window = clues(toplevel.appID);
        }
        // The front first: whoever sees the windows has been told of it.
        report.setFront(std::move(next));
        report.setWindows(std::move(all));
    }

    // Readies the display for the watcher's next poll, as the client library
    // asks of whoever reads it: what is already queued is dispatched (a read
    // cannot be prepared while anything is), a read is prepared, so that no
    // one else may take the events the poll is to see, and what was asked
    // meanwhile (the destruction of closed toplevels) is sent before the
    // wait. Between this and the next read or cancel, only read_events and
    // cancel_read touch the display. Publishes what the dispatch committed.
    void prepare() {
        while (wl_display_prepare_read(display) != 0) wl_display_dispatch_pending(display);
        reading = true;
        // Sent now, or by the next flush should the socket be full.
        wl_display_flush(display);
        if (changed) publish();
    }

    void cancelRead() {
        if (reading) wl_display_cancel_read(display);
        reading = false;
    }

    // On the watcher's thread, with the display readable (or hung up).
    void service(short events) {
        if (events & (POLLHUP | POLLERR | POLLNVAL)) {
            cancelRead();
            return report.lose();
        }
        // The prepared read ends here, whether it succeeds or not.
        reading = false;
        if (wl_display_read_events(display) != 0) return report.lose();
        prepare();
        if (wl_display_get_error(display) != 0) {
            cancelRead();
            report.lose();
        }
    }

    static Toplevel& toplevel(void* data, zwlr_foreign_toplevel_handle_v1* handle) {
        auto* state = static_cast<State*>(data);
        return *std::ranges::find(state->toplevels, handle, &Toplevel::handle);
    }

    void close() {
        cancelRead();
        for (Toplevel& toplevel : toplevels) zwlr_foreign_toplevel_handle_v1_destroy(toplevel.handle);
        toplevels.clear();
        if (manager) zwlr_foreign_toplevel_manager_v1_destroy(manager);
        if (registry) wl_registry_destroy(registry);
        wl_display_disconnect(display);
    }
};

namespace {

// What the compositor says, as the State of the source takes it.
constexpr zwlr_foreign_toplevel_handle_v1_listener handleListener{
    .title = [](void*, zwlr_foreign_toplevel_handle_v1*, const char*) {},
    .app_id = [](void* data, zwlr_foreign_toplevel_handle_v1* handle,
                 const char* appID) { WlrootsFrontmostSource::State::toplevel(data, handle).pendingAppID = appID ? appID : ""; },
    .output_enter = [](void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {},
    .output_leave = [](void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {},
    .state =
        [](void* data, zwlr_foreign_toplevel_handle_v1* handle, wl_array* states) {
            bool activated = false;
            const auto* first = static_cast<const std::uint32_t*>(states->data);
            for (std::size_t i = 0; i < states->size / sizeof(std::uint32_t); ++i)
                activated = activated || first[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED;
            WlrootsFrontmostSource::State::toplevel(data, handle).pendingActivated = activated;
        },
    .done =
        [](void* data, zwlr_foreign_toplevel_handle_v1* handle) {
            Toplevel& committed = WlrootsFrontmostSource::State::toplevel(data, handle);
            committed.appID = committed.pendingAppID;
            committed.activated = committed.pendingActivated;
            static_cast<WlrootsFrontmostSource::State*>(data)->changed = true;
        },
    .closed =
        [](void* data, zwlr_foreign_toplevel_handle_v1* handle) {
            auto* state = static_cast<WlrootsFrontmostSource::State*>(data);
            std::erase_if(state->toplevels, [handle](const Toplevel& t) { return t.handle == handle; });
            zwlr_foreign_toplevel_handle_v1_destroy(handle);
            state->changed = true;
        },
    .parent = [](void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {},
};

constexpr zwlr_foreign_toplevel_manager_v1_listener managerListener{
    .toplevel =
        [](void* data, zwlr_foreign_toplevel_manager_v1*, zwlr_foreign_toplevel_handle_v1* handle) {
            auto* state = static_cast<WlrootsFrontmostSource::State*>(data);
            state->toplevels.push_back({handle, {}, {}, false, false});
            zwlr_foreign_toplevel_handle_v1_add_listener(handle, &handleListener, state);
        },
    .finished = [](void* data, zwlr_foreign_toplevel_manager_v1*) { static_cast<WlrootsFrontmostSource::State*>(data)->report.lose(); },
};

constexpr wl_registry_listener registryListener{
    .global =
        [](void* data, wl_registry* registry, std::uint32_t name, const char* interface, std::uint32_t version) {
            auto* state = static_cast<WlrootsFrontmostSource::State*>(data);
            if (state->manager || std::strcmp(interface, zwlr_foreign_toplevel_manager_v1_interface.name) != 0)
                return;
            state->manager = static_cast<zwlr_foreign_toplevel_manager_v1*>(wl_registry_bind(
                registry, name, &zwlr_foreign_toplevel_manager_v1_interface, std::min(version, protocolVersion)));
            zwlr_foreign_toplevel_manager_v1_add_listener(state->manager, &managerListener, state);
        },
    .global_remove = [](void*, wl_registry*, std::uint32_t) {},
};

} // namespace

WlrootsFrontmostSource::WlrootsFrontmostSource(std::optional<std::string> display) : display_(std::move(display)) {}

WlrootsFrontmostSource::~WlrootsFrontmostSource() { stop(); }

bool WlrootsFrontmostSource::start(std::function<void()> changed) {
    if (state_) return true;
    auto state = std::make_shared<State>();
    state->display = wl_display_connect(display_ ? display_->c_str() : nullptr);
    if (!state->display) return false;
    state->registry = wl_display_get_registry(state->display);
    wl_registry_add_listener(state->registry, &registryListener, state.get());
    // The globals, then the toplevels there are, each with its first "done".
    if (wl_display_roundtrip(state->display) < 0 || !state->manager || wl_display_roundtrip(state->display) < 0) {
        state->close();
        return false;
    }
    state->publish();
    state->prepare();
    state->watcher = DescriptorWatcher::make({"ai.ravolet.wayland", ThreadPriority::utility, 0});
    if (!state->watcher) {
        state->close();
        return false;
    }
    state->report.onChange(std::move(changed));
    state->watch = state->watcher->watch(wl_display_get_fd(state->display),
                                         [raw = state.get()](short events) { raw->service(events); });
    state_ = std::move(state);
    return true;
}

void WlrootsFrontmostSource::stop() {
    auto state = std::move(state_);
    if (!state) return;
    state->watch.cancel();
    state->watcher.reset();
    state->close();
}

FrontmostSource::Front WlrootsFrontmostSource::front() const {
    if (!state_) return {FrontmostTracking::State::cannotTell, std::nullopt};
    return state_->report.front();
}

std::vector<WindowClues> WlrootsFrontmostSource::windows() const {
    return state_ ? state_->report.windows() : std::vector<WindowClues>{};
}

} // namespace ravolet::platform
