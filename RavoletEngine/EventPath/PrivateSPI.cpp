#include "RavoletEngine/EventPath/PrivateSPI.hpp"

namespace ravolet {

namespace {
constexpr std::size_t index(PrivateSPI::Entry entry) { return static_cast<std::size_t>(entry); }
constexpr std::size_t index(PrivateSPI::Library library) { return static_cast<std::size_t>(library); }
} // namespace

PrivateSPI::PrivateSPI(std::shared_ptr<platform::PrivateHIDEventSystem> system) : system_(std::move(system)) {}

std::optional<platform::LibraryHandle> PrivateSPI::handle(Library library) const {
    const auto i = index(library);
    std::call_once(libraryOnce_[i], [&] {
        const auto path = library == Library::coreGraphics ? platform::coreGraphicsLibraryPath : platform::iokitLibraryPath;
        libraries_[i] = system_->openLibrary(path, platform::libraryLazyBinding);
    });
    return libraries_[i];
}

bool PrivateSPI::isAvailable(Entry entry) const {
    const auto i = index(entry);
    std::call_once(entryOnce_[i], [&] {
        // A symbol whose library did not open counts as missing.
        const auto library = handle(table[i].library);
        found_[i] = library && system_->lookupSymbol(*library, table[i].symbol);
    });
    return found_[i];
}

std::vector<std::string> PrivateSPI::missingSymbols() const {
    std::vector<std::string> missing;
    for (const auto& info : table)
        if (!isAvailable(info.entry)) missing.emplace_back(info.symbol);
    return missing;
}

std::optional<platform::HIDEventRef> PrivateSPI::copyIOHIDEvent(const platform::Event& event) const {
    if (!isAvailable(Entry::cgEventCopyIOHIDEvent)) return std::nullopt;
    return system_->copyIOHIDEvent(event);
}

void PrivateSPI::releaseHIDEvent(platform::HIDEventRef hidEvent) const { system_->releaseHIDEvent(hidEvent); }

std::optional<std::uint64_t> PrivateSPI::hidEventSenderID(platform::HIDEventRef hidEvent) const {
    if (!isAvailable(Entry::ioHIDEventGetSenderID)) return std::nullopt;
    return system_->hidEventSenderID(hidEvent);
}

std::optional<platform::HIDEventSystemClientRef> PrivateSPI::createSimpleClient() const {
    if (!isAvailable(Entry::ioHIDEventSystemClientCreateSimpleClient)) return std::nullopt;
    return system_->createSimpleClient();
}

void PrivateSPI::releaseClient(platform::HIDEventSystemClientRef client) const { system_->releaseClient(client); }

std::optional<std::vector<platform::HIDServiceRef>> PrivateSPI::copyServices(platform::HIDEventSystemClientRef client) const {
    if (!isAvailable(Entry::ioHIDEventSystemClientCopyServices)) return std::nullopt;
    return system_->copyServices(client);
}

std::optional<platform::PropertyValue> PrivateSPI::serviceRegistryID(platform::HIDServiceRef service) const {
    if (!isAvailable(Entry::ioHIDServiceClientGetRegistryIDRaw)) return std::nullopt;
    return system_->serviceRegistryID(service);
}

std::optional<platform::PropertyValue> PrivateSPI::copyServiceProperty(platform::HIDServiceRef service,
                                                                      std::string_view key) const {
    if (!isAvailable(Entry::ioHIDServiceClientCopyProperty)) return std::nullopt;
    return system_->copyServiceProperty(service, key);
}

bool PrivateSPI::setServiceProperty(platform::HIDServiceRef service, std::string_view key,
                                    const platform::PropertyValue& value) const {
    if (!isAvailable(Entry::ioHIDServiceClientSetProperty)) return false;
    return system_->setServiceProperty(service, key, value);
}

namespace {
bool isNumber(const platform::PropertyValue& value) {
    return !std::holds_alternative<bool>(value) && !std::holds_alternative<std::string>(value);
}
} // namespace

std::optional<std::uint64_t> PrivateSPI::serviceRegistryIDNumber(platform::HIDServiceRef service) const {
    const auto value = serviceRegistryID(service);
    if (!value || !isNumber(*value)) return std::nullopt;
    return platform::propertyUInt64(*value);
}

std::optional<std::int64_t> PrivateSPI::copyServiceInteger(platform::HIDServiceRef service, std::string_view key) const {
    const auto value = copyServiceProperty(service, key);
    if (!value || !isNumber(*value)) return std::nullopt;
    return platform::propertyInt64(*value);
}

std::optional<std::string> PrivateSPI::copyServiceString(platform::HIDServiceRef service, std::string_view key) const {
    const auto value = copyServiceProperty(service, key);
    return value ? platform::propertyString(*value) : std::nullopt;
}

} // namespace ravolet
