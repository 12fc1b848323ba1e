#pragma once

#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "Platform/Linux/Desktop/DesktopPointerSettings.hpp"

namespace ravolet::platform {

// sway's pointer devices, and their acceleration profile and speed, over
// sway's IPC socket (also other wlroots compositors that speak it): the
// devices from get_inputs, a change as "input <identifier> accel_profile …"
// and "pointer_accel …". sway keeps these by identifier (vendor, product and
// name), also for a device that is not there, and answers success for any
// identifier at all: a write counts only once get_inputs lists the device
// with the new values.
class SwayPointerSettings final : public DesktopPointerSettings {
public:
    static constexpr const char* profileKey = "accel_profile";

    // `socket` as SWAYSOCK names it; none: the environment's. Null without one.
    static std::unique_ptr<SwayPointerSettings> connect(std::optional<std::string> socket = std::nullopt);

    Desktop desktop() const override { return Desktop::sway; }
    bool canWrite() const override { return true; }
    bool keepsSettingsByIdentity() const override { return true; }
    // The inputs of type "pointer", their handle sway's identifier.
    std::vector<DesktopPointer> pointers() override;
    std::optional<std::string> accelerationKey(const DesktopPointer& pointer) override;
    std::optional<std::int64_t> readAcceleration(const DesktopPointer& pointer, std::string_view key) override;
    bool writeAcceleration(const DesktopPointer& pointer, std::string_view key, std::int64_t code) override;
    // Over a connection of its own subscribed to sway's "input" events.
    Subscription observeSettingsChanged(std::function<void()> changed) override;

    explicit SwayPointerSettings(std::string socket) : socket_(std::move(socket)) {}

    // One request and its reply (message types of sway's IPC: 0 runs a
    // command, 100 lists the inputs); none when the socket fails or the
    // reply is not JSON.
    std::optional<nlohmann::json> ask(std::uint32_t type, const std::string& payload) const;

private:
    std::optional<nlohmann::json> input(const std::string& identifier) const;

    const std::string socket_;
};

} // namespace ravolet::platform
