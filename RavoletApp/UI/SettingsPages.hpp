#pragma once

#include <QWidget>

#include <memory>

#include "RavoletApp/Model/AppModel.hpp"
#include "RavoletApp/UI/ProfileScope.hpp"
#include "RavoletApp/ViewModels/SettingsTab.hpp"

namespace ravolet {

// The page of one settings tab. The Scroll, Buttons and Pointer pages are
// built inside a ProfileScope over the window's profile selection; the
// Profiles page shares that selection.
QWidget* makeSettingsPage(SettingsTab tab, std::shared_ptr<AppModel> model, std::shared_ptr<ProfileSelection> selection,
                          QWidget* parent);

} // namespace ravolet
