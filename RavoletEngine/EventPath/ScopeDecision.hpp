#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <ostream>
#include <string_view>
#include <variant>

#include "Core/DeviceID.hpp"
#include "Support/ValueSupport.hpp"

namespace ravolet {

// Why the device scope could not attribute an event.
enum class UnidentifiedReason { spiUnavailable, noHIDEvent, unknownSender };

constexpr std::string_view toString(UnidentifiedReason r) {
    switch (r) {
    case UnidentifiedReason::spiUnavailable: return "spiUnavailable";
    case UnidentifiedReason::noHIDEvent: return "noHIDEvent";
    case UnidentifiedReason::unknownSender: return "unknownSender";
    }
    return {};
}

constexpr std::optional<UnidentifiedReason> unidentifiedReasonFromString(std::string_view raw) {
    for (auto r : {UnidentifiedReason::spiUnavailable, UnidentifiedReason::noHIDEvent, UnidentifiedReason::unknownSender})
        if (toString(r) == raw) return r;
    return std::nullopt;
}

inline std::ostream& operator<<(std::ostream& os, UnidentifiedReason r) { return os << toString(r); }

// Which device an event came from: the target mouse, another known device,
// or none that the scope could tell.
struct ScopeDecision {
    struct Target {
        DeviceID deviceID;
        friend constexpr bool operator==(const Target&, const Target&) = default;
    };
    struct Foreign {
        DeviceID deviceID;
        friend constexpr bool operator==(const Foreign&, const Foreign&) = default;
    };
    struct Unidentified {
        UnidentifiedReason reason;
        friend constexpr bool operator==(const Unidentified&, const Unidentified&) = default;
    };

    std::variant<Target, Foreign, Unidentified> value;

    static ScopeDecision target(DeviceID id) { return {Target{id}}; }
    static ScopeDecision foreign(DeviceID id) { return {Foreign{id}}; }
    static ScopeDecision unidentified(UnidentifiedReason reason) { return {Unidentified{reason}}; }

    bool isTarget() const { return std::holds_alternative<Target>(value); }
    // The payload of target and foreign; DeviceID::unknown for unidentified.
    DeviceID deviceID() const {
        if (const auto* t = std::get_if<Target>(&value)) return t->deviceID;
        if (const auto* f = std::get_if<Foreign>(&value)) return f->deviceID;
        return DeviceID::unknown;
    }

    friend bool operator==(const ScopeDecision&, const ScopeDecision&) = default;
    friend std::ostream& operator<<(std::ostream& os, const ScopeDecision& d) {
        if (const auto* t = std::get_if<Target>(&d.value)) return os << "target(" << t->deviceID << ')';
        if (const auto* f = std::get_if<Foreign>(&d.value)) return os << "foreign(" << f->deviceID << ')';
        return os << "unidentified(reason: " << std::get<Unidentified>(d.value).reason << ')';
    }
};

} // namespace ravolet

template <>
struct std::hash<ravolet::ScopeDecision> {
    std::size_t operator()(const ravolet::ScopeDecision& d) const noexcept {
        std::size_t h = d.value.index();
        if (const auto* u = std::get_if<ravolet::ScopeDecision::Unidentified>(&d.value))
            ravolet::hashCombineInPlace(h, static_cast<int>(u->reason));
        else
            ravolet::hashCombineInPlace(h, d.deviceID());
        return h;
    }
};
