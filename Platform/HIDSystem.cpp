#include "Platform/HIDSystem.hpp"

#include <mutex>

#include "Platform/Simulated/SimulatedHIDBus.hpp"

namespace ravolet::platform {

namespace {
std::mutex sharedLock;
std::shared_ptr<HIDSystem>& sharedSystem() {
    static std::shared_ptr<HIDSystem> system;
    return system;
}
} // namespace

std::shared_ptr<HIDSystem> HIDSystem::shared() {
    std::lock_guard lock(sharedLock);
    auto& system = sharedSystem();
    if (!system) system = SimulatedHIDBus::make();
    return system;
}

void HIDSystem::setShared(std::shared_ptr<HIDSystem> system) {
    std::lock_guard lock(sharedLock);
    sharedSystem() = std::move(system);
}

} // namespace ravolet::platform
