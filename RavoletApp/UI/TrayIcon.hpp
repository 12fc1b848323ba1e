#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>

namespace ravolet {

// The tray's icon for the state symbol the model names: our drawing filled in
// white (the warning in orange) inside a dark outline one pixel or so wide,
// so that it reads on the light and the dark panels of the common desktops
// alike. Qt's tray tells nothing of the panel's colours, and a drawing in
// the window-text colour all but vanishes on a dark panel.
QIcon outlinedTrayIcon(const QString& symbol);

// The same at one size in device-independent pixels; a null pixmap for an
// unknown symbol.
QPixmap outlinedTrayPixmap(const QString& symbol, int size, qreal devicePixelRatio = 1.0);

} // namespace ravolet
