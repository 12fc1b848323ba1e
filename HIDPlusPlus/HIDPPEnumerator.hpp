#pragma once

#include <memory>
#include <vector>

#include "HIDPlusPlus/HIDPPDeviceMatch.hpp"
#include "HIDPlusPlus/HIDPPEnvironment.hpp"
#include "HIDPlusPlus/HIDPPLink.hpp"

namespace ravolet {

// Finds the HID++ interface of a device among the host's HID devices. The
// mouse shows several interfaces with its vendor and product; only the vendor
// collection (usage page 0xFF00) with room for a 20-byte output report speaks
// HID++. Called on the HID I/O thread.
namespace HIDPPEnumerator {

inline platform::HIDMatching matchingFor(const HIDPPDeviceMatch& match) { return {match.vendorID, match.productID}; }

// Every device that matches, in registry order; empty when none do or the lookup fails.
std::vector<std::shared_ptr<platform::HIDDevice>> devices(const HIDPPDeviceMatch& match, platform::HIDSystem& hid);

// One new, closed link per device of devices(), in the same order.
std::vector<std::shared_ptr<HIDPPLink>> links(const HIDPPDeviceMatch& match, const HIDPPEnvironment& environment);

// The first of links() whose identity carries HID++, or null.
std::shared_ptr<HIDPPLink> hidppLink(const HIDPPDeviceMatch& match, const HIDPPEnvironment& environment);

} // namespace HIDPPEnumerator

} // namespace ravolet
