#include "RavoletApp/UI/SettingsPages.hpp"

#include <QLabel>
#include <QVBoxLayout>

#include "RavoletApp/UI/Style.hpp"

namespace ravolet {

namespace {

// Stands in for a page that is not built yet, naming its tab.
QWidget* placeholder(SettingsTab tab, QWidget* parent) {
    auto* label = new QLabel(QString::fromUtf8(title(tab).data(), static_cast<int>(title(tab).size())), parent);
    label->setAlignment(Qt::AlignCenter);
    label->setObjectName(QStringLiteral("settings-page-placeholder"));
    applyTextStyle(label, TextStyle::title2);
    applyTextColor(label, SystemColor::secondary);
    return label;
}

QWidget* inProfileScope(SettingsTab tab, std::shared_ptr<AppModel> model, std::shared_ptr<ProfileSelection> selection,
                        QWidget* parent) {
    return new ProfileScope(
        std::move(model), std::move(selection), [tab](ProfileBinding&) { return placeholder(tab, nullptr); }, parent);
}

} // namespace

QWidget* makeSettingsPage(SettingsTab tab, std::shared_ptr<AppModel> model, std::shared_ptr<ProfileSelection> selection,
                          QWidget* parent) {
    switch (tab) {
    case SettingsTab::scroll:
    case SettingsTab::buttons:
    case SettingsTab::pointer: return inProfileScope(tab, std::move(model), std::move(selection), parent);
    case SettingsTab::profiles:
    case SettingsTab::device:
    case SettingsTab::updates: return placeholder(tab, parent);
    }
    return placeholder(tab, parent);
}

} // namespace ravolet
