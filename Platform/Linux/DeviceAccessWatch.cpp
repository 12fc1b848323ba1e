#include "Platform/Linux/DeviceAccessWatch.hpp"

#include <filesystem>
#include <string>
#include <vector>

#include "Platform/Linux/FolderWatcher.hpp"
#include "Platform/Linux/Kernel/UeventMonitor.hpp"

namespace ravolet::platform {

namespace fs = std::filesystem;

Subscription watchDeviceAccess(const KernelRoots& roots, std::shared_ptr<Executor> executor,
                               std::function<void()> handler) {
    auto watches = std::make_shared<std::vector<Subscription>>();
    if (const auto uevents = UeventMonitor::shared()) {
        for (const char* subsystem : {"input", "hidraw", "misc"})
            watches->push_back(uevents->subscribe(subsystem, executor, [handler](const Uevent&, bool) { handler(); }));
    }
    if (const auto folders = FolderWatcher::shared()) {
        // Only the nodes the grants are read from: /dev changes for many others.
        watches->push_back(folders->watch(roots.dev, FolderWatcher::Changes::attributes, executor,
                                          [handler](const std::string& name) {
                                              if (name.empty() || name == "uinput" || name.starts_with("hidraw")) handler();
                                          }));
        watches->push_back(folders->watch(fs::path(roots.dev) / "input", FolderWatcher::Changes::attributes, executor,
                                          [handler](const std::string& name) {
                                              if (name.empty() || name.starts_with("event")) handler();
                                          }));
    }
    return Subscription([watches] { watches->clear(); });
}

} // namespace ravolet::platform
