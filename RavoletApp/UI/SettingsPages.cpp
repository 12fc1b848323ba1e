#include "RavoletApp/UI/SettingsPages.hpp"

#include <QLabel>
#include <QVBoxLayout>

#include "RavoletApp/UI/ButtonsTab.hpp"
#include "RavoletApp/UI/DeviceTab.hpp"
#include "RavoletApp/UI/PointerTab.hpp"
#include "RavoletApp/UI/ProfilesTab.hpp"
#include "RavoletApp/UI/QtText.hpp"
#include "RavoletApp/UI/ScrollTab.hpp"
#include "RavoletApp/UI/Style.hpp"
#include "RavoletApp/UI/UpdatesTab.hpp"

namespace ravolet {

namespace {

// Stands in for a page that is not built yet, naming its tab.
QWidget* placeholder(SettingsTab tab, QWidget* parent) {
    auto* label = new QLabel(qtText(title(tab)), parent);
    label->setAlignment(Qt::AlignCenter);
    label->setObjectName(QStringLiteral("settings-page-placeholder"));
    applyTextStyle(label, TextStyle::title2);
    applyTextColor(label, SystemColor::secondary);
    return label;
}

// The page over the profile that the scope's picker selects.
QWidget* profilePage(SettingsTab tab, const std::shared_ptr<AppModel>& model, ProfileBinding& binding) {
    switch (tab) {
    case SettingsTab::scroll: return new ScrollTab(model, binding);
    case SettingsTab::buttons: return new ButtonsTab(model, binding);
    case SettingsTab::pointer: return new PointerTab(model, binding);
    default: return placeholder(tab, nullptr);
    }
}

QWidget* inProfileScope(SettingsTab tab, std::shared_ptr<AppModel> model, std::shared_ptr<ProfileSelection> selection,
                        QWidget* parent) {
    return new ProfileScope(
        model, std::move(selection), [tab, model](ProfileBinding& binding) { return profilePage(tab, model, binding); },
        parent);
}

} // namespace

QWidget* makeSettingsPage(SettingsTab tab, std::shared_ptr<AppModel> model, std::shared_ptr<ProfileSelection> selection,
                          QWidget* parent) {
    switch (tab) {
    case SettingsTab::scroll:
    case SettingsTab::buttons:
    case SettingsTab::pointer: return inProfileScope(tab, std::move(model), std::move(selection), parent);
    case SettingsTab::profiles: return new ProfilesTab(std::move(model), std::move(selection), parent);
    case SettingsTab::device: return new DeviceTab(std::move(model), parent);
    case SettingsTab::updates: return new UpdatesTab(std::move(model), parent);
    }
    return placeholder(tab, parent);
}

} // namespace ravolet
