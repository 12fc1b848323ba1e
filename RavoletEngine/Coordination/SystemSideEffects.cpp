#include "RavoletEngine/Coordination/SystemSideEffects.hpp"

#include <vector>

namespace ravolet {

SystemSideEffects::SystemSideEffects(bool allowsAppLaunch, bool allowsShortcuts,
                                     std::function<void(std::int64_t)> dpiHandler,
                                     std::shared_ptr<platform::Workspace> workspace,
                                     std::shared_ptr<platform::ProcessLauncher> launcher, CommandHandler commandHandler)
    : allowsAppLaunch(allowsAppLaunch),
      allowsShortcuts(allowsShortcuts),
      dpiHandler_(std::move(dpiHandler)),
      workspace_(std::move(workspace)),
      launcher_(std::move(launcher)),
      commandHandler_(std::move(commandHandler)) {}

void SystemSideEffects::requestDPI(std::int64_t dpi) {
    if (dpiHandler_) dpiHandler_(dpi);
}

void SystemSideEffects::launchApp(const std::string& bundleID) {
    if (!allowsAppLaunch || !workspace_) return;
    std::optional<std::string> location = workspace_->applicationLocation(bundleID);
    if (!location) return;
    workspace_->openApplication(*location, true);
}

void SystemSideEffects::runShortcut(const std::string& name) {
    if (!allowsShortcuts || !launcher_) return;
    // Whether the command did its work is not ours to know; only whether it started.
    const auto started = launcher_->launchCommandLine(name);
    if (commandHandler_) commandHandler_(name, started ? std::nullopt : std::optional(started.error().description()));
}

} // namespace ravolet
