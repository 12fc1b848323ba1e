#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Linux/Desktop/DesktopPointerSettings.hpp"
#include "Platform/Linux/Kernel/Sysfs.hpp"
#include "RavoletEngine/Coordination/PointerPropertyBackend.hpp"

namespace ravolet {

// Pointer tuning on a Linux desktop: the services are the devices the
// desktop reads Ravolet's pointer motion from, that is Ravolet's virtual
// pointer as the desktop of this session lists it. It carries the mouse's
// identity, so it is listed as the mouse (vendor, product and name, a
// pointer collection) and the desktop's settings for the mouse are its own.
// No other device is ever listed: the mouse itself is grabbed and sends the
// desktop nothing while Ravolet runs, and no other device's settings are
// Ravolet's to change.
//
// The registry identifier names where the desktop keeps the setting: for a
// desktop that keeps settings by identity (sway, KWin, GNOME) a hash of the
// identity under a tag of the desktop, so that a capture outlives re-plugs
// and a crash, and goes back to the same place; for the X server, which keeps
// them per device and forgets them when the device goes, the device itself
// (2^32 plus its kernel input number, as the device scope numbers devices).
// A setting kept by identity is one setting for every device of it: read and
// written by identifier, it is reached through Ravolet's pointer where the
// desktop lists it, else through the mouse itself (before Ravolet's pointer
// is listed, or after it went with a run that ended), and it exists whether
// or not any device of it is there now.
//
// The acceleration key is the desktop's own name of its setting and the
// values are PointerAccelSetting codes: -65536 is the flat profile at speed
// 0. The resolution ("HIDPointerResolution") is the counts per inch libinput
// assumes for the device: udev's MOUSE_DPI for its node (the starred figure,
// else the last), 1000 without one, in 16.16 fixed point. Linux has no way to
// change it per device, so a write that would change it is refused, while
// writing back the figure it already has succeeds without doing anything.
class DesktopPointerPropertyBackend final : public PointerPropertyBackend {
public:
    struct Options {
        platform::KernelRoots roots;
        // Where udev keeps what it knows of each device node.
        std::string udevData = "/run/udev/data";
    };

    static constexpr std::int64_t libinputDefaultDPI = 1000;
    // The acceleration key of a device the desktop keeps no acceleration for.
    static constexpr std::string_view noAccelerationKey = "libinput acceleration";

    DesktopPointerPropertyBackend(std::shared_ptr<platform::DesktopPointerSettings> desktop, Options options);
    explicit DesktopPointerPropertyBackend(std::shared_ptr<platform::DesktopPointerSettings> desktop)
        : DesktopPointerPropertyBackend(std::move(desktop), Options{}) {}

    bool canWrite() const override { return desktop_->canWrite(); }
    std::vector<PointerServiceIdentity> services() override;
    std::optional<std::int64_t> readNumber(std::string_view key, std::uint64_t registryID) override;
    std::optional<std::string> readString(std::string_view key, std::uint64_t registryID) override;
    PointerPropertyWrite writeNumber(std::string_view key, std::int64_t value, std::uint64_t registryID) override;
    bool serviceExists(std::uint64_t registryID) override;
    // udev's figure for the node, which Ravolet never changes.
    bool resolutionIsFixed() const override { return true; }
    platform::Subscription observeServicesAdded(std::function<void()> added) override;
    platform::Subscription observeValuesChanged(std::function<void()> changed) override;
    PointerDesktop desktop() const override;
    void beginOperation() override { holding_ = true; }
    void endOperation() override {
        holding_ = false;
        held_.reset();
    }

    // libinput's reading of a MOUSE_DPI value ("800@1000 *1600@1000"): the
    // starred figure, else the last; none when it does not parse.
    static std::optional<std::int64_t> mouseDPI(std::string_view property);

private:
    // A device the desktop lists that carries Ravolet's motion, with the
    // kernel's node behind it.
    struct Found {
        platform::DesktopPointer pointer;
        std::uint64_t registryID = 0;
        platform::EventNode node;
    };
    // The devices the desktop lists with the kernel's node behind each:
    // Ravolet's pointers, and after them every other device whose identity
    // hashes to `identity`.
    std::vector<Found> listed(std::optional<std::uint64_t> identity);
    std::optional<Found> find(std::uint64_t registryID);
    bool isIdentityID(std::uint64_t registryID) const;
    std::uint64_t identityID(std::int64_t vendor, std::int64_t product, const std::string& name) const;
    std::optional<std::int64_t> resolution(const platform::EventNode& node) const;

    // The desktop's pointers, read once during an operation.
    const std::vector<platform::DesktopPointer>& pointers();

    const std::shared_ptr<platform::DesktopPointerSettings> desktop_;
    const Options options_;
    bool holding_ = false;
    std::optional<std::vector<platform::DesktopPointer>> held_;
    // Outside an operation: the last list read, for the one call it serves.
    std::vector<platform::DesktopPointer> read_;
};

} // namespace ravolet
