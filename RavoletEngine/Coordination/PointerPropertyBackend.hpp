#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Subscription.hpp"
#include "RavoletEngine/Coordination/PointerPropertyWrite.hpp"
#include "RavoletEngine/Coordination/PointerServiceIdentity.hpp"

namespace ravolet {

// Whose settings a backend reaches, for what the Pointer page says: a
// desktop that keeps them for one device (the X server, sway, KWin), GNOME,
// whose one setting every mouse shares, or none that Ravolet can reach.
// `system` is a backend of the HID event system itself (the simulated one).
enum class PointerDesktop { system, xServer, sway, kwin, gnome, none };

// The keys pointer tuning reads and writes through a backend, and the value
// that switches the acceleration off.
namespace pointerProperties {
// The resolution: counts per inch in 16.16 fixed point, in a 64-bit signed integer.
inline constexpr std::string_view resolutionKey = "HIDPointerResolution";
// A text naming the key the service keeps its acceleration under.
inline constexpr std::string_view accelerationTypeKey = "HIDPointerAccelerationType";
inline constexpr std::string_view fallbackAccelerationKey = "HIDMouseAcceleration";
// -1.0 in 16.16 fixed point: the host's acceleration off.
inline constexpr std::int64_t disabledAcceleration = -65536;

// A DPI in 16.16 fixed point; none when |DPI| ≥ 2^47, whose result would not fit.
constexpr std::optional<std::int64_t> fixed(std::int64_t cpi) {
    constexpr std::int64_t limit = std::int64_t{1} << 47;
    if (cpi <= -limit || cpi >= limit) return std::nullopt;
    return cpi * 65536;
}
} // namespace pointerProperties

// Lists HID event services and reads and writes their per-device properties,
// each addressed by its registry identifier. No operation throws: a failure is
// an empty list, an absent value or `refused`. Used from one thread at a time,
// the tuner's; only the subscriptions may be made from another.
class PointerPropertyBackend {
public:
    virtual ~PointerPropertyBackend() = default;

    // Whether properties can be set through the HID event system.
    virtual bool canWrite() const = 0;
    // The services present now, in the order the system lists them.
    virtual std::vector<PointerServiceIdentity> services() = 0;
    virtual std::optional<std::int64_t> readNumber(std::string_view key, std::uint64_t registryID) = 0;
    virtual std::optional<std::string> readString(std::string_view key, std::uint64_t registryID) = 0;
    virtual PointerPropertyWrite writeNumber(std::string_view key, std::int64_t value, std::uint64_t registryID) = 0;
    // Whether the service still exists: listed now, or its registry entry
    // found. A service that fails both can never take a value back.
    virtual bool serviceExists(std::uint64_t registryID) = 0;
    // Whether a service's resolution is the device's own, which no write
    // changes (a write "takes" only when it is the value already there): a
    // resolution read there was never the tuner's to put back.
    virtual bool resolutionIsFixed() const { return false; }
    // `added` is called, on any thread, when the system adds a service whose
    // values start afresh (a device the X server forgot and sees again). Only
    // where that happens; elsewhere nothing is watched.
    virtual platform::Subscription observeServicesAdded(std::function<void()> added) {
        (void)added;
        return {};
    }
    // `changed` is called, on any thread, when values may have changed from
    // outside (the desktop tells of it); elsewhere nothing is watched.
    virtual platform::Subscription observeValuesChanged(std::function<void()> changed) {
        (void)changed;
        return {};
    }
    virtual PointerDesktop desktop() const { return PointerDesktop::system; }
    // One operation of the tuner's begins or ends. In between, what the
    // system lists may be taken as unchanged: it is read once, not for
    // every property (a desktop's list can take dozens of calls).
    virtual void beginOperation() {}
    virtual void endOperation() {}
};

} // namespace ravolet
