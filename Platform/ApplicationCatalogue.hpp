#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace ravolet::platform {

// An installed application as its desktop entry describes it.
struct DesktopApplication {
    // The desktop-file identifier without ".desktop" ("org.mozilla.firefox"),
    // which stands for the application's bundle identifier.
    std::string bundleID;
    // The entry's Name.
    std::string name;
    // The entry's file.
    std::filesystem::path location;
    // The entry's Icon: a theme icon's name or a file's path; empty when it
    // names none.
    std::string icon;
    // False for an entry marked NoDisplay: an application that menus, and
    // the application chooser, leave out (it can still be named by identifier).
    bool showsInMenus = true;
    // The entry's StartupWMClass: the window class its windows carry; empty
    // when it names none.
    std::string startupWMClass = {};
    // The entry's Exec line as written (quoted, with field codes).
    std::string exec = {};

    friend bool operator==(const DesktopApplication&, const DesktopApplication&) = default;
};

// The applications installed on this computer, as the application picker and
// the launch editor need them. Every call reads afresh; nothing is cached.
class ApplicationCatalogue {
public:
    virtual ~ApplicationCatalogue() = default;

    // The installed application with this identifier; none when no entry has
    // it, or when the entry that decides is hidden or not an application.
    virtual std::optional<DesktopApplication> application(const std::string& bundleID) const = 0;

    // The identifier of the application whose entry is the file `file` (one
    // the user chose on disk); none when the file is no application's entry.
    virtual std::optional<std::string> bundleIDOfFile(const std::filesystem::path& file) const = 0;

    // Where a file chooser for applications starts.
    virtual std::filesystem::path applicationsFolder() const = 0;

    // Every installed application that menus show, each identifier once (as
    // application() would find it), in no particular order.
    virtual std::vector<DesktopApplication> installedApplications() const = 0;
};

} // namespace ravolet::platform
