#include "RavoletEngine/Coordination/LivePointerPropertyBackend.hpp"

#include <algorithm>

#include "Platform/Linux/LinuxHIDServices.hpp"

namespace ravolet {

using Entry = PrivateSPI::Entry;

namespace {

std::optional<std::int64_t> numberValue(const platform::PropertyValue& value) {
    if (std::holds_alternative<bool>(value) || std::holds_alternative<std::string>(value)) return std::nullopt;
    return platform::propertyInt64(value);
}

} // namespace

LivePointerPropertyBackend::Session::Session(std::shared_ptr<PrivateSPI> spi, platform::HIDEventSystemClientRef client,
                                             std::vector<platform::HIDServiceRef> services)
    : spi(std::move(spi)), client(client), services(std::move(services)) {}

LivePointerPropertyBackend::Session::~Session() { spi->releaseClient(client); }

LivePointerPropertyBackend::LivePointerPropertyBackend()
    : LivePointerPropertyBackend(std::make_shared<PrivateSPI>(std::make_shared<platform::LinuxPrivateHIDEventSystem>()),
                                 std::make_shared<platform::LinuxServiceRegistry>()) {}

LivePointerPropertyBackend::LivePointerPropertyBackend(std::shared_ptr<PrivateSPI> spi,
                                                       std::shared_ptr<platform::ServiceRegistry> registry)
    : spi_(std::move(spi)), registry_(std::move(registry)) {}

LivePointerPropertyBackend::~LivePointerPropertyBackend() = default;

bool LivePointerPropertyBackend::canWrite() const { return spi_->isAvailable(Entry::ioHIDServiceClientSetProperty); }

LivePointerPropertyBackend::Session* LivePointerPropertyBackend::makeSession() {
    if (!spi_->isAvailable(Entry::ioHIDEventSystemClientCreateSimpleClient) ||
        !spi_->isAvailable(Entry::ioHIDEventSystemClientCopyServices))
        return nullptr;
    const auto client = spi_->createSimpleClient();
    if (!client) return nullptr;
    auto services = spi_->copyServices(*client);
    if (!services) {
        spi_->releaseClient(*client);
        return nullptr;
    }
    session_ = std::make_unique<Session>(spi_, *client, std::move(*services));
    return session_.get();
}

std::vector<PointerServiceIdentity> LivePointerPropertyBackend::services() {
    const Session* session = makeSession();
    if (!session) return {};
    const bool hasProperties = spi_->isAvailable(Entry::ioHIDServiceClientCopyProperty);
    std::vector<PointerServiceIdentity> identities;
    for (const auto service : session->services) {
        const auto registryID = spi_->serviceRegistryIDNumber(service);
        if (!registryID || *registryID == 0) continue;
        PointerServiceIdentity identity;
        identity.registryID = *registryID;
        if (hasProperties) {
            identity.vendorID = spi_->copyServiceInteger(service, "VendorID");
            identity.productID = spi_->copyServiceInteger(service, "ProductID");
            identity.product = spi_->copyServiceString(service, "Product");
            identity.primaryUsagePage = spi_->copyServiceInteger(service, "PrimaryUsagePage");
            identity.primaryUsage = spi_->copyServiceInteger(service, "PrimaryUsage");
        }
        identities.push_back(std::move(identity));
    }
    return identities;
}

std::optional<platform::HIDServiceRef> LivePointerPropertyBackend::service(std::uint64_t registryID) {
    auto find = [&](const Session* session) -> std::optional<platform::HIDServiceRef> {
        if (!session) return std::nullopt;
        const auto it = std::ranges::find_if(session->services, [&](platform::HIDServiceRef candidate) {
            return spi_->serviceRegistryIDNumber(candidate) == registryID;
        });
        return it == session->services.end() ? std::nullopt : std::optional(*it);
    };
    if (auto found = find(session_.get())) return found;
    return find(makeSession());
}

std::optional<platform::PropertyValue> LivePointerPropertyBackend::registryServiceProperty(std::string_view key,
                                                                                           std::uint64_t registryID) {
    const auto entry = registry_->matchingService(registryID);
    if (!entry) return std::nullopt;
    const auto properties = registry_->createProperty(*entry, platform::hidEventServicePropertiesKey);
    registry_->release(*entry);
    // Only the event service's own dictionary counts, never a top-level property of the entry.
    const auto* dictionary = properties ? std::get_if<platform::PropertyDictionary>(&*properties) : nullptr;
    if (!dictionary) return std::nullopt;
    const auto it = dictionary->find(key);
    return it == dictionary->end() ? std::nullopt : std::optional(it->second);
}

template <class R>
std::optional<R> LivePointerPropertyBackend::read(
    std::string_view key, std::uint64_t registryID,
    const std::function<std::optional<R>(const platform::PropertyValue&)>& accept) {
    if (const auto found = service(registryID)) {
        if (const auto value = spi_->copyServiceProperty(*found, key)) {
            if (auto accepted = accept(*value)) return accepted;
        }
    }
    const auto value = registryServiceProperty(key, registryID);
    return value ? accept(*value) : std::nullopt;
}

std::optional<std::int64_t> LivePointerPropertyBackend::readNumber(std::string_view key, std::uint64_t registryID) {
    return read<std::int64_t>(key, registryID, numberValue);
}

std::optional<std::string> LivePointerPropertyBackend::readString(std::string_view key, std::uint64_t registryID) {
    return read<std::string>(key, registryID, platform::propertyString);
}

PointerPropertyWrite LivePointerPropertyBackend::writeNumber(std::string_view key, std::int64_t value,
                                                             std::uint64_t registryID) {
    const platform::PropertyValue number{value};
    if (const auto found = service(registryID); found && spi_->setServiceProperty(*found, key, number))
        return PointerPropertyWrite::eventSystem;
    const auto entry = registry_->matchingService(registryID);
    if (!entry) return PointerPropertyWrite::refused;
    const auto result = registry_->setProperty(*entry, key, number);
    registry_->release(*entry);
    return result == platform::kIOReturnSuccess ? PointerPropertyWrite::registryEntry : PointerPropertyWrite::refused;
}

bool LivePointerPropertyBackend::serviceExists(std::uint64_t registryID) {
    if (service(registryID)) return true;
    const auto entry = registry_->matchingService(registryID);
    if (!entry) return false;
    registry_->release(*entry);
    return true;
}

} // namespace ravolet
