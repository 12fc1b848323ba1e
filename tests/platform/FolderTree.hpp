#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace ravolet::platform::testing {

// A fresh folder under the system's temporary folder, removed afterwards,
// where a test lays out files (a sysfs tree, device nodes) of its own.
struct FolderTree {
    explicit FolderTree(const std::string& name)
        : path(std::filesystem::temp_directory_path() / ("ravolet-" + name + "-" + std::to_string(::getpid()))) {
        std::filesystem::remove_all(path);
        std::filesystem::create_directories(path);
    }
    ~FolderTree() { std::filesystem::remove_all(path); }
    FolderTree(const FolderTree&) = delete;
    FolderTree& operator=(const FolderTree&) = delete;

    void write(const std::filesystem::path& relative, const std::string& text) const {
        std::filesystem::create_directories((path / relative).parent_path());
        std::ofstream(path / relative) << text;
    }
    // A link to a folder of the tree, as sysfs's class entries link into /sys/devices.
    void link(const std::filesystem::path& relative, const std::filesystem::path& target) const {
        std::filesystem::create_directories((path / relative).parent_path());
        std::filesystem::create_directory_symlink(path / target, path / relative);
    }

    const std::filesystem::path path;
};

} // namespace ravolet::platform::testing
