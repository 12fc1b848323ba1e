#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <variant>

#include "HIDPlusPlus/HIDPPFeature.hpp"
#include "Support/ValueSupport.hpp"

namespace ravolet {

// The error byte of an HID++ 2.0 error report. Any byte is valid; the codes
// the protocol defines have names.
struct HIDPP20ErrorCode {
    std::uint8_t rawValue = 0;

    constexpr HIDPP20ErrorCode() = default;
    constexpr explicit HIDPP20ErrorCode(std::uint8_t raw) : rawValue(raw) {}

    static const HIDPP20ErrorCode noError;
    static const HIDPP20ErrorCode unknown;
    static const HIDPP20ErrorCode invalidArgument;
    static const HIDPP20ErrorCode outOfRange;
    static const HIDPP20ErrorCode hardwareError;
    static const HIDPP20ErrorCode logitechInternal;
    static const HIDPP20ErrorCode invalidFeatureIndex;
    static const HIDPP20ErrorCode invalidFunctionID;
    static const HIDPP20ErrorCode busy;
    static const HIDPP20ErrorCode unsupported;
    static const HIDPP20ErrorCode invalidDeviceIndex;

    // "invalidFunctionId"; "vendor/unassigned" for codes 11 to 255.
    std::string_view name() const;
    // "0x05 (logitechInternal)".
    std::string description() const;

    friend constexpr bool operator==(const HIDPP20ErrorCode&, const HIDPP20ErrorCode&) = default;
    friend std::ostream& operator<<(std::ostream& os, const HIDPP20ErrorCode& c) { return os << c.description(); }
};

inline constexpr HIDPP20ErrorCode HIDPP20ErrorCode::noError{0};
inline constexpr HIDPP20ErrorCode HIDPP20ErrorCode::unknown{1};
inline constexpr HIDPP20ErrorCode HIDPP20ErrorCode::invalidArgument{2};
inline constexpr HIDPP20ErrorCode HIDPP20ErrorCode::outOfRange{3};
inline constexpr HIDPP20ErrorCode HIDPP20ErrorCode::hardwareError{4};
inline constexpr HIDPP20ErrorCode HIDPP20ErrorCode::logitechInternal{5};
inline constexpr HIDPP20ErrorCode HIDPP20ErrorCode::invalidFeatureIndex{6};
inline constexpr HIDPP20ErrorCode HIDPP20ErrorCode::invalidFunctionID{7};
inline constexpr HIDPP20ErrorCode HIDPP20ErrorCode::busy{8};
inline constexpr HIDPP20ErrorCode HIDPP20ErrorCode::unsupported{9};
inline constexpr HIDPP20ErrorCode HIDPP20ErrorCode::invalidDeviceIndex{10};

// The one error type of the HID++ client. Twelve cases; five without payload.
// Its description is the text shown to the user.
class HIDPPError {
public:
    struct DeviceNotFound {
        friend bool operator==(const DeviceNotFound&, const DeviceNotFound&) = default;
    };
    struct NotPermitted {
        friend bool operator==(const NotPermitted&, const NotPermitted&) = default;
    };
    struct NotOpen {
        friend bool operator==(const NotOpen&, const NotOpen&) = default;
    };
    struct NotConnected {
        friend bool operator==(const NotConnected&, const NotConnected&) = default;
    };
    struct DeviceRemoved {
        friend bool operator==(const DeviceRemoved&, const DeviceRemoved&) = default;
    };
    struct IOKit {
        std::string operation;
        std::int32_t code = 0;
        friend bool operator==(const IOKit&, const IOKit&) = default;
    };
    struct Timeout {
        std::string operation;
        friend bool operator==(const Timeout&, const Timeout&) = default;
    };
    struct FeatureUnsupported {
        HIDPPFeature feature = HIDPPFeature::root;
        friend bool operator==(const FeatureUnsupported&, const FeatureUnsupported&) = default;
    };
    struct Protocol20 {
        HIDPP20ErrorCode code;
        friend bool operator==(const Protocol20&, const Protocol20&) = default;
    };
    struct Protocol10 {
        std::uint8_t code = 0;
        friend bool operator==(const Protocol10&, const Protocol10&) = default;
    };
    struct MalformedResponse {
        std::string text;
        friend bool operator==(const MalformedResponse&, const MalformedResponse&) = default;
    };
    struct InvalidArgument {
        std::string text;
        friend bool operator==(const InvalidArgument&, const InvalidArgument&) = default;
    };

