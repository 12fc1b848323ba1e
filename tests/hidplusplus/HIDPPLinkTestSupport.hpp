#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "HIDPlusPlus/HIDPPLink.hpp"
#include "Platform/Simulated/ManualScheduler.hpp"
#include "Platform/Simulated/SimulatedHIDBus.hpp"

namespace ravolet::testing {

using Bytes = std::vector<std::uint8_t>;

// One interface of the mouse: the vendor collection when `vendorPage` is set.
inline platform::HIDProperties mouseInterface(bool vendorPage, std::int64_t maxOutput = 20, std::int64_t product = 0xC099) {
    platform::SimulatedHIDInterface i;
    i.vendorID = 0x046D;
    i.productID = product;
    i.product = "G502 X";
    i.manufacturer = "Logitech";
    i.primaryUsagePage = vendorPage ? 0xFF00 : 0x0001;
    i.primaryUsage = vendorPage ? 0x0001 : 0x0002;
    i.usagePairs = vendorPage ? std::vector<std::pair<std::int64_t, std::int64_t>>{{0xFF00, 1}, {0xFF00, 2}}
                              : std::vector<std::pair<std::int64_t, std::int64_t>>{{0x0001, 2}};
    i.maxInputReportSize = 20;
    i.maxOutputReportSize = vendorPage ? maxOutput : 0;
    return i.properties();
}

// A simulated bus and one virtual-time scheduler serving as both the HID
// I/O thread and the send queue, so that every step is deterministic.
struct SimulatedHIDPP {
    std::shared_ptr<platform::SimulatedHIDBus> bus = platform::SimulatedHIDBus::make();
    std::shared_ptr<platform::ManualScheduler> loop = std::make_shared<platform::ManualScheduler>();

    HIDPPEnvironment environment() const {
        return HIDPPEnvironment{bus, loop, [loop = loop] { return std::shared_ptr<platform::Executor>(loop); }};
    }
};

// Collects the results of requests, in completion order.
struct Results {
    std::vector<std::pair<int, HIDPPLink::Result>> done;

    HIDPPLink::Completion operator()(int tag) {
        return [this, tag](HIDPPLink::Result r) { done.emplace_back(tag, std::move(r)); };
    }
    const HIDPPLink::Result& of(int tag) const {
        for (const auto& [t, r] : done) {
            if (t == tag) return r;
        }
        throw std::runtime_error("no result");
    }
    bool has(int tag) const {
        for (const auto& [t, r] : done) {
            if (t == tag) return true;
        }
        return false;
    }
};

} // namespace ravolet::testing
