#pragma once

#include <optional>
#include <string>

namespace ravolet {

// What the program says about its own version.
struct BundleInfo {
    // The version people see ("0.1.0").
    std::optional<std::string> shortVersion;
    // The build number ("1").
    std::optional<std::string> build;
    // Built as Ravolet's Debian package, which the package manager installs
    // and updates; false for a build from source, which nothing updates.
    bool fromPackage = false;

    // This build's, from the build system.
    static BundleInfo main();

    // "0.1.0 (build 1)", with "—" for a part that is missing.
    std::string versionDescription() const;

    friend bool operator==(const BundleInfo&, const BundleInfo&) = default;
};

} // namespace ravolet
