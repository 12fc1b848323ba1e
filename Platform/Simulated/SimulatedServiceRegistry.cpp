#include "Platform/Simulated/SimulatedServiceRegistry.hpp"

namespace ravolet::platform {

void SimulatedServiceRegistry::addEntry(std::uint64_t registryID, Properties properties) {
    std::lock_guard guard(lock_);
    entries_[registryID] = std::move(properties);
}

PropertyDictionary& SimulatedServiceRegistry::eventServiceProperties(Properties& properties) {
    auto& slot = properties[std::string(hidEventServicePropertiesKey)];
    if (!std::holds_alternative<PropertyDictionary>(slot)) slot = PropertyDictionary{};
    return std::get<PropertyDictionary>(slot);
}

void SimulatedServiceRegistry::setEventServiceProperty(std::uint64_t registryID, const std::string& key, PropertyValue value) {
    std::lock_guard guard(lock_);
    eventServiceProperties(entries_[registryID])[key] = std::move(value);
}

void SimulatedServiceRegistry::removeEntry(std::uint64_t registryID) {
    std::lock_guard guard(lock_);
    entries_.erase(registryID);
}

void SimulatedServiceRegistry::failWrites(IOReturn code) {
    std::lock_guard guard(lock_);
    writeResult_ = code;
}

std::optional<PropertyValue> SimulatedServiceRegistry::eventServiceProperty(std::uint64_t registryID,
                                                                            std::string_view key) const {
    std::lock_guard guard(lock_);
    const auto entry = entries_.find(registryID);
    if (entry == entries_.end()) return std::nullopt;
    const auto dictionary = entry->second.find(hidEventServicePropertiesKey);
    if (dictionary == entry->second.end() || !std::holds_alternative<PropertyDictionary>(dictionary->second))
        return std::nullopt;
    const auto& values = std::get<PropertyDictionary>(dictionary->second);
    const auto it = values.find(key);
    return it == values.end() ? std::nullopt : std::optional(it->second);
}

std::int64_t SimulatedServiceRegistry::outstandingEntries() const {
    std::lock_guard guard(lock_);
    return outstanding_;
}

std::uint64_t SimulatedServiceRegistry::writeCount() const {
    std::lock_guard guard(lock_);
    return writes_;
}

std::optional<RegistryEntryRef> SimulatedServiceRegistry::matchingService(std::uint64_t registryID) {
    std::lock_guard guard(lock_);
    if (registryID == 0 || !entries_.contains(registryID)) return std::nullopt;
    ++outstanding_;
    return RegistryEntryRef{registryID};
}

std::optional<RegistryPropertyValue> SimulatedServiceRegistry::createProperty(RegistryEntryRef entry, std::string_view key) {
    std::lock_guard guard(lock_);
    const auto it = entries_.find(entry.raw);
    if (it == entries_.end()) return std::nullopt;
    const auto property = it->second.find(key);
    return property == it->second.end() ? std::nullopt : std::optional(property->second);
}

IOReturn SimulatedServiceRegistry::setProperty(RegistryEntryRef entry, std::string_view key, const PropertyValue& value) {
    std::lock_guard guard(lock_);
    const auto it = entries_.find(entry.raw);
    if (it == entries_.end()) return kIOReturnNoDevice;
    if (writeResult_ != kIOReturnSuccess) return writeResult_;
    eventServiceProperties(it->second)[std::string(key)] = value;
    ++writes_;
    return kIOReturnSuccess;
}

void SimulatedServiceRegistry::release(RegistryEntryRef) {
    std::lock_guard guard(lock_);
    --outstanding_;
}

} // namespace ravolet::platform
