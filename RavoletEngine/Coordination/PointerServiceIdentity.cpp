#include "RavoletEngine/Coordination/PointerServiceIdentity.hpp"

#include <ostream>

#include <fmt/format.h>

#include "RavoletEngine/EventPath/ScopedDevice.hpp"

namespace ravolet {

namespace {

void putIfPresent(Json& object, const char* key, const auto& value) {
    if (value) object[key] = *value;
}

std::optional<std::int64_t> optionalInteger(const JsonValue& v, std::string_view key) {
    const auto member = v.optional(key);
    return member ? std::optional(member->asIntegerToken<std::int64_t>()) : std::nullopt;
}

} // namespace

bool PointerServiceIdentity::isPointerCollection() const {
    return primaryUsagePage == 1 && primaryUsage == 2;
}

bool PointerServiceIdentity::matches(const HIDPPDeviceMatch& match) const {
    return vendorID == match.vendorID && productID == match.productID;
}

std::string PointerServiceIdentity::label() const {
    return hidServiceLabel(product, vendorID, productID, primaryUsagePage, primaryUsage) +
           fmt::format(" registry 0x{:X}", registryID);
}

Json PointerServiceIdentity::toJson() const {
    Json object = Json::object();
    object["registryID"] = registryID;
    putIfPresent(object, "vendorID", vendorID);
    putIfPresent(object, "productID", productID);
    putIfPresent(object, "product", product);
    putIfPresent(object, "primaryUsagePage", primaryUsagePage);
    putIfPresent(object, "primaryUsage", primaryUsage);
    return object;
}

PointerServiceIdentity PointerServiceIdentity::fromJson(const JsonValue& v) {
    PointerServiceIdentity identity;
    identity.registryID = v["registryID"].asIntegerToken<std::uint64_t>();
    identity.vendorID = optionalInteger(v, "vendorID");
    identity.productID = optionalInteger(v, "productID");
    if (const auto product = v.optional("product")) identity.product = product->asString();
    identity.primaryUsagePage = optionalInteger(v, "primaryUsagePage");
    identity.primaryUsage = optionalInteger(v, "primaryUsage");
    return identity;
}

std::ostream& operator<<(std::ostream& os, const PointerServiceIdentity& identity) { return os << identity.label(); }

} // namespace ravolet
