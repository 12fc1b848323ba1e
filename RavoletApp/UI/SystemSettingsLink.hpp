#pragma once

#include <QString>
#include <QUrl>

class QAbstractButton;

namespace ravolet {

// The System Settings panes the program points the user to.
enum class SystemSettingsLink { accessibility, inputMonitoring, loginItems };

// The pane's deep link; a fixed text that always parses.
QUrl systemSettingsUrl(SystemSettingsLink link);

// Why a control that opens the pane is unavailable: System Settings belongs to
// macOS, and a Linux desktop has no pane behind these links.
QString systemSettingsUnavailableReason(SystemSettingsLink link);

// Sets up a button that would open the pane: since no pane can open here, it
// is disabled, with a tooltip saying why.
void offerSystemSettingsLink(QAbstractButton* button, SystemSettingsLink link);

} // namespace ravolet
