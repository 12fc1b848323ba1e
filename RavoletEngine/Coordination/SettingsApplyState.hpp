#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <variant>

namespace ravolet {

// Where the device-settings applier stands: nothing applied (or the mouse went
// away), an apply under way, the last apply done with the DPI last written,
// the HID layer refusing access, or the last apply failed with a message.
struct SettingsApplyState {
    struct Idle {
        friend bool operator==(const Idle&, const Idle&) = default;
    };
    struct Applying {
        friend bool operator==(const Applying&, const Applying&) = default;
    };
    struct Applied {
        std::optional<std::int64_t> dpi;
        friend bool operator==(const Applied&, const Applied&) = default;
    };
    struct NotPermitted {
        friend bool operator==(const NotPermitted&, const NotPermitted&) = default;
    };
    struct Failed {
        std::string message;
        friend bool operator==(const Failed&, const Failed&) = default;
    };

    std::variant<Idle, Applying, Applied, NotPermitted, Failed> value;

    static SettingsApplyState idle() { return {Idle{}}; }
    static SettingsApplyState applying() { return {Applying{}}; }
    static SettingsApplyState applied(std::optional<std::int64_t> dpi) { return {Applied{dpi}}; }
    static SettingsApplyState notPermitted() { return {NotPermitted{}}; }
    static SettingsApplyState failed(std::string message) { return {Failed{std::move(message)}}; }

    // "idle", "applying", "applied(dpi: 1600)" ("-" without a DPI),
    // "notPermitted (grant Input Monitoring)", "failed(<message>)".
    std::string description() const;

    friend bool operator==(const SettingsApplyState&, const SettingsApplyState&) = default;
    friend std::ostream& operator<<(std::ostream& os, const SettingsApplyState& s) { return os << s.description(); }
};

} // namespace ravolet

template <>
struct std::hash<ravolet::SettingsApplyState> {
    std::size_t operator()(const ravolet::SettingsApplyState& s) const noexcept;
};
