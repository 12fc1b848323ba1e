#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <vector>

#include "HIDPlusPlus/HIDPPError.hpp"

namespace ravolet {

// The HID++ report format: constants, request framing and the classification
// of incoming reports. Multi-byte numbers on the wire are big-endian.
namespace HIDPPWire {

inline constexpr std::int64_t vendorUsagePage = 0xFF00;
inline constexpr std::uint8_t shortReportID = 0x10;
inline constexpr std::uint8_t longReportID = 0x11;
inline constexpr std::int64_t shortPayloadLength = 6;   // 7 bytes in all
inline constexpr std::int64_t longPayloadLength = 19;   // 20 bytes in all
inline constexpr std::uint8_t defaultDeviceIndex = 0xFF;
inline constexpr std::uint8_t rootFeatureIndex = 0x00;
// Stands in for a zero software identifier when a function byte is built.
inline constexpr std::uint8_t softwareID = 0x08;
// The closed range of values that rotating software identifiers take, 1...15;
// 0 is left for notifications from the device.
struct SoftwareIDRange {
    std::uint8_t lowerBound = 1;
    std::uint8_t upperBound = 15;
    constexpr bool contains(std::uint8_t v) const { return v >= lowerBound && v <= upperBound; }
};
inline constexpr SoftwareIDRange softwareIDs{};
inline constexpr std::uint8_t errorFeatureIndex20 = 0xFF;
inline constexpr std::uint8_t errorFeatureIndex10 = 0x8F;

// The identifier after `previous`: only its low nibble counts; 1 follows 0 and 15.
constexpr std::uint8_t softwareIDAfter(std::uint8_t previous) {
    const std::uint8_t n = previous & 0x0F;
    return (n == 0 || n == softwareIDs.upperBound) ? softwareIDs.lowerBound : static_cast<std::uint8_t>(n + 1);
}

// Function number in the high nibble, software identifier (0 replaced by 8)
// in the low one. Only the function's low nibble survives.
constexpr std::uint8_t functionByte(std::uint8_t function, std::uint8_t softwareIdentifier) {
    std::uint8_t sw = softwareIdentifier & 0x0F;
    if (sw == 0) sw = softwareID;
    return static_cast<std::uint8_t>((function << 4) | sw);
}

// The whole request report, report identifier first: 7 bytes short, 20 long.
// Fails with `invalidArgument` when the parameters do not fit.
std::expected<std::vector<std::uint8_t>, HIDPPError> encodeRequest(std::uint8_t deviceIndex, std::uint8_t featureIndex,
                                                                   std::uint8_t function,
                                                                   std::span<const std::uint8_t> parameters, bool isLong,
                                                                   std::uint8_t softwareIdentifier);

// What a reply or error must carry to answer a request: the request's device
// index, feature index and function byte.
struct TransactionKey {
    std::uint8_t deviceIndex = 0;
    std::uint8_t featureIndex = 0;
    std::uint8_t functionByte = 0;
    friend constexpr bool operator==(const TransactionKey&, const TransactionKey&) = default;
};

// An incoming report read as HID++.
struct InputReport {
    enum class Kind { reply, error20, error10 };
    Kind kind = Kind::reply;
    TransactionKey key;
    // Error reports: the error byte. Replies and notifications: unused.
    std::uint8_t errorCode = 0;
    // Replies and notifications: every byte from index 4 to the end as received.
    std::span<const std::uint8_t> payload;

    // A reply that answers nothing and carries software identifier 0.
    bool isNotificationForm() const { return kind == Kind::reply && (key.functionByte & 0x0F) == 0; }
};

// Reads a report from the device. Nothing for a report shorter than 4 bytes
// or one whose first byte is neither 0x10 nor 0x11. The payload refers into
// `report`. An error form needs at least 6 bytes; a shorter report with
// 0xFF or 0x8F in byte 2 is a plain reply keyed by that byte.
std::optional<InputReport> classify(std::span<const std::uint8_t> report);

} // namespace HIDPPWire

} // namespace ravolet
