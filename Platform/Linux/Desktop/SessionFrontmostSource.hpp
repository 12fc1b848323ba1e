#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Linux/Desktop/FrontmostSource.hpp"

namespace ravolet::platform {

// The source of the front window for this session: the candidates that fit
// XDG_SESSION_TYPE and XDG_CURRENT_DESKTOP, tried in order at start until one
// answers (probing what answers where the desktop is not known); the X server
// comes last under Wayland, where it sees only the X clients.
class SessionFrontmostSource final : public FrontmostSource {
public:
    using Candidate = std::function<std::unique_ptr<FrontmostSource>()>;

    struct Session {
        // XDG_SESSION_TYPE ("x11", "wayland"), XDG_CURRENT_DESKTOP
        // ("GNOME", "KDE", "sway", "ubuntu:GNOME", ...).
        std::string type;
        std::string desktop;
        bool hasWaylandDisplay = false;
    };

    // Which kinds of source to try for a session, in order.
    static std::vector<FrontmostTracking::Source> order(const Session& session);
    // This process's session, with the real sources.
    static std::unique_ptr<SessionFrontmostSource> forThisSession();

    explicit SessionFrontmostSource(std::vector<std::pair<FrontmostTracking::Source, Candidate>> candidates);

    // The source that answered; before that (or when none did) the only
    // candidate's kind, else none.
    FrontmostTracking::Source kind() const override;
    bool start(std::function<void()> changed) override;
    void stop() override;
    Front front() const override;
    std::vector<WindowClues> windows() const override;
    FrontmostExtension* extension() override { return chosen_ ? chosen_->extension() : nullptr; }

private:
    std::vector<std::pair<FrontmostTracking::Source, Candidate>> candidates_;
    std::unique_ptr<FrontmostSource> chosen_;
};

} // namespace ravolet::platform
