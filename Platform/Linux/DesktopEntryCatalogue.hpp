#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Platform/ApplicationCatalogue.hpp"
#include "Platform/FileSystem.hpp"

namespace ravolet::platform {

// The applications of the desktop-entry files under the "applications"
// folders of the XDG data folders: the user's data folder first, then the
// system's in their order. An entry's identifier is its path below such a
// folder with "/" turned into "-" and without ".desktop"; where two folders
// hold one identifier, the earlier folder decides, so a user's hidden copy of
// an entry hides the system's.
class DesktopEntryCatalogue final : public ApplicationCatalogue {
public:
    DesktopEntryCatalogue(std::shared_ptr<FileSystem> files, std::filesystem::path dataHome,
                          std::vector<std::filesystem::path> dataFolders);

    // The folders $XDG_DATA_HOME (else ~/.local/share) and $XDG_DATA_DIRS
    // (else /usr/local/share:/usr/share) name; relative ones do not count.
    static std::shared_ptr<DesktopEntryCatalogue> standard(std::shared_ptr<FileSystem> files);
    static std::shared_ptr<DesktopEntryCatalogue> forEnvironment(std::shared_ptr<FileSystem> files,
                                                                 const std::optional<std::string>& xdgDataHome,
                                                                 const std::optional<std::string>& xdgDataDirs,
                                                                 const std::filesystem::path& home);

    // The path of an entry below its folder is at most PATH_MAX long, and so
    // is its identifier: a longer one names no application.
    static constexpr std::size_t longestIdentifier = 4096;

    // Takes time in proportion to the identifier's length, however many
    // dashes it holds.
    std::optional<DesktopApplication> application(const std::string& bundleID) const override;
    std::optional<std::string> bundleIDOfFile(const std::filesystem::path& file) const override;
    // The first system "applications" folder that holds entries (where the
    // distribution installs applications), else the user's.
    std::filesystem::path applicationsFolder() const override;

    // The entries of every folder, sub-folders included, an identifier taken
    // from the first folder that has it.
    std::vector<DesktopApplication> installedApplications() const override;
    // The same with the entries marked NoDisplay, for naming the windows of
    // any application there is.
    std::vector<DesktopApplication> allApplications() const;

    // The "applications" folders searched, in order, and what reads them.
    const std::vector<std::filesystem::path>& folders() const { return folders_; }
    const FileSystem& files() const { return *files_; }

    // The application an entry's text describes, under the identifier given;
    // none when it is no application, is hidden or has no name.
    static std::optional<DesktopApplication> parse(std::string_view text, std::string bundleID,
                                                   std::filesystem::path location);

private:
    std::optional<std::filesystem::path> entryFile(const std::filesystem::path& folder, std::string_view id) const;
    std::optional<DesktopApplication> read(const std::filesystem::path& file, std::string bundleID) const;
    // The entry files below a folder with their identifiers ("kde/okular.desktop" is "kde-okular").
    void collectEntries(const std::filesystem::path& folder, const std::string& prefix, int depth,
                        std::vector<std::pair<std::string, std::filesystem::path>>& entries) const;

    const std::shared_ptr<FileSystem> files_;
    std::vector<std::filesystem::path> folders_;
};

} // namespace ravolet::platform
