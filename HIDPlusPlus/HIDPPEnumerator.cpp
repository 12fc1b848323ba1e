#include "HIDPlusPlus/HIDPPEnumerator.hpp"

namespace ravolet::HIDPPEnumerator {

std::vector<std::shared_ptr<platform::HIDDevice>> devices(const HIDPPDeviceMatch& match, platform::HIDSystem& hid) {
    const auto services = hid.matchingServices(matchingFor(match));
    if (!services) return {};
    std::vector<std::shared_ptr<platform::HIDDevice>> found;
    for (const auto& service : *services) {
        if (auto device = hid.createDevice(service)) found.push_back(std::move(device));
    }
    return found;
}

std::vector<std::shared_ptr<HIDPPLink>> links(const HIDPPDeviceMatch& match, const HIDPPEnvironment& environment) {
    std::vector<std::shared_ptr<HIDPPLink>> made;
    for (auto& device : devices(match, *environment.hid)) made.push_back(HIDPPLink::make(std::move(device), environment));
    return made;
}

std::shared_ptr<HIDPPLink> hidppLink(const HIDPPDeviceMatch& match, const HIDPPEnvironment& environment) {
    for (auto& link : links(match, environment)) {
        if (link->identity().carriesHIDPP()) return link;
    }
    return nullptr;
}

} // namespace ravolet::HIDPPEnumerator
