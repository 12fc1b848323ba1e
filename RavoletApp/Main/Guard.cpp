#include "RavoletApp/Main/Guard.hpp"

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "HIDPlusPlus/HIDPPDevice.hpp"
#include "HIDPlusPlus/HIDPPDeviceMatch.hpp"
#include "Platform/Linux/Desktop/DesktopPointerSettings.hpp"
#include "Platform/Linux/Desktop/DisplayServer.hpp"
#include "Platform/Linux/HID/LinuxHIDSystem.hpp"
#include "Platform/Linux/JsonFileKeyValueStore.hpp"
#include "Platform/Linux/LinuxFileSystem.hpp"
#include "Platform/Linux/SingleInstance.hpp"
#include "Platform/Linux/SystemClock.hpp"
#include "RavoletApp/Model/WheelModeRecord.hpp"
#include "RavoletEngine/Coordination/DesktopPointerPropertyBackend.hpp"
#include "RavoletEngine/Coordination/PointerHardwareTuning.hpp"
#include "RavoletEngine/Coordination/PointerTuningGuard.hpp"

namespace ravolet::guard {

namespace {

using namespace std::chrono_literals;

// How long the wheel's put-back waits for the mouse: it answers within
// milliseconds, and the wheel is to be back within 2 s of the end.
constexpr auto wheelPatience = 1500ms;
// Where nothing tells how long the session lives (no display server found),
// how long the desktop is waited for after the end.
constexpr auto patienceWithoutDisplay = 10s;

} // namespace

bool start() {
    std::error_code noPath;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", noPath);
    return !noPath && pointerTuningGuard::start(self.string(), {std::string(option), std::to_string(::getpid())});
}

int run(std::string_view watchedText) {
    const auto watched = pointerTuningGuard::parseWatched(watchedText);
    if (!watched) return 2;
    const auto files = platform::LinuxFileSystem::shared();
    const auto folder = files->settingsFolder();
    // The session lives as long as its display server: found now, while
    // the program surely still runs on it.
    auto server = platform::DisplayServer::ofThisSession();
    std::optional<pointerTuningGuard::SessionLives> fallback;
    const pointerTuningGuard::SessionLives sessionLives = [&] {
        if (server) return server->isRunning();
        if (!fallback) fallback = pointerTuningGuard::forAtMost(patienceWithoutDisplay);
        return (*fallback)();
    };
    const auto putWheelBackNow = [&] {
        const WheelModeRecord record(files, folder / WheelModeRecord::fileName);
        (void)putWheelBack(record, *files, folder / platform::SingleInstance::lockName, [] {
            // The mouse is reached only now that there is something to put back.
            const auto& mouse = HIDPPDeviceMatch::g502X;
            platform::HIDSystem::setShared(platform::LinuxHIDSystem::make({mouse.vendorID, mouse.productID}));
            return HIDPPDevice::create(mouse);
        }, wheelPatience);
    };
    return pointerTuningGuard::run(
        *watched,
        [] {
            return std::make_shared<DesktopPointerPropertyBackend>(
                std::shared_ptr(platform::DesktopPointerSettings::forThisSession()));
        },
        [files](std::shared_ptr<PointerPropertyBackend> backend) {
            return std::make_shared<PointerHardwareTuning>(
                std::move(backend), platform::JsonFileKeyValueStore::standard(), std::nullopt,
                std::vector{HIDPPDeviceMatch::g502X}, platform::SystemClock::shared(), files);
        },
        folder / PointerHardwareTuning::captureFileName, sessionLives, putWheelBackNow);
}

} // namespace ravolet::guard
