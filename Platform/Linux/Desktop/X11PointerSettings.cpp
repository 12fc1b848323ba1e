#include "Platform/Linux/Desktop/X11PointerSettings.hpp"

#include <poll.h>

#include <xcb/xcb.h>
#include <xcb/xcbext.h>
#include <xcb/xinput.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "Platform/Linux/Desktop/PointerAccelSetting.hpp"
#include "Platform/Linux/Kernel/DescriptorWatcher.hpp"
#include "Platform/Linux/X11Connection.hpp"

namespace ravolet::platform {

namespace {

template <class T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <class T>
Reply<T> reply(T* raw) {
    return Reply<T>(raw, &std::free);
}

// An X server answers at once; one that has stopped (SIGSTOP, a hang) must
// not hold the caller for longer than this per request.
constexpr std::chrono::milliseconds replyPatience{2000};

// The reply to request `sequence`, or null: an error, a broken connection,
// or none within the patience (then it is discarded when it comes).
template <class T>
Reply<T> awaitReply(xcb_connection_t* c, unsigned int sequence) {
    const auto deadline = std::chrono::steady_clock::now() + replyPatience;
    xcb_flush(c);
    for (;;) {
        void* answer = nullptr;
        xcb_generic_error_t* error = nullptr;
        if (xcb_poll_for_reply(c, sequence, &answer, &error)) {
            std::free(error);
            return reply(static_cast<T*>(answer));
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (xcb_connection_has_error(c) || left.count() <= 0) {
            xcb_discard_reply(c, sequence);
            return reply<T>(nullptr);
        }
        pollfd readable{xcb_get_file_descriptor(c), POLLIN, 0};
        ::poll(&readable, 1, static_cast<int>(left.count()));
    }
}

// Whether the request `sequence`, one without a reply, was carried out:
// known once the reply to a request sent after it has come.
bool awaitDone(xcb_connection_t* c, unsigned int sequence) {
    if (!awaitReply<xcb_get_input_focus_reply_t>(c, xcb_get_input_focus(c).sequence)) {
        xcb_discard_reply(c, sequence);
        return false;
    }
    void* answer = nullptr;
    xcb_generic_error_t* error = nullptr;
    if (!xcb_poll_for_reply(c, sequence, &answer, &error)) return false;
    std::free(answer);
    const bool done = error == nullptr;
    std::free(error);
    return done;
}

// An X connection that speaks XInput 2; null otherwise.
xcb_connection_t* connectWithXInput(const std::optional<std::string>& display, int* screen) {
    xcb_connection_t* connection = connectToXServer(display ? display->c_str() : nullptr, screen);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return nullptr;
    }
    const auto version = awaitReply<xcb_input_xi_query_version_reply_t>(
        connection, xcb_input_xi_query_version(connection, 2, 2).sequence);
    if (!version || version->major_version < 2) {
        xcb_disconnect(connection);
        return nullptr;
    }
    return connection;
}

std::optional<std::uint16_t> deviceID(const DesktopPointer& pointer) {
    std::uint16_t id = 0;
    const char* end = pointer.handle.data() + pointer.handle.size();
    const auto [last, error] = std::from_chars(pointer.handle.data(), end, id);
    if (error != std::errc() || last != end) return std::nullopt;
    return id;
}

} // namespace

struct X11PointerSettings::State {
    std::optional<std::string> display;
    xcb_connection_t* connection = nullptr;
    std::map<std::string, xcb_atom_t, std::less<>> atoms;

    // One property's value as the server holds it.
    struct Property {
        xcb_atom_t type = XCB_NONE;
        std::uint8_t format = 0;
        std::uint32_t count = 0;
        std::vector<std::uint8_t> bytes;

        std::int32_t int32(std::size_t i) const {
            std::int32_t v = 0;
            std::memcpy(&v, bytes.data() + 4 * i, 4);
            return v;
        }
    };

    ~State() {
        if (connection) xcb_disconnect(connection);
    }

    // The atom of a name the server already knows; none for one it does not
    // (a device cannot have a property of a name never interned).
    xcb_atom_t atom(std::string_view name, bool create = false) {
        if (const auto it = atoms.find(name); it != atoms.end()) return it->second;
        const auto found = awaitReply<xcb_intern_atom_reply_t>(
            connection,
            xcb_intern_atom(connection, create ? 0 : 1, static_cast<std::uint16_t>(name.size()), name.data()).sequence);
        const xcb_atom_t atom = found ? found->atom : XCB_NONE;
        if (atom != XCB_NONE) atoms.emplace(std::string(name), atom);
        return atom;
    }

    std::optional<Property> property(std::uint16_t device, std::string_view name) {
        const xcb_atom_t atom = this->atom(name);
        if (atom == XCB_NONE) return std::nullopt;
        const auto got = awaitReply<xcb_input_xi_get_property_reply_t>(
            connection, xcb_input_xi_get_property(connection, device, 0, atom, XCB_ATOM_ANY, 0, 1024).sequence);
        if (!got || got->type == XCB_NONE || (got->format != 8 && got->format != 16 && got->format != 32))
            return std::nullopt;
        Property property{got->type, got->format, got->num_items, {}};
        const auto* items = static_cast<const std::uint8_t*>(xcb_input_xi_get_property_items(got.get()));
        property.bytes.assign(items, items + static_cast<std::size_t>(got->num_items) * (got->format / 8));
        return property;
    }

