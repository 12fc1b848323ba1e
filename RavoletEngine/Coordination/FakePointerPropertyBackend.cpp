#include "RavoletEngine/Coordination/FakePointerPropertyBackend.hpp"

#include <algorithm>
#include <ostream>

namespace ravolet {

namespace {

template <class Map>
auto lookup(const std::map<std::uint64_t, Map>& maps, std::uint64_t registryID, std::string_view key)
    -> std::optional<typename Map::mapped_type> {
    const auto service = maps.find(registryID);
    if (service == maps.end()) return std::nullopt;
    const auto it = service->second.find(key);
    return it == service->second.end() ? std::nullopt : std::optional(it->second);
}

} // namespace

FakePointerPropertyBackend::FakePointerPropertyBackend(std::vector<PointerServiceIdentity> services)
    : identities_(std::move(services)) {}

void FakePointerPropertyBackend::seed(std::uint64_t registryID, const Numbers& numbers, const Strings& strings) {
    auto& serviceNumbers = values_[registryID];
    for (const auto& [key, value] : numbers) serviceNumbers.insert_or_assign(key, value);
    auto& serviceStrings = strings_[registryID];
    for (const auto& [key, value] : strings) serviceStrings.insert_or_assign(key, value);
}

void FakePointerPropertyBackend::setServices(std::vector<PointerServiceIdentity> services) {
    identities_ = std::move(services);
}

std::optional<std::int64_t> FakePointerPropertyBackend::readNumber(std::string_view key, std::uint64_t registryID) {
    return lookup(values_, registryID, key);
}

std::optional<std::string> FakePointerPropertyBackend::readString(std::string_view key, std::uint64_t registryID) {
    return lookup(strings_, registryID, key);
}

PointerPropertyWrite FakePointerPropertyBackend::writeNumber(std::string_view key, std::int64_t value,
                                                             std::uint64_t registryID) {
    if (!canWrite_ || refusedEverywhere_.contains(key)) return PointerPropertyWrite::refused;
    if (readOnly_.contains(key)) {
        // Only ever the value it already has, which changes nothing.
        return lookup(values_, registryID, key) == value ? PointerPropertyWrite::eventSystem : PointerPropertyWrite::refused;
    }
    values_[registryID].insert_or_assign(std::string(key), value);
    writeLog_.push_back(WriteRecord{registryID, std::string(key), value});
    return refusedByEventSystem_.contains(key) ? PointerPropertyWrite::registryEntry : PointerPropertyWrite::eventSystem;
}

bool FakePointerPropertyBackend::serviceExists(std::uint64_t registryID) {
    return std::ranges::any_of(identities_, [&](const auto& identity) { return identity.registryID == registryID; });
}

std::ostream& operator<<(std::ostream& os, const FakePointerPropertyBackend::WriteRecord& record) {
    return os << "write(" << record.registryID << ", " << record.key << ", " << record.value << ')';
}

} // namespace ravolet
