#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "HIDPlusPlus/HIDPPDeviceIdentity.hpp"
#include "Support/ValueSupport.hpp"

namespace ravolet {

// Whether the HID++ device is reachable.
struct HIDPPConnectionState {
    struct Connected {
        HIDPPDeviceIdentity identity;
        friend bool operator==(const Connected&, const Connected&) = default;
    };
    struct Disconnected {
        friend bool operator==(const Disconnected&, const Disconnected&) = default;
    };
    struct NotPermitted {
        friend bool operator==(const NotPermitted&, const NotPermitted&) = default;
    };

    std::variant<Connected, Disconnected, NotPermitted> value;

    static HIDPPConnectionState connected(HIDPPDeviceIdentity identity) { return {Connected{std::move(identity)}}; }
    static HIDPPConnectionState disconnected() { return {Disconnected{}}; }
    static HIDPPConnectionState notPermitted() { return {NotPermitted{}}; }

    bool isConnected() const { return std::holds_alternative<Connected>(value); }

    // "connected(G502 X)", "disconnected", "notPermitted".
    std::string description() const;

    friend bool operator==(const HIDPPConnectionState&, const HIDPPConnectionState&) = default;
    friend std::ostream& operator<<(std::ostream& os, const HIDPPConnectionState& s) { return os << s.description(); }
};

// What the device actor reports to its subscribers.
struct HIDPPEvent {
    struct DeviceAttached {
        HIDPPDeviceIdentity identity;
        friend bool operator==(const DeviceAttached&, const DeviceAttached&) = default;
    };
    struct DeviceReady {
        HIDPPDeviceIdentity identity;
        friend bool operator==(const DeviceReady&, const DeviceReady&) = default;
    };
    struct StateChanged {
        HIDPPConnectionState state;
        friend bool operator==(const StateChanged&, const StateChanged&) = default;
    };
    struct Notification {
        std::uint8_t featureIndex = 0;
        std::uint8_t functionByte = 0;
        std::vector<std::uint8_t> payload;
        friend bool operator==(const Notification&, const Notification&) = default;
    };
    struct DeviceRemoved {
        friend bool operator==(const DeviceRemoved&, const DeviceRemoved&) = default;
    };
    // The mouse is there but a connection to it failed, and the device tries
    // again by itself (true); or it has stopped trying (false): connected,
    // gone, or disconnected by its owner.
    struct Retrying {
        bool retrying = false;
        friend bool operator==(const Retrying&, const Retrying&) = default;
    };

    std::variant<DeviceAttached, DeviceReady, StateChanged, Notification, DeviceRemoved, Retrying> value;

    static HIDPPEvent deviceAttached(HIDPPDeviceIdentity identity) { return {DeviceAttached{std::move(identity)}}; }
    static HIDPPEvent deviceReady(HIDPPDeviceIdentity identity) { return {DeviceReady{std::move(identity)}}; }
    static HIDPPEvent stateChanged(HIDPPConnectionState state) { return {StateChanged{std::move(state)}}; }
    static HIDPPEvent notification(std::uint8_t featureIndex, std::uint8_t functionByte, std::vector<std::uint8_t> payload) {
        return {Notification{featureIndex, functionByte, std::move(payload)}};
    }
    static HIDPPEvent deviceRemoved() { return {DeviceRemoved{}}; }
    static HIDPPEvent retrying(bool on) { return {Retrying{on}}; }

    // "notification(feature 0x05 fn 0x00 01 02 FF)" and the like.
    std::string description() const;

    friend bool operator==(const HIDPPEvent&, const HIDPPEvent&) = default;
    friend std::ostream& operator<<(std::ostream& os, const HIDPPEvent& e) { return os << e.description(); }
};

// Whether this process may listen to HID input.
enum class HIDPPInputMonitoringAccess { granted, denied, unknown };

// "granted", "denied", "unknown (never requested)".
std::string_view description(HIDPPInputMonitoringAccess access);
std::ostream& operator<<(std::ostream& os, HIDPPInputMonitoringAccess access);

} // namespace ravolet

template <>
struct std::hash<ravolet::HIDPPConnectionState> {
    std::size_t operator()(const ravolet::HIDPPConnectionState& s) const noexcept;
};

template <>
struct std::hash<ravolet::HIDPPEvent> {
    std::size_t operator()(const ravolet::HIDPPEvent& e) const noexcept;
};
