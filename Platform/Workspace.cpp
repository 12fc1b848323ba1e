#include "Platform/Workspace.hpp"

namespace ravolet::platform {

std::string_view toString(FrontmostTracking::Source source) {
    switch (source) {
    case FrontmostTracking::Source::simulated: return "simulated";
    case FrontmostTracking::Source::x11: return "x11";
    case FrontmostTracking::Source::wlroots: return "wlroots";
    case FrontmostTracking::Source::kwin: return "kwin";
    case FrontmostTracking::Source::gnomeShell: return "gnomeShell";
    case FrontmostTracking::Source::none: return "none";
    }
    return "?";
}

std::string_view toString(FrontmostTracking::State state) {
    switch (state) {
    case FrontmostTracking::State::following: return "following";
    case FrontmostTracking::State::x11ClientsOnly: return "x11ClientsOnly";
    case FrontmostTracking::State::cannotTell: return "cannotTell";
    case FrontmostTracking::State::waitingForLogin: return "waitingForLogin";
    case FrontmostTracking::State::switchedOff: return "switchedOff";
    case FrontmostTracking::State::extensionNotInstalled: return "extensionNotInstalled";
    case FrontmostTracking::State::extensionsOff: return "extensionsOff";
    case FrontmostTracking::State::extensionOutOfDate: return "extensionOutOfDate";
    case FrontmostTracking::State::extensionFailed: return "extensionFailed";
    }
    return "?";
}

} // namespace ravolet::platform
