#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "Platform/ServiceRegistry.hpp"
#include "RavoletEngine/Coordination/PointerPropertyBackend.hpp"
#include "RavoletEngine/EventPath/PrivateSPI.hpp"

namespace ravolet {

// The pointer properties of the system's HID event services, through the
// private event-system client and, where that cannot serve, through the I/O
// registry entry of the service. Any private function may be missing; the
// backend then falls back rather than fails.
//
// It keeps the client and service list of its last listing (a session) so
// that reads and writes by registry identifier do not make a client each
// time; a lookup that misses there makes a new session. Used from the main
// thread only.
class LivePointerPropertyBackend final : public PointerPropertyBackend {
public:
    // This machine's HID services (on Linux: every private function missing, no registry entries).
    LivePointerPropertyBackend();
    LivePointerPropertyBackend(std::shared_ptr<PrivateSPI> spi, std::shared_ptr<platform::ServiceRegistry> registry);
    ~LivePointerPropertyBackend() override;
    LivePointerPropertyBackend(const LivePointerPropertyBackend&) = delete;
    LivePointerPropertyBackend& operator=(const LivePointerPropertyBackend&) = delete;

    // The property setter was found.
    bool canWrite() const override;
    // Always through a fresh client, so that a re-attached mouse is seen.
    std::vector<PointerServiceIdentity> services() override;
    // The event system's value when it is a number, else the number under the
    // key in the registry entry's "HIDEventServiceProperties".
    std::optional<std::int64_t> readNumber(std::string_view key, std::uint64_t registryID) override;
    // The same two paths, for a text.
    std::optional<std::string> readString(std::string_view key, std::uint64_t registryID) override;
    // The event system first, then the registry entry.
    PointerPropertyWrite writeNumber(std::string_view key, std::int64_t value, std::uint64_t registryID) override;
    bool serviceExists(std::uint64_t registryID) override;

private:
    // A client and the services copied from it; the client is released with it.
    struct Session {
        std::shared_ptr<PrivateSPI> spi;
        platform::HIDEventSystemClientRef client;
        std::vector<platform::HIDServiceRef> services;
        Session(std::shared_ptr<PrivateSPI> spi, platform::HIDEventSystemClientRef client,
                std::vector<platform::HIDServiceRef> services);
        ~Session();
        Session(const Session&) = delete;
        Session& operator=(const Session&) = delete;
    };

    // Makes a session that replaces the current one; none (and the current one kept) when it cannot.
    Session* makeSession();
    std::optional<platform::HIDServiceRef> service(std::uint64_t registryID);
    // Reads the key by the event-system path, then the registry path; `accept`
    // turns a value into the wanted kind or nothing.
    template <class R>
    std::optional<R> read(std::string_view key, std::uint64_t registryID,
                          const std::function<std::optional<R>(const platform::PropertyValue&)>& accept);
    std::optional<platform::PropertyValue> registryServiceProperty(std::string_view key, std::uint64_t registryID);

    const std::shared_ptr<PrivateSPI> spi_;
    const std::shared_ptr<platform::ServiceRegistry> registry_;
    std::unique_ptr<Session> session_;
};

} // namespace ravolet
