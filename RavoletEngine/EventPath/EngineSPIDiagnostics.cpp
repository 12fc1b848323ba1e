#include "RavoletEngine/EventPath/EngineSPIDiagnostics.hpp"

#include <variant>

namespace ravolet {

using Entry = PrivateSPI::Entry;

std::vector<std::string> EngineSPIDiagnostics::missingSymbols(const PrivateSPI& spi) { return spi.missingSymbols(); }

bool EngineSPIDiagnostics::hasLegacyCGEventGetIOHIDEvent(const PrivateSPI& spi) {
    const auto library = spi.handle(PrivateSPI::Library::coreGraphics);
    return library && spi.system().lookupSymbol(*library, "CGEventGetIOHIDEvent");
}

std::vector<platform::HIDServiceRef> EngineSPIDiagnostics::services(const PrivateSPI& spi) {
    const auto client = spi.createSimpleClient();
    if (!client) return {};
    auto services = spi.copyServices(*client);
    // The copied list holds its services; the client is not needed beyond it.
    spi.releaseClient(*client);
    return services ? std::move(*services) : std::vector<platform::HIDServiceRef>{};
}

std::optional<std::uint64_t> EngineSPIDiagnostics::registryID(const PrivateSPI& spi, platform::HIDServiceRef service) {
    return spi.serviceRegistryIDNumber(service);
}

bool EngineSPIDiagnostics::canSetServiceProperties(const PrivateSPI& spi) {
    return spi.isAvailable(Entry::ioHIDServiceClientSetProperty);
}

std::optional<std::uint64_t> EngineSPIDiagnostics::registryIDMisreadAsUInt64(const PrivateSPI& spi,
                                                                             platform::HIDServiceRef service) {
    const auto library = spi.handle(PrivateSPI::Library::iokit);
    if (!library || !spi.system().lookupSymbol(*library, "IOHIDServiceClientGetRegistryID")) return std::nullopt;
    return spi.system().serviceRegistryIDResultWord(service);
}

} // namespace ravolet