    bool change(std::uint16_t device, std::string_view name, const Property& value) {
        const xcb_atom_t atom = this->atom(name);
        if (atom == XCB_NONE) return false;
        const auto cookie = xcb_input_xi_change_property_checked(connection, device, XCB_PROP_MODE_REPLACE, value.format,
                                                                 atom, value.type, value.count, value.bytes.data());
        return awaitDone(connection, cookie.sequence);
    }
};

std::unique_ptr<X11PointerSettings> X11PointerSettings::connect(std::optional<std::string> display) {
    int screen = 0;
    xcb_connection_t* connection = connectWithXInput(display, &screen);
    if (!connection) return nullptr;
    auto state = std::make_unique<State>();
    state->display = std::move(display);
    state->connection = connection;
    return std::make_unique<X11PointerSettings>(std::move(state));
}

X11PointerSettings::X11PointerSettings(std::unique_ptr<State> state) : state_(std::move(state)) {}

X11PointerSettings::~X11PointerSettings() = default;

std::vector<DesktopPointer> X11PointerSettings::pointers() {
    std::vector<DesktopPointer> pointers;
    xcb_connection_t* c = state_->connection;
    const auto devices =
        awaitReply<xcb_input_xi_query_device_reply_t>(c, xcb_input_xi_query_device(c, XCB_INPUT_DEVICE_ALL).sequence);
    if (!devices) return pointers;
    for (auto it = xcb_input_xi_query_device_infos_iterator(devices.get()); it.rem > 0;
         xcb_input_xi_device_info_next(&it)) {
        const xcb_input_xi_device_info_t* info = it.data;
        if (info->type != XCB_INPUT_DEVICE_TYPE_SLAVE_POINTER && info->type != XCB_INPUT_DEVICE_TYPE_FLOATING_SLAVE)
            continue;
        DesktopPointer pointer;
        pointer.handle = std::to_string(info->deviceid);
        pointer.name.assign(xcb_input_xi_device_info_name(info), xcb_input_xi_device_info_name_length(info));
        // The server's own test device and the like have no node: not a device anyone plugged in.
        const auto node = state_->property(info->deviceid, "Device Node");
        if (!node || node->format != 8) continue;
        pointer.eventNode.assign(node->bytes.begin(), std::find(node->bytes.begin(), node->bytes.end(), '\0'));
        if (const auto ids = state_->property(info->deviceid, "Device Product ID"); ids && ids->format == 32 && ids->count >= 2) {
            pointer.vendorID = static_cast<std::uint32_t>(ids->int32(0));
            pointer.productID = static_cast<std::uint32_t>(ids->int32(1));
        }
        pointers.push_back(std::move(pointer));
    }
    return pointers;
}

std::optional<std::string> X11PointerSettings::accelerationKey(const DesktopPointer& pointer) {
    const auto id = deviceID(pointer);
    if (!id) return std::nullopt;
    if (state_->property(*id, libinputProfileKey)) return std::string(libinputProfileKey);
    if (state_->property(*id, evdevProfileKey)) return std::string(evdevProfileKey);
    return std::nullopt;
}

std::optional<std::int64_t> X11PointerSettings::readAcceleration(const DesktopPointer& pointer, std::string_view key) {
    const auto id = deviceID(pointer);
    if (!id) return std::nullopt;
    const auto profile = state_->property(*id, key);
    if (!profile) return std::nullopt;
    if (key == evdevProfileKey) {
        if (profile->format != 32 || profile->count < 1) return std::nullopt;
        const std::int32_t number = profile->int32(0);
        if (number == -1) return PointerAccelSetting::offCode;
        return PointerAccelSetting{PointerAccelSetting::Profile::xServer, std::nullopt, number}.code();
    }
    if (key != libinputProfileKey || profile->format != 8) return std::nullopt;
    const auto enabled = std::ranges::find(profile->bytes, 1);
    if (enabled == profile->bytes.end()) return std::nullopt;
    const auto speed = state_->property(*id, "libinput Accel Speed");
    if (!speed || speed->format != 32 || speed->count < 1) return std::nullopt;
    float value = 0;
    std::memcpy(&value, speed->bytes.data(), sizeof value);
    using P = PointerAccelSetting::Profile;
    constexpr P order[] = {P::adaptive, P::flat, P::custom};
    const auto index = static_cast<std::size_t>(enabled - profile->bytes.begin());
    if (index >= std::size(order)) return std::nullopt;
    return PointerAccelSetting{order[index], static_cast<double>(value), 0}.code();
}

bool X11PointerSettings::writeAcceleration(const DesktopPointer& pointer, std::string_view key, std::int64_t code) {
    const auto id = deviceID(pointer);
    const auto setting = PointerAccelSetting::fromCode(code);
    if (!id || !setting) return false;
    const auto profile = state_->property(*id, key);
    if (!profile) return false;
    using P = PointerAccelSetting::Profile;
    if (key == evdevProfileKey) {
        std::int32_t number = 0;
        if (setting->profile == P::flat && setting->speed == 0.0)
            number = -1;
        else if (setting->profile == P::xServer)
            number = setting->xServerProfile;
        else
            return false;
        State::Property value{profile->type, 32, 1, std::vector<std::uint8_t>(4)};
        std::memcpy(value.bytes.data(), &number, 4);
        if (!state_->change(*id, key, value)) return false;
    } else if (key == libinputProfileKey && profile->format == 8) {
        // One byte per profile the driver knows, in its order; as many as it has.
        std::size_t index = 0;
        switch (setting->profile) {
        case P::adaptive: index = 0; break;
        case P::flat: index = 1; break;
        case P::custom: index = 2; break;
        default: return false;
        }
        if (index >= profile->bytes.size()) return false;
        State::Property value{profile->type, 8, profile->count, std::vector<std::uint8_t>(profile->bytes.size(), 0)};
        value.bytes[index] = 1;
        const float speed = static_cast<float>(setting->speed.value_or(0.0));
        State::Property speedValue{state_->atom("FLOAT", true), 32, 1, std::vector<std::uint8_t>(4)};
        std::memcpy(speedValue.bytes.data(), &speed, 4);
        if (!state_->change(*id, key, value) || !state_->change(*id, "libinput Accel Speed", speedValue)) return false;
    } else {
        return false;
    }
    return readAcceleration(pointer, key) == code;
}

namespace {

// XInput events of every device, on a connection of their own read on a
// thread of their own; `seen` says of each whether it counts, and `told` is
// called once for a batch with any that does.
Subscription watchInputEvents(const std::optional<std::string>& display, std::uint32_t mask,
                              std::function<bool(const xcb_ge_generic_event_t&)> seen, std::function<void()> told) {
    struct Watch {
        xcb_connection_t* connection = nullptr;
        std::uint8_t opcode = 0;
        std::unique_ptr<DescriptorWatcher> watcher;
        Subscription watch;
        ~Watch() {
            watch.cancel();
            watcher.reset();
            if (connection) xcb_disconnect(connection);
        }
    };
    auto watch = std::make_shared<Watch>();
    int screenNumber = 0;
    watch->connection = connectWithXInput(display, &screenNumber);
    if (!watch->connection) return {};
    const auto* extension = xcb_get_extension_data(watch->connection, &xcb_input_id);
    if (!extension || !extension->present) return {};
    watch->opcode = extension->major_opcode;
    auto screens = xcb_setup_roots_iterator(xcb_get_setup(watch->connection));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i) xcb_screen_next(&screens);
    if (screens.rem == 0) return {};
    struct {
        xcb_input_event_mask_t head;
        std::uint32_t mask;
    } selected{{XCB_INPUT_DEVICE_ALL, 1}, mask};
    xcb_input_xi_select_events(watch->connection, screens.data->root, 1, &selected.head);
    xcb_flush(watch->connection);
    watch->watcher = DescriptorWatcher::make({"ai.ravolet.x11-input", ThreadPriority::utility, 0});
    if (!watch->watcher) return {};
    auto* raw = watch.get();
    watch->watch = watch->watcher->watch(xcb_get_file_descriptor(raw->connection), [raw, seen, told](short events) {
        if (events & (POLLHUP | POLLERR | POLLNVAL)) return;
        bool any = false;
        while (xcb_generic_event_t* event = xcb_poll_for_event(raw->connection)) {
            if ((event->response_type & 0x7f) == XCB_GE_GENERIC) {
                const auto* generic = reinterpret_cast<const xcb_ge_generic_event_t*>(event);
                if (generic->extension == raw->opcode && seen(*generic)) any = true;
            }
            std::free(event);
        }
        if (any) told();
    });
    return Subscription([watch] { watch->watch.cancel(); });
}

} // namespace

Subscription X11PointerSettings::observePointersAdded(std::function<void()> added) {
    return watchInputEvents(
        state_->display, XCB_INPUT_XI_EVENT_MASK_HIERARCHY,
        [](const xcb_ge_generic_event_t& event) {
            const auto& hierarchy = reinterpret_cast<const xcb_input_hierarchy_event_t&>(event);
            return event.event_type == XCB_INPUT_HIERARCHY &&
                   (hierarchy.flags & (XCB_INPUT_HIERARCHY_MASK_SLAVE_ADDED | XCB_INPUT_HIERARCHY_MASK_DEVICE_ENABLED)) != 0;
        },
        std::move(added));
}

Subscription X11PointerSettings::observeSettingsChanged(std::function<void()> changed) {
    // Any device's property: the acceleration's atoms are the server's to
    // name, and a change of another property costs one read.
    return watchInputEvents(
        state_->display, XCB_INPUT_XI_EVENT_MASK_PROPERTY,
        [](const xcb_ge_generic_event_t& event) { return event.event_type == XCB_INPUT_PROPERTY; }, std::move(changed));
}

} // namespace ravolet::platform
