#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Platform/Executor.hpp"

namespace ravolet::platform {

// The piece of Ravolet a desktop has to run before it tells Ravolet which
// application is in front (on GNOME, Ravolet's GNOME Shell extension).
// Nothing installs or removes it but the user's own request; how it stands
// is the workspace's FrontmostTracking, which changes as it does.
class FrontmostExtension {
public:
    // Called once, on the executor given: none when it worked, else what
    // went wrong, in words for the user.
    using Completion = std::function<void(std::optional<std::string> error)>;

    virtual ~FrontmostExtension() = default;

    // Puts the extension in place for this desktop's version and switches it
    // on: at once where the desktop already knows it, else from the next
    // login. Returns at once.
    virtual void install(std::shared_ptr<Executor> executor, Completion done) = 0;
    // Switches it off at once and takes it away (a copy installed for every
    // user stays, switched off). Returns at once.
    virtual void remove(std::shared_ptr<Executor> executor, Completion done) = 0;
};

} // namespace ravolet::platform
