#include "RavoletApp/UI/SystemSettingsLink.hpp"

#include <QAbstractButton>

namespace ravolet {

QUrl systemSettingsUrl(SystemSettingsLink link) {
    switch (link) {
    case SystemSettingsLink::accessibility:
        return QUrl(QStringLiteral("x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility"));
    case SystemSettingsLink::inputMonitoring:
        return QUrl(QStringLiteral("x-apple.systempreferences:com.apple.preference.security?Privacy_ListenEvent"));
    case SystemSettingsLink::loginItems:
        return QUrl(QStringLiteral("x-apple.systempreferences:com.apple.LoginItems-Settings.extension"));
    }
    return {};
}

QString systemSettingsUnavailableReason(SystemSettingsLink link) {
    QString pane;
    switch (link) {
    case SystemSettingsLink::accessibility: pane = QStringLiteral("Accessibility"); break;
    case SystemSettingsLink::inputMonitoring: pane = QStringLiteral("Input Monitoring"); break;
    case SystemSettingsLink::loginItems: pane = QStringLiteral("Login Items"); break;
    }
    return QStringLiteral("This opens the ") + pane +
           QStringLiteral(" page of macOS System Settings, which this computer does not have.");
}

void offerSystemSettingsLink(QAbstractButton* button, SystemSettingsLink link) {
    button->setEnabled(false);
    button->setToolTip(systemSettingsUnavailableReason(link));
}

} // namespace ravolet
