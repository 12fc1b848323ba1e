#include <gtest/gtest.h>

#include "RavoletApp/ViewModels/ShellExtensionOffer.hpp"

namespace ravolet {
namespace {

using Source = platform::FrontmostTracking::Source;
using State = platform::FrontmostTracking::State;
using Action = ShellExtensionOffer::Action;

TEST(ShellExtensionOffer, OffersToInstallOrUpdateWhereGnomeShellNeedsItAndToRemoveWhatIsThere) {
    struct Row {
        Source source;
        State state;
        ShellExtensionOffer offer;
    };
    const Row rows[] = {
        {Source::gnomeShell, State::extensionNotInstalled,
         {true, "Not installed. Once installed, it starts at your next login.", Action::install, false}},
        {Source::gnomeShell, State::waitingForLogin, {true, "Installed. It starts at your next login.", Action::none, true}},
        {Source::gnomeShell, State::following, {true, "Installed and running.", Action::none, true}},
        {Source::gnomeShell, State::switchedOff, {true, "Installed, but switched off in Extensions.", Action::none, true}},
        {Source::gnomeShell, State::extensionsOff,
         {true, "Installed, but GNOME Shell has every extension switched off.", Action::none, true}},
        {Source::gnomeShell, State::extensionOutOfDate,
         {true, "Installed, but made for another version of GNOME Shell. An update starts at your next login.",
          Action::update, true}},
        {Source::gnomeShell, State::extensionFailed,
         {true, "Installed, but GNOME Shell stopped it because of an error.", Action::none, true}},
        // The shell has gone, or another desktop tells: nothing to offer.
        {Source::gnomeShell, State::cannotTell, {}},
        {Source::kwin, State::following, {}},
        {Source::x11, State::cannotTell, {}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(shellExtensionOffer({row.source, row.state, std::nullopt}), row.offer) << toString(row.state);
    EXPECT_EQ(actionTitle(Action::install), "Install the Extension");
    EXPECT_EQ(actionTitle(Action::update), "Update the Extension");
}

} // namespace
} // namespace ravolet