    // In declaration order; `kind()` is the index of the case.
    using Value = std::variant<DeviceNotFound, NotPermitted, NotOpen, NotConnected, DeviceRemoved, IOKit, Timeout,
                               FeatureUnsupported, Protocol20, Protocol10, MalformedResponse, InvalidArgument>;
    enum class Kind {
        deviceNotFound,
        notPermitted,
        notOpen,
        notConnected,
        deviceRemoved,
        ioKit,
        timeout,
        featureUnsupported,
        protocol20,
        protocol10,
        malformedResponse,
        invalidArgument,
    };

    explicit HIDPPError(Value value) : value_(std::move(value)) {}

    static HIDPPError deviceNotFound() { return HIDPPError(Value(DeviceNotFound{})); }
    static HIDPPError notPermitted() { return HIDPPError(Value(NotPermitted{})); }
    static HIDPPError notOpen() { return HIDPPError(Value(NotOpen{})); }
    static HIDPPError notConnected() { return HIDPPError(Value(NotConnected{})); }
    static HIDPPError deviceRemoved() { return HIDPPError(Value(DeviceRemoved{})); }
    static HIDPPError ioKit(std::string operation, std::int32_t code) { return HIDPPError(Value(IOKit{std::move(operation), code})); }
    static HIDPPError timeout(std::string operation) { return HIDPPError(Value(Timeout{std::move(operation)})); }
    static HIDPPError featureUnsupported(HIDPPFeature feature) { return HIDPPError(Value(FeatureUnsupported{feature})); }
    static HIDPPError protocol20(HIDPP20ErrorCode code) { return HIDPPError(Value(Protocol20{code})); }
    static HIDPPError protocol10(std::uint8_t code) { return HIDPPError(Value(Protocol10{code})); }
    static HIDPPError malformedResponse(std::string text) { return HIDPPError(Value(MalformedResponse{std::move(text)})); }
    static HIDPPError invalidArgument(std::string text) { return HIDPPError(Value(InvalidArgument{std::move(text)})); }

    // The error an I/O return code stands for: a denied or unprivileged call is
    // `notPermitted`, a closed device `notOpen`, a device that is gone
    // `deviceRemoved`; anything else is `ioKit` with the operation and code.
    static HIDPPError from(std::int32_t ioReturn, std::string operation);

    // "0xE00002C5 (kIOReturnExclusiveAccess)"; "(unknown)" for codes without a name here.
    static std::string ioReturnDescription(std::int32_t ioReturn);

    Kind kind() const { return static_cast<Kind>(value_.index()); }
    const Value& value() const { return value_; }
    template <class Case>
    const Case* get() const { return std::get_if<Case>(&value_); }

    std::string description() const;

    friend bool operator==(const HIDPPError&, const HIDPPError&) = default;
    friend std::ostream& operator<<(std::ostream& os, const HIDPPError& e) { return os << e.description(); }

private:
    Value value_;
};

} // namespace ravolet

template <>
struct std::hash<ravolet::HIDPP20ErrorCode> {
    std::size_t operator()(const ravolet::HIDPP20ErrorCode& c) const noexcept { return std::hash<std::uint8_t>{}(c.rawValue); }
};

template <>
struct std::hash<ravolet::HIDPPError> {
    std::size_t operator()(const ravolet::HIDPPError& e) const noexcept;
};
