#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "Platform/FileSystem.hpp"
#include "Platform/LoginItemService.hpp"

namespace ravolet::platform {

// Starting at login through the desktop's autostart folder: registering
// writes a desktop entry that runs the program, unregistering removes it.
// The status is enabled while the entry is there and not switched off
// ("Hidden=true", or "X-GNOME-Autostart-enabled=false" as some desktops'
// settings write it), and not registered otherwise; the other two statuses
// do not occur here.
class AutostartLoginItemService final : public LoginItemService {
public:
    static constexpr std::string_view entryName = "ravolet.desktop";

    AutostartLoginItemService(std::filesystem::path entryFile, std::string executable, std::shared_ptr<FileSystem> files);

    LoginItemStatus status() const override;
    // Writes the entry atomically, creating the folder; an entry that is
    // there already is replaced, so a switched-off one comes back on. A
    // program path with a control character is refused: no desktop entry
    // may hold one.
    LoginItemResult registerItem() override;
    // Removes the entry; one that is already gone is no error.
    LoginItemResult unregisterItem() override;
    // Whenever the entry is written, removed or moved, by anyone (the folder
    // is watched through the file system).
    Subscription observeChanges(std::shared_ptr<Executor> executor, std::function<void()> handler) override;

    const std::filesystem::path& entryFile() const { return entryFile_; }
    // The desktop entry that starts `executable`.
    static std::string entryText(std::string_view executable);

    // Where the program is installed, from the path of the running one as the
    // kernel gives it: once the file has been replaced, it adds " (deleted)".
    static std::string installedPath(std::string runningPath, bool deleted);

    // $XDG_CONFIG_HOME/autostart/ravolet.desktop (else under ~/.config),
    // starting the program this process runs.
    static std::shared_ptr<AutostartLoginItemService> standard();

private:
    const std::filesystem::path entryFile_;
    const std::string executable_;
    const std::shared_ptr<FileSystem> files_;
};

} // namespace ravolet::platform
