#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "Platform/Executor.hpp"
#include "Platform/IOReturn.hpp"

namespace ravolet::platform {

// Registry property values of a HID service: numbers, texts, and lists of
// dictionaries (the usage pairs). Enough for what the HID++ client reads.
using HIDScalar = std::variant<std::int64_t, std::string>;
using HIDDictionary = std::map<std::string, HIDScalar, std::less<>>;
using HIDPropertyValue = std::variant<std::int64_t, std::string, std::vector<HIDDictionary>>;
using HIDProperties = std::map<std::string, HIDPropertyValue, std::less<>>;

// The host's property keys of a HID device.
namespace hidkey {
inline constexpr std::string_view vendorID = "VendorID";
inline constexpr std::string_view productID = "ProductID";
inline constexpr std::string_view product = "Product";
inline constexpr std::string_view manufacturer = "Manufacturer";
inline constexpr std::string_view serialNumber = "SerialNumber";
inline constexpr std::string_view locationID = "LocationID";
inline constexpr std::string_view transport = "Transport";
inline constexpr std::string_view primaryUsagePage = "PrimaryUsagePage";
inline constexpr std::string_view primaryUsage = "PrimaryUsage";
inline constexpr std::string_view maxInputReportSize = "MaxInputReportSize";
inline constexpr std::string_view maxOutputReportSize = "MaxOutputReportSize";
inline constexpr std::string_view deviceUsagePairs = "DeviceUsagePairs";
inline constexpr std::string_view deviceUsagePage = "DeviceUsagePage";
inline constexpr std::string_view deviceUsage = "DeviceUsage";
} // namespace hidkey

enum class HIDReportType { input, output, feature };

// An entry of the service registry.
class HIDService {
public:
    virtual ~HIDService() = default;
    // The registry entry identifier; nothing when it cannot be read.
    virtual std::optional<std::uint64_t> registryEntryID() const = 0;
};

// Called on the run loop the device is scheduled on, with the report as the
// device sent it (report identifier first for numbered reports), cut to the
// registered maximum length.
using HIDInputReportCallback =
    std::function<void(IOReturn result, HIDReportType type, std::uint32_t reportID, std::span<const std::uint8_t> report)>;

// A HID device made from a service. Everything except setReport() belongs to
// the thread of the run loop the device is (to be) scheduled on.
class HIDDevice {
public:
    virtual ~HIDDevice() = default;

    // The service the device was made from; null when it has none.
    virtual std::shared_ptr<HIDService> service() const = 0;
    // A registry property; nothing when the device does not have it.
    virtual std::optional<HIDPropertyValue> property(std::string_view key) const = 0;

    // Opens the device without options; kIOReturnSuccess or the failure.
    virtual IOReturn open() = 0;
    virtual IOReturn close() = 0;

    // Input reports are delivered on this scheduler once the device is open,
    // scheduled and has a callback; never to a closed or unscheduled device.
    virtual void scheduleWithRunLoop(std::shared_ptr<Scheduler> runLoop) = 0;
    virtual void unscheduleFromRunLoop() = 0;

    // Registers the input-report callback for reports of at most
    // `maxReportLength` bytes; an empty callback unregisters.
    virtual void registerInputReportCallback(std::size_t maxReportLength, HIDInputReportCallback callback) = 0;

    // Writes a report to the device. Safe from any thread.
    virtual IOReturn setReport(HIDReportType type, std::uint32_t reportID, std::span<const std::uint8_t> report) = 0;
};

} // namespace ravolet::platform
