#include "RavoletApp/ViewModels/ShellExtensionOffer.hpp"

namespace ravolet {

ShellExtensionOffer shellExtensionOffer(const platform::FrontmostTracking& tracking) {
    using State = platform::FrontmostTracking::State;
    using Action = ShellExtensionOffer::Action;
    ShellExtensionOffer offer;
    if (tracking.source != platform::FrontmostTracking::Source::gnomeShell) return offer;
    offer.shown = true;
    offer.removable = true;
    // Under Wayland the shell looks for extensions only as the user logs in.
    switch (tracking.state) {
    case State::extensionNotInstalled:
        offer.status = "Not installed. Once installed, it starts at your next login.";
        offer.action = Action::install;
        offer.removable = false;
        break;
    case State::waitingForLogin: offer.status = "Installed. It starts at your next login."; break;
    case State::following: offer.status = "Installed and running."; break;
    case State::switchedOff: offer.status = "Installed, but switched off in Extensions."; break;
    case State::extensionsOff: offer.status = "Installed, but GNOME Shell has every extension switched off."; break;
    case State::extensionOutOfDate:
        offer.status = "Installed, but made for another version of GNOME Shell. An update starts at your next login.";
        offer.action = Action::update;
        break;
    case State::extensionFailed: offer.status = "Installed, but GNOME Shell stopped it because of an error."; break;
    case State::x11ClientsOnly:
    case State::cannotTell: offer = {}; break;
    }
    return offer;
}

std::string_view actionTitle(ShellExtensionOffer::Action action) {
    switch (action) {
    case ShellExtensionOffer::Action::install: return "Install the Extension";
    case ShellExtensionOffer::Action::update: return "Update the Extension";
    case ShellExtensionOffer::Action::none: break;
    }
    return {};
}

} // namespace ravolet
