#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "RavoletEngine/EventPath/PrivateSPI.hpp"

namespace ravolet {

// What the engine and its status show about the private HID functions.
class EngineSPIDiagnostics {
public:
    EngineSPIDiagnostics() = delete;

    // The symbols whose lookup failed, in table order.
    static std::vector<std::string> missingSymbols(const PrivateSPI& spi);
    // Whether the older "CGEventGetIOHIDEvent" resolves (looked up anew on every call).
    static bool hasLegacyCGEventGetIOHIDEvent(const PrivateSPI& spi);
    // Every service of a fresh simple client; empty when anything is missing or fails.
    static std::vector<platform::HIDServiceRef> services(const PrivateSPI& spi);
    // The service's registry identifier when the function gives a number (0 included).
    static std::optional<std::uint64_t> registryID(const PrivateSPI& spi, platform::HIDServiceRef service);
    static bool canSetServiceProperties(const PrivateSPI& spi);
    // The registry-identifier function's raw result word read as the number
    // itself, as a caller that took it to return a plain integer would
    // (looked up anew); none when IOKit or the symbol is unavailable.
    static std::optional<std::uint64_t> registryIDMisreadAsUInt64(const PrivateSPI& spi, platform::HIDServiceRef service);
};

} // namespace ravolet
