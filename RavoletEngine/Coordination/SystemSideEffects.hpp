#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Platform/ProcessLauncher.hpp"
#include "Platform/Workspace.hpp"
#include "RavoletEngine/EventPath/MacroSideEffects.hpp"

namespace ravolet {

// What a button action can do beyond posting keys and mouse buttons: ask for
// a DPI, launch an application by its identifier, run a command. Immutable
// once built; called on the macro queue, where each call returns at once. An
// application launch that cannot happen is dropped; how a command's start
// went is told to the command handler, so that a failed one can be shown.
class SystemSideEffects final : public MacroSideEffects {
public:
    // The command line, and why it did not start (none when it started).
    using CommandHandler = std::function<void(const std::string& commandLine, const std::optional<std::string>& problem)>;

    // `dpiHandler` and `commandHandler` (either may be empty) must be
    // callable from any thread.
    SystemSideEffects(bool allowsAppLaunch, bool allowsShortcuts, std::function<void(std::int64_t)> dpiHandler,
                      std::shared_ptr<platform::Workspace> workspace, std::shared_ptr<platform::ProcessLauncher> launcher,
                      CommandHandler commandHandler = {});

    const bool allowsAppLaunch;
    const bool allowsShortcuts;

    // Always reaches the DPI handler, whatever the switches say.
    void requestDPI(std::int64_t dpi) override;
    // Opens and activates the installed application with this identifier;
    // nothing at all while launching is not allowed.
    void launchApp(const std::string& bundleID) override;
    // Runs the action's command line (its "name"), split as a terminal
    // splits words and started without a shell, and tells the command
    // handler how that went; nothing at all while commands are not allowed.
    void runShortcut(const std::string& name) override;

private:
    const std::function<void(std::int64_t)> dpiHandler_;
    const std::shared_ptr<platform::Workspace> workspace_;
    const std::shared_ptr<platform::ProcessLauncher> launcher_;
    const CommandHandler commandHandler_;
};

} // namespace ravolet
