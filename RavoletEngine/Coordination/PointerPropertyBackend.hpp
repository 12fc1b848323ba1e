#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "RavoletEngine/Coordination/PointerPropertyWrite.hpp"
#include "RavoletEngine/Coordination/PointerServiceIdentity.hpp"

namespace ravolet {

// Lists HID event services and reads and writes their per-device properties,
// each addressed by its registry identifier. No operation throws: a failure is
// an empty list, an absent value or `refused`. Used from the main thread only.
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
};

} // namespace ravolet
