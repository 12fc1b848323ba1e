#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "Platform/ProcessLauncher.hpp"
#include "Platform/Workspace.hpp"
#include "RavoletEngine/EventPath/MacroSideEffects.hpp"

namespace ravolet {

// What a button action can do beyond posting keys and mouse buttons: ask for
// a DPI, launch an application by its identifier, run a command. Immutable
// once built; called on the macro queue, where each call returns at once and
// reports nothing: a launch that cannot happen is dropped.
class SystemSideEffects final : public MacroSideEffects {
public:
    // `dpiHandler` must be callable from any thread.
    SystemSideEffects(bool allowsAppLaunch, bool allowsShortcuts, std::function<void(std::int64_t)> dpiHandler,
                      std::shared_ptr<platform::Workspace> workspace, std::shared_ptr<platform::ProcessLauncher> launcher);

    const bool allowsAppLaunch;
    const bool allowsShortcuts;

    // Always reaches the DPI handler, whatever the switches say.
    void requestDPI(std::int64_t dpi) override;
    // Opens and activates the installed application with this identifier;
    // nothing at all while launching is not allowed.
    void launchApp(const std::string& bundleID) override;
    // Runs the action's command line (its "name"), split as a desktop entry's
    // Exec value is and started without a shell; nothing at all while
    // commands are not allowed. A line that cannot start is dropped.
    void runShortcut(const std::string& name) override;

private:
    const std::function<void(std::int64_t)> dpiHandler_;
    const std::shared_ptr<platform::Workspace> workspace_;
    const std::shared_ptr<platform::ProcessLauncher> launcher_;
};

} // namespace ravolet
