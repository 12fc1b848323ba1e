#include "Platform/Linux/Desktop/SessionFrontmostSource.hpp"

#include <algorithm>
#include <cstdlib>
#include <ranges>

#include "Platform/Linux/Desktop/GnomeShellFrontmostSource.hpp"
#include "Platform/Linux/Desktop/KWinFrontmostSource.hpp"
#include "Platform/Linux/Desktop/ProgramData.hpp"
#include "Platform/Linux/Desktop/WlrootsFrontmostSource.hpp"
#include "Platform/Linux/Desktop/X11FrontmostSource.hpp"
#include "Platform/Linux/LinuxFileSystem.hpp"

namespace ravolet::platform {

namespace {

using Source = FrontmostTracking::Source;

std::string variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

bool names(std::string_view desktops, std::initializer_list<std::string_view> wanted) {
    for (auto part : std::views::split(desktops, ':')) {
        std::string desktop(part.begin(), part.end());
        std::ranges::transform(desktop, desktop.begin(), [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; });
        if (std::ranges::find(wanted, desktop) != wanted.end()) return true;
    }
    return false;
}

} // namespace

std::vector<Source> SessionFrontmostSource::order(const Session& session) {
    const bool wayland = session.type == "wayland" || (session.type.empty() && session.hasWaylandDisplay);
    if (!wayland) return {Source::x11};
    std::vector<Source> order;
    if (names(session.desktop, {"gnome"})) order = {Source::gnomeShell};
    else if (names(session.desktop, {"kde"})) order = {Source::kwin};
    for (const Source source : {Source::wlroots, Source::kwin, Source::gnomeShell})
        if (std::ranges::find(order, source) == order.end()) order.push_back(source);
    order.push_back(Source::x11);
    return order;
}

std::unique_ptr<SessionFrontmostSource> SessionFrontmostSource::forThisSession() {
    const Session session{variable("XDG_SESSION_TYPE"), variable("XDG_CURRENT_DESKTOP"), !variable("WAYLAND_DISPLAY").empty()};
    const bool underWayland = order(session).size() > 1;
    const std::string dataHome = variable("XDG_DATA_HOME");
    const std::filesystem::path userData = !dataHome.empty() && dataHome.front() == '/'
                                               ? std::filesystem::path(dataHome)
                                               : LinuxFileSystem::homeFolder() / ".local/share";
    std::vector<std::pair<Source, Candidate>> candidates;
    for (const Source source : order(session)) {
        Candidate make;
        switch (source) {
        case Source::x11: make = [underWayland] { return std::make_unique<X11FrontmostSource>(std::nullopt, underWayland); }; break;
        case Source::wlroots: make = [] { return std::make_unique<WlrootsFrontmostSource>(); }; break;
        case Source::kwin:
            make = []() -> std::unique_ptr<FrontmostSource> {
                const auto script = programDataFile("kwin/ravolet-front-window.js");
                if (!script) return nullptr;
                return std::make_unique<KWinFrontmostSource>(*script);
            };
            break;
        case Source::gnomeShell:
            make = [userData]() -> std::unique_ptr<FrontmostSource> {
                const auto extensions = programDataFile("gnome-shell");
                if (!extensions) return nullptr;
                return std::make_unique<GnomeShellFrontmostSource>(*extensions, userData / "gnome-shell/extensions");
            };
            break;
        default: continue;
        }
        candidates.emplace_back(source, std::move(make));
    }
    return std::make_unique<SessionFrontmostSource>(std::move(candidates));
}

SessionFrontmostSource::SessionFrontmostSource(std::vector<std::pair<Source, Candidate>> candidates)
    : candidates_(std::move(candidates)) {}

Source SessionFrontmostSource::kind() const {
    if (chosen_) return chosen_->kind();
    return candidates_.size() == 1 ? candidates_.front().first : Source::none;
}

bool SessionFrontmostSource::start(std::function<void()> changed) {
    if (chosen_) return true;
    for (const auto& [kind, make] : candidates_) {
        auto source = make();
        if (source && source->start(changed)) {
            chosen_ = std::move(source);
            return true;
        }
    }
    return false;
}

void SessionFrontmostSource::stop() {
    if (chosen_) chosen_->stop();
}

FrontmostSource::Front SessionFrontmostSource::front() const {
    if (!chosen_) return {FrontmostTracking::State::cannotTell, std::nullopt};
    return chosen_->front();
}

std::vector<WindowClues> SessionFrontmostSource::windows() const { return chosen_ ? chosen_->windows() : std::vector<WindowClues>{}; }

} // namespace ravolet::platform
